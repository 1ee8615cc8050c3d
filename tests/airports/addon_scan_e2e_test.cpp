// The add-on airport scan with a real scenery file, the Testfield Regional airport (KTST) that the simulator's
// scenery compiler made: the program scans the add-on folder of the simulator's scenery.cfg at its start, after
// which KTST becomes the park airport and its stands come from the generated stand file.
#include <filesystem>
#include <string>

#include "injection/program_run.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

fs::path lf_ktstBgl() {
    const fs::path fixtures = testing_support::sharedFixtures();
    return fixtures.empty() ? fixtures : fixtures / "bgl" / "KTST_TestAirport_v5.BGL";
}

std::size_t lf_count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class AddOnScanRun : public injection_test::ProgramRun {
protected:
    // Drive C: of Wine with the simulator's scenery.cfg; the add-on scenery folder in the simulator's folder,
    // named relative to it as installers do.
    void SetUp() override {
        if (!fs::exists(lf_ktstBgl())) GTEST_SKIP() << "no shared fixtures";
        m_programEnvironment["ZNTV_DOSDEVICES"] = (m_root / "wine").string();
        const fs::path programData = m_root / "c/ProgramData/Lockheed Martin/Prepar3D v5";
        fs::create_directories(programData);
        fs::create_directories(m_root / "wine/dosdevices");
        fs::create_directory_symlink(m_root / "c", m_root / "wine/dosdevices/c:");
        writeWholeFile(programData / "scenery.cfg",
                       "[General]\r\nTitle=Prepar3D Scenery\r\n\r\n[Area.001]\r\nTitle=Default Terrain\r\n"
                       "Local=Scenery\\World\r\nActive=TRUE\r\nRequired=TRUE\r\n\r\n[Area.002]\r\n"
                       "Title=Testfield Regional\r\nLocal=Addon Scenery\\Testfield\r\nActive=TRUE\r\nLayer=2\r\n");
        const fs::path scenery = m_root / "sim/Prepar3D v5/Addon Scenery/Testfield/scenery";
        fs::create_directories(scenery);
        // Decoded: the .BGL file and the one below "Statics"; left alone: the mixed-case extension, the
        // statics and the heliports.
        for (const char* name : {"KTST_TestAirport_v5.BGL", "Statics/KTST.bgl", "KTST.Bgl", "statics/KTST.bgl",
                                 "x_heliports/KTST.BGL"}) {
            fs::create_directories((scenery / name).parent_path());
            fs::copy_file(lf_ktstBgl(), scenery / name);
        }

        // KTST joins the airport list.
        const fs::path list = m_root / "program/input/airports_p3d.xml";
        std::string text = readWholeFile(list);
        const auto at = text.find("<airports>");
        ASSERT_NE(at, std::string::npos);
        text.insert(at + 10, "\n\t<airport code=\"KTST\" lat=\"41.351867\" lon=\"-89.153083\" alt=\"654\" />");
        writeWholeFile(list, text);
    }

    bool logHas(const std::string& text) const { return log().find(text) != std::string::npos; }
};

TEST_F(AddOnScanRun, TheStartUpScanMakesTheStandFileThatTheParkAirportLoads) {
    Run run;
    run.scanAirports = true;
    run.userLat = 41.3532;  // on KTST's parking spots
    run.userLon = -89.1508;
    run.userHeading = 90;
    run.groundAltitude = 654;
    ASSERT_NO_FATAL_FAILURE(start(run));

    ASSERT_TRUE(waitWhileRunning(20s, [&] { return logHas("airports scan ends"); })) << log();
    EXPECT_TRUE(logHas("      found:" + (m_root / "sim/Prepar3D v5").string() + "\\Addon Scenery\\Testfield"));
    EXPECT_TRUE(logHas("1 scenery add-on paths found")) << log();
    EXPECT_TRUE(logHas("Airports scan successful")) << log();
    const fs::path program = m_root / "program";
    EXPECT_TRUE(fs::exists(program / "airports/my_thirdparty/KTST.xml"));
    EXPECT_EQ(lf_count(readWholeFile(program / "output/info/AirportsScanLog.txt"), "Generated KTST.xml"), 2u);
    EXPECT_NE(readWholeFile(m_root / "config/ZNTV_P3D/parameters.xml")
                  .find("<parameter name=\"SCAN_AIRPORTS\" value=\"false\""),
              std::string::npos);

    ASSERT_TRUE(waitWhileRunning(30s, [&] { return logHas("The park airport is KTST"); })) << log();
    EXPECT_TRUE(waitWhileRunning(20s, [&] {
        return logHas("Airport file read from \"airports/my_thirdparty/KTST.xml\"");
    })) << log();
    EXPECT_TRUE(logHas("num_parkpos" + std::string(13, ' ') + ": 3")) << log();  // two parking spots, a helipad
}

