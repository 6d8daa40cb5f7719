#pragma once

#include "variant/variant.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace FB {

/// The services of the browser an instance lives in, as the rest of the plug-in sees them: running
/// work on the browser thread (scheduled, or waited for), the page's console, script evaluation,
/// delayed page calls and the page objects the plug-in keeps alive. Each instance owns one; the NPAPI
/// bridge supplies the browser-specific half, tests supply their own.
///
/// Every call into page script happens on the browser's main thread. Called from another thread,
/// evaluateScript and callOnMainThread wait for the browser thread (waking every 10 ms) and fail
/// with FB::script_error "Shutting down" once the host shuts down, or "Could not marshal to main
/// thread" when the call cannot be scheduled; logToPage, warnToPage and scheduleOnMainThread never
/// wait, on any thread.
class BrowserHost : public std::enable_shared_from_this<BrowserHost>
{
public:
    virtual ~BrowserHost() = default;
    BrowserHost(const BrowserHost&) = delete;
    BrowserHost& operator=(const BrowserHost&) = delete;

    /// True on the browser's main thread, where every call into page script must happen.
    virtual bool isMainThread() const = 0;

    /// Schedules `call` to run later on the browser thread and returns at once; false when it cannot
    /// be scheduled (the host is shutting down, or the browser refused). A call still queued when the
    /// host shuts down is dropped.
    bool scheduleOnMainThread(std::function<void()> call);

    /// Runs `call` on the browser thread and returns its result; its exception is rethrown here.
    template <class F>
    std::invoke_result_t<F&> callOnMainThread(F&& call);

    /// One line for the page's console and the console method that shows it.
    struct ConsoleLine
    {
        enum class Level
        {
            Log, // console.log
            Warn // console.warn
        };
        Level level;
        std::string text;
    };

    /// Queues `text` for the page's console (console.log), traced at once as "Logging to HTML: ...", and
    /// returns without calling the page, on any thread. Lines logged from any thread are shown in the order
    /// they were queued, each its own console entry, by one page call on the browser thread per batch.
    /// Shutdown shows what is still queued first. After shutdown a line logged on the browser thread is
    /// written at once (the plug-in's last words while its instance is being destroyed); one logged on
    /// another thread is dropped.
    void logToPage(const std::string& text);
    /// As logToPage, shown with console.warn and traced as "Warning to HTML: ...".
    void warnToPage(const std::string& text);

    /// Evaluates `script` in the page's window and returns its value; FB::script_error when the page
    /// rejects it.
    variant evaluateScript(const std::string& script);

    /// The page's window object; null when the browser does not give it. Browser thread only.
    JSObjectPtr getDOMWindow() { return domWindow(); }

    /// Calls `function` (or its method `methodName`) with `args` from the page's own timer after
    /// `delayMs` milliseconds, so that the page runs it outside the current call.
    void delayedInvoke(int delayMs, const JSObjectPtr& function, const VariantList& args,
                       const std::string& methodName = "");

    /// Page objects the plug-in keeps alive until releaseAllJSObjects (or shutdown).
    void retainJSObject(const JSObjectPtr& object);
    void releaseAllJSObjects();
    std::size_t retainedJSObjectCount() const;

    /// Stops all traffic with the page: console lines still queued are written first, then waiting
    /// cross-thread calls end with "Shutting down", queued ones are dropped, retained page objects are
    /// released. Browser thread only; idempotent.
    virtual void shutdown();
    bool isShutDown() const { return _shutDown; }

protected:
    BrowserHost() = default;

    /// Hands `call` to the browser's asynchronous-call facility; false when the browser refuses.
    /// May be called from any thread.
    virtual bool scheduleAsyncCall(std::function<void()> call) = 0;
    /// The browser-specific halves of the public calls above; browser thread only.
    virtual variant evaluate(const std::string& script) = 0;
    virtual JSObjectPtr domWindow() = 0;
    /// Shows `lines` in the page's console in this order, each its own entry, with as few page calls
    /// as the browser allows (one for a batch of ordinary size); false when the page has no usable
    /// console. Also called after shutdown, for the last words.
    virtual bool writeToConsole(const std::vector<ConsoleLine>& lines) = 0;

private:
    /// The waiting half of callOnMainThread for a caller off the browser thread.
    void runOnMainThreadAndWait(const std::function<void()>& call);
    /// The page function that delayedInvoke calls, installed in the page on first use.
    std::string delayedCallFunction();
    /// The common half of logToPage and warnToPage.
    void queueForPage(ConsoleLine::Level level, const std::string& text);
    /// Writes every queued console line; browser thread only.
    void flushToPage();
    /// Hands `lines` to writeToConsole and traces a failure; browser thread only.
    void writeLines(const std::vector<ConsoleLine>& lines);

    std::atomic<bool> _shutDown{false};
    mutable std::mutex _retainedLock;
    std::vector<JSObjectPtr> _retained;
    std::string _delayedCallFunction; // browser thread only
    // Guards the console queue: the lines waiting for the browser thread, whether a flush of them is
    // scheduled, and whether shutdown has closed the queue.
    std::mutex _consoleLock;
    std::vector<ConsoleLine> _consoleQueue;
    bool _flushScheduled = false;
    bool _consoleClosed = false;
};

using BrowserHostPtr = std::shared_ptr<BrowserHost>;
using BrowserHostWeakPtr = std::weak_ptr<BrowserHost>;

template <class F>
std::invoke_result_t<F&> BrowserHost::callOnMainThread(F&& call)
{
    using Result = std::invoke_result_t<F&>;
    if (isMainThread())
        return call();
    if constexpr (std::is_void_v<Result>)
    {
        runOnMainThreadAndWait([&call] { call(); });
    }
    else
    {
        std::optional<Result> result;
        runOnMainThreadAndWait([&call, &result] { result.emplace(call()); });
        return std::move(*result);
    }
}

} // namespace FB
