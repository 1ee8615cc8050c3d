// What the user learned or wrote survives a visit of the park airport: the load and merge of the learned
// file, the learning of the visit, the leave and its save, and the next visit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "airports/learned_folder.h"
#include "airports/renewal.h"
#include "airports/services.h"
#include "airports/stand_load.h"
#include "airports/stand_save.h"
#include "airports/static_parking.h"
#include "frame/exit.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "support/test_support.h"
#include "window/requests.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

const std::string kMeta = R"(<meta><info name="author" value="a"/><info name="date" value="d"/>)"
                          R"(<info name="version" value="v"/></meta>)";
const fs::path kLearned = "airports/learned/my_ORBX/EHAM.xml";
const std::string kOpt = R"(<opt reg="PHBXA" airl="KLM" type="B738" day="2" hh="10,11"/>)";

std::string parkpos(const std::string& id, const std::string& attributes, const std::string& options = "") {
    return "<parkpos id=\"" + id + "\" " + attributes + ">" + options + "</parkpos>";
}

std::string file(const std::string& meta, const std::string& params, const std::string& stands) {
    return meta + "<parameters><parameter name=\"airport_name\" value=\"Schiphol\"/>" + params +
           "</parameters><parkpositions>" + stands + "</parkpositions>";
}

// Twenty stands with one real option each: a good file of a large airport, where the load switches soft
// learning off.
std::string archivedFile() {
    std::string stands;
    for (int i = 0; i < 20; ++i) {
        stands += parkpos("S" + std::to_string(i),
                          "latitude=\"" + std::to_string(52.3 + 0.001 * i) + "\" longitude=\"4.76\" radius=\"20\"",
                          kOpt);
    }
    return file(kMeta, R"(<parameter name="publisher" value="simaddon"/><parameter name="altitude" value="-11"/>)",
                stands);
}

class LearnedKeep : public ::testing::Test {
protected:
    void SetUp() override {
        gf_openLog(m_dir / "Log.txt");
        fs::create_directories(kLearned.parent_path());
        fs::create_directories(g_myOrbxFolder);
        writeWholeFile(g_myOrbxFolder / "EHAM.xml", archivedFile());
    }
    void TearDown() override {
        gf_closeLog();
        gf_forgetUnsavedLearnedFiles();
        gf_resetExitFlags();
        g_appFolder = m_appFolder;
        g_LEARN_SOFT.reset();
    }
    // One visit: the load and merge, a learned option when asked, the leave (as the program's end does it
    // when `ending`).
    void visit(bool learn, bool ending = false) {
        g_parkAirportCode = "EHAM";
        ASSERT_EQ(lf_readParkedFile(), "");
        if (learn) {
            g_parkPositions[std::min<std::size_t>(3, g_parkPositions.size() - 1)].options.push_back(
                {.airline = "SWR", .type = "A320", .registration = "HBJLA", .callsign1 = "SWR1", .callsign2 = {},
                 .halfHours = HalfHourSet(4), .id = 9, .day = 3, .fromFile = 0, .real = 1});
            gf_countStandChange();
        }
        g_quitRequested = ending;
        lf_leaveParkAirport();
        gf_resetExitFlags();
    }
    std::string log() const { return readWholeFile(m_dir / "Log.txt"); }

    testing_support::TempDir m_dir;
    testing_support::ScopedCwd m_cwd{m_dir.path()};
    fs::path m_appFolder = g_appFolder;
};

