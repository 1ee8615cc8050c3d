// The decoders of what the simulator sends: every received message kind, and the data blocks of the
// program's data definitions inside object data, read from a message of any length and content.
#include <cstddef>
#include <cstdint>
#include <span>

#include "simlink/protocol/wire.h"
#include "simlink/simids.h"

namespace {

// Keeps the optimiser from dropping a read whose result is not otherwise used.
template <typename T>
void lf_use(const T& value) {
    asm volatile("" : : "r"(&value) : "memory");
}

void lf_decodeBlock(std::span<const std::uint8_t> block) {
    lf_use(gf_decodeUserAcData(block));
    lf_use(gf_decodeAircraftInRange(block));
    lf_use(gf_decodeStaticData(block));
    lf_use(gf_decodeUserOnGround(block));
    lf_use(gf_decodeUserTitle(block));
    lf_use(gf_decodeUserModel(block));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const std::uint8_t> msg(data, size);
    lf_use(simMessageId(msg));
    lf_use(parseRecvException(msg));
    lf_use(parseRecvOpen(msg));
    lf_use(parseRecvEvent(msg));
    lf_use(parseRecvObjectAddRemove(msg));
    lf_use(parseRecvFrame(msg));
    if (const auto objectData = parseRecvObjectData(msg)) lf_decodeBlock(objectData->data);
    // The message read as a bare data block too: the decoders must hold for any length, not only the
    // lengths that a well-formed object data message leaves them.
    lf_decodeBlock(msg);
    // The bounded field readers at offsets and widths from the message itself.
    if (size >= 2) {
        const std::size_t offset = data[0] * 4u, width = data[1];
        lf_use(wireReadU32(msg, offset));
        lf_use(wireReadI64(msg, offset));
        lf_use(wireReadF32(msg, offset));
        lf_use(wireReadF64(msg, offset));
        lf_use(wireReadText(msg, offset, width));
        lf_use(wireReadText(msg, offset, SIZE_MAX));
    }
    return 0;
}
