#include "liveries/aircraft_cfg.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "frame/files.h"
#include "frame/log.h"
#include "frame/text.h"
#include "liveries/database.h"
#include "liveries/livery_index.h"
#include "liveries/registrations.h"
#include "platform/simpath.h"

namespace fs = std::filesystem;

ScanReportList g_reportInvalidAirlineCodes;
ScanReportList g_reportInvalidModelCodes;
ScanReportList g_reportCodeFixes;
ScanReportList g_reportInvalidCfgFiles;
ScanReportList g_reportIncompleteSections;
ScanReportList g_reportEmptyCfgFiles;
SeenTitleSet g_seenLiveryTitles;
ExcludedTitles g_excludedLiveryTitles;

void ScanReportList::append(std::string line) {
    const std::lock_guard lock(m_mutex);
    if (m_lines.size() >= m_lines.max_size()) throw std::length_error("list too long");
    m_lines.push_back(std::move(line));
}

std::vector<std::string> ScanReportList::lines() const {
    const std::lock_guard lock(m_mutex);
    return m_lines;
}

std::size_t ScanReportList::size() const {
    const std::lock_guard lock(m_mutex);
    return m_lines.size();
}

bool ScanReportList::empty() const { return size() == 0; }

void ScanReportList::clear() {
    const std::lock_guard lock(m_mutex);
    m_lines.clear();
}

bool SeenTitleSet::insert(const std::string& title) {
    const std::lock_guard lock(m_mutex);
    return m_titles.insert(title).second;
}

bool SeenTitleSet::contains(const std::string& title) const {
    const std::lock_guard lock(m_mutex);
    return m_titles.contains(title);
}

std::size_t SeenTitleSet::size() const {
    const std::lock_guard lock(m_mutex);
    return m_titles.size();
}

void SeenTitleSet::clear() {
    const std::lock_guard lock(m_mutex);
    m_titles.clear();
}

void ExcludedTitles::add(const std::string& title) {
    m_titles.push_back(title);
    m_set.insert(title);
}

bool ExcludedTitles::contains(const std::string& title) const { return m_set.contains(title); }

void ExcludedTitles::clear() {
    m_titles.clear();
    m_set.clear();
}

void gf_clearAircraftCfgReports() {
    for (ScanReportList* list : {&g_reportInvalidAirlineCodes, &g_reportInvalidModelCodes, &g_reportCodeFixes,
                                 &g_reportInvalidCfgFiles, &g_reportIncompleteSections, &g_reportEmptyCfgFiles}) {
        list->clear();
    }
    g_seenLiveryTitles.clear();
    g_excludedLiveryTitles.clear();
}

namespace {

// The character classes of the configuration files' own syntax, in the "C" locale the files were always read
// in: blanks are the six ASCII white-space characters, word characters ASCII letters, digits and "_".
bool lf_isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool lf_isDigit(char c) { return c >= '0' && c <= '9'; }
bool lf_isWordChar(char c) { return lf_isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
char lf_asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool lf_equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lf_asciiLower(x) == lf_asciiLower(y); });
}
// A value runs to the end of its line; a line break inside it (a stray CR) makes the line no key line.
bool lf_hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

std::size_t lf_skipBlanks(std::string_view text, std::size_t i) {
    while (i < text.size() && lf_isBlank(text[i])) ++i;
    return i;
}

bool lf_contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Path texts as the simulator's files and the program's reports have them: "\" separates.
std::string lf_windowsForm(std::string_view path) {
    std::string text(path);
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// Windows drops the dots and blanks that end a path component ("model." names "model"); this file system
// keeps them, so the name is cut before it is looked up.
std::string lf_windowsComponentNames(std::string_view relative) {
    std::string out;
    out.reserve(relative.size());
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = relative.size();
        std::string_view comp = relative.substr(start, end - start);
        if (comp.find_first_not_of('.') != std::string_view::npos) {
            while (!comp.empty() && (comp.back() == '.' || comp.back() == ' ')) comp.remove_suffix(1);
        }
        out.append(comp);
        if (end == relative.size()) break;
        out.push_back('\\');
        start = end + 1;
    }
    return out;
}

