#pragma once

#include <osgEarthFeatures/Feature>
#include <osgEarthSymbology/Expression>
#include <osgEarthSymbology/Geometry>
#include <osgEarthSymbology/IconSymbol>
#include <osgEarthSymbology/Style>
#include <osgEarthSymbology/TextSymbol>

#include <osg/Image>
#include <osg/MatrixTransform>
#include <osg/StateSet>
#include <osg/ref_ptr>
#include <osgDB/Options>
#include <osgText/Font>

#include <map>
#include <string>

namespace osgEarth::Features {

/// Where a feature's label and icon stand, in map coordinates: a point's position, the point halfway along a
/// line, a polygon's area centroid, or a point inside the polygon when that centroid falls outside it (or in a
/// hole). False for an empty or unusable part.
bool labelAnchor(const Symbology::Geometry& part, osg::Vec3d& anchor);

/// Builds each feature's screen-space label and icon from a style's `text-content` and `icon` expressions, drawn
/// as place markers are: on top of everything, unlit, one pixel per unit whatever the distance. Icons are read
/// through osgDB once per distinct URI and shared by every feature naming it. Used by one compile at a time.
class FeatureLabels
{
public:
    FeatureLabels(const Symbology::Style& style, const osgDB::Options* readOptions);

    /// Whether the style asks for labels or icons at all.
    bool active() const { return _text.valid() || _icon.valid(); }

    /// The feature's marker: a transform (identity; the caller moves it to the anchor) over the icon and label,
    /// carrying the feature's RefFeatureID when `tag`. Null when the text is empty and there is no readable icon.
    osg::ref_ptr<osg::MatrixTransform> build(const Symbology::AttributeMap& attributes, FeatureID fid, bool tag);

private:
    // A read icon and the texture state every quad showing it shares; no image when it could not be read.
    struct Icon
    {
        osg::ref_ptr<osg::Image> image;
        osg::ref_ptr<osg::StateSet> state;
    };
    const Icon& icon(const std::string& uri);

    osg::ref_ptr<const Symbology::TextSymbol> _text;
    osg::ref_ptr<const Symbology::IconSymbol> _icon;
    osg::ref_ptr<const osgDB::Options> _readOptions;
    osg::ref_ptr<osgText::Font> _font;
    osg::ref_ptr<osg::StateSet> _markerState;
    std::map<std::string, Icon> _icons;
};

} // namespace osgEarth::Features
