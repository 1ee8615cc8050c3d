// The park airport from end to end at Zurich: the program as a process with the service stand-in serving the
// Zurich scenario (live and parked traffic) and the LSZH stand file the build made from the recording, and the
// simulator stand-in in this process with the user aircraft standing on a LSZH stand.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <httplib.h>
#include <pugixml.hpp>

#include "airports/learned_folder.h"
#include "injection/program_run.h"

namespace {

using injection_test::ProgramRun;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing_support::readWholeFile;

const fs::path kScenario = fs::path(ZNTV_BINARY_DIR) / "scenarios" / "zurich.json";
const fs::path kServerRoot = fs::path(ZNTV_BINARY_DIR) / "server";
const fs::path kStandFile = kServerRoot / "P3D/archive/stock/LSZH.xml";

struct Stand {
    std::string id;
    double lat = 0, lon = 0, headingDeg = 0, radiusM = 0;
};

double lf_metres(double lat1, double lon1, double lat2, double lon2) {
    const double north = (lat2 - lat1) * 111120.0;
    const double east = (lon2 - lon1) * 111120.0 * std::cos((lat1 + lat2) / 2 * 3.141592653589793 / 180.0);
    return std::hypot(north, east);
}

class ParkAirport : public ProgramRun {
protected:
    void SetUp() override {
        m_stands = lszhStands();
        ASSERT_GE(m_stands.size(), 20u);
    }

    static std::vector<Stand> lszhStands() {
        pugi::xml_document doc;
        doc.load_file(kStandFile.c_str());
        std::vector<Stand> stands;
        for (const pugi::xml_node p : doc.child("parkpositions").children("parkpos"))
            stands.push_back({p.attribute("id").value(), p.attribute("latitude").as_double(),
                              p.attribute("longitude").as_double(), p.attribute("heading").as_double(),
                              p.attribute("radius").as_double()});
        return stands;
    }

    // The user aircraft on a stand that no parked aircraft of the scenario takes (they take every third).
    Run atZurich() const {
        Run run;
        run.serverRoot = kServerRoot;
        run.userLat = m_stands[1].lat;
        run.userLon = m_stands[1].lon;
        run.userHeading = m_stands[1].headingDeg;
        run.groundAltitude = 1416;
        return run;
    }

    // A live KLM aircraft standing at the stand all along: the program learns it there.
    static nlohmann::json standingAt(const Stand& stand) {
        nlohmann::json from = {{"t", 0},  {"lat", stand.lat}, {"lon", stand.lon}, {"alt", 1416},
                               {"gs", 0}, {"trk", stand.headingDeg}, {"vs", 0}, {"gnd", true}};
        nlohmann::json to = from;
        to["t"] = 100000;
        return {{"hex", "48c555"}, {"callsign", "KLM1234"}, {"registration", "PH-BXA"}, {"type", "B738"},
                {"airline", "KLM"}, {"origin", "AMS"}, {"destination", "ZRH"}, {"flight", "KL1234"},
                {"category", "A3"}, {"track", {from, to}}};
    }

    bool logHas(const std::string& text) const { return log().find(text) != std::string::npos; }

