// The command lines of the two stand-ins, as a user meets them when trying the program against them: asked
// for help, each prints its usage and succeeds; a wrong option prints the usage as an error and fails with 2.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "support/test_support.h"

namespace run_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::readWholeFile;

struct CommandLine {
    const char* name;
    const char* program;
    std::vector<std::string> arguments;
    int status;
};

void PrintTo(const CommandLine& c, std::ostream* os) { *os << c.name; }

class StandInCommandLines : public ::testing::TestWithParam<CommandLine> {};

TEST_P(StandInCommandLines, PrintTheUsageAndEndWithTheirStatus) {
    const CommandLine& c = GetParam();
    testing_support::TempDir dir;
    const fs::path out = dir.path() / "out";
    ChildProcess process(fs::path(ZNTV_BINARY_DIR) / "bin" / c.program, c.arguments, dir.path(), {}, out);
    EXPECT_EQ(process.waitForExit(30s), c.status);
    EXPECT_NE(readWholeFile(out).find(std::string("usage: ")), std::string::npos) << readWholeFile(out);
}

INSTANTIATE_TEST_SUITE_P(
    Usage, StandInCommandLines,
    ::testing::Values(CommandLine{"ServiceHelp", "zntv-service", {"--help"}, 0},
                      CommandLine{"ServiceWrongOption", "zntv-service", {"--no-such-option"}, 2},
                      CommandLine{"ServiceMissingValue", "zntv-service", {"--port"}, 2},
                      CommandLine{"SimulatorHelp", "zntv-simulator", {"--help"}, 0},
                      CommandLine{"SimulatorWrongOption", "zntv-simulator", {"--no-such-option"}, 2}),
    [](const ::testing::TestParamInfo<CommandLine>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace run_test
