#pragma once

#include <cstddef>
#include <functional>

namespace FB::Npapi::AsyncCalls {

// NPN_PluginThreadAsyncCall takes a plain function and a data pointer. Handing the browser a token
// into this table instead of a heap object means a call the browser never runs (its instance was
// destroyed first) is neither leaked nor run against freed state: the owner drops its calls when it
// shuts down, and the module drops the rest when the browser unloads it.

/// Registers `call`, owned by `owner`, and returns the data pointer to hand the browser with run().
void* add(const void* owner, std::function<void()> call);

/// The function handed to the browser: runs and forgets the call behind `token`; a dropped or
/// unknown token does nothing.
void run(void* token);

/// Forgets the calls of `owner` (or of everyone) that have not run yet.
void dropOwnedBy(const void* owner);
void dropAll();

/// Calls registered and not yet run or dropped.
std::size_t pending();

} // namespace FB::Npapi::AsyncCalls
