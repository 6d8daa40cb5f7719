#pragma once

#include <SolvoEarthKits/SolvoEarthKitsExport.h>

#include <osg/Camera>
#include <osgText/Text>

#include <string>

/// A head-up text panel: a post-render camera showing one text in a fixed 3840 x 2160 screen
/// space, so the panel scales with the window. Only the corner panels are made.
class SOLVOEARTHKITS_EXPORT ScreenInfo : public osg::Camera
{
public:
    /// Replaces the panel's text (UTF-8). Page's thread, while frames run (the host's usual scene
    /// changes); the text is marked dynamic for viewers that draw in parallel with updates.
    void setInfo(const std::string& text);

protected:
    ScreenInfo();
    ~ScreenInfo() override;

    osg::ref_ptr<osgText::Text> _text;
};
