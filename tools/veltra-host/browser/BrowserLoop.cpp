#include "browser/BrowserLoop.h"

#include <cstdio>
#include <utility>

namespace veltra::host {

BrowserLoop::BrowserLoop(Driver driver) : _driver(driver)
{
    if (driver == Driver::Caller)
    {
        _threadId = std::this_thread::get_id();
        return;
    }
    // The id is set before the thread can run anything, so isBrowserThread() holds inside every task.
    std::unique_lock<std::mutex> guard(_lock);
    _thread = std::thread([this] { run(); });
    _threadId = _thread.get_id();
}

BrowserLoop::~BrowserLoop()
{
    if (_driver == Driver::OwnThread && isBrowserThread())
    {
        // Destroyed by one of its own tasks: it cannot join itself, so it lets the thread end alone.
        {
            std::lock_guard<std::mutex> guard(_lock);
            _stopping = true;
        }
        _thread.detach();
        return;
    }
    stop();
}

bool BrowserLoop::post(Task task)
{
    if (!task)
        return false;
    {
        std::lock_guard<std::mutex> guard(_lock);
        if (_stopping)
            return false;
        _tasks.push_back(std::move(task));
    }
    _wake.notify_one();
    return true;
}

void BrowserLoop::stop()
{
    if (_driver == Driver::OwnThread && isBrowserThread())
        throw std::logic_error("BrowserLoop::stop called on the browser thread");
    {
        std::lock_guard<std::mutex> guard(_lock);
        _stopping = true;
    }
    _wake.notify_one();
    if (_thread.joinable())
        _thread.join();
    std::deque<Task> dropped;
    {
        std::lock_guard<std::mutex> guard(_lock);
        dropped.swap(_tasks);
    }
    // Destroyed outside the lock: breaking a waiting caller's promise wakes it, and captured objects may post.
}

std::size_t BrowserLoop::runPending()
{
    if (_driver != Driver::Caller || !isBrowserThread())
        throw std::logic_error("BrowserLoop::runPending is for the thread that drives the loop");
    std::deque<Task> due;
    {
        std::lock_guard<std::mutex> guard(_lock);
        if (_stopping)
            return 0;
        due.swap(_tasks);
    }
    for (Task& task : due)
        runTask(task);
    return due.size();
}

std::size_t BrowserLoop::pendingCount() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _tasks.size();
}

bool BrowserLoop::stopped() const
{
    std::lock_guard<std::mutex> guard(_lock);
    return _stopping;
}

void BrowserLoop::run()
{
    {
        // Waits until the constructor has recorded the thread id.
        std::lock_guard<std::mutex> guard(_lock);
    }
    for (;;)
    {
        Task task;
        {
            std::unique_lock<std::mutex> guard(_lock);
            _wake.wait(guard, [this] { return _stopping || !_tasks.empty(); });
            if (_stopping)
                return;
            task = std::move(_tasks.front());
            _tasks.pop_front();
        }
        runTask(task);
    }
}

void BrowserLoop::runTask(Task& task)
{
    try
    {
        task();
    }
    catch (const std::exception& error)
    {
        // One failing task must not end the browser thread for every instance.
        std::fprintf(stderr, "veltra-host: a browser task failed: %s\n", error.what());
    }
    catch (...)
    {
        std::fprintf(stderr, "veltra-host: a browser task failed\n");
    }
}

} // namespace veltra::host
