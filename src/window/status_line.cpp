#include "window/status_line.h"

#include <algorithm>
#include <cctype>
#include <mutex>
#include <optional>
#include <vector>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/entry.h"
#include "frame/log.h"
#include "window/main_window.h"

namespace {

// A message stays this many counted seconds.
constexpr std::int32_t kMessageSeconds = 25;

// What a cut leaves of a path, in characters: enough to tell one path from another.
constexpr std::size_t kShortestPath = 12;
constexpr std::string_view kCutMark = "...";

// A part of a text, in bytes.
struct Span {
    std::size_t begin = 0, end = 0;
};

bool lf_isSeparator(char c) { return c == '/' || c == '\\'; }
bool lf_holdsSeparator(std::string_view word) { return std::ranges::any_of(word, lf_isSeparator); }
bool lf_endsAPhrase(char c) { return c == ';' || c == ',' || c == ':' || c == '"' || c == ')'; }

// A word that starts a path: a root, a drive or an address, or two separators ("a/b/c.xml"); one separator
// between words ("declaration/processing", "and/or") is the program's own.
bool lf_startsAPath(std::string_view word) {
    while (!word.empty() && (word.front() == '"' || word.front() == '(')) word.remove_prefix(1);
    if (word.empty()) return false;
    const bool drive = word.size() > 2 && std::isalpha(static_cast<unsigned char>(word[0])) != 0 && word[1] == ':' &&
                       lf_isSeparator(word[2]);
    return lf_isSeparator(word.front()) || word.starts_with("~/") || drive ||
           word.find("://") != std::string_view::npos || std::ranges::count_if(word, lf_isSeparator) >= 2;
}

// Paths and addresses hold spaces ("Lockheed Martin\Prepar3D v5"): one goes on over the words up to the last
// that holds a separator, but never past a word that ends a phrase, where the program's own words go on.
std::vector<Span> lf_pathSpans(std::string_view text) {
    std::vector<Span> words;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        if (end > at) words.push_back({at, end});
        at = end + 1;
    }
    const auto word = [&](std::size_t i) { return text.substr(words[i].begin, words[i].end - words[i].begin); };
    std::vector<Span> paths;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (!lf_startsAPath(word(i))) continue;
        std::size_t last = i;
        for (std::size_t j = i; j + 1 < words.size() && !lf_endsAPhrase(word(j).back()); ++j)
            if (lf_holdsSeparator(word(j + 1))) last = j + 1;
        Span path{words[i].begin, words[last].end};
        while (path.begin < path.end && (text[path.begin] == '"' || text[path.begin] == '(')) ++path.begin;
        while (path.end > path.begin && lf_endsAPhrase(text[path.end - 1])) --path.end;
        paths.push_back(path);
        i = last;
    }
    return paths;
}

// Where each UTF-8 character of the text starts, and the text's end: a cut never splits a character.
std::vector<std::size_t> lf_characterStarts(std::string_view text) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
    starts.push_back(text.size());
    return starts;
}

std::size_t lf_characterCount(std::string_view text) { return lf_characterStarts(text).size() - 1; }

// The text with `keep` of its characters, its middle cut out; the head keeps `headShare` of them.
std::string lf_cutMiddle(std::string_view text, std::size_t keep, double headShare) {
    const std::vector<std::size_t> starts = lf_characterStarts(text);
    const std::size_t count = starts.size() - 1;
    if (keep >= count) return std::string(text);
    const auto head = static_cast<std::size_t>(static_cast<double>(keep) * headShare);
    const std::size_t tail = keep - head;
    return std::string(text.substr(0, starts[head])).append(kCutMark).append(text.substr(starts[count - tail]));
}

// The text with each path longer than `cap` characters cut to `cap`; the file name is at a path's end.
std::string lf_capPaths(std::string_view text, const std::vector<Span>& paths, std::size_t cap) {
    std::string out;
    std::size_t at = 0;
    for (const Span& path : paths) {
        out.append(text.substr(at, path.begin - at));
        out.append(lf_cutMiddle(text.substr(path.begin, path.end - path.begin), cap, 1.0 / 3));
        at = path.end;
    }
    return out.append(text.substr(at));
}

// The largest n in [low, high] whose text fits, or nothing; the text grows with n.
template <class Text>
std::optional<std::string> lf_widestFitting(std::size_t low, std::size_t high, int width, const ui::Canvas& canvas,
                                            Text text) {
    std::optional<std::string> best;
    while (low <= high) {
        const std::size_t mid = low + (high - low) / 2;
        std::string candidate = text(mid);
        if (canvas.textWidth(candidate) <= width) {
            best = std::move(candidate);
            low = mid + 1;
        } else {
            if (mid == 0) break;
            high = mid - 1;
        }
    }
    return best;
}

}  // namespace

