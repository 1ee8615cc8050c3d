#include "airports/scan_log.h"

#include <mutex>
#include <set>

std::atomic<bool> g_addOnAirportFound{false};

namespace {

std::mutex g_scanLogMutex;
std::vector<std::string> g_scanLogLines;

std::mutex g_scanFilesMutex;
std::set<std::filesystem::path> g_scanFiles;

std::filesystem::path lf_scanFileKey(const std::filesystem::path& path) { return path.lexically_normal(); }

}  // namespace

void gf_addScanLogLine(const std::string& line) {
    std::lock_guard lock(g_scanLogMutex);
    g_scanLogLines.push_back(line);
}

std::vector<std::string> gf_scanLogLines() {
    std::lock_guard lock(g_scanLogMutex);
    return g_scanLogLines;
}

void gf_reserveScanLog() {
    std::lock_guard lock(g_scanLogMutex);
    if (g_scanLogLines.capacity() < 2048) g_scanLogLines.reserve(2048);
}

std::vector<std::string> gf_takeScanLogLines() {
    std::vector<std::string> lines;
    std::lock_guard lock(g_scanLogMutex);
    lines.swap(g_scanLogLines);
    return lines;
}

void gf_startScanFiles() {
    std::lock_guard lock(g_scanFilesMutex);
    g_scanFiles.clear();
}

std::optional<std::filesystem::path> gf_claimScanFile(const std::filesystem::path& path) {
    const std::filesystem::path key = lf_scanFileKey(path);
    std::lock_guard lock(g_scanFilesMutex);
    // Checked and claimed under one lock: two tasks of one airport both see the first one's file as the scan's.
    for (const char* extension : {".xml", ".txt"}) {
        std::filesystem::path sibling = key;
        sibling.replace_extension(extension);
        std::error_code ec;
        // A file that cannot be looked at counts as there.
        if (!g_scanFiles.contains(sibling) && (std::filesystem::exists(sibling, ec) || ec)) return sibling;
    }
    g_scanFiles.insert(key);
    return std::nullopt;
}

bool gf_scanMadeFile(const std::filesystem::path& path) {
    std::lock_guard lock(g_scanFilesMutex);
    return g_scanFiles.contains(lf_scanFileKey(path));
}

std::vector<std::filesystem::path> gf_scanMadeFiles() {
    std::lock_guard lock(g_scanFilesMutex);
    return {g_scanFiles.begin(), g_scanFiles.end()};
}
