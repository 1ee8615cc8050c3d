#include "frame/download.h"

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "frame/zip.h"

#include <fmt/format.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kProgramName = "ZNTV_P3D";

std::mutex g_downloadSettingsMutex;
DownloadTimeouts g_timeouts;
std::function<bool()> g_stopCheck;

std::atomic<unsigned> g_tempCounter{0};

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

// What the callbacks of one transfer need; lives on the stack of gf_curlDownload.
struct Transfer {
    std::FILE* file = nullptr;
    std::function<bool()> shouldStop;
    bool stopped = false;
};

std::size_t lf_curlWrite(char* data, std::size_t size, std::size_t count, void* userData) {
    auto* transfer = static_cast<Transfer*>(userData);
    // Anything short of the whole block makes libcurl fail the transfer with a write error: a full disk
    // must not pass for a complete download.
    return std::fwrite(data, size, count, transfer->file) * size;
}

int lf_curlProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(userData);
    if (transfer->shouldStop && transfer->shouldStop()) {
        transfer->stopped = true;
        return 1;  // aborts the transfer
    }
    return 0;
}

// Beside the target, so that the final rename stays on one file system and replaces the target in one step.
fs::path lf_tempPathFor(const fs::path& target) {
    fs::path temp = target;
    temp += fmt::format(".{}-{}.part", ::getpid(), g_tempCounter.fetch_add(1));
    return temp;
}

void lf_removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

// The first line of a text, without its line end.
std::string_view lf_firstLine(std::string_view text) {
    std::string_view line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// Downloads a version file and reads the version from it; 0.0.0 when it cannot be had.
ProgramVersion lf_downloadText(CURL* handle, const std::string& url) {
    if (!gf_curlDownload(handle, url, g_versionFile, false)) {
        gf_logLine(fmt::format("downloading \"{}\" failed", url));
        return {};
    }
    const auto content = gf_readFile(g_versionFile);
    fs::remove(g_versionFile);  // a failure here is a file-system error for the caller
    if (!content) return {};
    if (auto v = gf_parseVersion(lf_firstLine(*content))) return *v;
    // A version file written as pretty-printed JSON has only "{" on its first line: read it whole.
    if (auto v = gf_parseVersion(*content)) return *v;
    return {};
}

ProgramVersion lf_readServerVersion() {
    CurlHandle handle;
    return lf_downloadText(handle.get(), gf_downloadsRoot() + "release/version_P3D.json");
}

// Writes one archive entry as the installer; true when it was written completely.
bool lf_unzipTo(const ZipArchive& archive, const ZipEntry& entry, const std::string& archiveName) {
    fs::remove(g_installerFile);
    const fs::path temp = lf_tempPathFor(g_installerFile);
    try {
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!out) throw ZipError(fmt::format("cannot write {}", temp.string()));
            archive.read(entry, out, ZipArchive::kDefaultChunkSize);
            out.close();
            if (!out) throw ZipError(fmt::format("cannot write {}", temp.string()));
        }
        fs::rename(temp, g_installerFile);
    } catch (const std::exception& e) {
        lf_removeQuietly(temp);
        gf_logLine(fmt::format("unzipping error code : {}", e.what()));
        return false;
    }
    gf_logLine(fmt::format("{} unzipped to {}", archiveName, g_installerFile.string()));
    return true;
}

bool lf_downloadInstaller(const ProgramVersion& version) {
    const std::string name = fmt::format("setup_{}_d_v{}.zip", kProgramName, gf_versionText(version));
    CurlHandle handle;
    if (!gf_curlDownload(handle.get(), gf_downloadsRoot() + "release/" + name, name, true)) {
        gf_showMessage(fmt::format("Downloading program installer file version {} failed", gf_versionText(version)),
                       true);
        return false;
    }
    gf_logLine(fmt::format("downloaded {}", name));
    bool written = false;
    try {
        const ZipArchive archive(name);
        // Only real files can be the installer; a folder entry would otherwise become an empty "installer".
        for (const auto& entry : archive.fileEntries())
            if (lf_unzipTo(archive, entry, name)) written = true;
    } catch (const ZipError&) {
        gf_logLine(fmt::format("could not open {}", name));
    }
    if (fs::exists(name)) fs::remove(name);
    return written;
}

}  // namespace

