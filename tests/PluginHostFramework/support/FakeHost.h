#pragma once

#include "scripting/BrowserHost.h"
#include "scripting/JSObject.h"
#include "variant/ScriptErrors.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veltra::test {

/// A browser host without a browser: its main thread is the thread that made it, scheduled calls wait
/// until the test runs them, console lines (all of them in `console`, warnings also in `warnings`) and
/// evaluated scripts are recorded and scripts evaluate to nothing.
class FakeHost : public FB::BrowserHost
{
public:
    bool isMainThread() const override { return std::this_thread::get_id() == _main; }

    /// Runs the calls scheduled so far on the calling thread; returns how many ran.
    std::size_t runPending()
    {
        std::vector<std::function<void()>> calls;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            calls.swap(_pending);
        }
        for (auto& call : calls)
            call();
        return calls.size();
    }

    std::size_t pendingCount()
    {
        std::lock_guard<std::mutex> lock(_mutex);
        return _pending.size();
    }

    /// While true the host refuses to schedule.
    bool refuse = false;
    std::vector<std::string> console;
    std::vector<std::string> warnings;
    /// How many times the host wrote to the console, and how many of those were off the browser thread.
    std::atomic<std::size_t> consoleWrites{0};
    std::atomic<std::size_t> consoleWritesOffMainThread{0};
    std::vector<std::string> scripts;

protected:
    bool scheduleAsyncCall(std::function<void()> call) override
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (refuse)
            return false;
        _pending.push_back(std::move(call));
        return true;
    }
    FB::variant evaluate(const std::string& script) override
    {
        scripts.push_back(script);
        return FB::variant();
    }
    FB::JSObjectPtr domWindow() override { return nullptr; }
    bool writeToConsole(const std::vector<ConsoleLine>& lines) override
    {
        ++consoleWrites;
        if (!isMainThread())
        {
            ++consoleWritesOffMainThread; // counted, not recorded: the lines would race with the test
            return true;
        }
        for (const ConsoleLine& line : lines)
        {
            console.push_back(line.text);
            if (line.level == ConsoleLine::Level::Warn)
                warnings.push_back(line.text);
        }
        return true;
    }

private:
    std::thread::id _main = std::this_thread::get_id();
    std::mutex _mutex;
    std::vector<std::function<void()>> _pending;
};

} // namespace veltra::test