// The local path of a name the file gives relative to its own folder.
fs::path lf_resolveInFolder(const fs::path& folder, std::string_view relativeName) {
    const std::string name = lf_windowsComponentNames(relativeName);
    if (auto mapped = platform::mapSimPath(name, folder)) return *mapped;
    return folder / name;  // a drive the machine does not have: reported as missing under this name
}

fs::file_type lf_fileType(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    // "Not found" is an answer; anything else (no permission, a name too long) is an error of the query.
    if (status.type() == fs::file_type::none) throw FileSystemError("status", path, ec);
    return status.type();
}

// The airline of a livery reported as unknown: the code in 12 columns, the file, the section header.
std::string lf_invalidAirlineLine(const std::string& code, const std::string& path, const std::string& header) {
    return fmt::format("{:12} in {} ", code, path) + header;
}

// What one section holds, key by key, as the key loop collects it.
struct SectionKeys {
    std::string title;
    std::string airline;  // from atc_parking_codes
    std::string parkingTypes;
    std::string atcid;
    std::string model;
    std::string sim;
    std::string texture;
};

// The atc_id value of the normal variant: cut at ";", one registration of at most 12 bytes without a star;
// a list of several is no registration.
std::string lf_normalAtcId(const std::string& value, const std::string& title) {
    const std::string cut = value.substr(0, value.find(';'));
    const std::vector<std::string> parts = gf_split(cut, ',');
    if (parts.empty()) {
        gf_logLine(fmt::format("invalid atc_id={} ==> in: {}", cut, title));
        return cut;
    }
    for (const std::string& part : parts) {
        if (part.empty()) {
            gf_logLine(fmt::format("empty regcode in {} {}", title, cut));
            return {};
        }
        if (part.size() > 12) {
            gf_logLine(
                fmt::format("regcode: {}, has more than 12 chars or contains UTF16 chars in \"{}\"?", part, title));
            return {};
        }
        if (gf_containsChar(part, '*')) {
            gf_logWarning(fmt::format("{} {} wild cards no longer supported, atc_id skipped ", title, part));
            return {};
        }
    }
    return parts.size() == 1 ? parts.front() : std::string();
}

std::string lf_mtlAtcId(const std::string& value, const std::string& title) {
    const std::vector<std::string> parts = gf_split(value, ',');
    for (const std::string& part : parts) {
        if (part.empty()) {
            gf_logLine(fmt::format(" empty regcode in: {}", value));
            return {};
        }
        if (part.size() > 12) {
            gf_logLine(fmt::format("regcode: {}, has more than 12 chars in title: {}", part.size(), title));
            return {};
        }
        if (gf_containsChar(part, '*')) {
            gf_logWarning(fmt::format("{} {} wild cards no longer supported, atc_id skipped ", title, part));
            return {};
        }
    }
    return parts.size() == 1 ? parts.front() : std::string();
}

enum class KeyOutcome { kTaken, kNotTaken, kDropSection };

