#include "frame/files.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <random>
#include <thread>

#include "frame/errors.h"
#include "frame/log.h"
#include "frame/paths.h"

namespace fs = std::filesystem;

std::uint32_t g_scanLimit = std::max(1u, std::thread::hardware_concurrency());
std::atomic<std::uint32_t> g_scanRunningTasks{0};

FileSystemError::FileSystemError(std::string_view operation, const fs::path& path, std::error_code ec)
    : fs::filesystem_error(std::string(operation), path, ec),
      m_text(fmt::format("{}: {}: \"{}\"", operation, ec.message(), path.string())) {}

namespace {

[[noreturn]] void lf_fail(std::string_view operation, const fs::path& path, std::error_code ec) {
    throw FileSystemError(operation, path, ec);
}

bool lf_exists(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    // A missing file is an answer; anything else that keeps us from knowing is an error.
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
        lf_fail("status", path, ec);
    return fs::exists(st);
}

bool lf_isFolder(const fs::path& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
        lf_fail("status", path, ec);
    return fs::is_directory(st);
}

// Calls onEntry for every entry directly in the folder; iteration errors throw FileSystemError.
template <typename OnEntry>
void lf_forEachEntry(const fs::path& folder, OnEntry onEntry) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) lf_fail("directory_iterator::directory_iterator", folder, ec);
    // An increment error ends the loop (the iterator becomes the end one) and is reported below.
    for (; it != fs::directory_iterator(); it.increment(ec)) onEntry(*it);
    if (ec) lf_fail("directory_iterator::operator++", folder, ec);
}

bool lf_isRegularFile(const fs::directory_entry& entry) {
    std::error_code ec;
    const fs::file_status st = entry.status(ec);
    if (ec && ec != std::errc::no_such_file_or_directory) lf_fail("directory_entry::status", entry.path(), ec);
    return fs::is_regular_file(st);
}

std::uint32_t lf_random() {
    static thread_local std::mt19937 gen{std::random_device{}()};
    return gen();
}

// Copies beside the target first and renames, so that an interrupted copy never leaves a truncated backup.
void lf_copyOver(const fs::path& from, const fs::path& to) {
    fs::path tmp = to;
    tmp += fmt::format(".{:08x}.tmp", lf_random());
    std::error_code ec;
    fs::copy_file(from, tmp, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
        lf_fail("copy_file", from, ec);
    }
    fs::rename(tmp, to, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
        lf_fail("rename", to, ec);
    }
}

// The file to its backup's name and that backup to the older one's, all three or none: the older backup is
// dropped only once the file has taken the place of the one that replaces it. That one waits under a name of
// its own meanwhile (no save's "<target>.<8 hex digits>.tmp": the start removes those), and a step that fails
// puts back what the steps before it moved. The error names the file the user knows, never the parking name.
void lf_moveOver(const fs::path& path, const fs::path& path1, const fs::path& path2) {
    if (!lf_exists(path)) return;
    std::error_code ec, ignored;
    if (!lf_exists(path1)) {
        fs::rename(path, path1, ec);
        if (ec) lf_fail("rename", path, ec);
        return;
    }
    fs::path parked;
    do {
        parked = path1;
        parked += fmt::format(".{:08x}.moving", lf_random());
    } while (lf_exists(parked));
    fs::rename(path1, parked, ec);
    if (ec) lf_fail("rename", path1, ec);
    fs::rename(path, path1, ec);
    if (ec) {
        fs::rename(parked, path1, ignored);
        lf_fail("rename", path, ec);
    }
    fs::rename(parked, path2, ec);
    if (ec) {
        fs::rename(path1, path, ignored);
        fs::rename(parked, path1, ignored);
        lf_fail("rename", path1, ec);
    }
}

}  // namespace

void gf_enterThrottle() {
    // A limit of 0 would wait forever; one task at a time is the least that makes progress.
    const std::uint32_t limit = std::max<std::uint32_t>(1, g_scanLimit);
    while (g_scanRunningTasks.load() >= limit) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void gf_leaveThrottle() { g_scanRunningTasks.fetch_sub(1); }

std::size_t gf_countFiles(const fs::path& folder) {
    if (!lf_isFolder(folder)) return 0;
    std::size_t count = 0;
    lf_forEachEntry(folder, [&](const fs::directory_entry& entry) {
        if (lf_isRegularFile(entry)) ++count;
    });
    return count;
}

std::vector<fs::path> gf_listXmlFiles(const fs::path& folder) {
    std::vector<fs::path> result;
    lf_forEachEntry(folder, [&](const fs::directory_entry& entry) {
        if (!lf_isRegularFile(entry)) return;
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (ext == ".XML") result.push_back(entry.path());
    });
    return result;
}

bool gf_removeIfExists(const fs::path& path) {
    if (!lf_exists(path)) return true;
    std::error_code ec;
    const bool removed = fs::remove(path, ec);
    if (ec) lf_fail("remove", path, ec);
    return removed;
}

void gf_removeFolderFiles(const fs::path& folder) {
    try {
        if (!lf_isFolder(folder)) return;
        // Collected first: removing entries under a running iterator is allowed but its result is not.
        std::vector<fs::path> entries;
        lf_forEachEntry(folder, [&](const fs::directory_entry& entry) { entries.push_back(entry.path()); });
        for (const fs::path& p : entries) {
            std::error_code ec;
            fs::remove(p, ec);
            if (ec) gf_logLine(fmt::format("{} could not be removed", p.string()));
        }
    } catch (const fs::filesystem_error& e) {
        throw qtm::UserErrorException(5, e.what());
    }
}

namespace {

// "<name>.<8 lower-case hex digits>.tmp", as the writers name their temporary files.
bool lf_isInterruptedSave(const std::string& name) {
    constexpr std::string_view kTail = ".tmp";
    constexpr std::size_t kHex = 8;
    if (name.size() < kTail.size() + kHex + 2 || !name.ends_with(kTail)) return false;
    const std::size_t hex = name.size() - kTail.size() - kHex;
    if (name[hex - 1] != '.') return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(hex), name.end() - 4,
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f'); });
}

void lf_removeInterruptedSave(const fs::directory_entry& entry) {
    std::error_code ec;
    if (!entry.is_regular_file(ec) || !lf_isInterruptedSave(entry.path().filename().string())) return;
    if (fs::remove(entry.path(), ec))
        gf_logLine(fmt::format("{} removed, left by an interrupted save", entry.path().string()));
}

}  // namespace

void gf_removeInterruptedSaves(const fs::path& folder, bool recursive) {
    std::error_code ec;
    if (!recursive) {
        for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
            lf_removeInterruptedSave(*it);
        return;
    }
    for (fs::recursive_directory_iterator it(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        lf_removeInterruptedSave(*it);
}

void gf_removeInterruptedSaves() {
    gf_removeInterruptedSaves(".", false);
    gf_removeInterruptedSaves(g_airportsFolder, true);
    gf_removeInterruptedSaves(g_outputFolder, true);
    if (!g_appFolder.empty()) gf_removeInterruptedSaves(g_appFolder, false);
}

void gf_backupFile(const fs::path& path, BackupBy how) {
    const std::string name = path.filename().string();
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return;
    std::string name1 = name;
    name1.insert(dot, "0");
    std::string name2 = name1;
    name2.insert(dot, "0");
    const fs::path path1 = path.parent_path() / name1;
    const fs::path path2 = path.parent_path() / name2;
    if (how == BackupBy::move) return lf_moveOver(path, path1, path2);
    if (lf_exists(path1)) lf_copyOver(path1, path2);
    if (lf_exists(path)) lf_copyOver(path, path1);
}