TEST_F(LearnedKeep, EveryStandAndOptionOfTheUserStaysInTheLearnedFolder) {
    const std::string handmadeParam = R"(<parameter name="handmade" value="true"/>)";
    const std::string h1 = parkpos("H1", R"(latitude="52.1" longitude="4.1" radius="20")", kOpt);
    const std::string s5 = "</parkpositions><parkpositions>" + parkpos("S5", "", kOpt);
    const std::string placed = R"(latitude="52.2" longitude="4.2" radius="20")";
    struct Case {
        const char* what;
        std::string learned;  // empty: none
        bool learn;
        bool blocked;  // the learned folder cannot be made at the first leave
        std::vector<std::string> kept;  // stand ids and "id/registration"
        std::vector<std::string> logged;
        bool copiesThere = false;  // a hundred other copies leave no name for one more
        bool ending = false;       // the first leave is the program's end
    };
    const std::vector<Case> cases = {
        {"hand-made file with a duplicate id", file(kMeta, handmadeParam, h1 + h1), true, false, {"H1", "H1/PHBXA"},
         {"not taken whole (lf_readLearned: 94: Parking position H1 appears more than once?), kept as "
          "airports/learned/my_ORBX/EHAM.0.xml"}},
        {"incomplete meta block", file("<meta/>", "", parkpos("S1", "", kOpt)), false, false, {"S1", "S1/PHBXA"},
         {"not taken whole (meta data incorrect), kept as airports/learned/my_ORBX/EHAM.0.xml"}},
        {"what the merge skips", file(kMeta, "",
                                      parkpos("X9", R"(radius_change="true" radius="40")", kOpt) +
                                          parkpos("S1", R"(manual="true" latitude="52" longitude="4" radius="20")") +
                                          parkpos("M2", R"(manual="true" latitude="0" longitude="0" radius="20")") +
                                          parkpos("S2", "", kOpt)),
         true, false, {"X9", "X9/PHBXA", "M2", "S2/PHBXA", "S3/HBJLA"},
         {"4 elements of " + kLearned.string() + " kept for its next save"}},
        {"a failed save", "", true, true, {"S3/HBJLA"}, {", its learning is kept for the next save"}},
        {"a second parkpositions block", file(kMeta, "", parkpos("S2", "", kOpt) + s5), true, false,
         {"S5", "S5/PHBXA", "S3/HBJLA"},
         {"not taken whole (a second parkpositions block), kept as airports/learned/my_ORBX/EHAM.0.xml"}},
        {"a hand-made stand without a position", file(kMeta, handmadeParam, h1 + parkpos("H2", R"(radius="20")", kOpt)),
         true, false, {"H2", "H2/PHBXA", "H1/HBJLA"},
         {"handmade standid H2 has no position in airports/learned/my_ORBX/EHAM.xml, kept for its next save"}},
        {"no copy can be made", file("<meta/>", "", parkpos("S1", "", kOpt)), true, false, {"S1", "S1/PHBXA"},
         {"\"airports/learned/my_ORBX/EHAM.xml\" not saved over: no copy of the file there could be kept"}, true},
        {"a failed save at the program's end", "", true, true, {"S3/HBJLA"},
         {"did not succeed (create_directory: Not a directory: \"airports/learned/my_ORBX\")\n",
          "the learning for \"airports/learned/my_ORBX/EHAM.xml\" could not be saved (create_directory: Not a "
          "directory: \"airports/learned/my_ORBX\"), it is written to \"" + (m_dir.path() / "app/EHAM.unsaved.xml").string()},
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all("airports/learned");
        fs::remove_all("app");
        fs::create_directories(kLearned.parent_path().parent_path());
        g_appFolder = m_dir.path() / "app";
        g_LEARN_SOFT.set(true);
        std::vector<std::string> had = c.kept;
        if (!c.learned.empty()) {
            fs::create_directories(kLearned.parent_path());
            writeWholeFile(kLearned, c.learned);
            had = airports_test::learnedFolderEntries("airports/learned");
        }
        for (int n = 0; c.copiesThere && n < 100; ++n)
            writeWholeFile(kLearned.parent_path() / ("EHAM." + std::to_string(n) + ".xml"), "another copy");
        if (c.blocked) writeWholeFile(kLearned.parent_path(), "a file where the folder belongs");
        visit(c.learn, c.ending);
        if (c.blocked) fs::remove(kLearned.parent_path());
        visit(false);

        std::vector<std::string> now = airports_test::learnedFolderEntries("airports/learned");
        for (const std::string& entry : airports_test::learnedFolderEntries("app")) now.push_back(entry);
        for (const std::string& entry : c.kept) EXPECT_TRUE(airports_test::contains(now, entry)) << entry;
        for (const std::string& entry : had) EXPECT_TRUE(airports_test::contains(now, entry)) << entry;
        if ((!c.learn || c.copiesThere) && !c.learned.empty()) {
            EXPECT_EQ(readWholeFile(kLearned), c.learned);  // not rewritten
        }
        for (const std::string& line : c.logged) EXPECT_NE(log().find(line), std::string::npos) << line;
    }
}

// Loading a learned file, saving it and loading it again gives the same stands: a learned element that
// comes before the manual stand of its id is applied at the first load as at the second.
TEST_F(LearnedKeep, ASecondLoadFindsWhatTheFirstFound) {
    fs::create_directories(kLearned.parent_path());
    writeWholeFile(kLearned, file(kMeta, "",
                                  parkpos("M1", R"(radius_change="true" radius="22")", kOpt) +
                                      parkpos("M1", R"(manual="true" latitude="52.2" longitude="4.7" radius="30")")));
    std::vector<std::string> loads[2];
    for (std::vector<std::string>& stands : loads) {
        g_parkAirportCode = "EHAM";
        ASSERT_EQ(lf_readParkedFile(), "");
        for (const ParkPos& p : g_parkPositions) {
            stands.push_back(p.id + " " + std::to_string(std::lround(p.radius * 18520.0)) + " " +
                             std::to_string(p.options.size()));
        }
        gf_countStandChange();
        lf_leaveParkAirport();
    }
    EXPECT_EQ(loads[0], loads[1]);
    EXPECT_TRUE(airports_test::contains(loads[0], "M1 220 1"));
}

// Load, save, load, save writes the same file, parameters included: what the first load takes from the learned
// file is what the second load takes from the saved one. A radius change without a usable radius changes
// nothing (a manual stand it names keeps its radius, so the next load does not refuse it) and stays in the file
// as the user wrote it; a range without its AUTO_RANGE is applied under the switch in force.
TEST_F(LearnedKeep, LoadSaveLoadSaveWritesTheSameFile) {
    const std::string manual = parkpos("M1", R"(manual="true" latitude="52.2" longitude="4.7" radius="30")");
    const auto param = [](const char* name, const char* value) {
        return std::string("<parameter name=\"") + name + "\" value=\"" + value + "\"/>";
    };
    struct Case {
        const char* what;
        std::string learned;
        bool autoRange;  // the switch in force before the first load
        std::vector<std::string> logged = {};
    };
    const std::vector<Case> cases = {
        {"a radius change without a radius", file(kMeta, "", manual + parkpos("M1", R"(radius_change="true")")), true,
         {"radius change of stand M1 in " + kLearned.string() + " without a usable radius, nothing changed"}},
        {"a radius change with a misspelt radius",
         file(kMeta, "", manual + parkpos("M1", R"(radius_change="true" raduis="40")") +
                             parkpos("S4", R"(radius_change="yes" radius="0.01")")),
         true, {"radius change of stand S4 in " + kLearned.string() + " without a usable radius, nothing changed"}},
        {"a range without AUTO_RANGE, the automatic range on", file(kMeta, param("LATERAL_RANGE", "39"), manual),
         true},
        {"a range without AUTO_RANGE, the automatic range off", file(kMeta, param("LATERAL_RANGE", "39"), manual),
         false},
        // Found by fuzz_stand_load: what the merge carries keeps the order of the elements it came from; a
        // manual stand whose radius the save writes as 0.0 is refused (and carried) at once, not at the next load.
        {"carried elements around a deferred one",
         file(kMeta, "", parkpos("A9", "", kOpt) + parkpos("M1", R"(radius_change="true" raduis="40")") +
                             parkpos("X8", "") + manual +
                             parkpos("M2", R"(manual="true" latitude="52.3" longitude="4.7" radius="0.04")")),
         true, {"manually created standid M2 misses correct attributes"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all("airports/learned");
        fs::create_directories(kLearned.parent_path());
        writeWholeFile(kLearned, c.learned);
        g_LATERAL_RANGE.reset();
        g_AUTO_RANGE.set(c.autoRange);
        g_autoRangeManualValue = g_LATERAL_RANGE.value();
        gf_setDerivedTrafficRange(g_LATERAL_RANGE.value());
        std::size_t stands[2] = {};
        std::string saved[2];
        for (int round = 0; round < 2; ++round) {
            g_parkAirportCode = "EHAM";
            ASSERT_EQ(lf_readParkedFile(), "");
            stands[round] = g_parkPositions.size();
            const auto m1 = std::find_if(g_parkPositions.begin(), g_parkPositions.end(),
                                         [](const ParkPos& p) { return p.id == "M1"; });
            EXPECT_TRUE(m1 != g_parkPositions.end() && std::lround(m1->radius * 1852.0) == 30) << "round " << round;
            gf_countStandChange();
            lf_leaveParkAirport();
            const std::string text = readWholeFile(kLearned);
            saved[round] = text.substr(text.find("</meta>"));
        }
        EXPECT_EQ(stands[0], 21u);
        EXPECT_EQ(stands[1], stands[0]);
        EXPECT_EQ(saved[1], saved[0]);
        for (const std::string& line : c.logged) EXPECT_NE(log().find(line), std::string::npos) << line;
        if (c.learned.find("raduis") != std::string::npos) {
            EXPECT_NE(saved[0].find("raduis=\"40\""), std::string::npos);
        }
    }
    g_LATERAL_RANGE.reset();
    g_AUTO_RANGE.reset();
    gf_resetWindowRequests();
    gf_setDerivedTrafficRange(g_LATERAL_RANGE.value());
}

}  // namespace
