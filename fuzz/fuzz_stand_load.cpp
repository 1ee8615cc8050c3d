// Loading a park airport's stand file with its learned file: the first half of the input is the archived file,
// the rest the learned file. Any input loads or is refused without a crash; a refused file leaves no stands,
// and a loaded one leaves its stands numbered 1..n with overlap lists that are ascending, mutual and bounded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "airports/services.h"
#include "airports/stand_load.h"
#include "airports/stand_sources.h"
#include "frame/errors.h"
#include "support/fuzz_file.h"

namespace {

const std::string kReference = "airports/my_ORBX/EHAM.xml";

// The program folder is the scratch folder, with the two stand-file folders in it.
std::filesystem::path lf_prepare() {
    std::filesystem::current_path(fuzz::scratchFolder());
    const std::filesystem::path learned = lf_resolveApfPath(kReference, "");
    std::filesystem::create_directories("airports/my_ORBX");
    if (!learned.empty()) std::filesystem::create_directories(learned.parent_path());
    g_parkAirportCode = "EHAM";
    return learned;
}

bool lf_wellNumbered() {
    const std::uint32_t n = static_cast<std::uint32_t>(g_parkPositions.size());
    for (std::uint32_t i = 0; i < n; ++i) {
        const ParkPos& stand = g_parkPositions[i];
        if (stand.index != i + 1) return false;
        if (!std::is_sorted(stand.excluded.begin(), stand.excluded.end())) return false;
        if (stand.excluded.size() > kMaxExcludedStands) return false;
        for (const std::uint32_t other : stand.excluded) {
            if (other == 0 || other > n || other == stand.index) return false;
            const std::vector<std::uint32_t>& back = g_parkPositions[other - 1].excluded;
            if (!std::binary_search(back.begin(), back.end(), stand.index)) return false;
        }
    }
    return true;
}

void lf_write(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::filesystem::path learned = lf_prepare();
    const size_t half = size / 2;
    lf_write(kReference, data, half);
    if (!learned.empty()) lf_write(learned, data + half, size - half);

    ApfInfo info;
    QualityWord quality = 0;
    bool loaded = false;
    try {
        const std::string message = gf_readApfFile(kReference, kReference, info, quality);
        loaded = message.empty() || message == "no stands found";
    } catch (const qtm::UserErrorException&) {
        loaded = false;
    }
    if (loaded ? !lf_wellNumbered() : !g_parkPositions.empty()) std::abort();
    return 0;
}
