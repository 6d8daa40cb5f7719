#include "app/HostInstance.h"

#include "capture/CaptureError.h"

#include <X11/Xlib.h>

namespace veltra::host {

HostInstance::HostInstance(PluginModule& module, Display* display, const std::string& mime, int width, int height,
                           const InstanceArgs& args, PageScript& script)
    : _display(display), _window(std::make_unique<HostWindow>(display, width, height))
{
    _plugin = module.createInstance(mime, args, script);
}

HostInstance::~HostInstance()
{
    destroy();
}

void HostInstance::show()
{
    if (!_plugin || _plugin->windowless() || _picture)
        return;
    const NPError shown = _plugin->setWindow(_window->id(), static_cast<uint32_t>(_window->width()),
                                             static_cast<uint32_t>(_window->height()), _display);
    if (shown != NPERR_NO_ERROR)
        throw PluginError("The plug-in refused its window", shown);
    _picture = std::make_unique<WindowPicture>(_display, _window->id());
    _input = std::make_unique<PageInput>(_display, _window->id(), _window->x(), _window->y());
}

bool HostInstance::handleDamage(const XEvent& event)
{
    return _picture && _picture->handle(event);
}

std::optional<std::vector<std::uint8_t>> HostInstance::pictureIfChanged(PictureFormat format, int quality)
{
    if (!_picture)
        return std::nullopt;
    return _picture->encodeIfChanged(format, quality);
}

void HostInstance::input(const PageEvent& event)
{
    if (!_input || !_plugin || !_plugin->alive())
        return;
    for (const XEvent& translated : _input->translate(event))
        _plugin->handleEvent(translated);
}

void HostInstance::destroy()
{
    if (_plugin)
        _plugin->destroy();
    _input.reset();
    _picture.reset();
    _plugin.reset();
    _window.reset();
}

} // namespace veltra::host
