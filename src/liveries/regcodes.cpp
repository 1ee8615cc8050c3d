#include "liveries/regcodes.h"

#include <fmt/format.h>

#include <cstdint>
#include <exception>
#include <pugixml.hpp>
#include <system_error>
#include <utility>

#include "frame/display.h"
#include "frame/download.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/text.h"
#include "liveries/aircraft_cfg.h"
#include "liveries/database.h"
#include "liveries/livery_index.h"
#include "liveries/livery_records.h"
#include "liveries/scan_reports.h"

namespace fs = std::filesystem;

std::set<std::string> g_specialRegistrations;
std::vector<std::string> g_regcodeReport;

fs::path gf_aigRegcodesXmlFile() { return g_inputFolder / "AIG-regcodes.xml"; }
fs::path gf_offlineRegcodesReportPath() { return g_infoFolder / "OfflineRegcodes.txt"; }

namespace {

constexpr std::size_t kRegistrationMax = 12;
constexpr std::size_t kListedRegistrationMin = 3;

// The lines of a text file as the user wrote them: bytes kept, each without its line end.
std::vector<std::string> lf_fileLines(const fs::path& path) {
    std::optional<std::string> text = gf_readFile(path);
    if (!text) throw std::runtime_error("cannot be read");
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text->size()) {
        std::size_t end = text->find('\n', start);
        if (end == std::string::npos) end = text->size();
        std::size_t stop = end;
        if (stop > start && (*text)[stop - 1] == '\r') --stop;
        lines.emplace_back(*text, start, stop - start);
        start = end + 1;
    }
    return lines;
}

void lf_removeFile(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
    if (ec) throw FileSystemError("remove", path, ec);
}

bool lf_hasRegularFile(const fs::path& folder) { return gf_countFiles(folder) > 0; }

// The titles without registrations, added to the titles the scan must not use; how many were added.
std::size_t lf_addExcludedTitles(const std::vector<RegcodeEntry>& entries) {
    std::size_t added = 0;
    for (const RegcodeEntry& entry : entries) {
        if (!entry.registrations.empty()) continue;
        g_excludedLiveryTitles.add(entry.title);
        ++added;
    }
    return added;
}

// Counts of one merge, for its report line.
struct MergeCounts {
    std::uint64_t added = 0;
    std::uint64_t replaced = 0;
    std::uint64_t special = 0;
};

void lf_mapRegcode(const std::string& registration, TitleView title, bool special, MergeCounts& counts) {
    const auto [it, inserted] = g_regcodeLiveries.try_emplace(registration, title);
    if (inserted) {
        ++counts.added;
    } else if (it->second != title) {
        g_regcodeReport.push_back(
            fmt::format("   regcode {} for \"{}\", instead of the same for \"{}\"", registration, title, it->second));
        it->second = title;
        ++counts.replaced;
    }
    if (special) g_specialRegistrations.insert(registration);
}

void lf_checkInlineRegcode(const LiveryData& livery, std::vector<std::string>& clashes) {
    if (livery.atcid.empty()) return;
    const TitleView title = gf_findOwnedTitle(livery.title);
    if (title.empty()) {
        clashes.push_back(fmt::format("==> [{} {}] {} \"{}\" not available, system error, should not happen?",
                                      livery.airl, livery.type, livery.atcid, livery.title));
        return;
    }
    const auto [it, inserted] = g_regcodeLiveries.try_emplace(livery.atcid, title);
    if (!inserted && it->second != title) {
        clashes.push_back(fmt::format("{} \"{}\" => already in use by \"{}\"", livery.atcid, livery.title, it->second));
    }
}

}  // namespace

void lf_appendRegcode(RegcodeReadContext& context, const std::string& registration) {
    if (registration.size() < kListedRegistrationMin || registration.size() > kRegistrationMax) {
        gf_logWarning(fmt::format("wrong regcode length \"{}\" in {}", registration, context.path));
        context.error = true;
        return;
    }
    context.joined += registration;
    context.joined += ',';
}

