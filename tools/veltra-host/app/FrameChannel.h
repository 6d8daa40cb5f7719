#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>

namespace veltra::host {

/// What one frame between the host and a page process carries.
enum class FrameKind : std::uint8_t
{
    // Host to page process.
    Open = 1,    // tag: the page's number; the page process now serves that page
    Text = 2,    // both ways: a WebSocket text message of the page (tag: the page)
    Bridge = 3,  // tag: the request; head: content type, line feed, accept; body: the request's body
    Pending = 4, // tag: the bytes the page's WebSocket still has to write
    Close = 5,   // the page has gone (host to process), or the process closes it (process to host)

    // Page process to host.
    Ready = 16,        // the plug-in is loaded; tag: the process's id
    Binary = 17,       // a WebSocket binary message to the page (a picture)
    BridgeReply = 18,  // tag: the request; head: the content type; body: the reply
    BridgeFailed = 19, // tag: the request; body: why (a malformed request)
    Instances = 20,    // tag: the plug-in instances alive in the process
};

struct Frame
{
    FrameKind kind = FrameKind::Text;
    std::uint64_t tag = 0;
    std::string head;
    std::string body;
};

/// The channel broke or carried something that is no frame.
class FrameError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The largest frame head or body a channel of a host whose calls may be `maxCallBytes` takes: the call
/// with room for a frame's head and a picture of a large window.
inline std::size_t channelFrameLimit(std::size_t maxCallBytes)
{
    return maxCallBytes + 64 * 1024 * 1024;
}

/// Frames over one end of a connected stream socket: kind, tag, head and body, each frame whole
/// and in order. Any thread may send (a frame is written under a lock, never interleaved); one
/// thread receives.
class FrameChannel
{
public:
    /// Takes over `fd`. Frames whose head or body exceed `maxBody` are refused on receipt.
    FrameChannel(int fd, std::size_t maxBody);
    ~FrameChannel();
    FrameChannel(const FrameChannel&) = delete;
    FrameChannel& operator=(const FrameChannel&) = delete;

    /// False when the other end is gone (the frame is lost with it).
    bool send(FrameKind kind, std::uint64_t tag, const std::string& head = {}, const std::string& body = {});
    bool send(FrameKind kind, std::uint64_t tag, const std::string& head, const void* body, std::size_t size);
    /// Blocks for the next frame. False at the end of the stream (the other end closed); throws
    /// FrameError for a broken one.
    bool receive(Frame& frame);
    /// Waits up to `timeoutMs` for data to read; true when there is some (or the end).
    bool readable(int timeoutMs) const;
    /// Ends both directions: a receive blocked on the other side (or here) returns.
    void shutdown();

    int fd() const { return _fd; }

private:
    bool readExactly(void* into, std::size_t size, bool allowEnd);

    const int _fd;
    const std::size_t _maxBody;
    std::mutex _sendLock;
};

} // namespace veltra::host
