#include "platform/simpath.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;
namespace fs = std::filesystem;
using platform::mapSimPath;

namespace {

class SimPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_sim / "Scenery" / "World" / "scenery");
        writeWholeFile(m_sim / "Scenery" / "World" / "scenery" / "APX.bgl", "");
        fs::create_directories(m_dir / "drive_c" / "Program Files" / "Lockheed Martin" / "Prepar3D v5");
        fs::create_directories(m_dir / "prefix" / "dosdevices");
        fs::create_symlink(m_dir / "drive_c", m_dir / "prefix" / "dosdevices" / "c:");
    }

    TempDir m_dir;
    fs::path m_sim = m_dir / "sim";
    ScopedEnv m_dos{"ZNTV_DOSDEVICES", (m_dir / "prefix").string()};
};

}  // namespace

TEST_F(SimPathTest, RelativePathsFindTheirFilesWhateverTheCase) {
    const fs::path file = m_sim / "Scenery" / "World" / "scenery" / "APX.bgl";
    EXPECT_EQ(mapSimPath("Scenery\\World\\scenery\\APX.bgl", m_sim), file);
    EXPECT_EQ(mapSimPath("SCENERY\\world\\Scenery\\apx.BGL", m_sim), file);
    EXPECT_EQ(mapSimPath("scenery/world//SCENERY\\.\\apx.bgl", m_sim / ""), file);
    EXPECT_EQ(mapSimPath("..\\..\\SIM\\scenery\\World\\NotThere\\..\\scenery\\apx.bgl", m_sim / "Scenery"), file);
    // What does not exist is kept as written, below what does.
    EXPECT_EQ(mapSimPath("scenery\\Missing\\Sub\\x.cfg", m_sim), m_sim / "Scenery" / "Missing" / "Sub" / "x.cfg");
    // Without a base the result stays relative to the working folder.
    EXPECT_EQ(mapSimPath("Some\\Where", {}), fs::path("Some") / "Where");
}

TEST_F(SimPathTest, AnExactNameBeatsOneThatDiffersInCase) {
    fs::create_directory(m_sim / "scenery");
    EXPECT_EQ(mapSimPath("scenery", m_sim), m_sim / "scenery");
    EXPECT_EQ(mapSimPath("Scenery", m_sim), m_sim / "Scenery");
    EXPECT_EQ(mapSimPath("SCENERY", m_sim), m_sim / "Scenery");  // the first in name order, every time
}

TEST_F(SimPathTest, DriveLettersGoThroughTheDosDevicesLinks) {
    const fs::path p3d = m_dir / "drive_c" / "Program Files" / "Lockheed Martin" / "Prepar3D v5";
    EXPECT_EQ(mapSimPath("C:\\Program Files\\Lockheed Martin\\Prepar3D v5\\", {}), p3d);
    EXPECT_EQ(mapSimPath("c:/program files/LOCKHEED MARTIN/prepar3d V5", m_sim), p3d);  // base is ignored
    EXPECT_EQ(mapSimPath("\\\\?\\C:\\Program Files\\Lockheed Martin\\Prepar3D v5", {}), p3d);
    EXPECT_EQ(mapSimPath("C:\\..\\..\\Program Files", {}), m_dir / "drive_c" / "Program Files");  // stops at the root
    EXPECT_EQ(mapSimPath("C:", {}), m_dir / "drive_c");

    EXPECT_EQ(mapSimPath("D:\\P3D", {}), std::nullopt);
    {
        // Pointing the variable at the dosdevices folder itself works as well.
        ScopedEnv dos("ZNTV_DOSDEVICES", (m_dir / "prefix" / "dosdevices").string());
        EXPECT_EQ(mapSimPath("C:\\", {}), m_dir / "drive_c");
    }
    ScopedEnv unset("ZNTV_DOSDEVICES", std::nullopt);
    EXPECT_EQ(mapSimPath("C:\\Program Files", {}), std::nullopt);
}

TEST_F(SimPathTest, NetworkPathsCannotBeReached) {
    EXPECT_EQ(mapSimPath("\\\\server\\share\\P3D", m_sim), std::nullopt);
    EXPECT_EQ(mapSimPath("//server/share", m_sim), std::nullopt);
    EXPECT_EQ(mapSimPath("\\\\?\\UNC\\server\\share", m_sim), std::nullopt);
}

TEST_F(SimPathTest, ARootedPathStartsAtTheFileSystemRoot) {
    EXPECT_EQ(mapSimPath(m_sim.string() + "/SCENERY", fs::path("/elsewhere")), m_sim / "Scenery");
}
