// Registration code files: which registrations a livery title stands for, and which titles must not be used.
// Sources: "AIG-regcodes.xml" (from "AIG-regcodes.zip" of the update server), the user's text files in
// "input/my_regcodes", and the registrations written in the liveries' own configuration files.
//
// Scan time collects the excluded titles; build time (once per livery database) merges every registration
// into g_regcodeLiveries. Start-up (work) thread only.
#pragma once

#include <filesystem>
#include <list>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct RegcodeEntry {
    std::string title;
    std::vector<std::string> registrations;  // empty: do not use this livery
    bool special = false;                    // reserved for its registrations, never drawn at random
    friend bool operator==(const RegcodeEntry&, const RegcodeEntry&) = default;
};

// Registrations that belong to special entries.
extern std::set<std::string> g_specialRegistrations;
// Lines of "output/info/OfflineRegcodes.txt".
extern std::vector<std::string> g_regcodeReport;

// Functions rather than globals: the folders they are made of are globals of another file.
std::filesystem::path gf_aigRegcodesXmlFile();         // "input/AIG-regcodes.xml"
std::filesystem::path gf_offlineRegcodesReportPath();  // "output/info/OfflineRegcodes.txt"
inline constexpr std::string_view kAigRegcodesArchive = "AIG-regcodes.zip";

// The reading of one text file or folder: where the lines come from, the entries read, and whether any line
// was wrong.
struct RegcodeReadContext {
    std::string path;
    std::vector<RegcodeEntry>* entries = nullptr;
    bool error = false;
    std::string joined;  // the registrations of a list line that passed, each followed by ","
};

// Every ".txt" file (any letter case) directly in the folder. False when a line was wrong or reading failed.
bool gf_readRegcodeFiles(const std::filesystem::path& folder, std::vector<RegcodeEntry>& entries);
void lf_parseRegcodeLine(RegcodeReadContext& context, std::string_view line);
void lf_appendRegcode(RegcodeReadContext& context, const std::string& registration);
// 0 when the file cannot be loaded, else 1.
int gf_readRegcodesXmlFile(const std::filesystem::path& path, std::vector<RegcodeEntry>& entries);

// Scan time: the titles not to use, from the server's list and the user's files, into g_excludedLiveryTitles.
void lf_readAigRegcodesForScan();
void lf_readExcludedTitlesXml(const std::filesystem::path& path);
void lf_readExcludedTitlesFolder(const std::filesystem::path& folder);

// Build time, after the livery indexes: every registration of the server's list and the user's files mapped
// to its installed title, special titles collected, "OfflineRegcodes.txt" written.
void lf_processRegcodeFiles();
void lf_readAigRegcodes(const std::filesystem::path& path);
void lf_readRegcodeFolder(const std::filesystem::path& folder = {});
void lf_mergeRegcodes(const std::vector<RegcodeEntry>& entries);

// The liveries' own registrations (g_scannedLiveries) into g_regcodeLiveries; clashes are written to
// "output/errors/InlineRegcodes.txt". Runs just before lf_processRegcodeFiles.
void lf_checkInlineRegcodes();

// Empties g_specialRegistrations and g_regcodeReport (the database clearing calls it with the rest).
void gf_clearRegcodeState();
