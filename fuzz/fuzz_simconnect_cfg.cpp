// "SimConnect.cfg": a text file the user or an installer writes, read as the profile functions read it
// (UTF-16 with a byte-order mark or plain), for the default section and a numbered one, and the fallback
// chain walked with what it gave.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "simlink/protocol/config.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = fuzz::writeInput(data, size, "SimConnect.cfg");
    const std::vector<std::filesystem::path> folders = {path.parent_path()};
    const RegistryPortFn registryPort = [](AddressFamily family) {
        return std::string(family == AddressFamily::IPv6 ? "5001" : "5002");
    };
    for (std::uint32_t index : {0u, 1u, 7u}) {
        const auto settings = readSimConnectConfig(index, folders, registryPort);
        if (!settings) continue;
        // Every attempt fails, so the whole chain is walked; nothing is connected.
        std::size_t attempts = 0;
        connectWithFallback(*settings, registryPort,
                            [&](TransportKind, AddressFamily, const std::string& address, const std::string& port) {
                                attempts += address.size() + port.size() + 1;
                                return false;
                            });
        if (attempts > 4 * (2 * 1024 + 8)) __builtin_trap();  // at most four attempts, each field bounded
    }
    return 0;
}
