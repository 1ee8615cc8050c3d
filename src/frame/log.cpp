#include "frame/log.h"

#include <fmt/format.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include "frame/entry.h"
#include "frame/files.h"
#include "frame/timeutil.h"
#include "frame/version.h"

namespace {

std::ofstream g_log;
std::mutex g_logMutex;
// Writers test this without the lock; the window may close the log while other threads still write,
// so the test must be a real atomic read and the stream itself is only touched under g_logMutex.
std::atomic<bool> g_logOpen{false};

void lf_writeLine(std::string_view prefix, std::string_view text) {
    if (!g_logOpen.load(std::memory_order_acquire)) return;
    // One buffer, one write: a line is never split between two writes.
    std::string line;
    line.reserve(prefix.size() + text.size() + 1);
    line.append(prefix).append(text).push_back('\n');
    std::lock_guard lock(g_logMutex);
    if (!g_log.is_open()) return;  // closed between the test and the lock
    g_log.write(line.data(), static_cast<std::streamsize>(line.size()));
    g_log.flush();
}

}  // namespace

void gf_openLog() { gf_openLog("Log.txt"); }

void gf_openLog(const std::filesystem::path& path) {
    // A second open (tests, or a log re-opened elsewhere) starts over with a fresh file.
    gf_closeLog();
    gf_backupFile(path);
    std::lock_guard lock(g_logMutex);
    g_log.clear();
    g_log.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!g_log.is_open()) {
        g_log.clear();
        throw std::runtime_error("Failed to write file " + path.string());
    }
    g_log << fmt::format("{} (utc) {} version {} for {}\n", gf_utcTimeStamp(gf_now()), kAppTitle,
                         gf_versionText(g_programVersion), "Prepar3D v5/v6");
    g_log.flush();
    g_logOpen.store(true, std::memory_order_release);
}

void gf_closeLog() {
    g_logOpen.store(false, std::memory_order_release);
    std::lock_guard lock(g_logMutex);
    if (g_log.is_open()) g_log.close();
    g_log.clear();
}

bool gf_logIsOpen() { return g_logOpen.load(std::memory_order_acquire); }

void gf_logLine(std::string_view text) { lf_writeLine({}, text); }

void gf_logString(const std::string& text) { lf_writeLine({}, text); }

void gf_logWarning(std::string_view text) { lf_writeLine("===> ", text); }

void gf_logIndented(std::string_view text) { lf_writeLine("          ", text); }
