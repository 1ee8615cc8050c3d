// A private world for the settings suites: the roaming folder, the registry files and the program folder
// all in one temporary folder, a fresh headless window layer, every setting at its default and the log
// written to a file of its own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "platform/ui.h"
#include "platform/ui_headless.h"
#include "support/test_support.h"

namespace settings_test {

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

class SettingsEnv : public ::testing::Test {
protected:
    SettingsEnv()
        : m_config(m_root.path() / "config"),
          m_registry(m_root.path() / "registry"),
          m_program(m_root.path() / "program"),
          m_xdg("XDG_CONFIG_HOME", m_config.string()),
          m_registryEnv("ZNTV_REGISTRY_DIR", m_registry.string()),
          m_cwd((fs::create_directories(m_program), m_program)) {
        fs::create_directories(m_config);
        fs::create_directories(m_registry);
    }

    void SetUp() override {
        auto owned = std::make_unique<ui::HeadlessBackend>();
        m_ui = owned.get();
        ui::setBackend(std::move(owned));
        gf_initGlobalPaths();
        gf_resetParametersToDefaults();
        gf_openLog(logPath());
    }

    void TearDown() override { gf_closeLog(); }

    fs::path logPath() const { return m_root.path() / "Log.txt"; }
    fs::path settingsFile() const { return m_config / "ZNTV_P3D" / "parameters.xml"; }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::istringstream in(readWholeFile(logPath()));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    bool logHas(const std::string& line) const {
        const auto lines = logLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    void writeSettings(const std::string& body) {
        fs::create_directories(settingsFile().parent_path());
        writeWholeFile(settingsFile(), "<?xml version=\"1.0\"?>\n<parameters>\n" + body + "</parameters>\n");
    }

    // The registry of the machine, as "regedit /e" writes it.
    void writeMachineRegistry(const std::string& body) {
        writeWholeFile(m_registry / "machine.reg", "REGEDIT4\r\n\r\n" + body);
    }

    void createWindow() { ASSERT_TRUE(m_ui->createWindow("ZNTV_P3D", 0, 0, 880, 476, {})); }

    testing_support::TempDir m_root;
    fs::path m_config, m_registry, m_program;
    testing_support::ScopedEnv m_xdg, m_registryEnv;
    testing_support::ScopedCwd m_cwd;
    ui::HeadlessBackend* m_ui = nullptr;
};

}  // namespace settings_test
