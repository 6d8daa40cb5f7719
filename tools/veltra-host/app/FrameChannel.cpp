#include "app/FrameChannel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace veltra::host {
namespace {

// kind (1), tag (8), head length (4), body length (8), little-endian as both ends are one machine.
constexpr std::size_t kHeaderBytes = 1 + 8 + 4 + 8;

void put(unsigned char* at, std::uint64_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t get(const unsigned char* at, std::size_t bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
    return value;
}

bool knownKind(std::uint8_t kind)
{
    return (kind >= 1 && kind <= 5) || (kind >= 16 && kind <= 20);
}

} // namespace

FrameChannel::FrameChannel(int fd, std::size_t maxBody) : _fd(fd), _maxBody(maxBody)
{}

FrameChannel::~FrameChannel()
{
    ::close(_fd);
}

bool FrameChannel::send(FrameKind kind, std::uint64_t tag, const std::string& head, const std::string& body)
{
    return send(kind, tag, head, body.data(), body.size());
}

bool FrameChannel::send(FrameKind kind, std::uint64_t tag, const std::string& head, const void* body, std::size_t size)
{
    unsigned char header[kHeaderBytes];
    header[0] = static_cast<unsigned char>(kind);
    put(header + 1, tag, 8);
    put(header + 9, head.size(), 4);
    put(header + 13, size, 8);
    iovec parts[3] = {
        {header, kHeaderBytes}, {const_cast<char*>(head.data()), head.size()}, {const_cast<void*>(body), size}};
    std::lock_guard<std::mutex> guard(_sendLock);
    iovec* next = parts;
    int left = 3;
    while (left > 0)
    {
        msghdr message{};
        message.msg_iov = next;
        message.msg_iovlen = static_cast<std::size_t>(left);
        // MSG_NOSIGNAL: a page process that died must not take the host with it through SIGPIPE.
        const ssize_t written = ::sendmsg(_fd, &message, MSG_NOSIGNAL);
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        std::size_t done = static_cast<std::size_t>(written);
        while (left > 0 && done >= next->iov_len)
        {
            done -= next->iov_len;
            ++next;
            --left;
        }
        if (left > 0)
        {
            next->iov_base = static_cast<char*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    return true;
}

bool FrameChannel::readExactly(void* into, std::size_t size, bool allowEnd)
{
    auto* at = static_cast<char*>(into);
    std::size_t done = 0;
    while (done < size)
    {
        const ssize_t got = ::read(_fd, at + done, size - done);
        if (got > 0)
        {
            done += static_cast<std::size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        // A peer that vanished between frames ends the stream as a close does.
        const bool ended = got == 0 || errno == ECONNRESET;
        if (ended && done == 0 && allowEnd)
            return false;
        if (ended)
            throw FrameError("the channel ended inside a frame");
        throw FrameError(std::string("the channel failed: ") + std::strerror(errno));
    }
    return true;
}

bool FrameChannel::receive(Frame& frame)
{
    unsigned char header[kHeaderBytes];
    if (!readExactly(header, kHeaderBytes, true))
        return false;
    if (!knownKind(header[0]))
        throw FrameError("an unknown frame kind " + std::to_string(header[0]));
    const std::uint64_t headSize = get(header + 9, 4);
    const std::uint64_t bodySize = get(header + 13, 8);
    if (headSize > _maxBody || bodySize > _maxBody)
        throw FrameError("a frame larger than the channel's limit");
    frame.kind = static_cast<FrameKind>(header[0]);
    frame.tag = get(header + 1, 8);
    frame.head.resize(headSize);
    frame.body.resize(bodySize);
    readExactly(frame.head.data(), headSize, false);
    readExactly(frame.body.data(), bodySize, false);
    return true;
}

bool FrameChannel::readable(int timeoutMs) const
{
    pollfd watched{_fd, POLLIN, 0};
    for (;;)
    {
        const int ready = ::poll(&watched, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0;
    }
}

void FrameChannel::shutdown()
{
    ::shutdown(_fd, SHUT_RDWR);
}

} // namespace veltra::host