// Offers one line to the keys in their order; the first key that takes it ends its handling. A duplicate
// key, or a parking code that marks a livery not to be used, drops the section.
KeyOutcome lf_offerLine(std::string_view line, SectionKeys& keys, bool mtl, const std::string& path,
                        const std::string& folder, const std::string& header) {
    if (std::string value = lf_matchKeyValue(line, "title"); !value.empty()) {
        if (!keys.title.empty()) {
            g_reportIncompleteSections.append(fmt::format("{} {} has more than one title key", folder, header));
            return KeyOutcome::kDropSection;
        }
        keys.title = std::move(value);
        return KeyOutcome::kTaken;
    }
    if (!mtl) {
        if (!keys.airline.empty() && lf_contains(line, "atc_parking_codes")) {
            g_reportIncompleteSections.append(fmt::format("{} {} has more than one ", folder, header) +
                                              "atc_parking_codes" + " key");
            return KeyOutcome::kDropSection;
        }
        if (std::string code = lf_matchKeyValue(line, "atc_parking_codes"); !code.empty()) {
            gf_normaliseCommaList(code);
            // "DLHX" / "DLHC": the simulator's parking code variants of the airline's own code.
            if (code.size() == 4 && (code.back() == 'X' || code.back() == 'C')) code.pop_back();
            if (g_icaoAirlines.contains(code)) {
                keys.airline = std::move(code);
            } else if (code == "RFO") {
                return KeyOutcome::kDropSection;  // reserved for the simulator's own traffic; not an error
            } else {
                g_reportInvalidAirlineCodes.append(lf_invalidAirlineLine(code, path, header));
                keys.airline.clear();
            }
            return KeyOutcome::kTaken;
        }
    }
    if (keys.parkingTypes.empty()) {
        if (std::string types = lf_matchKeyValue(line, "atc_parking_types"); !types.empty()) {
            gf_normaliseCommaList(types);
            std::transform(types.begin(), types.end(), types.begin(),
                           [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
            keys.parkingTypes = std::move(types);
            return KeyOutcome::kTaken;
        }
    } else if (lf_contains(line, "atc_parking_types")) {
        g_reportIncompleteSections.append(fmt::format("{} {} has more than one atc_parking_types key", folder, header));
        return KeyOutcome::kDropSection;
    }
    if (!keys.atcid.empty()) {
        if (lf_contains(line, "atc_id=")) {
            g_reportIncompleteSections.append(fmt::format("{}, {}, has more than one atc_id key", folder, header));
            return KeyOutcome::kDropSection;
        }
    } else if (std::string value = lf_matchKeyValue(line, "atc_id"); !value.empty()) {
        keys.atcid = mtl ? lf_mtlAtcId(value, keys.title) : lf_normalAtcId(value, keys.title);
        return KeyOutcome::kTaken;
    }
    if (keys.model.empty()) {
        if (std::string value = lf_matchKeyValue(line, "model"); !value.empty()) {
            keys.model = std::move(value);
            return KeyOutcome::kTaken;
        }
    }
    if (keys.sim.empty()) {
        if (std::string value = lf_matchKeyValue(line, "sim"); !value.empty()) {
            keys.sim = std::move(value);
            return KeyOutcome::kTaken;
        }
    }
    if (keys.texture.empty()) {
        if (std::string value = lf_matchKeyValue(line, "texture"); !value.empty()) {
            keys.texture = std::move(value);
            return KeyOutcome::kTaken;
        }
    }
    return KeyOutcome::kNotTaken;
}

// The package's own files that a livery needs: its model and texture folders and its flight model. The
// first one missing is reported and drops the section. So does one whose look-up fails (a value too long for
// a file name, no permission): that is the section's fault, and the file's other liveries stay.
bool lf_packageFilesExist(const SectionKeys& keys, const std::string& folder, const std::string& header) {
    const fs::path base(folder);
    const auto present = [&](const fs::path& path, fs::file_type wanted) {
        std::error_code ec;
        const fs::file_type type = fs::status(path, ec).type();
        if (type == wanted) return true;
        if (type == fs::file_type::none) {
            g_reportIncompleteSections.append(
                fmt::format("{} {} cannot be looked up: {}", path.string(), header, ec.message()));
        } else {
            g_reportIncompleteSections.append(fmt::format("{} {} does not exist", path.string(), header));
        }
        return false;
    };
    return present(lf_resolveInFolder(base, "model." + keys.model), fs::file_type::directory) &&
           present(lf_resolveInFolder(base, "texture." + keys.texture), fs::file_type::directory) &&
           present(lf_resolveInFolder(base, keys.sim + ".air"), fs::file_type::regular);
}

// The first three word characters of an IVAO title, as written; empty when it does not begin with three.
std::string lf_titleAirline(const std::string& title) {
    const std::size_t i = lf_skipBlanks(title, 0);
    if (title.size() - i < 3 || !lf_isWordChar(title[i]) || !lf_isWordChar(title[i + 1]) ||
        !lf_isWordChar(title[i + 2]) || lf_hasLineBreak(std::string_view(title).substr(i))) {
        return {};
    }
    return title.substr(i, 3);
}

bool lf_isLargeOrHeavy(const std::string& type) {
    const ModelCategory category = gf_categoryOfModel(type);
    return category == 2 || category == 3;
}

std::optional<SectionLivery> lf_parseSection(const std::vector<std::string>& section, std::int32_t priority,
                                             const std::string& type, const std::string& path,
                                             const std::string& folder, bool mtl) {
    if (section.empty()) return std::nullopt;
    const std::string& header = section.front();
    std::size_t count = section.size();
    while (count > 1 && (section[count - 1].empty() || section[count - 1].starts_with("//"))) --count;

    SectionKeys keys;
    for (std::size_t i = 1; i < count; ++i) {
        if (lf_offerLine(section[i], keys, mtl, path, folder, header) == KeyOutcome::kDropSection) return std::nullopt;
    }

    if (!lf_packageFilesExist(keys, folder, header)) return std::nullopt;
    if (keys.title.empty()) {
        g_reportIncompleteSections.append(fmt::format("{} {} misses title", folder, header));
        return std::nullopt;
    }
    if (g_excludedLiveryTitles.contains(keys.title)) return std::nullopt;

    std::string airline = std::move(keys.airline);
    bool cargo = false;
    if (mtl) {
        airline = lf_titleAirline(keys.title);
        if (!airline.empty()) {
            if (!g_icaoAirlines.contains(airline)) {
                g_reportInvalidAirlineCodes.append(lf_invalidAirlineLine(airline, path, header));
                return std::nullopt;
            }
        } else if (!keys.atcid.empty()) {
            const std::optional<RegcodeData> record = gf_regcodeLookup(keys.atcid);
            if (!record) {
                g_reportIncompleteSections.append(
                    fmt::format("{} {} misses airlinecode in title: {}, and regcode unknown{}", folder, header,
                                keys.title, keys.atcid));
                return std::nullopt;
            }
            airline = record->airline;
        } else {
            g_reportIncompleteSections.append(
                fmt::format("{} {} misses airlinecode in title: {}, and no regcode", folder, header, keys.title));
            return std::nullopt;
        }
        if (airline == kGenericAirline) keys.atcid.clear();
    } else {
        if (airline == kGenericAirline) keys.atcid.clear();
        if (airline.empty()) {
            if (!keys.atcid.empty()) {
                if (const std::optional<RegcodeData> record = gf_regcodeLookup(keys.atcid)) {
                    airline = record->airline;
                } else if (lf_isLargeOrHeavy(type)) {
                    g_reportIncompleteSections.append(
                        fmt::format("\"{}\" \"{}\" has no airline and its regcode is not in my dbase (very old liv?)",
                                    folder, header));
                    return std::nullopt;
                } else {
                    airline = kPrivateAirline;
                }
            } else if (lf_isLargeOrHeavy(type)) {
                g_reportIncompleteSections.append(
                    fmt::format("\"{}\" \"{}\" has no airline and no regcode info", folder, header));
                return std::nullopt;
            } else {
                airline = kPrivateAirline;
                keys.atcid = gf_findPrivateOperator(keys.title);
            }
        }
        cargo = lf_contains(keys.parkingTypes, "CARGO");
    }

    SectionLivery found;
    found.duplicateLine = mtl ? fmt::format("{} {} title already exists: {}", folder, header, keys.title)
                              : fmt::format("{} {} title \"{}\" already exists", folder, header, keys.title);
    found.livery = lf_makeLiveryData(priority, airline, type, cargo, keys.title, keys.atcid);
    return found;
}

// The fix lines of the file this thread is parsing: "Fixes.txt" keeps the order in which fixes are found, and
// the files are taken in folder order, not in the order their parses end. Outside a file parse the line goes
// straight to the report.
thread_local std::vector<std::string>* t_fileFixLines = nullptr;

// The type code V of a file, checked against the database: known, or fixed by the fix table, else reported.
std::string lf_checkedType(const std::string& code, const std::string& path) {
    if (g_knownModels.contains(code)) return code;
    if (const auto fix = g_modelFixes.find(code); fix != g_modelFixes.end()) {
        std::string line = fmt::format("Model fix: {} found in {} changed into {}", code, path, fix->second);
        if (t_fileFixLines != nullptr) {
            t_fileFixLines->push_back(std::move(line));
        } else {
            g_reportCodeFixes.append(std::move(line));
        }
        return fix->second;
    }
    g_reportInvalidModelCodes.append(fmt::format("{:16} in {}", code, path));
    return {};
}

void lf_collectSections(std::vector<std::string>& lines, std::int32_t priority, const std::string& type,
                        const std::string& path, const std::string& folder, bool mtl, LiveryFileResult& result) {
    std::vector<std::string> section;
    section.reserve(48);
    bool inSection = false;
    const auto parse = [&] {
        if (section.empty()) return;
        std::optional<SectionLivery> found;
        try {
            found = lf_parseSection(section, priority, type, path, folder, mtl);
        } catch (const std::exception& e) {
            gf_logLine(fmt::format("exception in lf_procesFltSimSection: {}, file: {}", e.what(), path));
            throw;
        }
        section.clear();
        if (found) {
            result.liveries.push_back(std::move(found->livery));
            result.duplicateLines.push_back(std::move(found->duplicateLine));
        }
    };
    for (std::string& line : lines) {
        if (!lf_fltsimSectionNumber(line).empty()) {
            parse();
            inSection = true;
            section.push_back(std::move(line));
            continue;
        }
        // Any other section header ends the livery's section; a "[" further into a line belongs to a value.
        const std::size_t bracket = line.find('[');
        if (bracket != std::string::npos && (mtl || bracket <= 5)) {
            if (inSection) {
                parse();
                inSection = false;
            }
            continue;
        }
        if (inSection) section.push_back(std::move(line));
    }
    if (inSection) parse();
}

}  // namespace

std::string lf_matchKeyValue(std::string_view line, std::string_view key) {
    std::size_t i = lf_skipBlanks(line, 0);
    if (line.size() - i < key.size() || !lf_equalsNoCase(line.substr(i, key.size()), key)) return {};
    i = lf_skipBlanks(line, i + key.size());
    if (i >= line.size() || line[i] != '=') return {};
    const std::size_t first = lf_skipBlanks(line, i + 1);
    std::size_t last = line.size();
    while (last > first && lf_isBlank(line[last - 1])) --last;
    const std::string_view value = line.substr(first, last - first);
    if (value.empty() || lf_hasLineBreak(value)) return {};
    return std::string(value);
}

std::string lf_fltsimSectionNumber(std::string_view line) {
    if (line.starts_with("//")) return {};
    constexpr std::string_view open = "[fltsim.";
    std::size_t i = lf_skipBlanks(line, 0);
    if (line.size() - i > open.size() && lf_equalsNoCase(line.substr(i, open.size()), open)) {
        const std::size_t digits = i + open.size();
        std::size_t end = digits;
        while (end < line.size() && lf_isDigit(line[end])) ++end;
        if (end > digits && end < line.size() && line[end] == ']' && lf_skipBlanks(line, end + 1) == line.size()) {
            return std::string(line.substr(digits, end - digits));
        }
    }
    // A header the simulator would not read either; the numbering check then refuses the whole file.
    if (lf_contains(line, "[fltsim.") || lf_contains(line, "[FLTSIM.")) return "10000";
    return {};
}

bool lf_splitFltsimSections(const std::vector<std::string>& lines, const std::string& path) {
    std::vector<std::int32_t> numbers;
    for (const std::string& line : lines) {
        const std::string text = lf_fltsimSectionNumber(line);
        if (text.empty()) continue;
        std::int32_t number = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (ec != std::errc() || end != text.data() + text.size()) {
            gf_logWarning(fmt::format("fltsim num {} incorrect", line));
            return false;
        }
        numbers.push_back(number);
    }
    if (numbers.empty()) {
        g_reportEmptyCfgFiles.append(path);
        return true;
    }
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const std::int32_t n = numbers[i];
        if (n == static_cast<std::int32_t>(i)) continue;
        const std::string message = n == 10000 ? std::string("a [fltsim.] section without a number")
                                               : fmt::format("non-consecutive [fltsim.x] numbers at .x={}", n);
        g_reportInvalidCfgFiles.append(path + " contains " + message);
        return false;
    }
    return true;
}

