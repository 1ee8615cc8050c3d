#include "airports/scan_log.h"

#include <mutex>

std::atomic<bool> g_addOnAirportFound{false};

namespace {

std::mutex g_scanLogMutex;
std::vector<std::string> g_scanLogLines;

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
