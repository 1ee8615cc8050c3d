// aircraft.cfg / sim.cfg of the installed AI packages: any bytes a package author or a broken installer left,
// in any encoding. Both variants parse the same input (the normal one and the IVAO one, which takes its type
// from the package folder), their liveries are merged as the scan merges them, and the key and header lines
// are checked against the regular expressions the matchers replace, on lines short enough for those.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <list>
#include <regex>
#include <string>
#include <string_view>
#include <utility>

#include "liveries/aircraft_cfg.h"
#include "liveries/database.h"
#include "support/fuzz_file.h"

namespace fs = std::filesystem;

namespace {

fs::path lf_package(const std::string& relative) {
    const fs::path folder = fuzz::scratchFolder() / relative;
    fs::create_directories(folder / "model");
    fs::create_directories(folder / "texture");
    fs::create_directories(folder / "model.b");
    std::ofstream(folder / "A320.air") << "air";
    return folder;
}

void lf_setUp() {
    g_icaoAirlines = {"DLH", "CLH", "ZZZ", "RFO"};
    g_knownModels = {"A320", "B744", "C172"};
    g_largeModels = {"A320"};
    g_heavyModels = {"B744"};
    g_modelFixes["A32N"] = "A320";
    g_regcodeDb["D-AIPA"] = RegcodeData{"DLH", "A320", "", false};
    g_excludedLiveryTitles.add("Excluded");
    lf_package("pkg");
    lf_package("IVAO_MTL/IVAO_B744");
}

// The key and header lines as the regular expressions read them.
void lf_checkAgainstRegex(std::string_view text) {
    static const std::regex title(R"(\s*(title)\s*=\s*(.*\S)\s*)", std::regex::ECMAScript | std::regex::icase);
    static const std::regex header(R"(\s*(\[fltsim\.)(\d+)\]\s*)", std::regex::ECMAScript | std::regex::icase);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string line(text.substr(start, end - start));
        start = end + 1;
        if (line.size() > 200) continue;  // the regex engine recurses per character
        std::smatch m;
        const std::string byRegex = std::regex_match(line, m, title) ? m[2].str() : std::string();
        if (lf_matchKeyValue(line, "title") != byRegex) std::abort();
        const std::string number = lf_fltsimSectionNumber(line);
        if (line.starts_with("//")) {
            if (!number.empty()) std::abort();
        } else if (std::regex_match(line, m, header)) {
            if (number != m[2].str()) std::abort();
        } else if (!number.empty() && number != "10000") {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (lf_setUp(), true);
    (void)ready;
    std::list<LiveryData> scanned;
    for (const auto& [name, ivao] :
         {std::pair{"pkg/aircraft.cfg", false}, std::pair{"IVAO_MTL/IVAO_B744/aircraft.cfg", true}}) {
        const fs::path path = fuzz::writeInput(data, size, name);
        // The file's own path is short and there: whatever its values name (a texture folder longer than a
        // file name may be, say), the parse reports that section and never throws away the file.
        gf_takeFileLiveries(gf_parseLiveryFile(1, path, ivao), scanned);
    }
    lf_checkAgainstRegex(std::string_view(reinterpret_cast<const char*>(data), size));
    for (ScanReportList* list : {&g_reportInvalidAirlineCodes, &g_reportInvalidModelCodes, &g_reportCodeFixes,
                                 &g_reportInvalidCfgFiles, &g_reportIncompleteSections, &g_reportEmptyCfgFiles}) {
        list->clear();
    }
    g_seenLiveryTitles.clear();
    return 0;
}
