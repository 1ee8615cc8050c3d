// "LiveriesScanned.xml": the hand-over from a livery scan to every later start, read back at each start and
// open to any editor. Whatever the reader accepts must also survive the writer: written and read again, the
// records come back unchanged, or a livery would change its title between two starts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "frame/errors.h"
#include "liveries/livery_records.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The log stays closed, so the reader's lines print nothing.
    const std::filesystem::path in = fuzz::writeInput(data, size, "LiveriesScanned.xml");
    try {
        lf_readLiveriesScanned(in);
    } catch (const qtm::UserErrorException&) {
        g_scannedLiveries.clear();
        return 0;
    }
    const std::vector<LiveryData> read(g_scannedLiveries.begin(), g_scannedLiveries.end());
    const std::filesystem::path out = fuzz::scratchFolder() / "written.xml";
    lf_writeLiveriesScanned(out);
    lf_readLiveriesScanned(out);
    const std::vector<LiveryData> again(g_scannedLiveries.begin(), g_scannedLiveries.end());
    g_scannedLiveries.clear();
    if (again != read) std::abort();
    return 0;
}
