#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Node>
#include <osg/StateSet>
#include <osgGA/GUIEventHandler>

#include <string>
#include <utility>
#include <vector>

/// Selects model parts with the mouse: a left click brightens the nearest part under the pointer
/// and stacks it, a right click undoes the newest highlight; the host reads the identifiers of the
/// stacked parts or drops them all.
///
/// Threads: handle runs in the viewer's event traversal (rendering thread); the stack has no lock,
/// so the host calls the other operations on that thread or while no frame runs.
class SOLVOEARTHKITS_EXPORT ModelSelector : public osgGA::GUIEventHandler
{
public:
    ModelSelector();
    /// A copy stacks the same nodes and saved state sets.
    ModelSelector(const ModelSelector& other, const osg::CopyOp& copyop = osg::CopyOp::SHALLOW_COPY);

    META_Object(SolvoEarthKits, ModelSelector);

    using osgGA::GUIEventHandler::handle;
    /// Left press: highlight the part under the pointer; right press: undo the newest highlight.
    /// Always false, so the event goes on to the other handlers and the manipulator.
    bool handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa) override;

    /// Highlights `node` and stacks it; a null node or one already stacked changes nothing.
    void pushHighLight(osg::Node* node);
    /// Gives the newest stacked node its state set back and unstacks it (nothing when empty).
    void popHighLight();
    /// Undoes every highlight, newest first.
    void clearHighLight();
    /// The identifiers in the names of the stacked parts, oldest first; names without one are
    /// skipped. The identifier is the text in the last "[...]", else what follows the last ":".
    std::vector<std::string> getSelects() const;

protected:
    /// Drops the stack without restoring any node.
    ~ModelSelector() override;

private:
    // Each highlighted node with the state set it had before (null when it had none).
    std::vector<std::pair<osg::ref_ptr<osg::Node>, osg::ref_ptr<osg::StateSet>>> _highLights;
};
