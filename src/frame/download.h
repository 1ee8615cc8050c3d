// Downloads from the program's update server: the version file and installer of the update check, the data
// archives (aircraft database, registration codes) and the airport stand files.
//
// Every download goes through gf_curlDownload: one libcurl easy handle per request, connect and low-speed
// time-outs, abort when the program quits, and the file written under a temporary name beside the target and
// renamed only when every byte has arrived, so a failed download never leaves a partial file nor replaces a
// good one.
#pragma once

#include "frame/version.h"

#include <curl/curl.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// The downloads root when ZNTV_UPDATE_URL names none: the folder "downloads" of the program folder, which the
// installation fills with the files the build made (aircraft database, registration codes, stand files, the
// version file), read through libcurl as a file:// address. ZNTV_UPDATE_URL points it at a real server (or
// at the stand-in, e.g. "http://127.0.0.1:8123/downloads/").
extern const std::filesystem::path g_downloadsFolder;

// A server address: the constant, or the override in the environment variable; always ends in "/".
std::string gf_baseUrl(const char* overrideVariable, std::string_view constant);
// The file:// address of a local folder (made absolute against the working folder), ending in "/".
std::string gf_fileUrl(const std::filesystem::path& folder);
// The downloads root in force, always ending in "/".
std::string gf_downloadsRoot();
// The simulator's own files on the server: the downloads root followed by "P3D/".
std::string gf_updateBaseURL();

struct DownloadTimeouts {
    std::chrono::milliseconds connect{20000};
    // A transfer slower than lowSpeedBytesPerSecond for lowSpeedTime is given up. libcurl counts this in
    // whole seconds, so 1 s is the shortest there is.
    std::chrono::seconds lowSpeedTime{30};
    long lowSpeedBytesPerSecond = 1;
};

// Applies to every transfer started afterwards (tests shorten them).
void gf_setDownloadTimeouts(const DownloadTimeouts& timeouts);
DownloadTimeouts gf_downloadTimeouts();

// A running transfer asks this about once a second (more often while data flows) and is aborted when it
// answers true. The frame installs its quit/stop test here at start; none is installed by default.
void gf_setDownloadStopCheck(std::function<bool()> shouldStop);

// curl_global_init once per process; the handle below calls it, anybody using libcurl directly must too.
void gf_curlGlobalInit();

// One libcurl easy handle, cleaned up with its owner.
class CurlHandle {
public:
    CurlHandle();
    ~CurlHandle();
    CurlHandle(const CurlHandle&) = delete;
    CurlHandle& operator=(const CurlHandle&) = delete;
    CURL* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    CURL* m_handle = nullptr;
};

// Downloads the URL into the file (binary: "wb", else "w"). True only when the server answered with a 2xx
// status (a file:// address has none: the file was read) and every byte was written; otherwise the file is left as it was (missing or with its old content).
// The handle's options are reset first, so a handle can be reused for several downloads.
bool gf_curlDownload(CURL* handle, const std::string& url, const std::filesystem::path& path, bool binary);

// A file below gf_updateBaseURL() (the reference is appended unchanged, "%20" included) into the local path.
// The empty text on success, else "failed to download: \"<address>\"", which is logged as well.
std::string gf_downloadFile(const std::string& reference, const std::filesystem::path& localPath);

// Downloads the archive below the downloads root and writes the content of its files (directories skipped)
// into the output file. The archive itself is removed again. False on any failure, logged.
bool gf_downloadAndUnzip(const std::string& archiveName, const std::filesystem::path& outputFile);
// "dbase.zip", the aircraft database.
bool gf_downloadDatabase(const std::filesystem::path& outputFile);

// The value of PROGRAM_INSTALL_PATH.
std::string gf_getInstallPath();

// The update check of the start-up: when the server has a newer release than this program, downloads and
// unpacks its installer into "install_new_version.exe" in the program folder and throws user error 99 telling
// the user to run it. Everything else (no version file, same or older version, failed installer download) is
// logged and returns, and the program goes on.
void gf_checkForUpdate();