const fs::path g_downloadsFolder = "downloads";

std::string gf_baseUrl(const char* overrideVariable, std::string_view constant) {
    std::string url(constant);
    if (const char* env = std::getenv(overrideVariable); env != nullptr && *env != '\0') url = env;
    if (url.empty() || url.back() != '/') url += '/';
    return url;
}

std::string gf_fileUrl(const fs::path& folder) {
    std::error_code ec;
    fs::path absolute = fs::absolute(folder, ec);
    if (ec) absolute = folder;
    // libcurl takes the path of a file:// address percent-decoded: every byte outside the plain set is
    // escaped, so that blanks, '#', '%' and non-ASCII names reach the file system as they are.
    std::string url = "file://";
    for (const unsigned char c : absolute.lexically_normal().generic_string()) {
        if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '_' || c == '.' || c == '~')
            url += static_cast<char>(c);
        else
            url += fmt::format("%{:02X}", c);
    }
    if (url.back() != '/') url += '/';
    return url;
}

std::string gf_downloadsRoot() {
    // The program folder is the working folder (the start-up makes sure of it), so the local folder's
    // address follows it rather than being fixed when the program starts.
    const char* env = std::getenv("ZNTV_UPDATE_URL");
    if (env == nullptr || *env == '\0') return gf_fileUrl(g_downloadsFolder);
    return gf_baseUrl("ZNTV_UPDATE_URL", {});
}

std::string gf_updateBaseURL() { return gf_downloadsRoot() + "P3D/"; }

void gf_setDownloadTimeouts(const DownloadTimeouts& timeouts) {
    std::lock_guard lock(g_downloadSettingsMutex);
    g_timeouts = timeouts;
}

DownloadTimeouts gf_downloadTimeouts() {
    std::lock_guard lock(g_downloadSettingsMutex);
    return g_timeouts;
}

void gf_setDownloadStopCheck(std::function<bool()> shouldStop) {
    std::lock_guard lock(g_downloadSettingsMutex);
    g_stopCheck = std::move(shouldStop);
}

void gf_curlGlobalInit() {
    static std::once_flag once;
    // libcurl's global state is set up once for the process and left to the process's end: a cleanup while
    // another thread still has a handle would pull the ground from under it.
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

CurlHandle::CurlHandle() {
    gf_curlGlobalInit();
    m_handle = curl_easy_init();
}

CurlHandle::~CurlHandle() {
    if (m_handle != nullptr) curl_easy_cleanup(m_handle);
}

bool gf_curlDownload(CURL* handle, const std::string& url, const fs::path& path, bool binary) {
    if (handle == nullptr) return false;
    // The temporary name is one that no file holds: made exclusively, the next one when it is taken.
    fs::path temp = lf_tempPathFor(path);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(temp.c_str(), binary ? "wbx" : "wx"));
    for (int tries = 1; !file && errno == EEXIST && tries < 100; ++tries) {
        temp = lf_tempPathFor(path);
        file.reset(std::fopen(temp.c_str(), binary ? "wbx" : "wx"));
    }
    try {
        if (!file) {
            gf_logLine(fmt::format("could not open output file: {}", path.string()));
            return false;
        }

        Transfer transfer;
        transfer.file = file.get();
        DownloadTimeouts timeouts;
        {
            std::lock_guard lock(g_downloadSettingsMutex);
            timeouts = g_timeouts;
            transfer.shouldStop = g_stopCheck;
        }

        char errorText[CURL_ERROR_SIZE] = {};
        curl_easy_reset(handle);
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_USERAGENT, "ZNTV");
        curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "deflate,gzip");
        curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, lf_curlWrite);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
        // A server that takes the connection and then says nothing must not hold the start-up for ever.
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, timeouts.lowSpeedBytesPerSecond);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(timeouts.lowSpeedTime.count()));
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, lf_curlProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
        // Time-outs by signal do not mix with our threads.
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);

        const CURLcode result = curl_easy_perform(handle);
        long status = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
        // The handle must not keep pointers into this stack frame.
        curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, nullptr);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, nullptr);

        bool ok = result == CURLE_OK;
        // Fail-on-error covers 400 and above; anything else but a 2xx (a redirect we do not follow, say) is
        // not the file either. A file:// address has no status: its result alone tells.
        if (ok && status != 0 && (status < 200 || status > 299)) ok = false;
        const bool flushed = std::fflush(file.get()) == 0;
        const bool closed = std::fclose(file.release()) == 0;
        if (ok && !(flushed && closed)) ok = false;

        if (!ok) {
            lf_removeQuietly(temp);
            // An answer with an error status, or a missing file in the local downloads folder, is an
            // ordinary "not there"; the callers say so themselves.
            if (result != CURLE_HTTP_RETURNED_ERROR && result != CURLE_FILE_COULDNT_READ_FILE) {
                std::string reason;
                if (transfer.stopped)
                    reason = "stopped";
                else if (result != CURLE_OK)
                    reason = errorText[0] != '\0' ? errorText : curl_easy_strerror(result);
                else if (!(flushed && closed))
                    reason = "the file could not be written";
                else
                    reason = fmt::format("status {}", status);
                gf_logWarning(fmt::format("download of {} failed: {}", url, reason));
            }
            return false;
        }
        fs::rename(temp, path);
        return true;
    } catch (const std::exception& e) {
        lf_removeQuietly(temp);
        gf_logLine(fmt::format("downloader exception: \"{}\", {} => {}", e.what(), url, path.string()));
        return false;
    }
}

