// The parked traffic reply through the parked traffic query of the park airport, its filter included.
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "support/fuzz_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setUpServiceWorld();
    fuzz::resetClients();
    fuzz::playReplies({fuzz::asText(data, size)});
    try {
        (void)gf_getParkedTraffic();
    } catch (const std::runtime_error&) {
        // 400 and 403: the query's own way of saying so.
    }
    return 0;
}
