#pragma once

#include "browser/PageValue.h"

#include <npruntime.h>

#include <memory>

namespace veltra::host {

class HostFunctions;
class PageLink;

/// The page's view of a plug-in value: page proxies become their handles, other objects plug-in
/// object references; both borrowed for the call. Strings are copied.
PageValue toPageValue(const NPVariant& value);

/// Fills `out` with an owned variant (freed with releasevariantvalue): strings copied with
/// memalloc, page handles wrapped in new proxies of `page` (which take over their references),
/// plug-in objects retained. False, with `out` void, when a proxy cannot be made.
bool toVariant(HostFunctions& host, const std::shared_ptr<PageLink>& page, const PageValue& value, NPVariant* out);

} // namespace veltra::host
