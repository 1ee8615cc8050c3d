#include "simlink/protocol/framing.h"

#include <algorithm>
#include <cstring>
#include <new>

MessageFramer::MessageFramer(std::uint32_t maxMessageSize)
    : m_buffer(kInitialCapacity, 0),
      m_max(static_cast<std::uint32_t>(std::min<std::size_t>(maxMessageSize, kMaxCapacity))) {}

std::span<std::uint8_t> MessageFramer::writable() {
    return std::span<std::uint8_t>(m_buffer.data() + m_write, m_buffer.size() - m_write);
}

void MessageFramer::commit(std::size_t bytes) { m_write = std::min(m_write + bytes, m_buffer.size()); }

MessageFramer::Result MessageFramer::extract(std::vector<std::uint8_t>& out) {
    if (m_inPadding) {
        // The run of padding goes on: a length word read here would take zero bytes of it for the high
        // bytes of a length, and announce a bogus one.
        while (m_read < m_write && m_buffer[m_read] == 0) ++m_read;
        if (m_read == m_write) {
            m_read = m_write = 0;
            return Result::NeedMore;
        }
        m_inPadding = false;
    }
    if (m_write - m_read < 4) {
        manageBuffer();
        return Result::NeedMore;
    }
    std::uint32_t length;
    std::memcpy(&length, m_buffer.data() + m_read, 4);
    if (length > m_max) return Result::TooLong;
    if (length >= 1 && length <= 3) return Result::TooShort;
    if (length == 0) {
        std::size_t p = m_read + 1;
        while (p < m_write && m_buffer[p] == 0) ++p;
        if (p >= m_write) {
            m_read = m_write = 0;
            m_inPadding = true;
        } else {
            m_read = p;
        }
        return Result::Skipped;
    }
    if (m_write - m_read < length) {
        manageBuffer();
        return Result::NeedMore;
    }
    try {
        out.assign(m_buffer.begin() + static_cast<std::ptrdiff_t>(m_read),
                   m_buffer.begin() + static_cast<std::ptrdiff_t>(m_read + length));
    } catch (const std::bad_alloc&) {
        return Result::NoMemory;
    }
    m_read += length;
    if (m_read == m_write) m_read = m_write = 0;
    return Result::Message;
}

void MessageFramer::manageBuffer() {
    if (m_write < m_buffer.size()) return;
    if (m_read > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_read, m_write - m_read);
        m_write -= m_read;
        m_read = 0;
        return;
    }
    if (m_buffer.size() < kMaxCapacity) m_buffer.resize(std::min(m_buffer.size() + kGrowStep, kMaxCapacity), 0);
}
