// The settings suites run in the shared program world, with the log open from the start.
#pragma once

#include "support/program_env.h"

namespace settings_test {

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

class SettingsEnv : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
    }

    void createWindow() { ASSERT_TRUE(m_ui->createWindow("ZNTV_P3D", 0, 0, 880, 476, {})); }
};

}  // namespace settings_test