    std::vector<Stand> m_stands;
};

TEST_F(ParkAirport, ParkedTrafficAndTheStandFilesStatisticsFillZurichNeverTwoOnAStand) {
    writeLiveries("<liv airl=\"SWR\" type=\"A320\" title=\"Test SWISS A320\"/>"
                  "<liv airl=\"EDW\" type=\"A320\" title=\"Test Edelweiss A320\"/>"
                  "<liv airl=\"DLH\" type=\"A320\" title=\"Test Lufthansa A320\"/>");
    Run run = atZurich();
    run.scenarioFile = kScenario;
    ASSERT_NO_FATAL_FAILURE(start(run));
    ASSERT_TRUE(waitWhileRunning(90s, [&] { return logHas("The park airport is LSZH (ZRH)"); })) << log();
    ASSERT_TRUE(waitWhileRunning(60s, [&] { return logHas("Airport file read from \"archive/stock/LSZH.xml\""); }))
        << log();
    EXPECT_TRUE(waitWhileRunning(30s, [&] { return logHas("parking positions from PT"); })) << log();

    // The parked traffic's aircraft appear where the service reports them, on their stands.
    std::vector<std::pair<double, double>> parked;
    const nlohmann::json scenario = nlohmann::json::parse(readWholeFile(kScenario));
    for (const auto& p : scenario.at("parked"))
        if (!p.value("stand", "").empty()) parked.emplace_back(p.at("lat").get<double>(), p.at("lon").get<double>());
    const auto staticsCreated = [&] {
        std::size_t n = 0;
        for (const standin::ObjectState& o : m_sim->aiObjects())
            for (const auto& [lat, lon] : parked)
                if (lf_metres(o.latitude, o.longitude, lat, lon) < 5.0) ++n;
        return n;
    };
    EXPECT_TRUE(waitWhileRunning(120s, [&] { return staticsCreated() >= 2; })) << log();
    // Up to the wanted 30 % the stand file's statistics fill the stands: their aircraft on their own stands.
    const auto fromStatistics = [&] {
        for (const standin::ObjectState& o : m_sim->aiObjects())
            for (const Stand& st : m_stands)
                if (o.atcId.ends_with('*') && st.id >= "A20" && st.id <= "A24" &&
                    lf_metres(o.latitude, o.longitude, st.lat, st.lon) < 5.0)
                    return true;
        return false;
    };
    EXPECT_TRUE(waitWhileRunning(60s, fromStatistics)) << log();

    // Never two aircraft on one stand, nor on stands that overlap.
    const std::vector<standin::ObjectState> objects = m_sim->aiObjects();
    for (std::size_t i = 0; i < objects.size(); ++i)
        for (std::size_t j = i + 1; j < objects.size(); ++j) {
            if (!objects[i].onGround || !objects[j].onGround) continue;
            const double d = lf_metres(objects[i].latitude, objects[i].longitude, objects[j].latitude,
                                       objects[j].longitude);
            const bool onStand = std::any_of(m_stands.begin(), m_stands.end(), [&](const Stand& s) {
                return lf_metres(s.lat, s.lon, objects[i].latitude, objects[i].longitude) < s.radiusM;
            });
            if (onStand) {
                EXPECT_GT(d, 30.0) << objects[i].atcId << " and " << objects[j].atcId;
            }
        }
}

// The renewal every 20 minutes (the simulator's second and the program's clock twenty times faster): the
// service's parked traffic changes in between; the parked aircraft that it no longer reports leave their stands,
// the one it reports now is placed, the one it still reports stays where it stood. The parking band shows the
// stand file and its counts all along.
TEST_F(ParkAirport, ARenewalRemovesTheParkedAircraftThatAreGoneAndPlacesTheNewOnes) {
    writeLiveries("<liv airl=\"SWR\" type=\"A320\" title=\"Test SWISS A320\"/>"
                  "<liv airl=\"EDW\" type=\"A320\" title=\"Test Edelweiss A320\"/>"
                  "<liv airl=\"DLH\" type=\"A320\" title=\"Test Lufthansa A320\"/>");
    const auto parkedAt = [&](const char* hex, const Stand& st, const char* reg, const char* callsign) {
        return nlohmann::json{{"hex", hex}, {"lat", st.lat}, {"lon", st.lon}, {"stand", st.id}, {"type", "A320"},
                              {"registration", reg}, {"callsign", callsign}, {"age", 0}};
    };
    const Stand &gone = m_stands[6], &stays = m_stands[9], &comes = m_stands[12];
    const auto scenario = [](const std::vector<nlohmann::json>& parked) {
        return nlohmann::json{{"name", "renewal"}, {"loop", false}, {"aircraft", nlohmann::json::array()},
                              {"parked", parked}};
    };
    const fs::path before = m_root / "before.json", after = m_root / "after.json";
    testing_support::writeWholeFile(before, scenario({parkedAt("4b1801", gone, "HB-JLA", "SWR101"),
                                                      parkedAt("4b1802", stays, "HB-JLB", "SWR102")})
                                                .dump(1));
    testing_support::writeWholeFile(after, scenario({parkedAt("4b1802", stays, "HB-JLB", "SWR102"),
                                                     parkedAt("4b1803", comes, "HB-JLC", "SWR103")})
                                               .dump(1));
    Run run = atZurich();
    run.scenarioFile = before;
    run.simulatorSecond = 50ms;
    ASSERT_NO_FATAL_FAILURE(start(run));

    const auto standsTaken = [&] {
        std::vector<std::string> taken;
        for (const standin::ObjectState& o : m_sim->aiObjects())
            for (const Stand* st : {&gone, &stays, &comes})
                if (lf_metres(o.latitude, o.longitude, st->lat, st->lon) < 5.0) taken.push_back(st->id);
        std::sort(taken.begin(), taken.end());
        return taken;
    };
    ASSERT_TRUE(waitWhileRunning(120s, [&] {
        return standsTaken() == std::vector<std::string>{gone.id, stays.id};
    })) << log();
    const std::uint32_t stayerId = [&] {
        for (const standin::ObjectState& o : m_sim->aiObjects())
            if (lf_metres(o.latitude, o.longitude, stays.lat, stays.lon) < 5.0) return o.id;
        return 0u;
    }();
    // What the parking band shows: the park airport with its stand file, its 33 stands, the parked statics.
    ASSERT_TRUE(waitWhileRunning(30s, [&] { return screen().find("# stands:  33") != std::string::npos; }))
        << screen();
    const std::string band = screen();
    EXPECT_NE(band.find("LSZH"), std::string::npos) << band;
    EXPECT_NE(band.find("parked static:"), std::string::npos) << band;
    EXPECT_NE(band.find("max park:  10 (=30 %)"), std::string::npos) << band;

    httplib::Client control("127.0.0.1", std::stoi(m_servicePort));
    const auto posted = control.Post("/control/live/scenario", httplib::Params{{"path", after.string()}});
    ASSERT_TRUE(posted && posted->status == 200);

    // The first renewal comes after 1200 simulator seconds (a minute here) and a quarter of a minute of
    // collecting the traffic seen.
    ASSERT_TRUE(waitWhileRunning(150s, [&] {
        return standsTaken() == std::vector<std::string>{stays.id, comes.id};
    })) << log();
    EXPECT_TRUE(logHas("Parking adjustments:")) << log();
    bool stayerKept = false;
    for (const standin::ObjectState& o : m_sim->aiObjects()) stayerKept = stayerKept || o.id == stayerId;
    EXPECT_TRUE(stayerKept) << "the aircraft still reported was replaced";
}

// The park airport's stand file cut short on the update server: the status line names the file, why it did
// not load and that parking at Zurich is off, in the error's colours, through every retry that finds it broken
// again, and the line goes once the server has a good file again and it is loaded.
TEST_F(ParkAirport, AStandFileThatDoesNotLoadIsARedLineUntilAGoodOneIs) {
    const fs::path root = m_root / "server";
    fs::copy(kServerRoot, root, fs::copy_options::recursive);
    const fs::path file = root / "P3D/archive/stock/LSZH.xml";
    const std::string good = readWholeFile(kStandFile);
    testing_support::writeWholeFile(file, good.substr(0, good.size() / 2));
    Run run = atZurich();
    run.serverRoot = root;
    run.simulatorSecond = 50ms;
    ASSERT_NO_FATAL_FAILURE(start(run));

    const std::string failed = "archive/stock/LSZH.xml could not be loaded: ";
    const auto redLine = [&] {
        const std::string shown = screen();
        const auto at = shown.find(failed);
        if (at == std::string::npos) return false;
        const std::string line = shown.substr(at, shown.find('\n', at) - at);
        return line.ends_with("; no parking at LSZH until its stand file loads\t#ffff00 on #ff0000");
    };
    ASSERT_TRUE(waitWhileRunning(90s, redLine)) << screen() << log();
    // The retries find it broken again: the line stays through them.
    const auto failures = [&] {
        const std::string text = log();
        std::size_t n = 0;
        for (auto at = text.find(failed); at != std::string::npos; at = text.find(failed, at + 1)) ++n;
        return n;
    };
    ASSERT_TRUE(waitWhileRunning(60s, [&] { return failures() >= 3; })) << log();
    EXPECT_TRUE(redLine()) << screen();

    testing_support::writeWholeFile(file, good);
    ASSERT_TRUE(waitWhileRunning(60s, [&] { return logHas("Airport file read from \"archive/stock/LSZH.xml\""); }))
        << log();
    EXPECT_TRUE(waitWhileRunning(10s, [&] { return screen().find(failed) == std::string::npos; })) << screen();
    EXPECT_TRUE(m_program->running());
}

// A live KLM aircraft standing on a stand all along: the program learns it there, writes the learned file when
// it leaves the park airport at its exit, and reads that file at the next activation. A kill takes the program
// down without any save: the learned file stays as it was.
TEST_F(ParkAirport, TheLearnedFileWrittenOnLeavingIsReadAtTheNextActivationAndAKillLeavesItWhole) {
    const Stand& stand = m_stands[4];
    Run run = atZurich();
    run.aircraft = {standingAt(stand)};
    ASSERT_NO_FATAL_FAILURE(start(run));
    ASSERT_TRUE(waitWhileRunning(90s, [&] { return logHas("Airport file read from \"archive/stock/LSZH.xml\""); }))
        << log();
    ASSERT_TRUE(waitWhileRunning(60s, [&] { return aiObject("KLM1234").has_value(); })) << log();
    // A minute of the program's time at the stand (the program runs twenty times faster).
    std::this_thread::sleep_for(3s);
    ASSERT_TRUE(stopProgram());
    const std::string firstLog = readWholeFile(m_root / "program/Log.txt");
    EXPECT_NE(firstLog.find("airports/learned/stock/LSZH.xml\" saved with"), std::string::npos) << firstLog;
    const fs::path learned = m_root / "program/airports/learned/stock/LSZH.xml";
    const std::string written = readWholeFile(learned);
    EXPECT_NE(written.find("reg=\"PH-BXA\""), std::string::npos) << written;

    startProgram();
    ASSERT_TRUE(waitWhileRunning(90s, [&] {
        return logHas("Read from learned airport file: \"airports/learned/stock/LSZH.xml\"");
    })) << log();
    EXPECT_FALSE(logHas("could not be loaded")) << log();
    m_program->signal(SIGKILL);
    m_program->waitForExit(15s);
    m_program.reset();
    EXPECT_EQ(readWholeFile(learned), written);
}

// A user's learned files that the program cannot take as they are: a hand-made one with a stand twice, one
// whose meta block lacks its version, and one with options of a stand the server's file no longer has. Each
// goes through a visit with learning, a Ctrl-C exit and a second start: every stand and option the user had
// is still in the learned folder.
TEST_F(ParkAirport, TheUsersLearnedFilesSurviveAVisitACtrlCAndASecondStart) {
    const std::string meta = R"(<meta><info name="author" value="me"/><info name="date" value="2026-01-01"/>)"
                             R"(<info name="version" value="1.0"/></meta>)";
    const std::string opt = R"(<opt reg="HB-JXA" airl="SWR" type="A320" day="3" hh="20,21"/>)";
    const Stand& s0 = m_stands[0];
    const std::string full = fmt::format(R"(<parkpos id="{}" latitude="{:.6f}" longitude="{:.6f}" heading="{}" )"
                                         R"(radius="{}" cargo="false" ramp="false">{}</parkpos>)",
                                         s0.id, s0.lat, s0.lon, s0.headingDeg, s0.radiusM, opt);
    const auto file = [](const std::string& metaBlock, const std::string& params, const std::string& stands) {
        return metaBlock + R"(<parameters><parameter name="airport_name" value="Zurich"/>)" + params +
               "</parameters><parkpositions>" + stands + "</parkpositions>";
    };
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"hand-made, a stand twice", file(meta, R"(<parameter name="handmade" value="true"/>)", full + full)},
        {"meta block without version",
         file(R"(<meta><info name="author" value="me"/><info name="date" value="2026-01-01"/></meta>)", "",
              "<parkpos id=\"" + m_stands[3].id + "\">" + opt + "</parkpos>")},
        {"a stand the server lacks", file(meta, "", "<parkpos id=\"GONE7\">" + opt + "</parkpos>")},
    };
    // The KLM aircraft standing at a stand: each visit learns it, and the exit saves the learned file.
    Run run = atZurich();
    run.aircraft = {standingAt(m_stands[4])};
    run.simulatorSecond = 50ms;
    const fs::path folder = m_root / "program/airports/learned";
    const auto ctrlC = [&] {
        m_program->signal(SIGINT);
        EXPECT_TRUE(m_program->waitForExit(30s).has_value());
        m_program.reset();
        // The next run's log lines are then its own.
        fs::remove(m_root / "program/Log.txt");
    };
    bool first = true;
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(folder);
        fs::create_directories(folder / "stock");
        testing_support::writeWholeFile(folder / "stock/LSZH.xml", text);
        const std::vector<std::string> had = airports_test::learnedFolderEntries(folder);
        ASSERT_FALSE(had.empty());
        if (first) {
            ASSERT_NO_FATAL_FAILURE(start(run));
            first = false;
        } else {
            startProgram();
        }
        // The visit: the stand file and the learned file read, the KLM aircraft learned at its stand.
        ASSERT_TRUE(waitWhileRunning(90s, [&] { return logHas("Airport file read from"); })) << log();
        ASSERT_TRUE(waitWhileRunning(60s, [&] { return aiObject("KLM1234").has_value(); })) << log();
        std::this_thread::sleep_for(3s);
        ctrlC();
        startProgram();
        ASSERT_TRUE(waitWhileRunning(90s, [&] { return logHas("Airport file read from"); })) << log();
        ctrlC();

        const std::vector<std::string> now = airports_test::learnedFolderEntries(folder);
        for (const std::string& entry : had) EXPECT_TRUE(airports_test::contains(now, entry)) << entry;
    }
}

}  // namespace