std::string lf_modelFromGeneralSection(const std::string& path, const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        if (std::string code = lf_matchKeyValue(line, "atc_model"); !code.empty()) return lf_checkedType(code, path);
    }
    g_reportInvalidCfgFiles.append("Line atc_model= is missing in [General] section of " + path);
    return {};
}

std::string lf_ivaoMtlModelFix(const std::string& path) {
    // The package folder "...\IVAO_MTL\IVAO_<code>\aircraft.cfg", the code made of word characters; letter
    // case of the fixed parts does not matter, the code is taken as written.
    const std::string p = lf_windowsForm(path);
    if (lf_hasLineBreak(p)) return {};
    const std::string_view text(p);
    constexpr std::size_t kFileLength = 13;  // "\aircraft.cfg", its "." any character
    if (text.size() < kFileLength) return {};
    const std::size_t fileAt = text.size() - kFileLength;
    if (!lf_equalsNoCase(text.substr(fileAt, 9), "\\aircraft") || !lf_equalsNoCase(text.substr(fileAt + 10), "cfg"))
        return {};
    const std::size_t slash = fileAt == 0 ? std::string_view::npos : text.rfind('\\', fileAt - 1);
    if (slash == std::string_view::npos) return {};
    const std::string_view component = text.substr(slash + 1, fileAt - slash - 1);
    if (component.size() < 6 || !lf_equalsNoCase(component.substr(0, 5), "ivao_") ||
        !std::all_of(component.begin() + 5, component.end(), lf_isWordChar)) {
        return {};
    }
    constexpr std::string_view kMtlFolder = "\\ivao_mtl";
    if (slash < kMtlFolder.size() + 1 ||
        !lf_equalsNoCase(text.substr(slash - kMtlFolder.size(), kMtlFolder.size()), kMtlFolder))
        return {};
    std::string code(component.substr(5));

    static const std::vector<std::pair<std::string_view, std::size_t>> kShortened = {
        {"B744F", 1},    {"T154M", 1},    {"T154B2", 2},   {"GLID_SH", 3}, {"GLID_A13", 4},
        {"GLID_A25", 4}, {"GLID_KA6", 4}, {"GLID_KA8", 4}, {"GLID_L13", 4}};
    if (code.back() == 'w') {
        code.pop_back();
    } else {
        for (const auto& [name, cut] : kShortened) {
            if (code == name) {
                code.resize(code.size() - cut);
                break;
            }
        }
    }
    return lf_checkedType(code, path);
}

