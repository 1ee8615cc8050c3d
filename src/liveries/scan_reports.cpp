#include "liveries/scan_reports.h"

#include <fmt/format.h>

#include <algorithm>
#include <string_view>
#include <system_error>

#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/text.h"
#include "liveries/aircraft_cfg.h"
#include "liveries/registrations.h"

namespace fs = std::filesystem;

std::vector<std::string> g_dbaseCorrections;

void lf_correctLiveryFromDbase(LiveryData& livery) {
    const std::optional<RegcodeData> found = gf_regcodeLookup(livery.atcid);
    if (!found) return;
    const RegcodeData& record = *found;
    if (livery.cargo != record.cargo) {
        g_dbaseCorrections.push_back(
            fmt::format("{:80} {} cargo {} => {}", livery.title, livery.atcid, livery.cargo, record.cargo));
        livery.cargo = record.cargo;
    }
    // The operator flies the aircraft; the airline may only own it.
    const std::string& airline = record.operatorCode.empty() ? record.airline : record.operatorCode;
    if (livery.airl != airline) {
        g_dbaseCorrections.push_back(
            fmt::format("{:80} {} airl {} => {}", livery.title, livery.atcid, livery.airl, airline));
        livery.airl = airline;
    }
    if (livery.type != record.type) {
        g_dbaseCorrections.push_back(
            fmt::format("{:80} {} model {} => {}", livery.title, livery.atcid, livery.type, record.type));
        livery.type = record.type;
    }
}

bool lf_writeLines(const std::vector<std::string>& lines, const fs::path& path) {
    std::size_t size = 0;
    for (const std::string& line : lines) size += line.size() + 1;
    std::string text;
    text.reserve(size);
    for (const std::string& line : lines) {
        text += line;
        text += '\n';
    }
    return gf_writeFile(text, path, false);
}

namespace {

void lf_ensureFolder(const fs::path& folder) {
    std::error_code ec;
    const bool exists = fs::exists(folder, ec);
    if (ec) throw FileSystemError("exists", folder, ec);
    if (exists) return;
    fs::create_directory(folder, ec);
    if (ec) throw FileSystemError("create_directory", folder, ec);
}

struct ErrorReport {
    ScanReportList* list;
    const fs::path* path;
    bool sorted;
    bool plural;               // the text has a plural ending after the count
    std::string_view message;  // count, [plural suffix,] path
};

void lf_writeReport(std::vector<std::string>& lines, const fs::path& path) {
    if (!lf_writeLines(lines, path)) gf_logWarning(fmt::format("could not write {}", path.string()));
}

}  // namespace

void lf_writeLiveryScanReports() {
    const ErrorReport errors[] = {
        {&g_reportInvalidAirlineCodes, &g_invalidAirlinesReportPath, true, true, "{} invalid airline code{}, see {}"},
        {&g_reportInvalidModelCodes, &g_invalidAircraftReportPath, true, true, "{} invalid model code{}, see {}"},
        {&g_reportCodeFixes, &g_fixesReportPath, false, false, "{} code fixes, see {}"},
        {&g_reportInvalidCfgFiles, &g_invalidCfgReportPath, true, false, "{} invalid aircraft.cfg files, see {}"},
        {&g_reportIncompleteSections, &g_incompleteFltsimReportPath, true, false,
         "{} incomplete [fltsim.x] sections, see {}"},
    };
    const bool anyError =
        std::any_of(std::begin(errors), std::end(errors), [](const ErrorReport& r) { return !r.list->empty(); });
    if (!anyError) {
        gf_logLine("\nNo errors");
    } else {
        gf_logLine("\nErrors:");
        for (const ErrorReport& report : errors) {
            std::vector<std::string> lines = report.list->lines();
            if (lines.empty()) continue;
            lf_ensureFolder(g_errorsFolder);
            if (report.sorted) std::sort(lines.begin(), lines.end());
            lf_writeReport(lines, *report.path);
            const std::uint64_t count = lines.size();
            const std::string path = report.path->string();
            gf_logLine(report.plural ? fmt::format(fmt::runtime(report.message), count, gf_pluralSuffix(count), path)
                                     : fmt::format(fmt::runtime(report.message), count, path));
        }
    }
    gf_logLine("\nInformation:");
    if (std::vector<std::string> lines = g_reportEmptyCfgFiles.lines(); !lines.empty()) {
        lf_ensureFolder(g_infoFolder);
        std::sort(lines.begin(), lines.end());
        lf_writeReport(lines, g_noFltsimReportPath);
        gf_logLine(fmt::format("{} empty aircraft.cfg files, see {}", lines.size(), g_noFltsimReportPath.string()));
    }
    if (!g_dbaseCorrections.empty()) {
        lf_ensureFolder(g_infoFolder);
        lf_writeReport(g_dbaseCorrections, g_airlineModelReportPath);
        gf_logLine(fmt::format("{} liveries updated with real live data from dbase, see {}", g_dbaseCorrections.size(),
                               g_airlineModelReportPath.string()));
    }
}
