#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <type_traits>

namespace veltra::host {

/// The browser thread: every NPP_ call and every page call runs here, one task at a time, in the
/// order they were posted.
class BrowserLoop
{
public:
    using Task = std::function<void()>;

    /// Who runs the tasks: a thread of the loop's own, or the thread that made the loop, each time
    /// it calls runPending() (as a test drives a browser, or another event loop embeds this one).
    enum class Driver
    {
        OwnThread,
        Caller
    };

    explicit BrowserLoop(Driver driver = Driver::OwnThread);
    /// Stops the loop (see stop()).
    ~BrowserLoop();
    BrowserLoop(const BrowserLoop&) = delete;
    BrowserLoop& operator=(const BrowserLoop&) = delete;

    /// Queues `task` from any thread; false (and the task is dropped) once the loop has stopped.
    bool post(Task task);

    /// Ends the loop: the task running now finishes, those still queued are dropped (destroyed
    /// without running), and the thread is joined. Calling it again does nothing; calling it from
    /// a task of a loop with its own thread throws std::logic_error, as the thread cannot join itself.
    void stop();

    /// On the browser thread of a Driver::Caller loop: runs the tasks queued so far, and those they
    /// queue in turn are left for the next call; returns how many ran. Throws std::logic_error
    /// anywhere else.
    std::size_t runPending();
    /// Tasks queued and not yet run.
    std::size_t pendingCount() const;

    bool isBrowserThread() const { return std::this_thread::get_id() == _threadId; }
    bool stopped() const;

    /// Runs `task` on the browser thread and hands back its result or rethrows what it threw. On
    /// the browser thread it runs at once, so a task may call it without waiting on itself.
    /// Throws std::runtime_error when the loop stops before the task could run.
    template <class Function>
    auto runSync(Function&& task) -> std::invoke_result_t<Function>
    {
        if (isBrowserThread())
            return task();
        using Result = std::invoke_result_t<Function>;
        auto packaged = std::make_shared<std::packaged_task<Result()>>(std::forward<Function>(task));
        std::future<Result> outcome = packaged->get_future();
        if (!post([packaged] { (*packaged)(); }))
            throw std::runtime_error("The browser loop has stopped");
        try
        {
            return outcome.get();
        }
        catch (const std::future_error&)
        {
            // The task was dropped unrun: its promise broke when the queue was cleared.
            throw std::runtime_error("The browser loop stopped before the call ran");
        }
    }

private:
    void run();
    static void runTask(Task& task);

    mutable std::mutex _lock; // guards _tasks and _stopping
    std::condition_variable _wake;
    std::deque<Task> _tasks;
    bool _stopping = false;
    Driver _driver;
    std::thread _thread;
    std::thread::id _threadId;
};

} // namespace veltra::host