std::optional<SectionLivery> lf_procesFltSimSection(const std::vector<std::string>& section, std::int32_t priority,
                                                    const std::string& type, const std::string& path,
                                                    const std::string& folder) {
    return lf_parseSection(section, priority, type, path, folder, false);
}

std::optional<SectionLivery> lf_procesFltSimSectionMtl(const std::vector<std::string>& section, std::int32_t priority,
                                                       const std::string& type, const std::string& path,
                                                       const std::string& folder) {
    return lf_parseSection(section, priority, type, path, folder, true);
}

LiveryData lf_makeLiveryData(std::int32_t priority, const std::string& airline, const std::string& type, bool cargo,
                             const std::string& title, const std::string& atcid) {
    return LiveryData{
        .airl = airline, .type = type, .title = title, .atcid = atcid, .priority = priority, .cargo = cargo};
}

LiveryFileResult gf_parseLiveryFile(std::int32_t priority, const fs::path& path, bool ivaoVariant) {
    LiveryFileResult result;
    struct FixLinesOfThisFile {
        explicit FixLinesOfThisFile(std::vector<std::string>& lines) { t_fileFixLines = &lines; }
        ~FixLinesOfThisFile() { t_fileFixLines = nullptr; }
    } const collectFixes(result.fixLines);
    const std::string pathText = path.string();
    std::string type;
    if (ivaoVariant) {
        type = lf_ivaoMtlModelFix(pathText);
        if (type.empty()) return result;
    }
    if (lf_fileType(path) == fs::file_type::not_found) return result;
    const std::string folder = path.parent_path().string();
    const int code = gf_detectEncoding(path);
    if (code == kEncodingNoFile) {
        if (ivaoVariant) gf_logWarning(fmt::format("no character set found for {}", pathText));
        return result;
    }
    std::vector<std::string> lines;
    lines.reserve(4048);
    if (!gf_readTextFileLines(code, path, lines)) return result;
    if (!lf_splitFltsimSections(lines, pathText)) return result;
    if (!ivaoVariant) {
        type = lf_modelFromGeneralSection(pathText, lines);
        if (type.empty()) return result;
    }
    lf_collectSections(lines, priority, type, pathText, folder, ivaoVariant, result);
    return result;
}

