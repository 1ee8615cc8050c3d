// A private world for the window suites: the roaming folder, the registry files and the program folder in
// one temporary folder, a fresh headless window layer, every setting and every display field at its start
// value, the log in a file of its own, and services whose answers the test sets and whose calls it sees.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "frame/display.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "platform/ui.h"
#include "platform/ui_headless.h"
#include "support/program_env.h"
#include "window/commands.h"
#include "window/controls.h"
#include "window/main_window.h"
#include "window/requests.h"
#include "window/services.h"
#include "window/status_line.h"

namespace window_test {

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

struct ExitCall {
    std::int32_t reason = 0, delay = 0;
    friend bool operator==(const ExitCall&, const ExitCall&) = default;
};

// What the services answer, and what was asked of them.
struct FakeServices {
    std::atomic<std::int64_t> seconds{0};
    std::atomic<bool> beforeFirstConnection{true};
    std::atomic<std::int64_t> simEpochTime{0};
    std::atomic<bool> standFileLoaded{false};
    std::atomic<std::int32_t> parkingBusy{0};
    std::set<std::string> airports;
    std::vector<ExitCall> exits;
    int workStarts = 0;
    int workStops = 0;
};

class WindowEnv : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        gf_resetMainWindowState();
        gf_resetWindowRequests();
        installServices();
        openLog();
    }

    void TearDown() override {
        ProgramEnv::TearDown();
        gf_setStatusLineHooks({});
        gf_setWindowServices({});
    }

    void installServices() {
        WindowServices s;
        FakeServices* f = &m_services;
        s.requestExit = [f](std::int32_t reason, std::int32_t delay) { f->exits.push_back({reason, delay}); };
        s.startWorkThread = [f] { ++f->workStarts; };
        s.stopWorkThread = [f] { ++f->workStops; };
        s.seconds = [f] { return f->seconds.load(); };
        s.beforeFirstConnection = [f] { return f->beforeFirstConnection.load(); };
        s.simEpochTime = [f] { return f->simEpochTime.load(); };
        s.standFileLoaded = [f] { return f->standFileLoaded.load(); };
        s.parkingBusy = [f] { return f->parkingBusy.load(); };
        s.airportKnown = [f](const std::string& code) { return f->airports.count(code) != 0; };
        gf_setWindowServices(std::move(s));
    }

    // The window as the program opens it, with every control enabled as the start-up leaves them.
    void openWindow() {
        ASSERT_TRUE(gf_createMainWindow());
        gf_enableSettingsControls();
        m_ui->clearInvalidated();
    }

    std::string fieldText(const ParameterControl& c) const { return m_ui->text(c.controlId); }
    bool enabled(const ParameterControl& c) const { return m_ui->isEnabled(c.controlId); }
    bool enter(const ParameterControl& c, const std::string& text) { return m_ui->simulateEnter(c.controlId, text); }
    bool click(const ParameterControl& c) { return m_ui->simulateClick(c.controlId); }

    std::vector<ui::DrawCall> paint() { return m_ui->paintNow({0, 0, kMainClientWidth, kMainClientHeight}); }
    // The text calls of a paint that draw exactly this text.
    static std::vector<ui::DrawCall> textsOf(const std::vector<ui::DrawCall>& calls, const std::string& text) {
        std::vector<ui::DrawCall> found;
        for (const auto& c : calls) {
            if (c.kind == ui::DrawCall::Kind::Text && c.text == text) found.push_back(c);
        }
        return found;
    }
    static std::optional<ui::Rgb> colourOf(const std::vector<ui::DrawCall>& calls, const std::string& text) {
        auto found = textsOf(calls, text);
        if (found.empty()) return std::nullopt;
        return found.front().colour;
    }

    FakeServices m_services;
};

}  // namespace window_test
