// The aircraft database: "temp2.xml" as the program unpacks it into "input", with its scrambled code fields.
// Whatever the file holds, the reader either fills the containers or throws and leaves them empty; the file is
// gone afterwards either way. A read database also keeps its promises: finite category spans, airline codes
// of 0 or 3 characters, wing spans an aircraft can have, and private fragments found as a scan of the whole
// table would find them.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "liveries/database.h"
#include "liveries/registrations.h"
#include "support/fuzz_file.h"

namespace {

constexpr double kHalfSpanNmPerMetre = 0.5 * 0.0005399568034557236;

std::string lf_scanWholeTable(const std::string& text) {
    for (const auto& [key, record] : g_regcodeDb) {
        if (key.size() < 5 && record.airline == "PVT" && text.find(key) != std::string::npos) return key;
    }
    return {};
}

bool lf_empty() { return g_knownModels.empty() && g_regcodeDb.empty() && g_similarModelGroups.empty(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A program folder of the fuzzer's own, with the "input" folder the database is unpacked into.
    static const std::filesystem::path input = [] {
        auto folder = fuzz::scratchFolder() / "input";
        std::filesystem::create_directories(folder);
        return folder;
    }();
    // The log stays closed, so the reader's lines print nothing.
    const std::filesystem::path file = fuzz::writeInput(data, size, "input/temp2.xml");
    bool read = false;
    try {
        read = gf_readDataBaseFile(file);
    } catch (const std::exception& e) {
        if (!lf_empty()) std::abort();
        // A span that cannot be read is skipped; it never stops the start-up.
        const std::string_view what = e.what();
        if (what.starts_with("exception ") && what.find(" in reading wingspans from ") != std::string_view::npos) {
            std::abort();
        }
    }
    if (std::filesystem::exists(file)) std::abort();
    if (read) {
        for (double span : g_defaultWingspans) {
            if (!std::isfinite(span)) std::abort();
        }
        // A span that is read is one an aircraft can have; any other entry was skipped, not the database.
        for (const auto& [type, halfSpan] : g_wingspans) {
            if (!(halfSpan >= 0.0 && halfSpan <= 200.0 * kHalfSpanNmPerMetre)) std::abort();
        }
        for (const auto& [registration, record] : g_regcodeDb) {
            if (registration.size() > 24) std::abort();
            if (record.airline.size() % 3 != 0 || record.airline.size() > 3) std::abort();
        }
        const std::string text(reinterpret_cast<const char*>(data), std::min<size_t>(size, 256));
        if (gf_findPrivateOperator(text) != lf_scanWholeTable(text)) std::abort();
    }
    gf_clearDataBase();
    return 0;
}
