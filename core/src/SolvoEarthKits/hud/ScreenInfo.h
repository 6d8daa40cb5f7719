#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Camera>
#include <osg/MatrixTransform>
#include <osgText/Text>

#include <string>

/// A head-up text panel: a post-render camera showing one text in window pixels. At each cull it
/// takes the size of the viewport it draws into, so the letters keep a readable height
/// (SolvoEarthUtil::hudTextHeight) in a small window and do not grow huge in a large one, and
/// they stay light on a dark box whatever the scene behind them. Only the corner panels are made.
class SOLVOEARTHKITS_EXPORT ScreenInfo : public osg::Camera
{
public:
    /// Replaces the panel's text (UTF-8). Page's thread, while frames run (the host's usual scene
    /// changes); the text is marked dynamic for viewers that draw in parallel with updates.
    void setInfo(const std::string& text);

    /// Sizes and places the text for a viewport of `width` x `height` pixels; nothing happens
    /// when that is the size laid out last. The cull traversal calls it before drawing.
    void layout(int width, int height);

    /// The panel's text, for those that inspect it.
    const osgText::Text* text() const { return _text.get(); }

protected:
    ScreenInfo();
    ~ScreenInfo() override;

    /// Where the text's alignment point goes in a viewport of that size, `margin` pixels in from
    /// the corner; each corner panel sets its alignment to match.
    virtual osg::Vec3 anchor(float width, float height, float margin) const = 0;

    osg::ref_ptr<osgText::Text> _text;

private:
    // Maps window pixels onto the camera's unit projection.
    osg::ref_ptr<osg::MatrixTransform> _pixels;
    int _width = 0;
    int _height = 0;
};
