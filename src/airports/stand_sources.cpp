#include "airports/stand_sources.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "frame/download.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/text.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kLocalPrefix = "airports";

// Missing is an answer; anything else that keeps us from knowing is a file-system error.
bool lf_exists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
        throw FileSystemError("exists", path, ec);
    return fs::exists(status);
}

std::string lf_forwardSlashes(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

bool lf_isLocalReference(const std::string& reference) { return reference.starts_with(kLocalPrefix); }

std::string lf_stockReference(const std::string& code) { return "archive/stock/" + lf_apfFileName(code); }

// A relative path of at least one part below "airports/learned" without any "..".
bool lf_insideLearnedFolder(const fs::path& path) {
    if (path.has_root_path() || !path.has_filename()) return false;
    std::vector<fs::path> parts(path.begin(), path.end());
    std::vector<fs::path> learned(g_learnedFolder.begin(), g_learnedFolder.end());
    if (parts.size() <= learned.size() || !std::equal(learned.begin(), learned.end(), parts.begin())) return false;
    return std::none_of(parts.begin(), parts.end(), [](const fs::path& part) { return part == ".."; });
}

// The reference of a local stand file or pointer file, in the order of the lookup; nothing when there is none.
std::optional<std::string> lf_findLocalApf(const std::string& code) {
    for (const fs::path* folder : {&g_myThirdpartyFolder, &g_myOrbxFolder}) {
        const fs::path pointer = *folder / lf_apfPointerPath(code);
        std::string text;
        if (lf_exists(pointer) && lf_readApfPointer(pointer, text)) {
            if (text.empty()) gf_logWarning(fmt::format("{} names no stand file", pointer.generic_string()));
            return text;
        }
        const fs::path file = *folder / lf_apfPath(code);
        if (lf_exists(file)) return file.generic_string();
    }
    return std::nullopt;
}

// Downloads a server reference into the target. An empty answer is no stand file: it is removed again and the
// download counts as failed.
std::string lf_downloadApf(const std::string& reference, const fs::path& target) {
    std::string message = gf_downloadFile(reference, target);
    if (!message.empty()) return message;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(target, ec);
    if (!ec && size > 0) return {};
    fs::remove(target, ec);
    const std::string url = gf_updateBaseURL() + reference;
    gf_logWarning(fmt::format("download of {} failed: the answer was empty", url));
    message = fmt::format("failed to download: \"{}\"", url);
    gf_logLine(message);
    return message;
}

StandFileFetch lf_fetch(const std::string& code) {
    StandFileFetch result;
    result.code = code;
    try {
        const fs::path target = gf_parkAirportDownloadPath();
        if (std::optional<std::string> local = lf_findLocalApf(code)) {
            result.reference = std::move(*local);
            if (result.reference.empty()) return result;
            if (lf_isLocalReference(result.reference)) {
                result.localFile = result.reference;
                return result;
            }
            result.message = lf_downloadApf(result.reference, target);
            if (result.message.empty()) result.localFile = target;
            return result;
        }
        const std::string stock = lf_stockReference(code);
        result.message = lf_downloadApf(stock, target);
        if (result.message.empty()) {
            result.reference = stock;
            result.localFile = target;
        }
    } catch (const std::exception& e) {
        result.localFile.clear();
        result.message = e.what();
        gf_logLine(fmt::format("{}: {}", "gf_startStandFileFetch", e.what()));
    }
    return result;
}

// The fetch thread works through the wanted codes one after the other; the work thread only asks and reads
// under the mutex.
struct FetchState {
    std::mutex mutex;
    std::optional<std::string> wanted;  // the code to fetch next
    std::string current;                // the code being fetched
    bool running = false;               // the thread works, or is about to return
    bool dropCurrent = false;           // nobody wants the running fetch's result any more
    std::optional<StandFileFetch> finished;
    std::jthread thread;
};

FetchState& lf_fetchState() {
    static FetchState state;
    return state;
}

void lf_fetchLoop() {
    FetchState& s = lf_fetchState();
    std::unique_lock lock(s.mutex);
    while (s.wanted) {
        s.current = std::move(*s.wanted);
        s.wanted.reset();
        s.dropCurrent = false;
        const std::string code = s.current;
        lock.unlock();
        StandFileFetch result = lf_fetch(code);
        lock.lock();
        if (!s.dropCurrent) s.finished = std::move(result);
        s.current.clear();
    }
    s.running = false;
}

}  // namespace

