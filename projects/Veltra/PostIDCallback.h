#pragma once

#include <SolvoEarthKits/response/CallBack.h>

class Veltra;

/// Hands the model ids that the viewer reports (a click on a part while model-id reporting is on) to
/// the page: each id becomes the script "getAttr('<id>')", left on the plug-in object to run at the
/// next mouse-up or scroll. Runs on the rendering thread.
class PostIDCallback : public CallBack
{
public:
    /// `owner` is not owned; the callback is destroyed on window detach, before the owner.
    explicit PostIDCallback(Veltra* owner) : _owner(owner) {}

    using CallBack::response;
    bool response(int id) override;

protected:
    ~PostIDCallback() override = default;

private:
    Veltra* _owner;
};
