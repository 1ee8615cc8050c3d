// Cutting the received stream into messages: whole, split, coalesced, padded, broken and oversized.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>

#include "raw_peer.h"
#include "simlink/protocol/framing.h"

namespace {

// Feeds bytes the way the transport does: each read fills at most the free room (and at most `chunk`
// bytes), then messages are extracted until more bytes are needed or the stream breaks.
struct Pump {
    explicit Pump(std::uint32_t max) : framer(max) {}
    MessageFramer framer;
    std::vector<ByteVec> messages;
    std::optional<MessageFramer::Result> broken;

    void feed(const ByteVec& bytes, std::size_t chunk = 1u << 30) {
        std::size_t off = 0;
        while (off < bytes.size() && !broken) {
            auto room = framer.writable();
            ASSERT_FALSE(room.empty());
            std::size_t n = std::min({room.size(), chunk, bytes.size() - off});
            std::memcpy(room.data(), bytes.data() + off, n);
            framer.commit(n);
            off += n;
            drain();
        }
    }
    void drain() {
        for (;;) {
            ByteVec m;
            auto r = framer.extract(m);
            if (r == MessageFramer::Result::Message) {
                messages.push_back(m);
                continue;
            }
            if (r == MessageFramer::Result::Skipped) continue;
            if (r != MessageFramer::Result::NeedMore) broken = r;
            return;
        }
    }
};

ByteVec sized(std::uint32_t size, std::uint8_t fill) {
    ByteVec m(size, fill);
    std::memcpy(m.data(), &size, 4);
    return m;
}

TEST(MessageFramer, DeliversCoalescedAndSplitMessages) {
    Pump p(41088);
    ByteVec a = makeMessage(4, ByteVec(12, 0xA1)), b = makeMessage(7, ByteVec(20, 0xB2));
    p.feed(concat({a, b}));
    ASSERT_EQ(p.messages.size(), 2u);
    EXPECT_EQ(p.messages[0], a);
    EXPECT_EQ(p.messages[1], b);

    // One message over two reads: nothing after the first part, the whole after the second.
    ByteVec c = makeMessage(8, ByteVec(100, 0xC3));
    p.feed(ByteVec(c.begin(), c.begin() + 3));
    EXPECT_EQ(p.messages.size(), 2u);
    p.feed(ByteVec(c.begin() + 3, c.begin() + 50));
    EXPECT_EQ(p.messages.size(), 2u);
    p.feed(ByteVec(c.begin() + 50, c.end()));
    ASSERT_EQ(p.messages.size(), 3u);
    EXPECT_EQ(p.messages[2], c);
    EXPECT_EQ(p.framer.unread(), 0u);
    EXPECT_FALSE(p.broken);
}

TEST(MessageFramer, ByteByByteStreamGivesTheSameMessages) {
    Pump p(41088);
    std::vector<ByteVec> sent;
    ByteVec stream;
    for (int i = 0; i < 40; ++i) {
        sent.push_back(makeMessage(4, ByteVec(static_cast<std::size_t>(12 + i * 7), static_cast<std::uint8_t>(i + 1))));
        stream.insert(stream.end(), sent.back().begin(), sent.back().end());
    }
    p.feed(stream, 1);
    EXPECT_EQ(p.messages, sent);
}

TEST(MessageFramer, SkipsZeroPaddingBetweenMessages) {
    Pump p(41088);
    ByteVec a = makeMessage(3), b = makeMessage(4, ByteVec(12, 1));
    p.feed(concat({ByteVec(4, 0), a, ByteVec(9, 0), b}));
    ASSERT_EQ(p.messages.size(), 2u);
    EXPECT_EQ(p.messages[0], a);
    EXPECT_EQ(p.messages[1], b);

    // Padding alone leaves nothing behind.
    p.feed(ByteVec(16, 0));
    EXPECT_EQ(p.framer.unread(), 0u);
    EXPECT_FALSE(p.broken);
}

// What the framer made of a stream fed in reads of the given sizes: the messages and how the stream broke.
struct Outcome {
    std::vector<ByteVec> messages;
    std::optional<MessageFramer::Result> broken;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    os << o.messages.size() << " messages of sizes";
    for (const ByteVec& m : o.messages) os << ' ' << m.size();
    if (o.broken) os << ", broken with result " << static_cast<int>(*o.broken);
    return os;
}

Outcome lf_frame(const ByteVec& stream, std::size_t firstRead, std::size_t chunk) {
    Pump p(41088);
    firstRead = std::min(firstRead, stream.size());
    p.feed(ByteVec(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(firstRead)), chunk);
    p.feed(ByteVec(stream.begin() + static_cast<std::ptrdiff_t>(firstRead), stream.end()), chunk);
    return {p.messages, p.broken};
}

// Padding is skipped the same way wherever the reads end: whole, byte by byte, and in two reads cut at
// every offset. Where the zero-skip rule itself cannot find the messages (fewer than four zero bytes before
// a message, a length with a zero low byte after padding), the outcome is still the same for every cut.
TEST(MessageFramer, PaddingGivesTheSameMessagesWhereverTheReadsEnd) {
    const auto pad = [](std::size_t n) { return ByteVec(n, 0); };
    const ByteVec a = makeMessage(4, ByteVec(12, 0xA1));                      // 24 bytes
    const ByteVec b = makeMessage(7, concat({ByteVec(20, 0xB2), pad(9)}));    // ends in zero bytes
    const ByteVec c = makeMessage(8, ByteVec(1500, 0xC3));                    // fills most of the buffer
    const ByteVec lowZero = makeMessage(9, ByteVec(244, 0xD4));               // 256 bytes: low byte 0
    struct Case {
        const char* name;
        std::vector<ByteVec> parts;
        bool clean;  // the rule finds every message sent
    };
    const Case cases[] = {
        {"runs of four and more", {pad(4), a, pad(5), b, pad(6), a, pad(7), c, pad(700), a, pad(9)}, true},
        {"messages back to back, then padding", {a, b, c, a, pad(33)}, true},
        {"one zero byte", {a, pad(1), a, b}, false},
        {"two zero bytes", {a, pad(2), a, b}, false},
        {"three zero bytes", {a, pad(3), a, b}, false},
        {"a length with a zero low byte", {a, pad(4), lowZero, a}, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ByteVec stream;
        std::vector<ByteVec> sent;
        for (const ByteVec& part : k.parts) {
            stream.insert(stream.end(), part.begin(), part.end());
            if (std::any_of(part.begin(), part.end(), [](std::uint8_t x) { return x != 0; })) sent.push_back(part);
        }
        const Outcome whole = lf_frame(stream, stream.size(), stream.size());
        if (k.clean) {
            EXPECT_EQ(whole, (Outcome{sent, std::nullopt}));
        }
        EXPECT_EQ(lf_frame(stream, 0, 1), whole) << "byte by byte";
        for (std::size_t cut = 1; cut < stream.size(); ++cut) {
            ASSERT_EQ(lf_frame(stream, cut, stream.size()), whole) << "cut at " << cut;
        }
    }
}

TEST(MessageFramer, LengthsOfOneToThreeBreakTheStream) {
    for (std::uint32_t len : {1u, 2u, 3u}) {
        Pump p(41088);
        p.feed(concat({u32le(len), ByteVec(8, 0x55)}));
        EXPECT_EQ(p.broken, MessageFramer::Result::TooShort) << len;
        EXPECT_TRUE(p.messages.empty());
    }
}

TEST(MessageFramer, LengthAboveTheMaximumBreaksTheStream) {
    Pump p(1000);
    p.feed(sized(1000, 7));
    EXPECT_EQ(p.messages.size(), 1u);
    p.feed(concat({u32le(1001), ByteVec(20, 1)}));
    EXPECT_EQ(p.broken, MessageFramer::Result::TooLong);
}

// The buffer cannot grow past 1 MiB, so a larger announced length is too long whatever the configured
// maximum says; otherwise the stream would wait forever for room it can never have.
TEST(MessageFramer, MaximumIsCappedAtOneMebibyte) {
    Pump p(4u << 20);
    EXPECT_EQ(p.framer.maxMessageSize(), 0x100000u);
    p.feed(concat({u32le(0x100001), ByteVec(20, 1)}));
    EXPECT_EQ(p.broken, MessageFramer::Result::TooLong);

    Pump whole(4u << 20);
    whole.feed(sized(0x100000, 0x5A), 65536);
    ASSERT_EQ(whole.messages.size(), 1u);
    EXPECT_EQ(whole.messages[0].size(), 0x100000u);
    EXPECT_EQ(whole.framer.capacity(), 0x100000u);
}

TEST(MessageFramer, GrowsInStepsOnlyWhileAMessageDoesNotFit) {
    Pump p(41088);
    EXPECT_EQ(p.framer.capacity(), 2048u);
    // Many small messages never grow the buffer: consumed bytes make room.
    for (int i = 0; i < 200; ++i) p.feed(makeMessage(4, ByteVec(100, static_cast<std::uint8_t>(i))), 700);
    EXPECT_EQ(p.messages.size(), 200u);
    EXPECT_EQ(p.framer.capacity(), 2048u);

    ByteVec big = sized(5000, 0xEE);
    p.feed(concat({makeMessage(4, ByteVec(30, 1)), big}), 1500);
    ASSERT_EQ(p.messages.size(), 202u);
    EXPECT_EQ(p.messages.back(), big);
    EXPECT_EQ(p.framer.capacity(), 6144u);
}

TEST(MessageFramer, MovesAPartialMessageToTheStartWhenTheBufferIsFull) {
    Pump p(41088);
    ByteVec first = sized(1500, 1), second = sized(1500, 2);
    p.feed(concat({first, second}));  // the second is cut at the buffer end and moved, not grown for
    ASSERT_EQ(p.messages.size(), 2u);
    EXPECT_EQ(p.messages[1], second);
    EXPECT_EQ(p.framer.capacity(), 2048u);
}

}  // namespace
