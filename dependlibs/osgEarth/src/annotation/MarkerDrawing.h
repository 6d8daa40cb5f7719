#pragma once

// The pieces of a screen-space marker (an icon quad and a text label in pixel units, drawn on top and unlit),
// shared by place nodes and the labels of compiled features. Internal to the library; kept header-only so both
// users build them the same way.

#include <osgEarthSymbology/IconSymbol>
#include <osgEarthSymbology/TextSymbol>

#include <osg/BlendFunc>
#include <osg/Depth>
#include <osg/Geometry>
#include <osg/Image>
#include <osg/StateSet>
#include <osg/Texture2D>
#include <osgDB/FileNameUtils>
#include <osgDB/Options>
#include <osgDB/ReadFile>
#include <osgText/Font>
#include <osgText/Text>

#include <cmath>
#include <string>

namespace osgEarth {
namespace Annotation {
namespace MarkerDrawing {

/// After the terrain (bin 0) and ordinary transparent geometry (bin 10), so markers sit on top of both; depth
/// sorting lets nearer markers cover farther ones.
inline constexpr int kRenderBin = 20;

/// Label size used when the style's size is missing or unusable (not finite, not positive, absurdly large).
inline constexpr double kDefaultTextSize = 16.0;
inline constexpr double kMaxTextSize = 1024.0;

/// An icon scale as evaluated from a style, or 1 when it is not finite, not positive or absurdly large.
inline double usableIconScale(double scale)
{
    return std::isfinite(scale) && scale > 0.0 && scale <= 100.0 ? scale : 1.0;
}

/// Draw state of a marker: always passes the depth test without writing depth, unlit, blended, both faces.
inline void applyMarkerState(osg::StateSet& state)
{
    state.setMode(GL_LIGHTING, osg::StateAttribute::OFF | osg::StateAttribute::PROTECTED);
    state.setAttributeAndModes(new osg::Depth(osg::Depth::ALWAYS, 0.0, 1.0, false),
                               osg::StateAttribute::ON | osg::StateAttribute::PROTECTED);
    state.setAttributeAndModes(new osg::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA), osg::StateAttribute::ON);
    state.setMode(GL_CULL_FACE, osg::StateAttribute::OFF);
    state.setRenderBinDetails(kRenderBin, "DepthSortedBin");
}

/// The offset of the icon's lower-left corner from the anchor, for an icon of w x h pixels aligned as asked.
inline osg::Vec2d iconOrigin(Symbology::IconSymbol::Alignment alignment, double w, double h)
{
    using Symbology::IconSymbol;
    double x = -0.5 * w;
    double y = 0.0;
    switch (alignment)
    {
    case IconSymbol::ALIGN_LEFT_TOP:
    case IconSymbol::ALIGN_LEFT_CENTER:
    case IconSymbol::ALIGN_LEFT_BOTTOM: x = 0.0; break;
    case IconSymbol::ALIGN_RIGHT_TOP:
    case IconSymbol::ALIGN_RIGHT_CENTER:
    case IconSymbol::ALIGN_RIGHT_BOTTOM: x = -w; break;
    default: break;
    }
    switch (alignment)
    {
    case IconSymbol::ALIGN_LEFT_TOP:
    case IconSymbol::ALIGN_CENTER_TOP:
    case IconSymbol::ALIGN_RIGHT_TOP: y = -h; break;
    case IconSymbol::ALIGN_LEFT_CENTER:
    case IconSymbol::ALIGN_CENTER_CENTER:
    case IconSymbol::ALIGN_RIGHT_CENTER: y = -0.5 * h; break;
    default: break;
    }
    return osg::Vec2d(x, y);
}

inline osgText::Text::AlignmentType textAlignment(Symbology::TextSymbol::Alignment alignment)
{
    using Symbology::TextSymbol;
    switch (alignment)
    {
    case TextSymbol::ALIGN_LEFT_TOP: return osgText::Text::LEFT_TOP;
    case TextSymbol::ALIGN_LEFT_CENTER: return osgText::Text::LEFT_CENTER;
    case TextSymbol::ALIGN_LEFT_BOTTOM: return osgText::Text::LEFT_BOTTOM;
    case TextSymbol::ALIGN_CENTER_TOP: return osgText::Text::CENTER_TOP;
    case TextSymbol::ALIGN_CENTER_CENTER: return osgText::Text::CENTER_CENTER;
    case TextSymbol::ALIGN_CENTER_BOTTOM: return osgText::Text::CENTER_BOTTOM;
    case TextSymbol::ALIGN_RIGHT_TOP: return osgText::Text::RIGHT_TOP;
    case TextSymbol::ALIGN_RIGHT_CENTER: return osgText::Text::RIGHT_CENTER;
    case TextSymbol::ALIGN_RIGHT_BOTTOM: return osgText::Text::RIGHT_BOTTOM;
    case TextSymbol::ALIGN_CENTER_BASE_LINE: return osgText::Text::CENTER_BASE_LINE;
    case TextSymbol::ALIGN_RIGHT_BASE_LINE: return osgText::Text::RIGHT_BASE_LINE;
    case TextSymbol::ALIGN_LEFT_BOTTOM_BASE_LINE: return osgText::Text::LEFT_BOTTOM_BASE_LINE;
    case TextSymbol::ALIGN_CENTER_BOTTOM_BASE_LINE: return osgText::Text::CENTER_BOTTOM_BASE_LINE;
    case TextSymbol::ALIGN_RIGHT_BOTTOM_BASE_LINE: return osgText::Text::RIGHT_BOTTOM_BASE_LINE;
    default: return osgText::Text::LEFT_BASE_LINE;
    }
}

inline osgText::String::Encoding textEncoding(const optional<Symbology::TextSymbol::Encoding>& encoding)
{
    using Symbology::TextSymbol;
    // Unset means "whatever the caller passed", and UTF-8 reads plain ASCII unchanged while keeping
    // non-Latin labels intact.
    if (!encoding.isSet())
        return osgText::String::ENCODING_UTF8;
    switch (encoding.get())
    {
    case TextSymbol::ENCODING_ASCII: return osgText::String::ENCODING_ASCII;
    case TextSymbol::ENCODING_UTF16: return osgText::String::ENCODING_UTF16;
    case TextSymbol::ENCODING_UTF32: return osgText::String::ENCODING_UTF32;
    default: return osgText::String::ENCODING_UTF8;
    }
}

/// Reads an icon through osgDB: the path as given, then (for a relative path) beside `referrer`, the file the
/// style came from. Null when neither can be read; the caller decides how to report it.
inline osg::ref_ptr<osg::Image> readIcon(const std::string& path, const std::string& referrer,
                                         const osgDB::Options* options)
{
    if (path.empty())
        return nullptr;
    osg::ref_ptr<osg::Image> image = osgDB::readRefImageFile(path, options);
    if (!image.valid() && !referrer.empty() && !osgDB::isAbsolutePath(path))
        image = osgDB::readRefImageFile(osgDB::concatPaths(osgDB::getFilePath(referrer), path), options);
    if (image.valid() && (image->s() <= 0 || image->t() <= 0))
        return nullptr;
    return image;
}

/// A clamped, linearly filtered texture of an icon image; shareable between markers.
inline osg::ref_ptr<osg::Texture2D> iconTexture(osg::Image* image)
{
    osg::ref_ptr<osg::Texture2D> texture = new osg::Texture2D(image);
    texture->setFilter(osg::Texture::MIN_FILTER, osg::Texture::LINEAR);
    texture->setFilter(osg::Texture::MAG_FILTER, osg::Texture::LINEAR);
    texture->setWrap(osg::Texture::WRAP_S, osg::Texture::CLAMP_TO_EDGE);
    texture->setWrap(osg::Texture::WRAP_T, osg::Texture::CLAMP_TO_EDGE);
    texture->setResizeNonPowerOfTwoHint(false);
    return texture;
}

/// An icon quad of w x h pixels about the anchor, aligned as asked and turned `headingDegrees` clockwise about the
/// anchor; untextured. `labelStart` receives where a label beside it starts: 2 pixels right of the unturned
/// icon's right edge, at its vertical middle.
inline osg::ref_ptr<osg::Geometry> iconQuad(double w, double h, Symbology::IconSymbol::Alignment alignment,
                                            double headingDegrees, osg::Vec2d& labelStart)
{
    const osg::Vec2d origin = iconOrigin(alignment, w, h);
    labelStart = osg::Vec2d(origin.x() + w + 2.0, origin.y() + 0.5 * h);

    // Heading is clockwise from north, i.e. clockwise on screen.
    const double heading = std::isfinite(headingDegrees) ? osg::DegreesToRadians(headingDegrees) : 0.0;
    const double c = std::cos(-heading);
    const double s = std::sin(-heading);
    osg::ref_ptr<osg::Vec3Array> corners = new osg::Vec3Array();
    for (const osg::Vec2d& corner :
         {origin, origin + osg::Vec2d(w, 0.0), origin + osg::Vec2d(w, h), origin + osg::Vec2d(0.0, h)})
    {
        corners->push_back(osg::Vec3(static_cast<float>(c * corner.x() - s * corner.y()),
                                     static_cast<float>(s * corner.x() + c * corner.y()), 0.0f));
    }
    osg::ref_ptr<osg::Vec2Array> texCoords = new osg::Vec2Array();
    texCoords->push_back(osg::Vec2(0.0f, 0.0f));
    texCoords->push_back(osg::Vec2(1.0f, 0.0f));
    texCoords->push_back(osg::Vec2(1.0f, 1.0f));
    texCoords->push_back(osg::Vec2(0.0f, 1.0f));
    osg::ref_ptr<osg::Vec4Array> colours = new osg::Vec4Array(osg::Array::BIND_OVERALL);
    colours->push_back(osg::Vec4(1.0f, 1.0f, 1.0f, 1.0f));

    osg::ref_ptr<osg::Geometry> quad = new osg::Geometry();
    quad->setUseDisplayList(false);
    quad->setUseVertexBufferObjects(true);
    quad->setVertexArray(corners.get());
    quad->setTexCoordArray(0, texCoords.get());
    quad->setColorArray(colours.get());
    quad->addPrimitiveSet(new osg::DrawArrays(GL_QUADS, 0, 4));
    return quad;
}

/// The font named by the symbol, or null for the default font (also when it cannot be read).
inline osg::ref_ptr<osgText::Font> readFont(const Symbology::TextSymbol* symbol, const osgDB::Options* options)
{
    if (!symbol || !symbol->font().isSet() || symbol->font().get().empty())
        return nullptr;
    return osgText::readRefFontFile(symbol->font().get(), options);
}

/// A label of `text` starting at `at` (pixels from the anchor), styled by `symbol` (may be null): colour, halo,
/// alignment, encoding; `size` in pixels (unusable sizes give 16). `font` may be null for the default one.
inline osg::ref_ptr<osgText::Text> makeLabel(const std::string& text, const Symbology::TextSymbol* symbol, double size,
                                             osgText::Font* font, const osg::Vec2d& at)
{
    osg::ref_ptr<osgText::Text> label = new osgText::Text();
    if (font)
        label->setFont(font);
    if (!std::isfinite(size) || size <= 0.0 || size > kMaxTextSize)
        size = kDefaultTextSize;
    // The screen transform above makes one unit one pixel, so object sizes are pixel sizes.
    label->setCharacterSizeMode(osgText::Text::OBJECT_COORDS);
    label->setCharacterSize(static_cast<float>(size));
    label->setAxisAlignment(osgText::Text::XY_PLANE);
    label->setAlignment(symbol ? textAlignment(symbol->alignment().get()) : osgText::Text::LEFT_BASE_LINE);
    label->setPosition(osg::Vec3(static_cast<float>(at.x()), static_cast<float>(at.y()), 0.0f));
    label->setColor(symbol && symbol->fill().isSet() ? symbol->fill().get().color() : Symbology::Color::White);
    if (symbol && symbol->halo().isSet())
    {
        label->setBackdropType(osgText::Text::OUTLINE);
        label->setBackdropColor(symbol->halo().get().color());
        label->setBackdropOffset(symbol->haloOffset().get());
    }
    label->setText(text, symbol ? textEncoding(symbol->encoding()) : osgText::String::ENCODING_UTF8);
    return label;
}

} // namespace MarkerDrawing
} // namespace Annotation
} // namespace osgEarth
