// A private world for suites that run program code: the roaming folder, the registry files and the program
// folder in one temporary folder, a fresh headless window layer, every setting at its default and the log
// written to a file of its own.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "platform/ui.h"
#include "platform/ui_headless.h"
#include "support/test_support.h"

namespace testing_support {

class ProgramEnv : public ::testing::Test {
protected:
    ProgramEnv()
        : m_config(m_root.path() / "config"),
          m_registry(m_root.path() / "registry"),
          m_program(m_root.path() / "program"),
          m_xdg("XDG_CONFIG_HOME", m_config.string()),
          m_registryEnv("ZNTV_REGISTRY_DIR", m_registry.string()),
          // Nothing listens on port 9: program code that downloads fails at once and never leaves the
          // machine. Suites that want downloads point this at their own stand-in.
          m_updateEnv("ZNTV_UPDATE_URL", "http://127.0.0.1:9/downloads/"),
          m_cwd((std::filesystem::create_directories(m_program), m_program)) {
        std::filesystem::create_directories(m_config);
        std::filesystem::create_directories(m_registry);
    }

    void SetUp() override {
        auto owned = std::make_unique<ui::HeadlessBackend>();
        m_ui = owned.get();
        ui::setBackend(std::move(owned));
        gf_initGlobalPaths();
        gf_resetParametersToDefaults();
    }

    void TearDown() override { gf_closeLog(); }

    void openLog() { gf_openLog(logPath()); }

    std::filesystem::path logPath() const { return m_root.path() / "Log.txt"; }
    std::filesystem::path settingsFile() const { return m_config / "ZNTV_P3D" / "parameters.xml"; }

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
        std::filesystem::create_directories(settingsFile().parent_path());
        writeWholeFile(settingsFile(), "<?xml version=\"1.0\"?>\n<parameters>\n" + body + "</parameters>\n");
    }
    // The value stored in "parameters.xml" for a key; nothing when the file or the element is missing.
    std::optional<std::string> stored(const std::string& key) const {
        pugi::xml_document doc;
        if (!doc.load_file(settingsFile().c_str())) return std::nullopt;
        for (pugi::xml_node p : doc.child("parameters").children("parameter")) {
            if (key == p.attribute("name").value()) return std::string(p.attribute("value").value());
        }
        return std::nullopt;
    }

    // The registry of the machine, as "regedit /e" writes it.
    void writeMachineRegistry(const std::string& body) {
        writeWholeFile(m_registry / "machine.reg", "REGEDIT4\r\n\r\n" + body);
    }

    TempDir m_root;
    std::filesystem::path m_config, m_registry, m_program;
    ScopedEnv m_xdg, m_registryEnv, m_updateEnv;
    ScopedCwd m_cwd;
    ui::HeadlessBackend* m_ui = nullptr;
};

}  // namespace testing_support
