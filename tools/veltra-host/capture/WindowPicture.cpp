#include "capture/WindowPicture.h"

#include "capture/CaptureError.h"
#include "capture/XErrorTrap.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>

#include <memory>
#include <string>

namespace veltra::host {

namespace {

struct ImageDeleter
{
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using ImagePtr = std::unique_ptr<XImage, ImageDeleter>;

/// Where one colour channel sits in a pixel, and how to widen it to 8 bits.
struct Channel
{
    explicit Channel(unsigned long mask) : _mask(mask)
    {
        while (mask && !(mask & 1))
        {
            mask >>= 1;
            ++_shift;
        }
        while (mask & 1)
        {
            mask >>= 1;
            ++_bits;
        }
    }
    bool valid() const { return _bits > 0 && _bits <= 16; }
    std::uint8_t operator()(unsigned long pixel) const
    {
        const unsigned long value = (pixel & _mask) >> _shift;
        return static_cast<std::uint8_t>(_bits >= 8 ? value >> (_bits - 8) : value * 255 / ((1ul << _bits) - 1));
    }

private:
    unsigned long _mask;
    int _shift = 0;
    int _bits = 0;
};

RgbPicture toRgb(XImage& image, const Visual& visual, int width, int height)
{
    const Channel red(visual.red_mask), green(visual.green_mask), blue(visual.blue_mask);
    if (!red.valid() || !green.valid() || !blue.valid())
        throw CaptureError("the window's visual has no usable colour masks");
    RgbPicture picture;
    picture.width = width;
    picture.height = height;
    picture.rgb.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    std::uint8_t* out = picture.rgb.data();
    const std::uint32_t one = 1;
    const bool littleEndianHost = *reinterpret_cast<const std::uint8_t*>(&one) == 1;
    const bool packed32 = image.bits_per_pixel == 32 && (image.byte_order == LSBFirst) == littleEndianHost;
    for (int y = 0; y < height; ++y)
    {
        const auto* row = reinterpret_cast<const std::uint32_t*>(image.data + static_cast<std::ptrdiff_t>(y) * image.bytes_per_line);
        for (int x = 0; x < width; ++x)
        {
            // 32-bit pixels in the host's byte order are read directly; XGetPixel handles the rest.
            const unsigned long pixel = packed32 ? row[x] : XGetPixel(&image, x, y);
            *out++ = red(pixel);
            *out++ = green(pixel);
            *out++ = blue(pixel);
        }
    }
    return picture;
}

struct DamageMatch
{
    int eventType;
    Damage damage;
};

Bool isDamageReport(Display*, XEvent* event, XPointer argument)
{
    const auto* match = reinterpret_cast<const DamageMatch*>(argument);
    return event->type == match->eventType &&
           reinterpret_cast<const XDamageNotifyEvent*>(event)->damage == match->damage;
}

} // namespace

WindowPicture::WindowPicture(Display* display, XResourceId window) : _display(display), _window(window)
{
    if (!display || !window)
        throw CaptureError("a window picture needs a display and a window");
    int errorBase = 0;
    if (!XDamageQueryExtension(display, &_damageEventBase, &errorBase))
        throw CaptureError("the X server lacks the Damage extension");
    int compositeEvents = 0;
    if (!XCompositeQueryExtension(display, &compositeEvents, &errorBase))
        throw CaptureError("the X server lacks the Composite extension");

    XErrorTrap trap(display);
    _damage = XDamageCreate(display, window, XDamageReportNonEmpty);
    if (!trap.sync())
        throw CaptureError("cannot follow damage on window " + std::to_string(window) + ": " + trap.firstError());
}

WindowPicture::~WindowPicture()
{
    // The damage object dies with its window; the trap covers a window destroyed first.
    XErrorTrap trap(_display);
    XDamageDestroy(_display, _damage);
}

bool WindowPicture::handle(const XEvent& event)
{
    if (event.type != _damageEventBase + XDamageNotify ||
        reinterpret_cast<const XDamageNotifyEvent&>(event).damage != _damage)
        return false;
    _changed = true;
    return true;
}

void WindowPicture::takeQueuedReports()
{
    // A round trip brings in the reports for everything the server has drawn so far.
    XSync(_display, False);
    DamageMatch match{_damageEventBase + XDamageNotify, _damage};
    XEvent event;
    while (XCheckIfEvent(_display, &event, isDamageReport, reinterpret_cast<XPointer>(&match)))
        _changed = true;
}

bool WindowPicture::changed()
{
    takeQueuedReports();
    return _changed;
}

RgbPicture WindowPicture::grab()
{
    // Reports already queued describe what this grab reads, so they must not count afterwards.
    takeQueuedReports();
    XErrorTrap trap(_display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(_display, _window, &attributes) || !trap.sync())
        throw CaptureError("window " + std::to_string(_window) + " is gone");
    if (attributes.map_state != IsViewable)
        throw CaptureError("window " + std::to_string(_window) + " is not mapped");
    if (!attributes.visual || (attributes.visual->c_class != TrueColor && attributes.visual->c_class != DirectColor))
        throw CaptureError("window " + std::to_string(_window) + " is not true-colour");

    // Empty the damage before reading: whatever is drawn from here on is reported again.
    XDamageSubtract(_display, _damage, None, None);
    const Pixmap pixmap = XCompositeNameWindowPixmap(_display, _window);
    // The pixmap holds the border too.
    const int border = attributes.border_width;
    ImagePtr image(XGetImage(_display, pixmap, border, border, static_cast<unsigned>(attributes.width),
                             static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap));
    XFreePixmap(_display, pixmap);
    if (!trap.sync() || !image)
    {
        _changed = true;
        throw CaptureError("cannot read window " + std::to_string(_window) + ": " + trap.firstError());
    }
    _changed = false;
    return toRgb(*image, *attributes.visual, attributes.width, attributes.height);
}

std::vector<std::uint8_t> WindowPicture::encode(PictureFormat format, int quality)
{
    return encodePicture(grab(), format, quality);
}

std::optional<std::vector<std::uint8_t>> WindowPicture::encodeIfChanged(PictureFormat format, int quality)
{
    if (!changed())
        return std::nullopt;
    RgbPicture picture = grab();
    // A viewer that draws continuously damages its window with every frame, changed or not.
    if (picture.width == _lastEncoded.width && picture.height == _lastEncoded.height && picture.rgb == _lastEncoded.rgb)
        return std::nullopt;
    std::vector<std::uint8_t> encoded = encodePicture(picture, format, quality);
    _lastEncoded = std::move(picture);
    return encoded;
}

} // namespace veltra::host
