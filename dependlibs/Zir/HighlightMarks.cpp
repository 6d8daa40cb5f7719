#include "HighlightMarks.h"

#include <osg/PagedLOD>
#include <osgDB/Options>
#include <osgDB/Registry>

#include <sstream>

namespace zir {

namespace {

// The pseudo-loader finds the visitor in the read options of the paged node it loads for.
void giveVisitor(osg::PagedLOD& plod, SolvoEarthUtil::MarkNodeHighLightVistor* visitor)
{
    osg::ref_ptr<osgDB::Options> options;
    if (auto* own = dynamic_cast<osgDB::Options*>(plod.getDatabaseOptions()))
        options = own->cloneOptions();
    else if (const osgDB::Options* global = osgDB::Registry::instance()->getOptions())
        options = global->cloneOptions();
    else
        options = new osgDB::Options;
    options->setPluginData("HighLightVistor", visitor);
    // Plug-in data is a bare pointer; the user data keeps the visitor alive with the options.
    options->setUserData(visitor);
    plod.setDatabaseOptions(options.get());
}

// Highlights the named parts and routes the paged ones in a single walk: a model of a hundred
// thousand parts is walked once, not once per task.
class MarkAndRoute : public SolvoEarthUtil::MarkNodeHighLightVistor
{
public:
    explicit MarkAndRoute(SolvoEarthUtil::MarkNodeHighLightVistor* routed)
        : SolvoEarthUtil::MarkNodeHighLightVistor(*routed), _routed(routed)
    {}

    using SolvoEarthUtil::MarkNodeHighLightVistor::apply;
    void apply(osg::PagedLOD& plod) override
    {
        giveVisitor(plod, _routed);
        SolvoEarthUtil::MarkNodeHighLightVistor::apply(plod);
    }

private:
    SolvoEarthUtil::MarkNodeHighLightVistor* _routed; // held by HighlightMarks
};

} // namespace

void HighlightMarks::setNames(const std::set<std::string>& names)
{
    if (names.empty())
    {
        _visitor = nullptr;
        return;
    }
    _visitor = new SolvoEarthUtil::MarkNodeHighLightVistor;
    _visitor->addHighlightNodeNames(names);
}

void HighlightMarks::mark(osg::Node* model) const
{
    if (!model || !_visitor.valid())
        return;
    // A copy walks the loaded model: the shared visitor may be busy on a pager thread.
    osg::ref_ptr<MarkAndRoute> now = new MarkAndRoute(_visitor.get());
    now->found = false;
    model->accept(*now);
}

std::set<std::string> HighlightMarks::parseNames(const std::string& list)
{
    std::set<std::string> names;
    std::istringstream in(list);
    std::string name;
    while (std::getline(in, name, ','))
    {
        const auto first = name.find_first_not_of(" \t\r\n");
        if (first == std::string::npos)
            continue;
        const auto last = name.find_last_not_of(" \t\r\n");
        names.insert(name.substr(first, last - first + 1));
    }
    return names;
}

} // namespace zir
