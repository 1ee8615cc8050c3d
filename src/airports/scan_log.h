// What the add-on airport scan gathers while its decoder tasks run: the lines of "AirportsScanLog.txt" and
// whether some add-on airport was covered. The scan starts and takes them; the decoder tasks add to them from
// the scan's workers.
#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// Set by the decoder when an add-on airport's stand file was generated or linked to the archive.
extern std::atomic<bool> g_addOnAirportFound;

// One line of the scan log; any thread.
void gf_addScanLogLine(const std::string& line);
// A copy of the scan log as it stands (tests).
std::vector<std::string> gf_scanLogLines();
// Room for a scan's lines before its tasks start adding them.
void gf_reserveScanLog();
// The lines gathered so far; the log is empty afterwards.
std::vector<std::string> gf_takeScanLogLines();

// What the running scan writes of one airport now: the text of its pointer file (without its line end) and of
// its stand file; none where it writes no such file.
struct ScanWrites {
    std::optional<std::string> pointer;
    std::optional<std::string> standFile;
};

// The files a scan makes in my_ORBX and my_thirdparty. Whatever lies there and the running scan did not make
// is the user's: a scan starts with none made, and a decoder task claims a stand file or pointer file before it
// writes it. `unproven`: the files that lay there when a scan without the list of the last scan started; each
// may be the last scan's, and is the running scan's once it writes the same now (gf_claimScanFile).
void gf_startScanFiles(std::set<std::filesystem::path> unproven = {});
// Whether the stand file or the pointer file of the airport of `path` is one of the unproven files, not claimed
// yet: only then does the claim need what the scan writes of the airport.
bool gf_unprovenScanFileOf(const std::filesystem::path& path);
// Claims `path` for the running scan, unless the user owns its airport there: the user's file (the stand file
// or the pointer file of the same code in the same folder, which the scan did not make) is the answer then. An
// unproven file there is the scan's, and claimed with it, when `writes` holds the same text for it
// (gf_isWhatTheScanWrites); otherwise it is the user's. Beside a file of the user's, such a file of the scan's
// is removed (and the scan log says so).
std::optional<std::filesystem::path> gf_claimScanFile(const std::filesystem::path& path,
                                                      const ScanWrites& writes = {});
// Whether a file named `name` and holding `text` is what the scan writes there now (`written`; none: the scan
// writes no such file, and nothing compares): a pointer file holds the same reference and one line end (LF or
// CR LF); a stand file is the same text but for its meta block (the day and version it was made with): the
// same before the "<meta>" that opens it and from the "</meta>" that closes it, and it reads as a document of
// the same top-level elements.
bool gf_isWhatTheScanWrites(std::string_view text, const std::filesystem::path& name,
                            const std::optional<std::string>& written);
// The unproven files that the running scan did not claim: the user's.
std::vector<std::filesystem::path> gf_unclaimedUnprovenScanFiles();
// Whether the running scan claimed the file.
bool gf_scanMadeFile(const std::filesystem::path& path);
// The files the running scan claimed, whether or not they were written.
std::vector<std::filesystem::path> gf_scanMadeFiles();
