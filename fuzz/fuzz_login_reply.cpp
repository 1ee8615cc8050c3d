// The login reply through the start-up's login (a refusal throws the user error the start-up stops with),
// then the same text as the reply of the logout.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "support/fuzz_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::setUpServiceWorld();
    fuzz::resetClients();
    g_weatherClient.setLoginGuid("");
    g_trafficClient.setLoginGuid("");
    const std::string_view input = fuzz::asText(data, size);
    fuzz::playReplies({input});
    try {
        gf_authenticateOrThrow();
    } catch (const std::exception&) {
        // A refused licence or a service without its database: what the start-up shows and stops on.
    }
    fuzz::playReplies({input});
    g_trafficClient.deauthenticate();
    return 0;
}
