#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "fixtures/simtree.h"
#include "frame/settings.h"
#include "liveries/addon_packages.h"
#include "liveries/scan_driver.h"
#include "platform/simpath.h"
#include "support/program_env.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

struct ParseCase {
    const char* what;
    std::function<Lines(const Lines&)> parse;
    Lines lines;
    Lines folders;
};

const auto addOnsCfg = [](const Lines& l) { return lf_parseAddOnsCfg(l); };
const auto addOnXml = [](const Lines& l) { return lf_parseAddOnXml(l, "C:\\Add-ons\\Pkg"); };
const auto simObjectsCfg = [](const Lines& l) { return lf_parseSimObjectsCfg(l, "C:\\P3D"); };

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.what; }

class AddOnParse : public testing_support::ProgramEnv, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(AddOnParse, FindsTheFoldersToScan) {
    EXPECT_EQ(GetParam().parse(GetParam().lines), GetParam().folders);
}

INSTANTIATE_TEST_SUITE_P(
    Files, AddOnParse,
    ::testing::Values(
        ParseCase{"RequiredLinesAreNeverPaths", addOnsCfg,
                  {"[Package.0]", "PATH= C:\\AI\\Pkg \t", "REQUIRED_PATH=C:\\Other", "ACTIVE=true"},
                  {"C:\\AI\\Pkg"}},
        ParseCase{"OnlyPackagesCount", addOnsCfg,
                  {"[Discovery.0]", "PATH=C:\\Docs", "[Package.0]", "Path=D:\\P", "[Package.1]", "TITLE=AI Traffic"},
                  {"D:\\P"}},
        ParseCase{"AFolderNamedAfterAPackage", addOnsCfg,
                  {"[Package.0]", "PATH=C:\\AI\\My Package"}, {"C:\\AI\\My Package"}},
        ParseCase{"RelativePathsBelongToThePackage", addOnXml,
                  {"<AddOn.Component>", "  <Category>SimObjects</Category>", "  <Path>SimObjects\\Airplanes</Path>",
                   "<Category>SimObjects</Category>", "<Path>.\\SimObjects\\AI</Path>"},
                  {"C:\\Add-ons\\Pkg\\SimObjects\\Airplanes", "C:\\Add-ons\\Pkg\\SimObjects\\AI"}},
        ParseCase{"AbsolutePathsAreKept", addOnXml,
                  {"<Category>SimObjects</Category>", "<Path>D:\\AI\\SimObjects</Path>"}, {"D:\\AI\\SimObjects"}},
        ParseCase{"OtherComponentsAndOneLinersAddNothing", addOnXml,
                  {"<Category>Scenery</Category>", "<Path>Scenery</Path>",
                   "<Category>SimObjects</Category><Path>SimObjects\\One</Path>", "</AddOn.Component>",
                   "<Category>SimObjects</Category>", "<Path>C:\\Lights Reborn\\SimObjects</Path>"},
                  {}},
        ParseCase{"StandardFoldersAreSkipped", simObjectsCfg,
                  {"[Entry.0]", "Title=Path finder", "Path=SimObjects\\Airplanes", "Required=false", "[Entry.1]",
                   "Path=SimObjects\\Rotorcraft", "[Entry.2]", "Path = SimObjects\\AI Traffic ", "[Entry.3]",
                   "PATH=E:\\World AI"},
                  {"C:\\P3D\\SimObjects\\AI Traffic", "E:\\World AI"}}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.what); });

// The files themselves, where the simulator keeps them: add-ons.cfg in the roaming folder, simobjects.cfg on
// drive C:, paths in other letter case than on disk. Every folder found is one this machine can open.
class AddOnMachine : public testing_support::ProgramEnv {
protected:
    fs::path m_wine = m_root.path() / "wine";
    testing_support::ScopedEnv m_dos{"ZNTV_DOSDEVICES", m_wine.string()};
};

TEST_F(AddOnMachine, TheAutomaticFoldersAreThoseOfTheSimulatorsFiles) {
    const fs::path sim = m_root.path() / "sim" / "Prepar3D v5";
    const simtree::Tree tree = simtree::generate({.sim = sim, .appData = m_config, .wine = m_wine}, {});
    g_SIM_INSTALL_PATH.set(sim.string());
    openLog();

    EXPECT_EQ(lf_liveryFolders(), tree.folders);
    for (const std::string& folder : tree.folders) {
        if (folder == "C:\\Missing\\Folder") continue;
        const auto local = platform::mapSimPath(folder);
        EXPECT_TRUE(local && fs::is_directory(*local)) << folder;
    }
    EXPECT_TRUE(logHas("2 AI add-on packages found"));  // add-on.xml: AIG Traffic and FAIB
}

}  // namespace
