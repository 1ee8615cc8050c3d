// The livery step of the program's start-up on a generated simulator installation, against the update-server
// stand-in (the database and AIG-regcodes.zip): the scan with the folders found automatically or set by the
// user writes "LiveriesScanned.xml" and its reports, switches SCAN_LIVERIES off and builds the livery
// database; the next program start reads the file without scanning.
#include "run/run_test_env.h"

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "fixtures/simtree.h"
#include "liveries/database.h"
#include "liveries/livery_index.h"
#include "liveries/registrations.h"
#include "liveries/selection.h"
#include "service/service_standin.h"
#include "support/airport_list_file.h"

namespace run_test {
namespace {

const fs::path kGeneratedZip = fs::path(ZNTV_BINARY_DIR) / "dbase" / "dbase.zip";
const fs::path kTables = fs::path(ZNTV_SOURCE_DIR) / "testbed" / "fixtures" / "database";
const fs::path kSynthetic = fs::path(ZNTV_SOURCE_DIR) / "testbed" / "fixtures" / "synthetic_scenario.json";
const fs::path kZurich = fs::path(ZNTV_BINARY_DIR) / "scenarios" / "zurich.json";
const std::string kScanStarts = "++++++++++++++++++++++++ liveries scan {} starts ++++++++++++++++++++++++++++++++";

class LiveryScanStartUp : public RunEnv {
protected:
    void SetUp() override {
        RunEnv::SetUp();
        gf_clearDataBase();
        gf_clearLiveryDatabase();
        m_tree = simtree::generate({.sim = m_sim, .appData = m_config, .wine = m_wine, .program = m_program, .server = {}},
                                   {.scenarios = m_scenarios, .tables = kTables});
        testing_support::copyAirportList(m_program);
        m_service.start();
        m_service.update().putFile("dbase.zip", readWholeFile(kGeneratedZip));
        m_service.update().putFile("AIG-regcodes.zip", m_tree.aigRegcodesZip);
        m_url.emplace("ZNTV_UPDATE_URL", m_service.downloadsRoot());
        Subsystems s = fakes();
        s.readDataBase = [] { gf_readDataBase(); };
        s.liveriesScan = [this] {
            m_calls.add("liveriesScan");
            gf_liveriesScan();
        };
        s.liveryMatchingSummary = gf_liveryMatchingSummary;
        gf_setSubsystems(s);
    }
    void TearDown() override {
        RunEnv::TearDown();
        m_service.stop();
        gf_clearDataBase();
        gf_clearLiveryDatabase();
    }

    // title -> record of the stored scan.
    std::map<std::string, simtree::ExpectedLivery> storedLiveries() const {
        pugi::xml_document doc;
        std::map<std::string, simtree::ExpectedLivery> result;
        if (!doc.load_file((m_program / "output" / "LiveriesScanned.xml").c_str())) return result;
        for (pugi::xml_node liv : doc.child("liveries").children("liv")) {
            result[liv.attribute("title").value()] = {liv.attribute("airl").value(), liv.attribute("type").value(),
                                                      liv.attribute("atcid").value(), liv.attribute("cargo").as_bool()};
        }
        return result;
    }

    // The start of a new process: nothing of the last run's livery database or run state is left.
    void startAgain() {
        gf_clearLiveryDatabase();
        gf_clearDataBase();
        gf_resetMainWindowState();
        gf_resetWindowRequests();
        gf_resetExitFlags();
        gf_resetWorkLoopState();
        gf_resetStartUpState();
        lf_resetRunState();
        forgetWhatTestsSet();
        m_exitCode = -100;
        auto window = std::make_unique<ui::HeadlessBackend>();
        m_ui = window.get();
        ui::setBackend(std::move(window));
        openLog();  // the last run closed it; the program keeps the old one as Log0.txt
        startProgram();
    }

