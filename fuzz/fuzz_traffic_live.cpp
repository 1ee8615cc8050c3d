// The live traffic reply through the traffic loop: the buffered start fails (its own target reads it), the
// input is the one live reply, and the request after it ends the loop.
#include <cstddef>
#include <cstdint>

#include "support/fuzz_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setUpServiceWorld();
    fuzz::resetClients();
    fuzz::playReplies({std::nullopt, fuzz::asText(data, size)});
    std::int32_t status = 0;
    g_trafficClient.receive(status);
    return 0;
}