namespace {

// Every task leaves the throttle once, however it ends.
struct ThrottleSlot {
    ThrottleSlot() = default;
    ThrottleSlot(const ThrottleSlot&) = delete;
    ThrottleSlot& operator=(const ThrottleSlot&) = delete;
    ~ThrottleSlot() { gf_leaveThrottle(); }
};

LiveryFileResult lf_searchTask(std::int32_t priority, const fs::path& path, bool mtl, std::string_view name) {
    const ThrottleSlot slot;
    try {
        return gf_parseLiveryFile(priority, path, mtl);
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("exception in {} {}: {}", name, path.string(), e.what()));
        throw;
    }
}

}  // namespace

LiveryFileResult lf_searchLiveriesinFile(std::int32_t priority, const fs::path& path) {
    return lf_searchTask(priority, path, false, "lf_searchLiveriesinFile");
}

LiveryFileResult lf_searchLiveriesInMtlFile(std::int32_t priority, const fs::path& path) {
    return lf_searchTask(priority, path, true, "lf_searchLiveriesInMtlFile");
}

std::size_t gf_takeFileLiveries(LiveryFileResult&& result, std::list<LiveryData>& into) {
    for (std::string& line : result.fixLines) g_reportCodeFixes.append(std::move(line));
    std::size_t taken = 0;
    auto line = result.duplicateLines.begin();
    for (auto it = result.liveries.begin(); it != result.liveries.end();) {
        const auto next = std::next(it);
        if (g_seenLiveryTitles.insert(it->title)) {
            into.splice(into.end(), result.liveries, it);
            ++taken;
        } else if (line != result.duplicateLines.end()) {
            g_reportIncompleteSections.append(std::move(*line));
        }
        if (line != result.duplicateLines.end()) ++line;
        it = next;
    }
    return taken;
}
