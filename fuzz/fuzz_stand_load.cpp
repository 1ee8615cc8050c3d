// Loading a park airport's stand file with its learned file: the first half of the input is the archived file,
// the rest the learned file. Any input loads or is refused without a crash; a refused file leaves no stands,
// and a loaded one leaves its stands numbered 1..n with overlap lists that are ascending, mutual and bounded.
// A save after the load keeps every stand and option of the learned file in the saved file, in a copy beside
// it or, where the save could not be made, in the text waiting for the next one.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "airports/services.h"
#include "airports/stand_file.h"
#include "airports/stand_load.h"
#include "airports/stand_save.h"
#include "airports/stand_sources.h"
#include "frame/errors.h"
#include "frame/paths.h"
#include "support/fuzz_file.h"
#include "support/stand_entries.h"

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

// What the user's learned file says: in a hand-made file every stand, in another what the save keeps.
std::set<std::string> lf_userEntries(const uint8_t* data, size_t size) {
    std::set<std::string> entries;
    pugi::xml_document doc;
    if (!doc.load_buffer(data, size)) return entries;  // kept byte for byte beside itself
    fuzz::addStandEntries(doc, !lf_readApfParamBool(doc, "handmade").has_value(), true, entries);
    return entries;
}

bool lf_allKept(const std::set<std::string>& user, const std::filesystem::path& learned) {
    std::set<std::string> kept;
    fuzz::addFolderEntries(g_learnedFolder, kept);
    if (const std::optional<std::string> unsaved = gf_unsavedLearnedText(learned))
        fuzz::addTextEntries(*unsaved, kept);
    for (const std::string& entry : user)
        if (!kept.contains(entry)) return false;
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
    // Every run starts from the learned file alone: no copies or waiting texts of earlier runs.
    std::filesystem::remove_all(g_learnedFolder);
    gf_forgetUnsavedLearnedFiles();
    lf_write(kReference, data, half);
    if (!learned.empty()) {
        std::filesystem::create_directories(learned.parent_path());
        lf_write(learned, data + half, size - half);
    }

    QualityWord quality = 0;
    bool loaded = false;
    try {
        const std::string message = gf_readApfFile(kReference, kReference, g_apfInfo, quality);
        loaded = message.empty() || message == "no stands found";
    } catch (const qtm::UserErrorException&) {
        loaded = false;
    }
    if (loaded ? !lf_wellNumbered() : !g_parkPositions.empty()) std::abort();
    if (!loaded || learned.empty()) return 0;

    g_apfUpdates = 1;  // a visit that learned something
    lf_saveAirportFile();
    if (!lf_allKept(lf_userEntries(data + half, size - half), learned)) std::abort();
    return 0;
}
