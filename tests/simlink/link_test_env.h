// A private world for the suites that run the program's simulator link: the program test world (roaming
// folder, program folder, headless window, default settings, own log), the status line and the exit
// request caught for the test to look at, and the link's state, exit flags and refused liveries back at
// their start values before and after each test.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "frame/display.h"
#include "frame/exit.h"
#include "simlink/link.h"
#include "simlink/refused_liveries.h"
#include "support/program_env.h"

namespace link_test {

// What the status line was asked to show, and the exit requests that got through.
struct Caught {
    std::mutex mutex;
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    std::atomic<int> exitRequests{0};
    std::atomic<std::uint32_t> exitDelay{0};

    static Caught& get() {
        static Caught c;
        return c;
    }
    static void onMessage(std::string_view text, bool) {
        std::lock_guard lock(get().mutex);
        get().messages.emplace_back(text);
    }
    static void onError(std::string_view text) {
        std::lock_guard lock(get().mutex);
        get().errors.emplace_back(text);
    }
    static void onExit(std::uint32_t delay) {
        get().exitDelay = delay;
        ++get().exitRequests;
    }
    void clear() {
        std::lock_guard lock(mutex);
        messages.clear();
        errors.clear();
        exitRequests = 0;
        exitDelay = 0;
    }
    std::vector<std::string> messagesCopy() {
        std::lock_guard lock(mutex);
        return messages;
    }
    std::vector<std::string> errorsCopy() {
        std::lock_guard lock(mutex);
        return errors;
    }
    bool shown(const std::string& text) {
        std::lock_guard lock(mutex);
        for (const auto& m : messages)
            if (m == text) return true;
        return false;
    }
};

// Polls until the condition holds or about ten seconds have passed; the result says which.
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return pred();
}

class LinkEnv : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        lf_resetAll();
        gf_setStatusLineHooks({&Caught::onMessage, &Caught::onError});
        gf_setExitSequence(&Caught::onExit);
    }
    void TearDown() override {
        gf_stopLinkThread();
        gf_setExitSequence(nullptr);
        gf_setStatusLineHooks({});
        lf_resetAll();
        ProgramEnv::TearDown();
    }
    static void lf_resetAll() {
        g_simMajorVersion = 5;  // the run-time takes it from P3D_VERSION at each start
        gf_resetLinkState();
        gf_resetExitFlags();
        gf_clearRefusedLiveries();
        Caught::get().clear();
    }
    Caught& caught() { return Caught::get(); }
};

}  // namespace link_test
