#pragma once

#include <osg/BoundingBox>
#include <osg/Geode>
#include <osg/Geometry>
#include <osg/MatrixTransform>
#include <osg/NodeVisitor>
#include <osgDB/ReaderWriter>

#include <string>

namespace veltra::test::gltf {

/// The first node of type T named `name` below (and including) `root`, or null.
template <typename T>
T* findNamed(osg::Node* root, const std::string& name)
{
    class Finder : public osg::NodeVisitor
    {
    public:
        explicit Finder(const std::string& wanted) : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN), _wanted(wanted) {}
        void apply(osg::Node& node) override
        {
            if (!found && node.getName() == _wanted)
                found = dynamic_cast<T*>(&node);
            traverse(node);
        }
        T* found = nullptr;

    private:
        std::string _wanted;
    };
    Finder finder(name);
    if (root)
        root->accept(finder);
    return finder.found;
}

/// The top transform of a successful read (a test failure otherwise).
osg::ref_ptr<osg::MatrixTransform> topOf(osgDB::ReaderWriter::ReadResult result);
/// The bounds of everything below `root` in world coordinates (the root's own matrix included).
osg::BoundingBox worldBounds(osg::Node* root);
/// The first geometry below `root`.
osg::Geometry* firstGeometry(osg::Node* root);
/// The count of warnings the reader left on the top transform.
unsigned warningCount(const osg::Node* top);

} // namespace veltra::test::gltf
