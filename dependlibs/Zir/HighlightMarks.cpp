#include "HighlightMarks.h"

#include <osg/PagedLOD>
#include <osgDB/Options>
#include <osgDB/Registry>

#include <sstream>

namespace zir {

namespace {

// The pseudo-loader finds the visitor in the read options of the paged node it loads for.
class GiveVisitorToPagedNodes : public osg::NodeVisitor
{
public:
    explicit GiveVisitorToPagedNodes(SolvoEarthUtil::MarkNodeHighLightVistor* visitor)
        : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), _visitor(visitor)
    {}

    using osg::NodeVisitor::apply;
    void apply(osg::PagedLOD& plod) override
    {
        osg::ref_ptr<osgDB::Options> options;
        if (auto* own = dynamic_cast<osgDB::Options*>(plod.getDatabaseOptions()))
            options = own->cloneOptions();
        else if (const osgDB::Options* global = osgDB::Registry::instance()->getOptions())
            options = global->cloneOptions();
        else
            options = new osgDB::Options;
        options->setPluginData("HighLightVistor", _visitor);
        // Plug-in data is a bare pointer; the user data keeps the visitor alive with the options.
        options->setUserData(_visitor);
        plod.setDatabaseOptions(options.get());
        traverse(plod);
    }

private:
    SolvoEarthUtil::MarkNodeHighLightVistor* _visitor;
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
    osg::ref_ptr<SolvoEarthUtil::MarkNodeHighLightVistor> now = new SolvoEarthUtil::MarkNodeHighLightVistor(*_visitor);
    now->found = false;
    model->accept(*now);
    GiveVisitorToPagedNodes give(_visitor.get());
    model->accept(give);
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
