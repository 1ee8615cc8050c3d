// The user's service credential file ("RealTraffic.lic"), as the service's own application or the user left it.
#include <cstddef>
#include <cstdint>

#include "frame/errors.h"
#include "support/fuzz_file.h"
#include "trafficservice/credential.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = fuzz::writeInput(data, size, "RealTraffic.lic");
    try {
        (void)lf_readRTLicenseFile(path);
    } catch (const qtm::UserErrorException&) {
        // 901: no JSON object, or a "License" that is no text.
    }
    return 0;
}
