// Cuts the received byte stream into length-prefixed messages. Each message starts with its own u32
// length; runs of zero bytes between messages are padding. The receive buffer starts small and grows
// in steps up to 1 MiB while one message does not fit.
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
};