void lf_parseRegcodeLine(RegcodeReadContext& context, std::string_view line) {
    if (line.empty()) return;
    // A ";" at the end still opens a field: "Title;" is a title whose registration is not filled in yet, as
    // "Title; " is, and not a title to keep out of the scan.
    std::vector<std::string> fields = gf_split(line, ';');
    if (line.back() == ';') fields.emplace_back();
    if (fields.size() == 1) {
        if (!fields.front().empty()) context.entries->push_back(RegcodeEntry{fields.front(), {}, false});
        return;
    }
    if (fields.size() != 2 && fields.size() != 3) {
        gf_logWarning(fmt::format("{}: wrong format \"{}\"", context.path, line));
        context.error = true;
        return;
    }
    const std::string& title = fields[0];
    const std::vector<std::string> registrations = gf_split(fields[1], ',');
    if (registrations.empty()) return;
    if (registrations.size() == 1) {
        // One registration names the aircraft the livery was made for: reserved for it.
        if (registrations.front().size() > kRegistrationMax) {
            gf_logWarning(fmt::format("wrong regcode length \"{}\" in {}", registrations.front(), context.path));
            context.error = true;
            return;
        }
        context.entries->push_back(RegcodeEntry{title, registrations, true});
        return;
    }
    const bool special = fields.size() == 3 && fields[2] == "#";
    context.joined.clear();
    for (const std::string& registration : registrations) lf_appendRegcode(context, registration);
    if (!context.joined.empty()) context.joined.pop_back();
    if (context.joined.empty()) {
        gf_logWarning(fmt::format("{} ; regs empty? ", title));
        return;
    }
    context.entries->push_back(RegcodeEntry{title, gf_split(context.joined, ','), special});
}

bool gf_readRegcodeFiles(const fs::path& folder, std::vector<RegcodeEntry>& entries) {
    RegcodeReadContext context;
    context.entries = &entries;
    try {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            if (!entry.is_regular_file() || !gf_equalsUpper(".TXT", entry.path().extension().string())) continue;
            context.path = entry.path().string();
            gf_logLine(fmt::format("Processing regcodes file \"{}\"", context.path));
            for (const std::string& line : lf_fileLines(entry.path())) lf_parseRegcodeLine(context, line);
        }
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("Error in reading regcode file {}, what: {}",
                                  context.path.empty() ? folder.string() : context.path, e.what()));
        return false;
    }
    gf_logLine(fmt::format("{} liverie{} read", entries.size(), gf_pluralSuffix(std::uint64_t{entries.size()})));
    return !context.error;
}

int gf_readRegcodesXmlFile(const fs::path& path, std::vector<RegcodeEntry>& entries) {
    pugi::xml_document doc;
    if (!doc.load_file(path.c_str())) {
        gf_logWarning(fmt::format("Failed to load {}", path.string()));
        return 0;
    }
    for (pugi::xml_node livery : doc.child("AIG-regcodes").children("livery")) {
        RegcodeEntry entry;
        entry.title = livery.attribute("title").value();
        for (const std::string& stored : gf_split(livery.attribute("reg").value(), ',')) {
            entry.registrations.push_back(gf_decryptLivery(stored));
        }
        const char flag = livery.attribute("special").value()[0];
        entry.special = flag != '\0' && std::string_view("1tTyY").find(flag) != std::string_view::npos;
        entries.push_back(std::move(entry));
    }
    gf_logLine(fmt::format("{} liverie{} read from {}", entries.size(), gf_pluralSuffix(std::uint64_t{entries.size()}),
                           path.string()));
    return 1;
}

void lf_readExcludedTitlesXml(const fs::path& path) {
    std::vector<RegcodeEntry> entries;
    if (gf_readRegcodesXmlFile(path, entries) == 0) {
        g_regcodeReport.push_back(
            fmt::format("There were errors in processing the file \"{}\", see the Log.txt", path.string()));
    }
    const std::uint64_t added = lf_addExcludedTitles(entries);
    gf_logLine(fmt::format("{} don't use title{} read", added, gf_pluralSuffix(added)));
}

void lf_readExcludedTitlesFolder(const fs::path& folder) {
    std::vector<RegcodeEntry> entries;
    if (!gf_readRegcodeFiles(folder, entries)) {
        g_regcodeReport.push_back(fmt::format(
            "There were errors in processing the regcode files in folder \"{}\", see the Log.txt", folder.string()));
    }
    const std::uint64_t added = lf_addExcludedTitles(entries);
    gf_logLine(
        fmt::format("{} don't use title{} read from files in {}", added, gf_pluralSuffix(added), folder.string()));
}

