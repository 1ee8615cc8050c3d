// The start-up of the whole program in the test's process, against the update-server stand-in that serves the
// database the build generated: the containers are filled, "temp2.xml" and "dbase.zip" are gone. A database that
// cannot be read stops the start-up with its error, and the next start-up reads a good one afresh.
#include "run/run_test_env.h"

#include <fmt/format.h>

#include "database_tables.h"
#include "frame/zip_builder.h"
#include "liveries/database.h"
#include "liveries/registrations.h"
#include "service/service_standin.h"

namespace run_test {
namespace {

const fs::path kGeneratedZip = fs::path(ZNTV_BINARY_DIR) / "dbase" / "dbase.zip";
const fs::path kGeneratedXml = fs::path(ZNTV_BINARY_DIR) / "dbase" / "temp2.xml";

class DatabaseStartUp : public RunEnv {
protected:
    void SetUp() override {
        RunEnv::SetUp();
        gf_clearDataBase();
        m_service.start();
        m_url.emplace("ZNTV_UPDATE_URL", m_service.downloadsRoot());
        Subsystems s = fakes();
        s.readDataBase = [this] {
            m_calls.add("readDataBase");
            gf_readDataBase();
        };
        gf_setSubsystems(s);
    }
    void TearDown() override {
        RunEnv::TearDown();
        m_service.stop();
        gf_clearDataBase();
    }
    void serveGenerated() { m_service.update().putFile("dbase.zip", readWholeFile(kGeneratedZip)); }
    void serve(const std::string& temp2) {
        const fs::path zip = m_root.path() / "bad.zip";
        testing_support::writeZip(zip, {{"temp2.xml", temp2}});
        m_service.update().putFile("dbase.zip", readWholeFile(zip));
    }
    bool leftNothingBehind() const {
        return !fs::exists(m_program / "input" / "temp2.xml") && !fs::exists(m_program / "dbase.zip");
    }
    static std::size_t occurrences(const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    }

    standin::ServiceStandin m_service;
    std::optional<testing_support::ScopedEnv> m_url;
};

TEST_F(DatabaseStartUp, TheStartUpReadsTheGeneratedDatabase) {
    serveGenerated();
    startProgram();
    ASSERT_TRUE(workLoopRuns());
    EXPECT_EQ(m_calls.count("readDataBase"), 1);
    EXPECT_TRUE(leftNothingBehind());

    const std::string xml = readWholeFile(kGeneratedXml);
    EXPECT_GT(g_knownModels.size(), 250u);
    EXPECT_GT(g_icaoAirlines.size(), 250u);
    EXPECT_EQ(g_regcodeDb.size(), occurrences(xml, "<db "));
    EXPECT_EQ(g_similarModelGroups.size(), occurrences(xml, "<similar "));
    EXPECT_EQ(g_publisherGroups.size(), occurrences(xml, "<pub "));
    EXPECT_FALSE(g_thirdPartyAirports.empty());
    EXPECT_FALSE(g_modelFixes.empty());
    EXPECT_GT(g_maxHalfWingSpan, 0.0);
    // The tables are consistent: the reader had nothing to complain about.
    for (const char* complaint : {"already exists", "no valid model", "wrong fix", "Unencrypted"}) {
        EXPECT_FALSE(logContains(complaint)) << complaint;
    }
    // Every aircraft of the demo scenario is known with the type it flies as.
    const struct {
        const char* registration;
        const char* type;
    } demo[] = {{"HBJLT", "A320"},  {"ZS-ZWP", "B738"}, {"9H-VCA", "CL35"}, {"SP-ENU", "B738"}, {"SX-DVK", "A320"},
                {"HB-JCP", "BCS3"}, {"C-FRSE", "B789"}, {"HB-JHK", "A333"}, {"HB-IOL", "A321"}, {"HB-JLP", "A320"},
                {"HB-JLQ", "A320"}, {"HB-IOM", "A321"}, {"HB-JDA", "A20N"}, {"HB-AZA", "E295"}, {"HB-JNB", "B77W"},
                {"HB-JHE", "A333"}, {"HB-JBD", "BCS1"}, {"HB-JGR", "CL35"}};
    for (const auto& ac : demo) {
        EXPECT_EQ(gf_regcodeField2(ac.registration), ac.type) << ac.registration;
        EXPECT_TRUE(gf_isKnownModel(ac.type)) << ac.type;
    }
    EXPECT_EQ(gf_categoryOfModel("B77W"), 3u);
    EXPECT_EQ(gf_regcodeField3("HB-AZA"), "SWR");

    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
}

TEST_F(DatabaseStartUp, AnUnreadableDatabaseStopsTheStartUpAndTheNextOneReadsAfresh) {
    // Everything but the last required list: the reader has filled most containers when it fails.
    database_test::DbXml broken;
    broken.sections["similar_types"] = {"<similar types=\"" + database_test::scrambledTypes({"A320", "A321"}) + "\"/>"};
    broken.sections.erase("simaddonsP3D");
    serve(broken.text());
    startProgram();
    const std::string error = "61: In an xml file section simaddonsP3D simaddonP3D arpts is empty ";
    ASSERT_TRUE(waitFor([&] { return gf_statusError() == error; }));
    EXPECT_TRUE(logHas("Error " + error));
    EXPECT_EQ(m_calls.count("readAirports"), 0);  // the start-up went no further
    EXPECT_EQ(m_simulator.linkStarts.load(), 0);
    EXPECT_TRUE(g_knownModels.empty() && g_similarModelGroups.empty());
    EXPECT_TRUE(leftNothingBehind());

    // The user mends what the error names (here: the server gets a good database) and the program restarts.
    serveGenerated();
    gf_requestExit(ExitReason::NewSettings, 0);
    ASSERT_TRUE(workLoopRuns());
    EXPECT_EQ(m_calls.count("readDataBase"), 2);
    EXPECT_EQ(g_similarModelGroups.size(), occurrences(readWholeFile(kGeneratedXml), "<similar "));
    EXPECT_TRUE(leftNothingBehind());

    gf_requestExit(ExitReason::UserClosedSim, 0);
    ASSERT_TRUE(programEnded());
}

TEST_F(DatabaseStartUp, WithoutADatabaseOnTheServerTheRunEndsAsASystemError) {
    startProgram();  // the server answers 404
    ASSERT_TRUE(programEnded());
    EXPECT_TRUE(logContains("data base could not be read from on-line?"));
    EXPECT_EQ(m_calls.count("readAirports"), 0);
    EXPECT_TRUE(g_knownModels.empty());
    EXPECT_TRUE(leftNothingBehind());
}

}  // namespace
}  // namespace run_test
