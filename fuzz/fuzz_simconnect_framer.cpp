// The SimConnect framer: the bytes the simulator sends, cut into messages. The messages must not depend on
// where the reads end, so each input is fed whole and again in reads whose sizes the input decides, and the
// two outcomes must agree; a difference traps.
//
// Input: byte 0 picks the maximum message size, bytes 1-8 the sizes of the reads (cycled, 1 to 256 bytes),
// the rest is the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "simlink/protocol/framing.h"

namespace {

struct Outcome {
    std::vector<std::vector<std::uint8_t>> messages;
    std::optional<MessageFramer::Result> broken;
    std::size_t unread = 0;
};

// As the transport reads: each read fills at most the free room, then messages are taken out until more
// bytes are needed or the stream breaks.
Outcome lf_feed(std::uint32_t maxSize, const std::uint8_t* data, std::size_t size, const std::uint8_t* reads,
                std::size_t readCount) {
    Outcome o;
    MessageFramer framer(maxSize);
    std::size_t off = 0, r = 0;
    while (off < size && !o.broken) {
        auto room = framer.writable();
        if (room.empty()) {  // the transport ends the connection for want of memory
            o.broken = MessageFramer::Result::NoMemory;
            break;
        }
        std::size_t n = std::min(room.size(), size - off);
        if (readCount > 0) n = std::min<std::size_t>(n, static_cast<std::size_t>(reads[r++ % readCount]) + 1);
        std::memcpy(room.data(), data + off, n);
        framer.commit(n);
        off += n;
        for (;;) {
            std::vector<std::uint8_t> m;
            const auto result = framer.extract(m);
            if (result == MessageFramer::Result::Message) {
                o.messages.push_back(std::move(m));
                continue;
            }
            if (result == MessageFramer::Result::Skipped) continue;
            if (result != MessageFramer::Result::NeedMore) o.broken = result;
            break;
        }
    }
    o.unread = framer.unread();
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) return 0;
    static constexpr std::uint32_t kMaxSizes[] = {41088, 300, 0x100000, 16};
    const std::uint32_t maxSize = kMaxSizes[data[0] % 4];
    const std::uint8_t* reads = data + 1;
    const Outcome whole = lf_feed(maxSize, data + 9, size - 9, nullptr, 0);
    const Outcome cut = lf_feed(maxSize, data + 9, size - 9, reads, 8);
    if (whole.messages != cut.messages || whole.broken != cut.broken) __builtin_trap();
    // Without a break, the same bytes wait for the rest of a message whatever the reads were.
    if (!whole.broken && whole.unread != cut.unread) __builtin_trap();
    return 0;
}
