// Where an airport's stand file comes from: a file or pointer file in "airports/my_thirdparty", then in
// "airports/my_ORBX", else the stock archive on the update server. A reference that begins with "airports" is
// a local file; any other is a path on the update server below gf_updateBaseURL(). Also the learned file that
// belongs to a reference, and the fetch that looks the file up and downloads it off the work thread.
//
// References use '/' between their parts; a '\' that a pointer file written elsewhere holds counts as '/'.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

// "EHAM.xml", and the relative paths "EHAM.xml" and "EHAM.txt"; callers join the folder in front.
std::string lf_apfFileName(const std::string& code);
std::filesystem::path lf_apfPath(const std::string& code);
std::filesystem::path lf_apfPointerPath(const std::string& code);

// Whether the update server has the code's stock file (a probe; no file is left behind, and an empty answer
// is no stand file). File-system errors other than "not found" throw FileSystemError.
bool gf_downloadStockApf(const std::string& code);
// Whether any source has a stand file for the code.
bool gf_apfAvailable(const std::string& code);
// The reference of the code's stand file; empty when no source has one.
std::string lf_findArchivedApf(const std::string& code);
// The first line of a pointer file up to its last lower-case 'l' ('\' read as '/'); false, and the text left
// alone, when the file is missing or has no line.
bool lf_readApfPointer(const std::filesystem::path& path, std::string& text);
// The learned file that belongs to a reference (its publisher for files of "my_thirdparty"); empty for an empty
// reference, and for one whose learned file would not lie below "airports/learned".
std::filesystem::path lf_resolveApfPath(const std::string& reference, const std::string& publisher);
// A publisher's name (or an airport code) as a folder or file name: '/', '\', ':' and control characters
// become '_', and no ".." is left, so it cannot make a path leave its folder.
std::string lf_safeFolderName(const std::string& publisher);

// ---- Fetching off the work thread ----

// A finished fetch. `reference` empty: no source has a stand file (`message` then says why the stock file could
// not be had, when it was asked for). Otherwise `localFile` is the file to read (the file itself for a local
// reference, else the downloaded copy "airports/park_airport.xml"), unless the download failed: then
// `localFile` is empty and `message` is the download's message.
struct StandFileFetch {
    std::string code;
    std::string reference;
    std::filesystem::path localFile;
    std::string message;
};

// The download target of the park airport's stand file.
std::filesystem::path gf_parkAirportDownloadPath();
// Starts looking up (and downloading) the code's stand file on a thread of the module's own, unless a fetch of
// that code runs or has finished. A running fetch of another code is given up (its result is dropped) and this
// one starts after it, since both use the same download target. Never waits. Work thread.
void gf_startStandFileFetch(const std::string& code);
// The finished fetch of the code; nothing while it runs or when none was started. It stays until forgotten or
// until another code is fetched. Work thread.
std::optional<StandFileFetch> gf_standFileFetched(const std::string& code);
// Forgets the finished fetch (the next start fetches anew) and gives up a running one without waiting for it.
// Work thread.
void gf_forgetStandFileFetch();
// Forgets as above and waits for the fetch thread to end (a running download ends at the frame's download stop
// check or its time-outs). Exit, and tests.
void gf_joinStandFileFetch();