void lf_readAigRegcodesForScan() {
    if (gf_downloadAndUnzip(std::string(kAigRegcodesArchive), gf_aigRegcodesXmlFile())) {
        lf_readExcludedTitlesXml(gf_aigRegcodesXmlFile());
        lf_removeFile(gf_aigRegcodesXmlFile());
    } else {
        gf_logWarning(fmt::format("reading {} failed?", gf_aigRegcodesXmlFile().string()));
    }
    if (lf_hasRegularFile(g_myRegcodesFolder)) lf_readExcludedTitlesFolder(g_myRegcodesFolder);
}

void lf_mergeRegcodes(const std::vector<RegcodeEntry>& entries) {
    MergeCounts counts;
    for (const RegcodeEntry& entry : entries) {
        // Only liveries that are installed: the map holds views of the database's own titles.
        const TitleView title = gf_findOwnedTitle(entry.title);
        if (title.empty()) continue;
        for (const std::string& registration : entry.registrations)
            lf_mapRegcode(registration, title, entry.special, counts);
        if (entry.special) {
            g_specialLiveries.push_back(title);
            ++counts.special;
        }
    }
    std::string line = fmt::format("{} new regcode{} added", counts.added, gf_pluralSuffix(counts.added));
    if (counts.replaced != 0)
        line += fmt::format(", {} regcode{} replaced", counts.replaced, gf_pluralSuffix(counts.replaced));
    if (counts.special != 0) {
        line += fmt::format(", {} regcode{} defined as special", counts.special, gf_pluralSuffix(counts.special));
    }
    g_regcodeReport.push_back(std::move(line));
}

void lf_readAigRegcodes(const fs::path& path) {
    g_regcodeReport.push_back("Processing file " + path.string());
    std::vector<RegcodeEntry> entries;
    if (gf_readRegcodesXmlFile(path, entries) == 0) {
        g_regcodeReport.push_back(
            fmt::format("There were errors in processing the AIG-regcode file \"{}\", see the Log.txt", path.string()));
    }
    lf_mergeRegcodes(entries);
}

void lf_readRegcodeFolder(const fs::path& folderOrDefault) {
    const fs::path folder = folderOrDefault.empty() ? g_myRegcodesFolder : folderOrDefault;
    if (!lf_hasRegularFile(folder)) return;
    g_regcodeReport.push_back("Processing files in " + folder.string());
    std::vector<RegcodeEntry> entries;
    if (!gf_readRegcodeFiles(folder, entries)) {
        gf_showMessage(
            fmt::format("There were errors in processing the regcode files in folder \"{}\", see the Log.txt",
                        folder.string()),
            true);
    }
    lf_mergeRegcodes(entries);
}

void lf_processRegcodeFiles() {
    g_regcodeReport.clear();
    if (gf_downloadAndUnzip(std::string(kAigRegcodesArchive), gf_aigRegcodesXmlFile())) {
        lf_readAigRegcodes(gf_aigRegcodesXmlFile());
        lf_removeFile(gf_aigRegcodesXmlFile());
    } else {
        gf_logWarning("reading AIG-regcodes failed?");
    }
    lf_readRegcodeFolder();
    gf_removeIfExists(gf_offlineRegcodesReportPath());
    if (!g_regcodeReport.empty()) {
        lf_writeLines(g_regcodeReport, gf_offlineRegcodesReportPath());
        gf_logLine(fmt::format("Offline regcode files processed, results can be found in \"{}\"",
                               gf_offlineRegcodesReportPath().string()));
    }
    if (!g_specialLiveries.empty()) gf_logLine(fmt::format("{} special liveries", g_specialLiveries.size()));
}

void lf_checkInlineRegcodes() {
    std::vector<std::string> clashes;
    for (const LiveryData& livery : g_scannedLiveries) lf_checkInlineRegcode(livery, clashes);
    if (clashes.empty()) return;
    std::error_code ec;
    const bool exists = fs::exists(g_errorsFolder, ec);
    if (ec) throw FileSystemError("exists", g_errorsFolder, ec);
    if (!exists && !fs::create_directory(g_errorsFolder, ec) && ec) {
        throw FileSystemError("create_directory", g_errorsFolder, ec);
    }
    lf_writeLines(clashes, g_inlineRegcodesReportPath);
    gf_logLine(
        fmt::format("{} in-line regcode clashes, see \"{}\"", clashes.size(), g_inlineRegcodesReportPath.string()));
}

void gf_clearRegcodeState() {
    g_specialRegistrations.clear();
    g_regcodeReport.clear();
}