    // Every aircraft of the scenarios the demo plays, of an airline the database knows, finds a livery of its
    // own registration or of its airline and type. Asked once the run has ended: the work thread is gone.
    void expectScenarioAircraftMatch() {
        const std::uint32_t first = 10001;
        std::uint32_t hexid = first;
        for (const fs::path& file : m_scenarios) {
            const auto scenario = nlohmann::json::parse(readWholeFile(file));
            for (const char* list : {"aircraft", "parked"}) {
                for (const auto& entry : scenario.value(list, nlohmann::json::array())) {
                    AiAc ac;
                    ac.type = entry.value("type", "");
                    ac.registration = entry.value("registration", "");
                    ac.airline = entry.value("airline", "");
                    if (const auto record = gf_regcodeLookup(ac.registration); record && ac.airline.empty()) {
                        ac.airline = record->operatorCode.empty() ? record->airline : record->operatorCode;
                    }
                    if (!gf_isKnownAirline(ac.airline)) continue;
                    ac.category = gf_categoryOfModel(ac.type);
                    ac.hexId = hexid++;
                    const std::int32_t before = g_matchStepCounts[0] + g_matchStepCounts[1];
                    gf_selectLiveryForLiveAircraft(ac);
                    EXPECT_FALSE(ac.title.empty()) << file.filename() << " " << ac.registration;
                    EXPECT_EQ(g_matchStepCounts[0] + g_matchStepCounts[1], before + 1) << ac.registration;
                }
            }
        }
        EXPECT_GE(hexid - first, 5u);  // the synthetic scenario's parked aircraft of known airlines at least
    }

    // One start with SCAN_LIVERIES on (its default), then one more; `mode` is "automatic" or "manual".
    void scanThenRead(const std::string& mode) {
        startProgram();
        ASSERT_TRUE(workLoopRuns()) << gf_statusError();
        EXPECT_EQ(m_calls.count("liveriesScan"), 1);
        EXPECT_EQ(storedLiveries(), m_tree.liveries);
        for (const std::string& report : m_tree.reports) {
            EXPECT_TRUE(fs::exists(m_program / "output" / report)) << report;
        }
        EXPECT_EQ(stored("SCAN_LIVERIES"), "false");
        EXPECT_FALSE(g_SCAN_LIVERIES.value());
        EXPECT_TRUE(logHas(fmt::format("{} in total", m_tree.liveries.size())));
        // The database knows the liveries with their registrations: their own, the server's and the user's.
        EXPECT_EQ(gf_findOwnedTitle("ZNTV A320 Lufthansa D-AIZA"), g_regcodeLiveries.at("D-AIZA"));
        EXPECT_EQ(gf_findOwnedTitle("ZNTV B77W Swiss"), g_regcodeLiveries.at("HB-JNA"));
        EXPECT_EQ(gf_findOwnedTitle("ZNTV B738 Ryanair"), g_regcodeLiveries.at("EI-ZNA"));
        gf_requestExit(ExitReason::UserClosedSim, 0);
        ASSERT_TRUE(programEnded());
        EXPECT_TRUE(logContains("live traffic livery matching summary"));
        EXPECT_EQ(logCount("Matches at step: "), 1);
        expectScenarioAircraftMatch();

        startAgain();
        ASSERT_TRUE(workLoopRuns()) << gf_statusError();
        EXPECT_EQ(logCount(fmt::format(fmt::runtime(kScanStarts), mode)), 0);
        EXPECT_EQ(logCount(fmt::format("{} liveries read from output/LiveriesScanned.xml", m_tree.liveries.size())), 1);
        EXPECT_EQ(g_mainWindow.liveryCount.load(), m_tree.liveries.size());
        gf_requestExit(ExitReason::UserClosedSim, 0);
        ASSERT_TRUE(programEnded());
    }

    fs::path m_wine = m_root.path() / "wine";
    testing_support::ScopedEnv m_dos{"ZNTV_DOSDEVICES", m_wine.string()};
    const std::vector<fs::path> m_scenarios{kSynthetic, kZurich};
    simtree::Tree m_tree;
    standin::ServiceStandin m_service;
    std::optional<testing_support::ScopedEnv> m_url;
};

TEST_F(LiveryScanStartUp, TheAddOnPackagesAndSimObjectsFoldersAreScannedOnceAndReadAfterwards) {
    scanThenRead("automatic");
}

TEST_F(LiveryScanStartUp, TheUsersFoldersAreScannedOnceAndReadAfterwards) {
    std::string settings = "<parameter name=\"SIM_INSTALL_PATH\" value=\"" + m_sim.string() + "\"/>\n" +
                           "<parameter name=\"LIG_AUTOMATIC\" value=\"false\"/>\n";
    for (std::size_t i = 0; i < m_tree.manualFolders.size(); ++i) {
        settings += fmt::format("<parameter name=\"lfolder{}\" value=\"{}\"/>\n", i, m_tree.manualFolders[i]);
    }
    writeSettings(settings);
    scanThenRead("manual");
}

}  // namespace
}  // namespace run_test