std::string gf_downloadFile(const std::string& reference, const fs::path& localPath) {
    CurlHandle handle;
    const std::string url = gf_updateBaseURL() + reference;
    if (gf_curlDownload(handle.get(), url, localPath, false)) return {};
    std::string message = fmt::format("failed to download: \"{}\"", url);
    gf_logLine(message);
    return message;
}

bool gf_downloadAndUnzip(const std::string& archiveName, const fs::path& outputFile) {
    // The archive lands in the current folder under its own file name, never anywhere a name could point to.
    const fs::path archivePath = fs::path(archiveName).filename();
    CurlHandle handle;
    if (!gf_curlDownload(handle.get(), gf_downloadsRoot() + archiveName, archivePath, true)) {
        gf_logLine(fmt::format("downloading {} failed?", archiveName));
        return false;
    }
    bool result = false;
    try {
        std::string text;
        bool anyFile = false;
        {
            const ZipArchive archive(archivePath);
            for (const auto& entry : archive.fileEntries()) {
                text += archive.read(entry);
                anyFile = true;
            }
        }
        // An archive without a single file would leave the caller reading a stale or missing output.
        if (!anyFile) throw ZipError(fmt::format("{} holds no file", archiveName));
        result = gf_writeFile(text, outputFile, false);
        if (!result) gf_logLine(fmt::format("could not open output file: {}", outputFile.string()));
    } catch (const ZipError& e) {
        std::error_code ec;
        if (fs::exists(outputFile, ec)) fs::remove(outputFile, ec);
        gf_logLine(fmt::format("unzipping {} failed?", archiveName));
        gf_logIndented(e.what());
    }
    std::error_code ec;
    if (fs::remove(archivePath, ec); ec)
        gf_logWarning(fmt::format("could not remove {}: {}", archivePath.string(), ec.message()));
    return result;
}

bool gf_downloadDatabase(const fs::path& outputFile) { return gf_downloadAndUnzip("dbase.zip", outputFile); }

std::string gf_getInstallPath() { return g_PROGRAM_INSTALL_PATH.value(); }

void gf_checkForUpdate() {
    const ProgramVersion server = lf_readServerVersion();
    if (server == ProgramVersion{}) {
        gf_logLine("Program Version file not found?");
        return;
    }
    if (!(server > g_programVersion)) return;

    if (lf_downloadInstaller(server)) {
        // The installer was written into the current folder, so that is the folder to name: the stored
        // PROGRAM_INSTALL_PATH is only brought up to date after this check and is empty on a first start.
        const fs::path installer = fs::current_path() / g_installerFile;
        throw qtm::UserErrorException(
            99, fmt::format("New version {} available. Exit here, and run as administrator:   \"{}\"",
                            gf_versionText(server), installer.string()));
    }
    gf_showMessage("The downloading/unzipping of the new version failed? Try manually via morvale website", true);
}
