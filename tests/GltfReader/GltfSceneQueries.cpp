#include "GltfSceneQueries.h"

#include <gtest/gtest.h>

#include <osg/ComputeBoundsVisitor>
#include <osg/ValueObject>

namespace veltra::test::gltf {

osg::ref_ptr<osg::MatrixTransform> topOf(osgDB::ReaderWriter::ReadResult result)
{
    EXPECT_TRUE(result.success()) << result.message();
    osg::ref_ptr<osg::MatrixTransform> top = dynamic_cast<osg::MatrixTransform*>(result.getNode());
    EXPECT_TRUE(top.valid()) << "the read gave no top transform";
    return top;
}

osg::BoundingBox worldBounds(osg::Node* root)
{
    // The visitor applies the transforms below its start node, so start above the root.
    osg::ref_ptr<osg::Group> holder = new osg::Group;
    holder->addChild(root);
    osg::ComputeBoundsVisitor bounds;
    holder->accept(bounds);
    return bounds.getBoundingBox();
}

osg::Geometry* firstGeometry(osg::Node* root)
{
    class Finder : public osg::NodeVisitor
    {
    public:
        Finder() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
        void apply(osg::Geometry& geometry) override
        {
            if (!found)
                found = &geometry;
        }
        osg::Geometry* found = nullptr;
    };
    Finder finder;
    if (root)
        root->accept(finder);
    return finder.found;
}

unsigned warningCount(const osg::Node* top)
{
    unsigned count = 0;
    if (top)
        top->getUserValue("gltfWarnings", count);
    return count;
}

} // namespace veltra::test::gltf