// A stand file of the user's own for the add-on airport's code stays as the user wrote it: the scan with the
// add-on writes none beside it and says so in its log, and the scan after the add-on is switched off in the
// scenery library leaves it too.
TEST_F(AddOnScanRun, TheUsersStandFileOfAnAddOnAirportSurvivesTheScans) {
    const fs::path program = m_root / "program";
    const fs::path mine = program / "airports/my_thirdparty/KTST.xml";
    const std::string users =
        "<?xml version=\"1.0\"?>\n<meta>\n\t<info name=\"author\" value=\"me\" />\n\t<info name=\"date\" "
        "value=\"May 1, 2026\" />\n\t<info name=\"version\" value=\"1\" />\n</meta>\n<parameters>\n\t<parameter "
        "name=\"airport_name\" value=\"My Testfield\" />\n\t<parameter name=\"publisher\" value=\"me\" />\n\t"
        "<parameter name=\"handmade\" value=\"true\" />\n</parameters>\n<parkpositions>\n\t<parkpos id=\"MINE\" "
        "latitude=\"41.353200\" longitude=\"-89.150800\" heading=\"90.0\" radius=\"25.0\" cargo=\"false\" "
        "ramp=\"true\" />\n</parkpositions>\n";
    fs::create_directories(mine.parent_path());
    writeWholeFile(mine, users);
    Run run;
    run.scanAirports = true;
    ASSERT_NO_FATAL_FAILURE(start(run));
    ASSERT_TRUE(waitWhileRunning(20s, [&] { return logHas("airports scan ends"); })) << log();
    EXPECT_EQ(readWholeFile(mine), users);
    EXPECT_NE(readWholeFile(program / "output/info/AirportsScanLog.txt")
                  .find("airports/my_thirdparty/KTST.xml is the user's, the scan's stands of KTST not written\n"),
              std::string::npos);
    ASSERT_TRUE(stopProgram());

    // The add-on switched off; the user ticks the scan again.
    const fs::path cfg = m_root / "c/ProgramData/Lockheed Martin/Prepar3D v5/scenery.cfg";
    std::string text = readWholeFile(cfg);
    text.replace(text.rfind("Active=TRUE"), 11, "Active=FALSE");
    writeWholeFile(cfg, text);
    const fs::path parameters = m_root / "config/ZNTV_P3D/parameters.xml";
    text = readWholeFile(parameters);
    const std::string off = "<parameter name=\"SCAN_AIRPORTS\" value=\"false\"";
    ASSERT_NE(text.find(off), std::string::npos) << text;
    text.replace(text.find(off), off.size(), "<parameter name=\"SCAN_AIRPORTS\" value=\"true\"");
    writeWholeFile(parameters, text);
    fs::rename(program / "Log.txt", program / "Log1.txt");
    startProgram();
    ASSERT_TRUE(waitWhileRunning(20s, [&] { return logHas("airports scan ends"); })) << log();
    EXPECT_TRUE(logHas("0 scenery add-on paths found")) << log();
    EXPECT_EQ(readWholeFile(mine), users);
}

}  // namespace
