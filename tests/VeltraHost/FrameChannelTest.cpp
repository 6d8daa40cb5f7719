#include "app/FrameChannel.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

using namespace veltra::host;

namespace {

/// Both ends of a local stream socket, the first one as a channel.
struct ChannelPair
{
    explicit ChannelPair(std::size_t limit = 1 << 20)
    {
        int ends[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        channel = std::make_unique<FrameChannel>(ends[0], limit);
        peer = std::make_unique<FrameChannel>(ends[1], limit);
    }
    std::unique_ptr<FrameChannel> channel;
    std::unique_ptr<FrameChannel> peer;
};

/// A frame's bytes as the channel writes them: kind, tag, head length, body length, head, body.
std::string rawFrame(std::uint8_t kind, std::uint64_t headSize, std::uint64_t bodySize, const std::string& rest)
{
    std::string bytes(1, static_cast<char>(kind));
    auto put = [&](std::uint64_t value, int count) {
        for (int i = 0; i < count; ++i)
            bytes += static_cast<char>(value >> (8 * i));
    };
    put(7, 8);
    put(headSize, 4);
    put(bodySize, 8);
    return bytes + rest;
}

} // namespace

TEST(FrameChannel, FramesArriveWholeAndInOrderWhateverTheirSize)
{
    ChannelPair pair(32 << 20);
    const std::string large(20 << 20, 'x'); // larger than the socket's buffers: written while read
    std::thread writer([&] {
        EXPECT_TRUE(pair.peer->send(FrameKind::Text, 1, {}, "first"));
        EXPECT_TRUE(pair.peer->send(FrameKind::Bridge, 42, "application/json\n*/*", large));
        EXPECT_TRUE(pair.peer->send(FrameKind::Close, 0));
    });
    Frame frame;
    ASSERT_TRUE(pair.channel->receive(frame));
    EXPECT_EQ(frame.kind, FrameKind::Text);
    EXPECT_EQ(frame.tag, 1u);
    EXPECT_EQ(frame.body, "first");
    ASSERT_TRUE(pair.channel->receive(frame));
    EXPECT_EQ(frame.kind, FrameKind::Bridge);
    EXPECT_EQ(frame.tag, 42u);
    EXPECT_EQ(frame.head, "application/json\n*/*");
    EXPECT_EQ(frame.body.size(), large.size());
    EXPECT_EQ(frame.body, large);
    ASSERT_TRUE(pair.channel->receive(frame));
    EXPECT_EQ(frame.kind, FrameKind::Close);
    writer.join();

    // The other end going away ends the stream between frames; sending to it fails instead of raising SIGPIPE.
    pair.peer.reset();
    EXPECT_FALSE(pair.channel->receive(frame));
    EXPECT_FALSE(pair.channel->send(FrameKind::Text, 1, {}, "nobody"));
}

TEST(FrameChannel, BrokenFramesAreRefusedWithTheirReason)
{
    struct Case
    {
        const char* what;
        std::string bytes;
        const char* error;
    };
    const Case cases[] = {
        {"an unknown kind", rawFrame(9, 0, 0, ""), "an unknown frame kind 9"},
        {"a body beyond the limit", rawFrame(2, 0, 4097, ""), "a frame larger than the channel's limit"},
        {"a head beyond the limit", rawFrame(2, 5000, 0, ""), "a frame larger than the channel's limit"},
        {"cut short in its header", rawFrame(2, 0, 3, "").substr(0, 10), "the channel ended inside a frame"},
        {"cut short in its body", rawFrame(2, 0, 10, "abc"), "the channel ended inside a frame"},
    };
    for (const Case& c : cases)
    {
        ChannelPair pair(4096);
        const int raw = pair.peer->fd();
        ASSERT_EQ(::write(raw, c.bytes.data(), c.bytes.size()), static_cast<ssize_t>(c.bytes.size())) << c.what;
        ::shutdown(raw, SHUT_WR);
        Frame frame;
        try
        {
            pair.channel->receive(frame);
            ADD_FAILURE() << c.what << ": accepted";
        }
        catch (const FrameError& error)
        {
            EXPECT_STREQ(error.what(), c.error) << c.what;
        }
    }
}
