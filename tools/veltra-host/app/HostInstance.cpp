#include "app/HostInstance.h"

#include "browser/HostFunctions.h"
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
    // A plug-in that announces its pictures is read only after it has finished one; one that never
    // does is read whenever its window was drawn into.
    HostFunctions* host = HostFunctions::current();
    const std::uint64_t announced = host && _plugin ? host->picturesAnnounced(_plugin->npp()) : 0;
    if (announced != 0 && announced == _picturesTaken)
        return std::nullopt;
    std::optional<std::vector<std::uint8_t>> picture = _picture->encodeIfChanged(format, quality);
    // A read that the next frame tore is taken again at the next pump, announced or not.
    if (!_picture->knownChanged())
        _picturesTaken = announced;
    return picture;
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
