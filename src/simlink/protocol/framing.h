// Cuts the received byte stream into length-prefixed messages. Each message starts with its own u32
// length; runs of zero bytes between messages are padding. The receive buffer starts small and grows
// in steps up to 1 MiB while one message does not fit.
//
// Padding: a length word of 0 starts a run that is skipped up to the next non-zero byte, where the next
// length word is read. The run may go on past the end of a read; it is then skipped on in the next ones,
// so the messages never depend on where the reads end. What that rule cannot tell apart stays as it is,
// whatever the cut: fewer than four zero bytes before a message are read as part of a length word, and a
// message whose length has a zero low byte loses that byte to a run of padding before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

class MessageFramer {
public:
    static constexpr std::size_t kInitialCapacity = 2048;
    static constexpr std::size_t kGrowStep = 2048;
    static constexpr std::size_t kMaxCapacity = 0x100000;

    enum class Result {
        Message,   // one message was copied out
        Skipped,   // zero padding was skipped; try again
        NeedMore,  // wait for more bytes
        TooLong,   // announced length above the maximum message size
        TooShort,  // announced length of 1 to 3
        NoMemory,
    };

    // A length above 1 MiB can never be held by the buffer, so the limit is capped there whatever the
    // configured maximum says; otherwise such a message would stall the stream for good.
    explicit MessageFramer(std::uint32_t maxMessageSize);

    // The free room after the write cursor, for the next read.
    std::span<std::uint8_t> writable();
    void commit(std::size_t bytes);

    // Extracts one message into out (reusing its storage).
    Result extract(std::vector<std::uint8_t>& out);

    std::size_t capacity() const { return m_buffer.size(); }
    std::size_t unread() const { return m_write - m_read; }
    std::uint32_t maxMessageSize() const { return m_max; }

private:
    void manageBuffer();

    std::vector<std::uint8_t> m_buffer;
    std::size_t m_read = 0;
    std::size_t m_write = 0;
    std::uint32_t m_max;
    bool m_inPadding = false;  // a run of padding reached the end of the bytes read so far
};
