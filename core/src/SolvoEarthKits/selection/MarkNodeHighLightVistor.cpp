#include <SolvoEarthKits/selection/MarkNodeHighLightVistor.h>

#include <SolvoEarthUtil/scene/ModelHighLight.h>

#include <osg/Notify>
#include <osgDB/FileNameUtils>

namespace SolvoEarthUtil {

MarkNodeHighLightVistor::MarkNodeHighLightVistor() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), found(false)
{}

MarkNodeHighLightVistor::MarkNodeHighLightVistor(const MarkNodeHighLightVistor& other, const osg::CopyOp& copyop)
    : osg::Object(other, copyop), osg::NodeVisitor(other, copyop), found(other.found), _names(other._names)
{}

MarkNodeHighLightVistor& MarkNodeHighLightVistor::operator=(const MarkNodeHighLightVistor& other)
{
    found = other.found;
    _names = other._names;
    return *this;
}

void MarkNodeHighLightVistor::setHighlightByFile(const std::string& /*fileName*/)
{}

void MarkNodeHighLightVistor::addHighlightNodeNames(const std::set<std::string>& names)
{
    if (&names != &_names)
        _names = names;
}

void MarkNodeHighLightVistor::addHighlightNodeName(const std::string& name)
{
    _names.insert(name);
}

void MarkNodeHighLightVistor::printElement()
{
    OSG_NOTICE << "print element..." << std::endl;
    for (const std::string& name : _names)
        OSG_NOTICE << name << std::endl;
}

void MarkNodeHighLightVistor::apply(osg::PagedLOD& plod)
{
    for (unsigned int i = 0; i < plod.getNumFileNames(); ++i)
    {
        const std::string fileName = plod.getFileName(i);
        // Already routed through the pseudo-loader: a second suffix would make it read itself.
        if (fileName.empty() || osgDB::getLowerCaseFileExtension(fileName) == "nodemark")
            continue;
        plod.setFileName(i, fileName + ".nodemark");
    }
    apply(static_cast<osg::Node&>(plod));
}

void MarkNodeHighLightVistor::apply(osg::Geode& geode)
{
    if (_names.count(geode.getName()))
    {
        setModelHighLight(&geode, osg::Vec4f(1.0f, 0.0f, 0.5f, 0.5f));
        OSG_NOTICE << "Group child name " << geode.getName() << std::endl;
        found = true;
    }
    traverse(geode);
}

void MarkNodeHighLightVistor::apply(osg::Node& node)
{
    traverse(node);
}

} // namespace SolvoEarthUtil