std::string lf_apfFileName(const std::string& code) { return code + ".xml"; }
fs::path lf_apfPath(const std::string& code) { return lf_apfFileName(code); }
fs::path lf_apfPointerPath(const std::string& code) { return code + ".txt"; }

bool gf_downloadStockApf(const std::string& code) {
    CurlHandle handle;
    const fs::path probe = lf_apfPath(code);
    if (!gf_curlDownload(handle.get(), gf_updateBaseURL() + lf_stockReference(code), probe, false)) return false;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(probe, ec);
    const bool found = !ec && size > 0;
    ec.clear();
    fs::remove(probe, ec);
    if (ec) throw FileSystemError("remove", probe, ec);
    return found;
}

bool gf_apfAvailable(const std::string& code) {
    for (const fs::path* folder : {&g_myThirdpartyFolder, &g_myOrbxFolder})
        if (lf_exists(*folder / lf_apfPath(code)) || lf_exists(*folder / lf_apfPointerPath(code))) return true;
    return gf_downloadStockApf(code);
}

std::string lf_findArchivedApf(const std::string& code) {
    if (std::optional<std::string> local = lf_findLocalApf(code)) return *local;
    return gf_downloadStockApf(code) ? lf_stockReference(code) : std::string();
}

bool lf_readApfPointer(const fs::path& path, std::string& text) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    std::vector<std::string> lines;
    if (!gf_readExtTextFileToStringVector(path, lines) || lines.empty()) return false;
    std::string line = std::move(lines.front());
    while (!line.empty() && line.back() != 'l') line.pop_back();
    text = lf_forwardSlashes(std::move(line));
    return true;
}

fs::path lf_resolveApfPath(const std::string& reference, const std::string& publisher) {
    if (reference.empty()) return {};
    std::string text = lf_forwardSlashes(reference);
    const std::string learned = g_learnedFolder.generic_string();
    if (const std::size_t at = text.find("archive"); at != std::string::npos) {
        text.replace(at, 7, learned);
        gf_replaceAll(text, "%20", " ");
    } else if (lf_isLocalReference(text)) {
        text.replace(0, kLocalPrefix.size(), learned);
        const std::string folder = "thirdparty/" + lf_safeFolderName(publisher);
        if (const std::size_t at = text.find("my_thirdparty2024"); at != std::string::npos)
            text.replace(at, 17, folder);
        else if (const std::size_t at13 = text.find("my_thirdparty"); at13 != std::string::npos)
            text.replace(at13, 13, folder);
    }
    fs::path path(text);
    if (!lf_insideLearnedFolder(path)) {
        gf_logWarning(fmt::format("no learned file for \"{}\": \"{}\" lies outside {}", reference, text, learned));
        return {};
    }
    return path;
}

std::string lf_safeFolderName(const std::string& publisher) {
    std::string name = publisher;
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == ':' || u < 0x20 || u == 0x7f) c = '_';
    }
    for (std::size_t at = name.find(".."); at != std::string::npos; at = name.find("..", at)) name[at] = '_';
    return name;
}

fs::path gf_parkAirportDownloadPath() { return g_airportsFolder / "park_airport.xml"; }

void gf_startStandFileFetch(const std::string& code) {
    FetchState& s = lf_fetchState();
    std::lock_guard lock(s.mutex);
    if (s.finished && s.finished->code == code) return;
    if (s.running && s.current == code) {
        // Asked for again: the running fetch is the one wanted after all.
        s.dropCurrent = false;
        s.wanted.reset();
        return;
    }
    s.finished.reset();
    s.wanted = code;
    if (s.running) {
        s.dropCurrent = true;
        return;
    }
    // A thread that is not running has left its loop: joining it takes no time.
    if (s.thread.joinable()) s.thread.join();
    s.running = true;
    s.thread = std::jthread(lf_fetchLoop);
}

std::optional<StandFileFetch> gf_standFileFetched(const std::string& code) {
    FetchState& s = lf_fetchState();
    std::lock_guard lock(s.mutex);
    if (s.finished && s.finished->code == code) return s.finished;
    return std::nullopt;
}

void gf_forgetStandFileFetch() {
    FetchState& s = lf_fetchState();
    std::lock_guard lock(s.mutex);
    s.finished.reset();
    s.wanted.reset();
    if (s.running) s.dropCurrent = true;
}

void gf_joinStandFileFetch() {
    FetchState& s = lf_fetchState();
    std::jthread thread;
    {
        std::lock_guard lock(s.mutex);
        s.finished.reset();
        s.wanted.reset();
        if (s.running) s.dropCurrent = true;
        thread = std::move(s.thread);
    }
    if (thread.joinable()) thread.join();
}
