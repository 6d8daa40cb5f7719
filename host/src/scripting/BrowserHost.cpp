#include "scripting/BrowserHost.h"

#include "logging/Log.h"
#include "scripting/JSObject.h"
#include "variant/ScriptErrors.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>

namespace FB {
namespace {

const char* const kTraceSource = "BrowserHost";

// Installed once per host under a numbered name; calls a function (3 arguments) or a named method of
// an object (4 arguments) from the page's own timer.
const char* const kDelayedCallScript =
    "window.__FB_CALL_%1% = function(delay, f, args, fname) {   if (arguments.length == 3)       return "
    "setTimeout(function() { f.apply(null, args); }, delay);   else       return setTimeout(function() { "
    "f[fname].apply(f, args); }, delay);};";

std::atomic<int> g_nextDelayedCallNumber{1};

} // namespace

bool BrowserHost::scheduleOnMainThread(std::function<void()> call)
{
    if (isShutDown())
        return false;
    std::weak_ptr<BrowserHost> self = weak_from_this();
    return scheduleAsyncCall([self, call = std::move(call)] {
        BrowserHostPtr host = self.lock();
        if (host && !host->isShutDown())
            call();
    });
}

void BrowserHost::runOnMainThreadAndWait(const std::function<void()>& call)
{
    // Shared with the scheduled call, which may run after the caller has given up: `abandoned` keeps
    // it from touching the caller's (then gone) stack, and a call that has started is always waited for.
    struct CrossThreadCall
    {
        std::mutex lock;
        std::condition_variable finished;
        bool running = false;
        bool done = false;
        bool abandoned = false;
        std::exception_ptr error;
    };
    auto state = std::make_shared<CrossThreadCall>();

    if (isShutDown())
        throw script_error("Shutting down");
    std::weak_ptr<BrowserHost> self = weak_from_this();
    bool scheduled = scheduleAsyncCall([state, self, call] {
        {
            std::lock_guard<std::mutex> lock(state->lock);
            BrowserHostPtr host = self.lock();
            if (state->abandoned || !host || host->isShutDown())
                return;
            state->running = true;
        }
        std::exception_ptr error;
        try
        {
            call();
        }
        catch (...)
        {
            error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(state->lock);
        state->error = std::move(error);
        state->done = true;
        state->finished.notify_all();
    });
    if (!scheduled)
        throw script_error("Could not marshal to main thread");

    std::unique_lock<std::mutex> lock(state->lock);
    while (!state->done)
    {
        state->finished.wait_for(lock, std::chrono::milliseconds(10));
        if (!state->done && !state->running && isShutDown())
        {
            state->abandoned = true;
            throw script_error("Shutting down");
        }
    }
    // Taken out of the shared state so that the exception dies on this thread, the one that handles it.
    std::exception_ptr error = std::move(state->error);
    lock.unlock();
    if (error)
        std::rethrow_exception(error);
}

void BrowserHost::logToPage(const std::string& text)
{
    queueForPage(ConsoleLine::Level::Log, text);
}

void BrowserHost::warnToPage(const std::string& text)
{
    queueForPage(ConsoleLine::Level::Warn, text);
}

void BrowserHost::queueForPage(ConsoleLine::Level level, const std::string& text)
{
    Log::trace(kTraceSource, (level == ConsoleLine::Level::Warn ? "Warning to HTML: " : "Logging to HTML: ") + text);
    bool closed = false;
    bool scheduleFlush = false;
    {
        std::lock_guard<std::mutex> lock(_consoleLock);
        closed = _consoleClosed;
        if (!closed)
        {
            _consoleQueue.push_back({level, text});
            scheduleFlush = !_flushScheduled;
            _flushScheduled = true;
        }
    }
    if (closed)
    {
        // No flush can be scheduled any more; on the browser thread the instance may still be there to
        // hear its last words, from any other thread the line has nowhere to go.
        if (isMainThread())
            writeLines({{level, text}});
        else
            Log::trace(kTraceSource, "Dropped after shutdown: " + text);
        return;
    }
    if (!scheduleFlush)
        return; // the flush already scheduled takes this line along

    // Scheduled even on the browser thread, so that the page call that logged never waits for the page.
    std::weak_ptr<BrowserHost> self = weak_from_this();
    if (scheduleOnMainThread([self] {
            if (BrowserHostPtr host = self.lock())
                host->flushToPage();
        }))
        return;
    {
        std::lock_guard<std::mutex> lock(_consoleLock);
        _flushScheduled = false;
    }
    // A browser that refuses asynchronous calls: on its own thread the lines are written now; elsewhere
    // they wait for the next line that can schedule a flush, or for shutdown.
    if (isMainThread())
        flushToPage();
}

void BrowserHost::flushToPage()
{
    std::vector<ConsoleLine> lines;
    {
        std::lock_guard<std::mutex> lock(_consoleLock);
        lines.swap(_consoleQueue);
        // Cleared with the swap: a line logged while these are written (page code calling back into the
        // plug-in) schedules a flush of its own.
        _flushScheduled = false;
    }
    if (!lines.empty())
        writeLines(lines);
}

void BrowserHost::writeLines(const std::vector<ConsoleLine>& lines)
{
    bool written = false;
    try
    {
        written = writeToConsole(lines);
    }
    catch (const std::exception& error)
    {
        Log::trace(kTraceSource, std::string("Writing to the browser console threw: ") + error.what());
    }
    if (!written)
        Log::trace(kTraceSource, "Logging to browser console failed");
}

variant BrowserHost::evaluateScript(const std::string& script)
{
    return callOnMainThread([this, &script] { return evaluate(script); });
}

std::string BrowserHost::delayedCallFunction()
{
    if (_delayedCallFunction.empty())
    {
        std::string number = std::to_string(g_nextDelayedCallNumber++);
        std::string script = kDelayedCallScript;
        script.replace(script.find("%1%"), 3, number);
        evaluate(script);
        _delayedCallFunction = "__FB_CALL_" + number;
    }
    return _delayedCallFunction;
}

void BrowserHost::delayedInvoke(int delayMs, const JSObjectPtr& function, const VariantList& args,
                                const std::string& methodName)
{
    callOnMainThread([&] {
        JSObjectPtr window = domWindow();
        if (!window)
            throw script_error("The page has no window object");
        VariantList callArgs{delayMs, variant(function), variant(args)};
        if (!methodName.empty())
            callArgs.emplace_back(methodName);
        window->invoke(delayedCallFunction(), callArgs);
    });
}

void BrowserHost::retainJSObject(const JSObjectPtr& object)
{
    if (!object)
        return;
    std::lock_guard<std::mutex> lock(_retainedLock);
    _retained.push_back(object);
}

void BrowserHost::releaseAllJSObjects()
{
    std::vector<JSObjectPtr> released;
    {
        std::lock_guard<std::mutex> lock(_retainedLock);
        released.swap(_retained);
    }
    // Released outside the lock: letting go of a page object may run page code that retains again.
}

std::size_t BrowserHost::retainedJSObjectCount() const
{
    std::lock_guard<std::mutex> lock(_retainedLock);
    return _retained.size();
}

void BrowserHost::shutdown()
{
    // Written before anything else stops: the page can still receive them now, and never again later.
    std::vector<ConsoleLine> queued;
    {
        std::lock_guard<std::mutex> lock(_consoleLock);
        _consoleClosed = true;
        _flushScheduled = false;
        queued.swap(_consoleQueue);
    }
    if (!queued.empty())
        writeLines(queued);
    _shutDown = true;
    releaseAllJSObjects();
}

} // namespace FB
