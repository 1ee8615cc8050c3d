// Loading a park airport's stand file with its learned file: the first half of the input is the archived file,
// the rest the learned file. Any input loads or is refused without a crash; a refused file leaves no stands,
// and a loaded one leaves its stands numbered 1..n with overlap lists that are ascending, mutual and bounded.
// A save after the load keeps every stand and option of the learned file in the saved file, in a copy beside
// it or, where the save could not be made, in the text waiting for the next one. Load, save, load, save is a
// fixed point: the second save writes the first one's file again, parameters included (all but the meta
// block, which holds the time of the save). Every run starts from the program's settings.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "airports/services.h"
#include "airports/stand_file.h"
#include "airports/stand_load.h"
#include "airports/stand_save.h"
#include "airports/stand_sources.h"
#include "frame/errors.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "injection/aircraft_lists.h"
#include "window/requests.h"
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

// The settings a learned file holds, at the program's defaults, with the automatic range applied as the work
// loop applies it.
void lf_resetSettings() {
    for (IntParameter* p : std::initializer_list<IntParameter*>{&g_LATERAL_RANGE, &g_MAX_LIVE, &g_parking_percentage,
                                                                &g_MAX_FIT})
        p->reset();
    for (CheckBoxParameter* p : {&g_LEARN_SOFT, &g_AUTO_RANGE, &g_PARK_FAKE, &g_WEEK, &g_PARK_SOFT,
                                 &g_INITIAL_LOAD_ONLY, &g_RT_PARKTRAFFIC_ONLY})
        p->reset();
    g_MAX_FIT_FL.reset();
    gf_resetWindowRequests();
    gf_setDerivedTrafficRange(g_LATERAL_RANGE.value());
    gf_autoTrafficRange();
}

// The file a save wrote, or the text waiting for the next save when it could not be written; from the end of
// its meta block.
std::string lf_savedText(const std::filesystem::path& learned) {
    std::optional<std::string> text = gf_unsavedLearnedText(learned);
    if (!text) text = gf_readFile(learned);
    if (!text) return {};
    const std::size_t meta = text->find("</meta>");
    return meta == std::string::npos ? *text : text->substr(meta);
}

// The stands in memory as a save writes them: id, manual flag, position, radius (and whether learning changed
// it, which a manual stand's full form does not need to say) and options, in list order.
std::vector<std::string> lf_standsAsWritten() {
    std::vector<std::string> stands;
    for (const ParkPos& p : g_parkPositions) {
        std::string text = fmt::format("{} {} {:.6f} {:.6f} {:.1F} {}", p.id, p.manual, p.latitude, p.longitude,
                                       p.radius * 1852.0, p.manual ? 0 : p.radiusChanged);
        for (const ParkPosOption& o : p.options)
            if (o.id != 0) text += fmt::format(" {}/{}/{}", o.registration, o.day, o.real);
        stands.push_back(std::move(text));
    }
    return stands;
}

bool lf_load(QualityWord& quality) {
    try {
        const std::string message = gf_readApfFile(kReference, kReference, g_apfInfo, quality);
        return message.empty() || message == "no stands found";
    } catch (const qtm::UserErrorException&) {
        return false;
    }
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

    lf_resetSettings();

    QualityWord quality = 0;
    const bool loaded = lf_load(quality);
    if (loaded ? !lf_wellNumbered() : !g_parkPositions.empty()) std::abort();
    if (!loaded || learned.empty()) return 0;

    g_apfUpdates = 1;  // a visit that learned something
    lf_saveAirportFile();
    if (!lf_allKept(lf_userEntries(data + half, size - half), learned)) std::abort();

    // The next visit reads what this one saved, and saves it again unchanged.
    const std::string first = lf_savedText(learned);
    const std::vector<std::string> stands = lf_standsAsWritten();
    if (!lf_load(quality)) std::abort();
    // The same stands as the first time: none refused that the first load took, none changed.
    if (lf_standsAsWritten() != stands) {
        for (const std::string& stand : stands) std::fprintf(stderr, "first load: %s\n", stand.c_str());
        for (const std::string& stand : lf_standsAsWritten()) std::fprintf(stderr, "second load: %s\n", stand.c_str());
        std::abort();
    }
    g_apfUpdates = 1;
    lf_saveAirportFile();
    if (const std::string second = lf_savedText(learned); second != first) {
        std::fprintf(stderr, "first save:\n%s\nsecond save:\n%s\n", first.c_str(), second.c_str());
        std::abort();
    }
    return 0;
}
