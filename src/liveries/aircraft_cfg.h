// The livery packages' configuration files (aircraft.cfg / sim.cfg): one [fltsim.N] section per livery, cut
// out, checked and turned into LiveryData records. Every problem goes into one of the scan report lists
// below, which the report writer (scan_reports.h) puts into files after the scan.
//
// Many files are parsed at once, one scan task each. A task shares only the report lists and the title set
// below, each behind its own mutex, and reads the aircraft database, which no one writes during a scan.
//
// Titles: two sections with the same title must give one livery, the one met first in folder order. A task
// cannot know that order, so it does not decide: it hands back every livery it found with the line to report
// should the title be taken already (LiveryFileResult), and the folder walk, which collects the tasks'
// results in the order it started them, lets gf_takeFileLiveries decide for each result in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "liveries/livery_records.h"

// One scan report list: lines appended from many tasks, each append under the list's own mutex.
class ScanReportList {
public:
    // Throws std::length_error "list too long" when the list cannot grow.
    void append(std::string line);
    std::vector<std::string> lines() const;  // a copy
    std::size_t size() const;
    bool empty() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

extern ScanReportList g_reportInvalidAirlineCodes;  // airline codes the database does not know
extern ScanReportList g_reportInvalidModelCodes;    // type codes neither known nor fixed
extern ScanReportList g_reportCodeFixes;            // type codes changed by the database's fix table (in order)
extern ScanReportList g_reportInvalidCfgFiles;      // files without atc_model or with bad section numbers
extern ScanReportList g_reportIncompleteSections;   // sections that gave no livery, with the reason
extern ScanReportList g_reportEmptyCfgFiles;        // files without any [fltsim.] section

// The titles accepted in this scan (gf_takeFileLiveries fills it on the walking thread).
class SeenTitleSet {
public:
    bool insert(const std::string& title);  // true when the title was not there yet
    bool contains(const std::string& title) const;
    std::size_t size() const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::set<std::string> m_titles;
};
extern SeenTitleSet g_seenLiveryTitles;

// Titles that must not be used: filled from the registration code files before the scan's tasks start
// (regcodes.h), only read while they run; hashed, since every section of the scan asks.
class ExcludedTitles {
public:
    void add(const std::string& title);
    bool contains(const std::string& title) const;
    const std::vector<std::string>& titles() const { return m_titles; }  // in the order added
    std::size_t size() const { return m_titles.size(); }
    bool empty() const { return m_titles.empty(); }
    void clear();

private:
    std::vector<std::string> m_titles;
    std::unordered_set<std::string> m_set;
};
extern ExcludedTitles g_excludedLiveryTitles;

// Empties the report lists above, the title set and the excluded titles.
void gf_clearAircraftCfgReports();

// One livery found in a file, with the line reported instead when its title was taken before it.
struct LiveryFileResult {
    std::list<LiveryData> liveries;           // in section order
    std::vector<std::string> duplicateLines;  // one per livery, same order
    std::vector<std::string> fixLines;        // the file's type-code fixes, reported when the file is taken
};

// The scan task bodies: the normal variant (airline from atc_parking_codes) and the IVAO variant (type from
// the package folder, airline from the title). Each ends by gf_leaveThrottle() exactly once, also when it
// throws; the walk has entered the throttle before starting it. Exceptions are logged and passed on.
LiveryFileResult lf_searchLiveriesinFile(std::int32_t priority, const std::filesystem::path& path);
LiveryFileResult lf_searchLiveriesInMtlFile(std::int32_t priority, const std::filesystem::path& path);

// The same parses without the throttle (tests, fuzzing, a caller that runs no tasks).
LiveryFileResult gf_parseLiveryFile(std::int32_t priority, const std::filesystem::path& path, bool ivaoVariant);

// Appends the result's liveries whose titles were not taken before to `into` (spliced, in order), claiming
// their titles in g_seenLiveryTitles, and reports the others to g_reportIncompleteSections. The walking
// thread calls it for each task's result in the order it started the tasks: folder order decides, never the
// order in which the tasks finished. Returns the number of liveries appended.
std::size_t gf_takeFileLiveries(LiveryFileResult&& result, std::list<LiveryData>& into);

// ---- the steps, for the tests ----

// The value of "key = value" when the whole line has that form (key in any letter case, blanks around key,
// "=" and value allowed); empty otherwise. Matched by hand: a line of any length takes linear time.
std::string lf_matchKeyValue(std::string_view line, std::string_view key);
// The digits of a section header "[fltsim.N]"; "10000" for a line that holds "[fltsim." or "[FLTSIM." but
// is no proper header; empty for any other line and for a line commented out with "//".
std::string lf_fltsimSectionNumber(std::string_view line);
// The numbering check: headers numbered 0, 1, 2, ... without gap or repetition.
bool lf_splitFltsimSections(const std::vector<std::string>& lines, const std::string& path);
// The type code from atc_model (known, or fixed by the database); empty when there is none.
std::string lf_modelFromGeneralSection(const std::string& path, const std::vector<std::string>& lines);
// The type code of an IVAO package from its folder name "...\IVAO_MTL\IVAO_<code>\aircraft.cfg".
std::string lf_ivaoMtlModelFix(const std::string& path);

// One section (its first line the header) -> at most one livery. `path` is the file's path text, `folder`
// the text of its folder; the model and texture folders and the .air file are looked for in that folder.
// A livery comes with the line to report if its title turns out to be taken.
struct SectionLivery {
    LiveryData livery;
    std::string duplicateLine;
};
std::optional<SectionLivery> lf_procesFltSimSection(const std::vector<std::string>& section, std::int32_t priority,
                                                    const std::string& type, const std::string& path,
                                                    const std::string& folder);
std::optional<SectionLivery> lf_procesFltSimSectionMtl(const std::vector<std::string>& section, std::int32_t priority,
                                                       const std::string& type, const std::string& path,
                                                       const std::string& folder);
LiveryData lf_makeLiveryData(std::int32_t priority, const std::string& airline, const std::string& type, bool cargo,
                             const std::string& title, const std::string& atcid);
