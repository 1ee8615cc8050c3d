// What the user learned or wrote survives a visit of the park airport: the load and merge of the learned
// file, the learning of the visit, the leave and its save, and the next visit.
#include <gtest/gtest.h>

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
#include "frame/log.h"
#include "frame/settings.h"
#include "support/test_support.h"

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
        g_LEARN_SOFT.reset();
    }
    // One visit: the load and merge, a learned option when asked, the leave.
    void visit(bool learn) {
        g_parkAirportCode = "EHAM";
        ASSERT_EQ(lf_readParkedFile(), "");
        if (learn) {
            g_parkPositions[3].options.push_back({.airline = "SWR", .type = "A320", .registration = "HBJLA",
                                                  .callsign1 = "SWR1", .callsign2 = {}, .halfHours = HalfHourSet(4),
                                                  .id = 9, .day = 3, .fromFile = 0, .real = 1});
            gf_countStandChange();
        }
        lf_leaveParkAirport();
    }
    std::string log() const { return readWholeFile(m_dir / "Log.txt"); }

    testing_support::TempDir m_dir;
    testing_support::ScopedCwd m_cwd{m_dir.path()};
};

TEST_F(LearnedKeep, EveryStandAndOptionOfTheUserStaysInTheLearnedFolder) {
    const std::string handmadeParam = R"(<parameter name="handmade" value="true"/>)";
    const std::string h1 = parkpos("H1", R"(latitude="52.1" longitude="4.1" radius="20")", kOpt);
    struct Case {
        const char* what;
        std::string learned;  // empty: none
        bool learn;
        bool blocked;  // the learned folder cannot be made at the first leave
        std::vector<std::string> kept;  // stand ids and "id/registration"
        std::string logged;
    };
    const std::vector<Case> cases = {
        {"hand-made file with a duplicate id", file(kMeta, handmadeParam, h1 + h1), true, false, {"H1", "H1/PHBXA"},
         "not taken whole (lf_readLearned: 94: Parking position H1 appears more than once?), kept as "
         "airports/learned/my_ORBX/EHAM.0.xml"},
        {"incomplete meta block", file("<meta/>", "", parkpos("S1", "", kOpt)), false, false, {"S1", "S1/PHBXA"},
         "not taken whole (meta data incorrect), kept as airports/learned/my_ORBX/EHAM.0.xml"},
        {"what the merge skips", file(kMeta, "",
                                      parkpos("X9", R"(radius_change="true" radius="40")", kOpt) +
                                          parkpos("S1", R"(manual="true" latitude="52" longitude="4" radius="20")") +
                                          parkpos("M2", R"(manual="true" latitude="0" longitude="0" radius="20")") +
                                          parkpos("S2", "", kOpt)),
         true, false, {"X9", "X9/PHBXA", "M2", "S2/PHBXA", "S3/HBJLA"}, "4 elements of " + kLearned.string() +
         " kept for its next save"},
        {"a failed save", "", true, true, {"S3/HBJLA"}, ", its learning is kept for the next save"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all("airports/learned");
        fs::create_directories(kLearned.parent_path().parent_path());
        g_LEARN_SOFT.set(true);
        std::vector<std::string> had = c.kept;
        if (!c.learned.empty()) {
            fs::create_directories(kLearned.parent_path());
            writeWholeFile(kLearned, c.learned);
            had = airports_test::learnedFolderEntries("airports/learned");
        }
        if (c.blocked) writeWholeFile(kLearned.parent_path(), "a file where the folder belongs");
        visit(c.learn);
        if (c.blocked) fs::remove(kLearned.parent_path());
        visit(false);

        const std::vector<std::string> now = airports_test::learnedFolderEntries("airports/learned");
        for (const std::string& entry : c.kept) EXPECT_TRUE(airports_test::contains(now, entry)) << entry;
        for (const std::string& entry : had) EXPECT_TRUE(airports_test::contains(now, entry)) << entry;
        if (!c.learn && !c.learned.empty()) {
            EXPECT_EQ(readWholeFile(kLearned), c.learned);  // not rewritten
        }
        EXPECT_NE(log().find(c.logged), std::string::npos) << c.logged;
    }
}

}  // namespace
