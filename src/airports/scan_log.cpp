#include "airports/scan_log.h"

#include <mutex>
#include <set>
#include <string_view>

#include <pugixml.hpp>

#include "frame/text.h"

std::atomic<bool> g_addOnAirportFound{false};

namespace {

std::mutex g_scanLogMutex;
std::vector<std::string> g_scanLogLines;

std::mutex g_scanFilesMutex;
std::set<std::filesystem::path> g_scanFiles;
std::set<std::filesystem::path> g_unprovenFiles;

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

void gf_startScanFiles(std::set<std::filesystem::path> unproven) {
    std::set<std::filesystem::path> keys;
    for (const std::filesystem::path& path : unproven) keys.insert(lf_scanFileKey(path));
    std::lock_guard lock(g_scanFilesMutex);
    g_scanFiles.clear();
    g_unprovenFiles = std::move(keys);
}

bool gf_unprovenScanFileOf(const std::filesystem::path& path) {
    const std::filesystem::path key = lf_scanFileKey(path);
    std::lock_guard lock(g_scanFilesMutex);
    for (const char* extension : {".xml", ".txt"}) {
        std::filesystem::path sibling = key;
        sibling.replace_extension(extension);
        if (g_unprovenFiles.contains(sibling) && !g_scanFiles.contains(sibling)) return true;
    }
    return false;
}

std::optional<std::filesystem::path> gf_claimScanFile(const std::filesystem::path& path, const ScanWrites& writes) {
    const std::filesystem::path key = lf_scanFileKey(path);
    std::lock_guard lock(g_scanFilesMutex);
    // Checked and claimed under one lock: two tasks of one airport both see the first one's file as the scan's.
    std::vector<std::filesystem::path> adopted;
    std::optional<std::filesystem::path> users;
    for (const char* extension : {".xml", ".txt"}) {
        std::filesystem::path sibling = key;
        sibling.replace_extension(extension);
        std::error_code ec;
        // A file that cannot be looked at counts as there.
        if (g_scanFiles.contains(sibling) || !(std::filesystem::exists(sibling, ec) || ec)) continue;
        // A file that was there before the scan, without the last scan's list, is the scan's only when it is
        // what the scan writes now; a file that cannot be read is the user's. Each one is compared, also beside a
        // file of the user's.
        if (g_unprovenFiles.contains(sibling)) {
            const std::optional<std::string>& written = extension == std::string_view(".xml") ? writes.standFile
                                                                                                : writes.pointer;
            const std::optional<std::string> text = written ? gf_readFile(sibling) : std::nullopt;
            if (text && gf_isWhatTheScanWrites(*text, sibling, written)) {
                adopted.push_back(sibling);
                continue;
            }
        }
        if (!users) users = sibling;
    }
    g_scanFiles.insert(adopted.begin(), adopted.end());
    if (users) {
        // The last scan's file beside a file of the user's goes, as the last scan's list would have had it go
        // before this scan: a pointer file would otherwise be read before the user's stand file at every load.
        // One that cannot be removed stays the scan's, for the next scan to remove.
        for (const std::filesystem::path& file : adopted) {
            std::error_code ec;
            std::filesystem::remove(file, ec);
            gf_addScanLogLine(file.string() + (ec ? " could not be removed" : " removed, the last scan made it"));
        }
        return users;
    }
    g_scanFiles.insert(key);
    return std::nullopt;
}

std::vector<std::filesystem::path> gf_unclaimedUnprovenScanFiles() {
    std::vector<std::filesystem::path> unclaimed;
    std::lock_guard lock(g_scanFilesMutex);
    for (const std::filesystem::path& path : g_unprovenFiles)
        if (!g_scanFiles.contains(path)) unclaimed.push_back(path);
    return unclaimed;
}

bool gf_isWhatTheScanWrites(std::string_view text, const std::filesystem::path& name,
                            const std::optional<std::string>& written) {
    if (!written) return false;
    if (name.extension() == ".txt") {
        // The reference and one line end, as this program or the Windows one writes it.
        if (text.ends_with("\r\n"))
            text.remove_suffix(2);
        else if (text.ends_with('\n'))
            text.remove_suffix(1);
        else
            return false;
        return text == *written;
    }
    if (name.extension() != ".xml") return false;
    const std::string_view scans = *written;
    const std::size_t open = text.find("<meta>"), close = text.find("</meta>");
    const std::size_t scansOpen = scans.find("<meta>"), scansClose = scans.find("</meta>");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open ||
        scansOpen == std::string_view::npos || scansClose == std::string_view::npos)
        return false;
    if (text.substr(0, open) != scans.substr(0, scansOpen) || text.substr(close) != scans.substr(scansClose))
        return false;
    // Between the two, only a meta block: the text reads as a document with the same top-level elements.
    pugi::xml_document doc, scansDoc;
    const unsigned options = pugi::parse_default | pugi::parse_comments | pugi::parse_pi;
    if (!doc.load_buffer(text.data(), text.size(), options) ||
        !scansDoc.load_buffer(scans.data(), scans.size(), options))
        return false;
    pugi::xml_node a = doc.first_child(), b = scansDoc.first_child();
    for (; a && b; a = a.next_sibling(), b = b.next_sibling())
        if (a.type() != b.type() || std::string_view(a.name()) != b.name()) return false;
    return !a && !b;
}

bool gf_scanMadeFile(const std::filesystem::path& path) {
    std::lock_guard lock(g_scanFilesMutex);
    return g_scanFiles.contains(lf_scanFileKey(path));
}

std::vector<std::filesystem::path> gf_scanMadeFiles() {
    std::lock_guard lock(g_scanFilesMutex);
    return {g_scanFiles.begin(), g_scanFiles.end()};
}
