#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>
#include <SolvoEarthKits/blink/ScintillationNodeCallBack.h>
#include <SolvoEarthKits/response/CallBackManger.h>

#include <osg/Group>
#include <osg/observer_ptr>
#include <osgGA/GUIEventHandler>
#include <osgViewer/View>

#include <string>

namespace MarloKits {

/// Picks parts of a building model with the left mouse button: the nearest hit part whose name
/// carries an element id ("Beam[4711]", "A:B:981") blinks and the listeners hear its id. Also relays
/// attribute answers to the listeners and shows or hides a group of its own, the pick root.
///
/// Threads: `handle` and `pick` run in the viewer's event traversal; the host calls the other
/// operations on the thread that runs the frames, or while no frame runs (there is no lock).
///
/// The current pick is held weakly: a part dropped from the scene while it blinks simply stops
/// being the current pick. Destroying the handler leaves the blink on the current pick; call
/// `resetPick()` first.
class SOLVOEARTHKITS_EXPORT WebPickZirArchitectureHandler : public osgGA::GUIEventHandler, public CallBackManger
{
public:
    /// No listeners, a new shown pick root, no current pick.
    WebPickZirArchitectureHandler();

    using osgGA::GUIEventHandler::handle;
    /// Picks on a left-button press in an osgViewer::View; never consumes the event.
    bool handle(const osgGA::GUIEventAdapter& ea, osgGA::GUIActionAdapter& aa) override;

    /// Picks the part under the event's pointer (see the class comment); a hit without any id
    /// hides the pick root, and nothing at all under the pointer changes nothing.
    virtual void pick(osgViewer::View* view, const osgGA::GUIEventAdapter& ea);

    /// Tells every listener `response(id)`.
    void queryArchitectureAttribute(int id);
    /// Tells every listener `response(text, value)`, then shows the pick root.
    void queryArchitectureAttribute(std::string text, int value);

    /// Stops the blink of the current pick, removes its highlight and forgets it.
    void resetPick();
    /// True while a current pick blinks.
    bool hasPick() const { return _currentPick.valid(); }

    /// Removes `cb` from the listeners (null is ignored) and ends the current pick.
    void removeCallBack(CallBack* cb) override;

    /// The group whose node mask the handler switches; the handler keeps its own reference.
    osg::Node* getPickRoot();

protected:
    ~WebPickZirArchitectureHandler() override;

private:
    friend struct WebPickZirArchitectureHandlerAccess; // the tests' view of the private lookups

    /// The "fileName" user value of the nearest "Scene Root" group above `node`, climbing through
    /// first parents; "" when there is none.
    std::string getRootFileName(osg::Node* node);
    /// Reads the element id from a part name: the number in the first brackets, or else the last
    /// of three or more ":"-separated pieces. False (and `id` untouched) when the name has neither.
    bool findID(std::string name, int& id);

    void tellListeners(int id);

    osg::ref_ptr<osg::Group> _pickRoot;
    osg::observer_ptr<osg::Node> _currentPick;
    osg::ref_ptr<SolvoEarthUtil::ScintillationNodeCallBack> _blinkCallBack;
};

} // namespace MarloKits
