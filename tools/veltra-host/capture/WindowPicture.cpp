#include "capture/WindowPicture.h"

#include "capture/CaptureError.h"
#include "capture/XErrorTrap.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
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

// Writes `image` (what was read of a `box`) into `picture` at the box's place; true when that changed
// any pixel there.
bool copyInto(RgbPicture& picture, XImage& image, const Visual& visual, int left, int top)
{
    const Channel red(visual.red_mask), green(visual.green_mask), blue(visual.blue_mask);
    if (!red.valid() || !green.valid() || !blue.valid())
        throw CaptureError("the window's visual has no usable colour masks");
    const std::uint32_t one = 1;
    const bool littleEndianHost = *reinterpret_cast<const std::uint8_t*>(&one) == 1;
    const bool packed32 = image.bits_per_pixel == 32 && (image.byte_order == LSBFirst) == littleEndianHost;
    bool changed = false;
    for (int y = 0; y < image.height; ++y)
    {
        const auto* row = reinterpret_cast<const std::uint32_t*>(image.data + static_cast<std::ptrdiff_t>(y) * image.bytes_per_line);
        std::uint8_t* out = picture.rgb.data() + (static_cast<std::size_t>(top + y) * static_cast<std::size_t>(picture.width) +
                                                  static_cast<std::size_t>(left)) * 3;
        for (int x = 0; x < image.width; ++x)
        {
            // 32-bit pixels in the host's byte order are read directly; XGetPixel handles the rest.
            const unsigned long pixel = packed32 ? row[x] : XGetPixel(&image, x, y);
            const std::uint8_t rgb[3] = {red(pixel), green(pixel), blue(pixel)};
            changed = changed || out[0] != rgb[0] || out[1] != rgb[1] || out[2] != rgb[2];
            *out++ = rgb[0];
            *out++ = rgb[1];
            *out++ = rgb[2];
        }
    }
    return changed;
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

WindowPicture::Read WindowPicture::readDamaged(bool whole)
{
    // Reports already queued describe what this read covers, so they must not count afterwards.
    takeQueuedReports();
    XErrorTrap trap(_display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(_display, _window, &attributes) || !trap.sync())
        throw CaptureError("window " + std::to_string(_window) + " is gone");
    if (attributes.map_state != IsViewable)
        throw CaptureError("window " + std::to_string(_window) + " is not mapped");
    if (!attributes.visual || (attributes.visual->c_class != TrueColor && attributes.visual->c_class != DirectColor))
        throw CaptureError("window " + std::to_string(_window) + " is not true-colour");

    // Empty the damage before reading: whatever is drawn from here on is reported again. What it
    // covered is all that can differ from the last read.
    const XserverRegion damaged = XFixesCreateRegion(_display, nullptr, 0);
    XDamageSubtract(_display, _damage, None, damaged);
    int rectangles = 0;
    XRectangle bounds{};
    if (XRectangle* parts = XFixesFetchRegionAndBounds(_display, damaged, &rectangles, &bounds))
        XFree(parts);
    XFixesDestroyRegion(_display, damaged);

    Read read;
    const bool sameSize = _shown.width == attributes.width && _shown.height == attributes.height;
    Box box{0, 0, attributes.width, attributes.height};
    if (!whole && sameSize)
    {
        const int right = std::min<int>(bounds.x + bounds.width, attributes.width);
        const int bottom = std::min<int>(bounds.y + bounds.height, attributes.height);
        box = Box{std::max<int>(bounds.x, 0), std::max<int>(bounds.y, 0), 0, 0};
        box.width = std::max(right - box.x, 0);
        box.height = std::max(bottom - box.y, 0);
    }
    if (!sameSize)
    {
        _shown.width = attributes.width;
        _shown.height = attributes.height;
        _shown.rgb.assign(static_cast<std::size_t>(attributes.width) * static_cast<std::size_t>(attributes.height) * 3, 0);
        read.changed = true;
    }
    _changed = false;
    if (box.width == 0 || box.height == 0)
        return read;

    const Pixmap pixmap = XCompositeNameWindowPixmap(_display, _window);
    // The pixmap holds the border too.
    const int border = attributes.border_width;
    ImagePtr image(XGetImage(_display, pixmap, border + box.x, border + box.y, static_cast<unsigned>(box.width),
                             static_cast<unsigned>(box.height), AllPlanes, ZPixmap));
    XFreePixmap(_display, pixmap);
    if (!trap.sync() || !image)
    {
        _changed = true;
        throw CaptureError("cannot read window " + std::to_string(_window) + ": " + trap.firstError());
    }
    // A report that came in before the read's reply means the window was drawn into after the
    // damage was emptied and possibly while it was read: the picture may mix two frames.
    DamageMatch match{_damageEventBase + XDamageNotify, _damage};
    XEvent event;
    while (XCheckIfEvent(_display, &event, isDamageReport, reinterpret_cast<XPointer>(&match)))
        read.torn = true;
    _changed = read.torn;
    read.changed = copyInto(_shown, *image, *attributes.visual, box.x, box.y) || read.changed;
    return read;
}

RgbPicture WindowPicture::grab()
{
    readDamaged(true);
    _unsent = true; // encodeIfChanged has not sent this read
    return _shown;
}

std::vector<std::uint8_t> WindowPicture::encode(PictureFormat format, int quality)
{
    return encodePicture(grab(), format, quality);
}

std::optional<std::vector<std::uint8_t>> WindowPicture::encodeIfChanged(PictureFormat format, int quality)
{
    if (!changed())
        return std::nullopt;
    const Read read = readDamaged(false);
    _unsent = _unsent || read.changed;
    if (read.torn)
        return std::nullopt;
    // A viewer may redraw its window without changing it.
    if (!_unsent)
        return std::nullopt;
    std::vector<std::uint8_t> encoded = encodePicture(_shown, format, quality);
    _unsent = false;
    return encoded;
}

} // namespace veltra::host