void lf_showStatusMessage(std::string_view text, bool log) {
    std::lock_guard lock(g_mainWindow.statusLock);
    // An error holds the line until it is cleared; a message meanwhile is dropped, not even logged.
    if (!g_mainWindow.error.empty()) return;
    g_mainWindow.message.assign(text);
    // At least 1, so that a message set at second 0 still counts as shown and expires.
    g_mainWindow.messageSecond = text.empty() ? 0 : std::max(g_mainWindow.displaySeconds.load(), 1);
    if (log && !text.empty()) gf_logString(std::string(text));
    ui::backend().invalidate(kStatusLine);
}

void lf_showStatusError(std::string_view text) {
    std::lock_guard lock(g_mainWindow.statusLock);
    g_mainWindow.message.clear();
    g_mainWindow.messageSecond = 0;
    g_mainWindow.error.assign(text);
    gf_logLine(fmt::format("Error {}", text));
    ui::backend().invalidate(kStatusLine);
}

void lf_showStandingFault(StandingFault which, std::string_view text, bool log) {
    std::lock_guard lock(g_mainWindow.statusLock);
    std::string& shown = g_mainWindow.standingFaults.at(static_cast<std::size_t>(which));
    if (shown == text) return;  // a retry that fails the same way says nothing new
    shown.assign(text);
    if (log) gf_logLine(fmt::format("Error {}", text));
    ui::backend().invalidate(kStatusLine);
}

void lf_clearStandingFault(StandingFault which) {
    std::lock_guard lock(g_mainWindow.statusLock);
    std::string& shown = g_mainWindow.standingFaults.at(static_cast<std::size_t>(which));
    if (shown.empty()) return;
    shown.clear();
    ui::backend().invalidate(kStatusLine);
}

void gf_clearStandingFaults() {
    for (std::size_t i = 0; i < kStandingFaultCount; ++i) lf_clearStandingFault(static_cast<StandingFault>(i));
}

std::vector<std::string> lf_redLinesLocked() {
    std::vector<std::string> lines;
    if (!g_mainWindow.error.empty()) lines.push_back(g_mainWindow.error);
    for (const std::string& fault : g_mainWindow.standingFaults)
        if (!fault.empty() && lines.size() < kRedLineRows) lines.push_back(fault);
    return lines;
}

void gf_installStatusLine() {
    gf_setStatusLineHooks({lf_showStatusMessage, lf_showStatusError, lf_showStandingFault, lf_clearStandingFault});
}

void gf_clearError() {
    {
        std::lock_guard lock(g_mainWindow.statusLock);
        g_mainWindow.error.clear();
    }
    gf_clearMessage();
}

void gf_tickDisplaySeconds() {
    const std::int32_t now = ++g_mainWindow.displaySeconds;
    // Checked and cleared under one lock: a message set in between is a new one and keeps its 25 seconds.
    std::lock_guard lock(g_mainWindow.statusLock);
    const std::int32_t since = g_mainWindow.messageSecond;
    if (since > 0 && now - since >= kMessageSeconds) {
        g_mainWindow.message.clear();
        g_mainWindow.messageSecond = 0;
        ui::backend().invalidate(kStatusLine);
    }
}

void gf_refreshAirborneCount(std::uint64_t liveAirborne, std::uint64_t parkedLive, std::uint64_t parkedStatic) {
    if (g_mainWindow.liveAirborneCount.exchange(liveAirborne) != liveAirborne) ui::backend().invalidate(kUpperBand);
    const bool liveChanged = g_mainWindow.parkedLiveCount.exchange(parkedLive) != parkedLive;
    const bool staticChanged = g_mainWindow.parkedStaticCount.exchange(parkedStatic) != parkedStatic;
    if (liveChanged || staticChanged) ui::backend().invalidate(kParkingBand);
}

std::string gf_fitStatusText(std::string_view text, int width, const ui::Canvas& canvas) {
    if (canvas.textWidth(text) <= width) return std::string(text);
    const std::vector<Span> paths = lf_pathSpans(text);
    std::size_t longest = 0;
    for (const Span& path : paths)
        longest = std::max(longest, lf_characterCount(text.substr(path.begin, path.end - path.begin)));
    std::string line(text);
    if (longest > kShortestPath) {
        const auto capped = [&](std::size_t cap) { return lf_capPaths(text, paths, cap); };
        if (auto fitted = lf_widestFitting(kShortestPath, longest - 1, width, canvas, capped)) return *fitted;
        line = capped(kShortestPath);
    }
    const auto cut = [&](std::size_t keep) { return lf_cutMiddle(line, keep, 0.5); };
    return lf_widestFitting(0, lf_characterCount(line), width, canvas, cut).value_or(std::string(kCutMark));
}

std::string lf_formatWithAppName(std::string_view format) {
    return fmt::format(fmt::runtime(format), kAppTitle, kAppTitle);
}

std::string gf_statusMessage() {
    std::lock_guard lock(g_mainWindow.statusLock);
    return g_mainWindow.message;
}

std::string gf_statusError() {
    std::lock_guard lock(g_mainWindow.statusLock);
    return g_mainWindow.error;
}

std::string gf_standingFault(StandingFault which) {
    std::lock_guard lock(g_mainWindow.statusLock);
    return g_mainWindow.standingFaults.at(static_cast<std::size_t>(which));
}
