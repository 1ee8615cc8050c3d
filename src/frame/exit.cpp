#include "frame/exit.h"

#include <stdexcept>
#include <unordered_map>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"

std::atomic<bool> g_quitRequested{false};
std::atomic<bool> g_stopRequested{false};
std::atomic<std::uint32_t> g_exitReason{0};
std::atomic<bool> g_restartPending{false};
std::atomic<bool> g_exitSequenceFailed{false};

namespace {

std::atomic<ExitSequenceStarter> g_exitSequence{nullptr};

}  // namespace

const std::string& gf_exitReasonText(std::uint32_t reason) {
    static const std::unordered_map<std::uint32_t, std::string> texts{
        {0, "NOT YET SET"}, {1, "SIM WAS CLOSED"},  {2, "NEW FLIGHT"},   {3, "NEW SETTINGS"},
        {4, "USER CLOSED SIM"}, {5, "SIMCONNECT ERROR"}, {6, "READER ERROR"}, {7, "SYSTEM ERROR"},
    };
    const auto it = texts.find(reason);
    // The wording users have always seen in their logs for an unknown reason.
    if (it == texts.end()) throw std::out_of_range("invalid unordered_map<K, T> key");
    return it->second;
}

void gf_requestExit(std::uint32_t reason, std::uint32_t restartDelaySeconds) {
    // The exchange is the once-only guard: of two threads asking at the same moment exactly one goes on.
    if (g_quitRequested.exchange(true)) return;
    g_exitReason = reason;
    const ExitSequenceStarter starter = g_exitSequence.load();
    if (starter == nullptr) {
        gf_logLine(fmt::format("exit requested (reason {}, restart after {} s), no exit sequence to run it", reason,
                               restartDelaySeconds));
        return;
    }
    starter(restartDelaySeconds);
}

int gf_exitStatus() {
    const bool failed =
        g_exitSequenceFailed.load() || g_exitReason.load() == static_cast<std::uint32_t>(ExitReason::SystemError);
    return failed ? 1 : 0;
}

void gf_setExitSequence(ExitSequenceStarter starter) { g_exitSequence = starter; }

void gf_resetExitFlags() {
    g_quitRequested = false;
    g_stopRequested = false;
    g_exitReason = 0;
    g_restartPending = false;
    g_exitSequenceFailed = false;
}

void lf_logException(std::string_view functionName) {
    try {
        throw;
    } catch (const qtm::UserErrorException& e) {
        gf_showError(e.what());
    } catch (const fmt::format_error& e) {
        gf_showError(fmt::format("std::format error: {}", e.what()));
    } catch (const std::exception& e) {
        // Where it failed is for the log; the user is told what failed.
        gf_logLine(fmt::format("{}: {}", functionName, e.what()));
        gf_showError(e.what());
        gf_requestExit(ExitReason::SystemError, 0);
    } catch (...) {
        gf_showError("Unknown exception");
    }
}
