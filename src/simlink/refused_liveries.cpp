#include "simlink/refused_liveries.h"

#include <algorithm>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "injection/services.h"

std::vector<std::string> g_liveriesNotCreated;
std::list<std::string> g_notCreatedLines;

namespace {

void lf_appendIndented(std::vector<std::string>& lines, const std::string& line) { lines.push_back("  " + line); }

}  // namespace

void gf_liveryCouldNotBeCreated(const AiAc& ac) {
    // Refusals while the run ends are the simulator letting go of everything; they say nothing about a livery.
    if (gf_exitOrStopRequested()) return;
    gf_showMessage(fmt::format("{} \"{}\" could not be created by your Sim!", ac.callsign, ac.title), true);
    // The same livery refused again counts again: a title that keeps failing is as broken as many titles.
    g_liveriesNotCreated.emplace_back(ac.title);
    g_notCreatedLines.push_front(ac.type + " " + ac.airline);
    if (g_liveriesNotCreated.size() < kMaxLiveriesNotCreated) return;
    const std::string text = fmt::format("there are too many liveries that could not be created by {}!", "P3D");
    gf_logLine(fmt::format("\n{}Error 81, {}\n", "===> ", text));
    throw qtm::UserErrorException(81, fmt::format("{}, see Log.txt", text));
}

std::vector<std::string> gf_notCreatedLiveries() {
    g_notCreatedLines.sort();
    g_notCreatedLines.unique();
    std::vector<std::string> lines;
    lines.reserve(g_notCreatedLines.size());
    for (const std::string& line : g_notCreatedLines) lf_appendIndented(lines, line);
    return lines;
}

void gf_clearRefusedLiveries() {
    g_liveriesNotCreated.clear();
    g_notCreatedLines.clear();
}
