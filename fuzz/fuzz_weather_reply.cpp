// The weather reader's replies: the input as the weather of a known station through the weather loop, then
// as the reply of the nearest-station request.
#include <cstddef>
#include <cstdint>

#include "support/fuzz_service.h"

namespace {
constexpr std::string_view kStation = R"({"status":200,"data":[{"ICAO":"LSZH"}]})";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setUpServiceWorld();
    fuzz::resetClients();
    const std::string_view input = fuzz::asText(data, size);
    fuzz::playReplies({kStation, input});
    std::int32_t status = 0;
    g_weatherClient.lf_weatherLoop(status);

    fuzz::resetClients();
    fuzz::playReplies({input});
    (void)g_weatherClient.nearestmetar(status);
    return 0;
}
