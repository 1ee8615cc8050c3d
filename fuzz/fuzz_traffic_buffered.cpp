// The buffered traffic reply (five snapshots) through the traffic loop's start; the live request after it
// ends the loop.
#include <cstddef>
#include <cstdint>

#include "support/fuzz_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setUpServiceWorld();
    fuzz::resetClients();
    fuzz::playReplies({fuzz::asText(data, size)});
    std::int32_t status = 0;
    g_trafficClient.receive(status);
    return 0;
}
