#include "simlink/protocol/wire.h"

namespace {

bool lf_fits(std::span<const std::uint8_t> msg, std::size_t offset, std::size_t width) {
    return offset <= msg.size() && msg.size() - offset >= width;
}

}  // namespace

std::optional<std::uint32_t> wireReadU32(std::span<const std::uint8_t> msg, std::size_t offset) {
    if (!lf_fits(msg, offset, 4)) return std::nullopt;
    return wireGet32(msg.data() + offset);
}

std::optional<std::int64_t> wireReadI64(std::span<const std::uint8_t> msg, std::size_t offset) {
    if (!lf_fits(msg, offset, 8)) return std::nullopt;
    std::int64_t v;
    std::memcpy(&v, msg.data() + offset, 8);
    return v;
}

std::optional<float> wireReadF32(std::span<const std::uint8_t> msg, std::size_t offset) {
    if (!lf_fits(msg, offset, 4)) return std::nullopt;
    float v;
    std::memcpy(&v, msg.data() + offset, 4);
    return v;
}

std::optional<double> wireReadF64(std::span<const std::uint8_t> msg, std::size_t offset) {
    if (!lf_fits(msg, offset, 8)) return std::nullopt;
    double v;
    std::memcpy(&v, msg.data() + offset, 8);
    return v;
}

std::string wireReadText(std::span<const std::uint8_t> msg, std::size_t offset, std::size_t fieldSize) {
    if (offset >= msg.size()) return {};
    std::size_t end = offset + std::min(fieldSize, msg.size() - offset);
    std::size_t i = offset;
    while (i < end && msg[i] != 0) ++i;
    return std::string(reinterpret_cast<const char*>(msg.data() + offset), i - offset);
}

std::optional<std::uint32_t> simMessageId(std::span<const std::uint8_t> msg) {
    if (msg.size() < kSimMessageHeaderSize) return std::nullopt;
    return wireGet32(msg.data() + 8);
}

std::optional<RecvExceptionMsg> parseRecvException(std::span<const std::uint8_t> msg) {
    if (msg.size() < 24) return std::nullopt;
    return RecvExceptionMsg{wireGet32(&msg[12]), wireGet32(&msg[16]), wireGet32(&msg[20])};
}

std::optional<RecvOpenMsg> parseRecvOpen(std::span<const std::uint8_t> msg) {
    if (msg.size() < 284) return std::nullopt;
    RecvOpenMsg m;
    m.applicationName = wireReadText(msg, 12, kNameFieldSize);
    m.versionMajor = wireGet32(&msg[268]);
    m.versionMinor = wireGet32(&msg[272]);
    m.buildMajor = wireGet32(&msg[276]);
    m.buildMinor = wireGet32(&msg[280]);
    return m;
}

std::optional<RecvEventMsg> parseRecvEvent(std::span<const std::uint8_t> msg) {
    if (msg.size() < 24) return std::nullopt;
    return RecvEventMsg{wireGet32(&msg[12]), wireGet32(&msg[16]), wireGet32(&msg[20])};
}

std::optional<RecvObjectAddRemoveMsg> parseRecvObjectAddRemove(std::span<const std::uint8_t> msg) {
    if (msg.size() < 28) return std::nullopt;
    return RecvObjectAddRemoveMsg{wireGet32(&msg[16]), wireGet32(&msg[20]), wireGet32(&msg[24])};
}

std::optional<RecvFrameMsg> parseRecvFrame(std::span<const std::uint8_t> msg) {
    if (msg.size() < 28) return std::nullopt;
    RecvFrameMsg m{wireGet32(&msg[16]), wireGet32(&msg[20]), 0.0f};
    std::memcpy(&m.frameRate, &msg[24], 4);
    return m;
}

std::optional<RecvObjectDataMsg> parseRecvObjectData(std::span<const std::uint8_t> msg) {
    if (msg.size() < kObjectDataOffset) return std::nullopt;
    RecvObjectDataMsg m;
    m.requestId = wireGet32(&msg[12]);
    m.objectId = wireGet32(&msg[16]);
    m.defineId = wireGet32(&msg[20]);
    m.entryNumber = wireGet32(&msg[28]);
    m.outOf = wireGet32(&msg[32]);
    m.data = msg.subspan(kObjectDataOffset);
    return m;
}
