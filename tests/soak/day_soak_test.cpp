// A whole day of traffic over Switzerland through the program: build/bin/ZNTV_P3D as a process, the service
// stand-in playing the day (scenarios/switzerland_day.json, made by the build from the shared recording) many
// times faster than real time, and the simulator stand-in in this process with the user parked at Zurich. Zurich
// is the park airport: the update server serves its stand file (the one the build makes from the Zurich
// recording) and the service reports the Zurich scenario's parked aircraft, so the stands fill with static
// aircraft and the parking is renewed every 20 minutes of the program (its simulator second is shortened).
//
// The program itself runs in real time (its 10 ms tick and the simulator's second are not scaled; its time
// scale only shortens its start-up and exit waits), so every aircraft it sees moves that many times faster
// than it flew, and comes and goes within seconds: a day of creations and removals in a quarter of an hour.
//
// Watched all along: the program keeps running; its memory (VmRSS, VmHWM of /proc/<pid>/status) stays within
// a bound and does not grow from an early plateau to the last hour; the stand-in never holds two objects of
// one aircraft at once (same ATC id); no object but a static one (its ATC id ends with '*') stays in the
// stand-in without the program moving it (an object it forgot); after the day only static aircraft are left,
// and after the exit nothing the program created. The figures
// go to the output and to <build>/soak/figures.txt.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <nlohmann/json.hpp>

#include "injection/program_run.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using injection_test::kDatabase;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

const fs::path kScenario = fs::path(ZNTV_BINARY_DIR) / "scenarios" / "switzerland_day.json";
const fs::path kZurichScenario = fs::path(ZNTV_BINARY_DIR) / "scenarios" / "zurich.json";
const fs::path kServerRoot = fs::path(ZNTV_BINARY_DIR) / "server";
const fs::path kStandFile = kServerRoot / "P3D/archive/stock/LSZH.xml";
const fs::path kFigures = fs::path(ZNTV_BINARY_DIR) / "soak" / "figures.txt";

// The user parked at Zurich (field elevation 1416 ft).
constexpr double kUserLat = 47.4612, kUserLon = 8.5535, kFieldFt = 1416;
// The service plays the day this many times faster (ZNTV_SOAK_SCALE overrides): 17 hours in about 16 minutes.
constexpr double kDefaultScale = 64;
// The simulator's second, which paces the program's timers: the parking renewal comes every 5 minutes here.
constexpr auto kSimulatorSecond = 250ms;
// The program plays the reports 30 s behind the service and removes an aircraft some time after its last
// report: after the last report of the day everything must be gone within this.
constexpr auto kEmptyAfterEnd = 180s;
// An object that the program has not moved for this long is one it no longer knows (every aircraft of the day
// is airborne and moving; static aircraft stand still and are left out).
constexpr double kForgottenAfterS = 60;
// Memory: the whole run stays below the absolute bound, and the last hour's level within a margin of the
// early plateau (scenario hours 1 to 3, after the start-up and the first fill of the sky).
constexpr double kAbsoluteBoundMb = 128;
constexpr double kGrowthFactor = 1.25, kGrowthSlackMb = 8;

struct MemorySample {
    double scenarioT = 0;
    double rssMb = 0, hwmMb = 0;
};

std::optional<MemorySample> lf_memoryOf(pid_t pid, double scenarioT) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    if (!status) return std::nullopt;
    MemorySample s{scenarioT};
    for (std::string line; std::getline(status, line);) {
        std::istringstream in(line);
        std::string key;
        double kb = 0;
        in >> key >> kb;
        if (key == "VmRSS:") s.rssMb = kb / 1024;
        if (key == "VmHWM:") s.hwmMb = kb / 1024;
    }
    return s;
}

// Static aircraft carry a '*' at the end of their callsign.
bool lf_isStatic(const std::string& atcId) { return atcId.ends_with('*'); }

double lf_median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// What the stand-in's trace says of the AI objects: creations and removals in order, and the last time each
// live object was moved. Read as the file grows.
class TraceWatch {
public:
    explicit TraceWatch(fs::path file) : m_file(std::move(file)) {}

    void poll() {
        std::ifstream in(m_file, std::ios::binary);
        if (!in) return;
        in.seekg(static_cast<std::streamoff>(m_offset));
        std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const auto lastNewline = chunk.rfind('\n');
        if (lastNewline == std::string::npos) return;
        m_offset += lastNewline + 1;
        std::istringstream lines(chunk.substr(0, lastNewline + 1));
        for (std::string line; std::getline(lines, line);) take(line);
    }

    // Objects but static ones not moved for `seconds` by trace time `now`.
    std::vector<std::string> unmovedFor(double seconds, double now) const {
        std::vector<std::string> out;
        for (const auto& [id, o] : m_live)
            if (!lf_isStatic(o.atcId) && now - o.lastMoved > seconds)
                out.push_back(fmt::format("{} (object {}, created at {:.1f} s, last moved at {:.1f} s)", o.atcId, id,
                                          o.created, o.lastMoved));
        return out;
    }

    std::size_t created = 0, removed = 0, peakLive = 0;
    double lastT = 0;
    std::vector<std::string> twice;  // an aircraft created while an object of it was still there
    std::size_t live() const { return m_live.size(); }
    std::size_t liveMoving() const {
        return static_cast<std::size_t>(
            std::count_if(m_live.begin(), m_live.end(), [](const auto& e) { return !lf_isStatic(e.second.atcId); }));
    }
    std::size_t staticsCreated = 0;

private:
    struct Live {
        std::string atcId;
        double created = 0, lastMoved = 0;
    };

    void take(const std::string& line) {
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_discarded()) return;
        const std::string event = j.value("event", "");
        const auto id = j.value("id", 0u);
        const double t = j.value("t", 0.0);
        lastT = std::max(lastT, t);
        if (event == "create") {
            const std::string atcId = j.value("atcId", "");
            for (const auto& [otherId, o] : m_live)
                if (o.atcId == atcId)
                    twice.push_back(fmt::format("{} created as object {} at {:.1f} s while object {} (created at "
                                                "{:.1f} s) was still there",
                                                atcId, id, t, otherId, o.created));
            m_live[id] = {atcId, t, t};
            ++created;
            if (lf_isStatic(atcId)) ++staticsCreated;
            peakLive = std::max(peakLive, m_live.size());
        } else if (event == "remove") {
            m_live.erase(id);
            ++removed;
        } else if (const auto it = m_live.find(id); it != m_live.end()) {
            it->second.lastMoved = t;
        }
    }

    fs::path m_file;
    std::size_t m_offset = 0;
    std::map<std::uint32_t, Live> m_live;
};

class DayOfTraffic : public injection_test::ProgramRun {
protected:
    void SetUp() override {
        for (const fs::path& file : {kScenario, kZurichScenario, kStandFile, testing_support::kBuiltAirportList,
                                     kDatabase})
            if (!fs::exists(file)) GTEST_SKIP() << file << " was not made (no shared fixtures?)";
        writeScenarioAndLiveries();
    }

    // The day with the parked aircraft of Zurich, and one livery for every airline and type of either (and of the
    // stand file's statistics), so that every aircraft finds a title.
    void writeScenarioAndLiveries() {
        nlohmann::json scenario = nlohmann::json::parse(readWholeFile(kScenario));
        scenario["parked"] = nlohmann::json::parse(readWholeFile(kZurichScenario)).at("parked");
        writeWholeFile(m_root / "scenario.json", scenario.dump());
        m_duration = 0;
        std::set<std::pair<std::string, std::string>> kinds;
        for (const auto& ac : scenario.at("aircraft")) {
            kinds.emplace(ac.value("airline", ""), ac.value("type", ""));
            m_duration = std::max(m_duration, ac.at("track").back().at("t").get<double>());
        }
        for (const auto& p : scenario.at("parked"))
            kinds.emplace(p.value("callsign", "").substr(0, 3), p.value("type", ""));
        for (const char* airline : {"SWR", "EDW", "DLH"}) kinds.emplace(airline, "A320");
        m_flights = scenario.at("aircraft").size();
        std::string liv;
        for (const auto& [airline, type] : kinds)
            liv += fmt::format("<liv airl=\"{}\" type=\"{}\" title=\"Soak {} {}\"/>", airline.empty() ? "ZZZ" : airline,
                               type, airline.empty() ? "private" : airline, type);
        writeLiveries(liv);
    }

    void startDay(double scale) {
        Run run;
        run.scenarioFile = m_root / "scenario.json";
        run.serverRoot = kServerRoot;
        run.startAt = 0;
        run.timeScale = scale;
        // Only the start-up and exit waits: the work loop and the service's pace stay real time.
        run.programTimeScale = 0.05;
        run.simulatorSecond = kSimulatorSecond;
        run.keepRequests = false;  // a day of requests would only fill this process
        run.userLat = kUserLat;
        run.userLon = kUserLon;
        run.groundAltitude = kFieldFt;
        // The widest box, every aircraft of it: the most work the program can be given.
        run.parameters = "<parameter name=\"AUTO_RANGE\" value=\"false\"/>\n"
                         "<parameter name=\"LATERAL_RANGE\" value=\"100\"/>\n";
        start(run);
        m_started = Clock::now();
        m_scale = scale;
    }

    double scenarioNow() const { return std::chrono::duration<double>(Clock::now() - m_started).count() * m_scale; }

    std::string logTail() const {
        const std::string text = log();
        return text.size() > 6000 ? text.substr(text.size() - 6000) : text;
    }

    Clock::time_point m_started;
    double m_scale = 1, m_duration = 0;
    std::size_t m_flights = 0;
};

TEST_F(DayOfTraffic, ADayOverSwitzerlandLeavesNothingBehindAndStaysWithinItsMemory) {
    const char* scaleText = std::getenv("ZNTV_SOAK_SCALE");
    const double scale = scaleText ? std::atof(scaleText) : kDefaultScale;
    ASSERT_GT(scale, 0);
    const auto began = Clock::now();
    ASSERT_NO_FATAL_FAILURE(startDay(scale));
    const pid_t pid = m_program->pid();
    std::cout << fmt::format("soak: {} flights over {:.0f} s of the day at {}x: about {:.0f} s", m_flights,
                             m_duration, scale, m_duration / scale)
              << std::endl;

    TraceWatch trace(m_root / "trace.jsonl");
    std::vector<MemorySample> memory;
    std::vector<std::string> forgotten;
    std::set<std::string> foreign;
    std::optional<int> session;
    auto nextMemory = Clock::now();
    auto nextReport = Clock::now() + 60s;
    bool crashed = false;
    while (scenarioNow() < m_duration) {
        std::this_thread::sleep_for(250ms);
        if (!m_program->running()) {
            crashed = true;
            break;
        }
        trace.poll();
        if (Clock::now() >= nextMemory) {
            if (const auto m = lf_memoryOf(pid, scenarioNow())) memory.push_back(*m);
            nextMemory += 1s;
        }
        // Every object in the stand-in is the program's, of its one session.
        for (const standin::ObjectState& o : m_sim->aiObjects()) {
            if (!session) session = o.createdBySession;
            if (o.foreign || o.createdBySession != *session)
                foreign.insert(fmt::format("{} (object {}, session {})", o.atcId, o.id, o.createdBySession));
        }
        for (const std::string& f : trace.unmovedFor(kForgottenAfterS, trace.lastT))
            if (std::find(forgotten.begin(), forgotten.end(), f) == forgotten.end()) forgotten.push_back(f);
        if (Clock::now() >= nextReport) {
            nextReport += 60s;
            std::cout << fmt::format("soak: scenario {:.0f} s: {} live, {} created, {} removed, RSS {:.1f} MB",
                                     scenarioNow(), trace.live(), trace.created, trace.removed,
                                     memory.empty() ? 0.0 : memory.back().rssMb)
                      << std::endl;
        }
    }
    ASSERT_FALSE(crashed) << "the program ended during the day at scenario time " << scenarioNow() << " s\n"
                          << logTail();

    // After the last report every aircraft goes but the static ones, while the program still runs.
    const auto movingInSim = [&] {
        const std::vector<standin::ObjectState> objects = m_sim->aiObjects();
        return std::count_if(objects.begin(), objects.end(),
                             [](const standin::ObjectState& o) { return !lf_isStatic(o.atcId); });
    };
    const auto emptyBy = Clock::now() + kEmptyAfterEnd;
    while (Clock::now() < emptyBy && (trace.liveMoving() > 0 || movingInSim() > 0) && m_program->running()) {
        std::this_thread::sleep_for(250ms);
        trace.poll();
        if (const auto m = lf_memoryOf(pid, scenarioNow())) memory.push_back(*m);
    }
    trace.poll();
    const auto leftWhileRunning = static_cast<std::size_t>(movingInSim());
    const std::size_t staticsAtEnd = m_sim->aiObjects().size() - leftWhileRunning;
    const bool runningAtEnd = m_program->running();

    // The exit sequence; then nothing of the program's is left in the simulator. The simulator takes what a
    // closing client left with it, so what the program left is what its session's close removed.
    m_program->signal(SIGTERM);
    const std::optional<int> status = m_program->waitForExit(60s);
    m_program.reset();
    std::this_thread::sleep_for(500ms);
    trace.poll();
    std::vector<std::string> leftAfterExit;
    for (const standin::ObjectState& o : m_sim->aiObjects())
        if (!o.foreign) leftAfterExit.push_back(fmt::format("{} (object {})", o.atcId, o.id));
    for (const standin::SessionView& s : m_sim->sessions())
        for (const std::uint32_t id : s.removedAtClose)
            leftAfterExit.push_back(fmt::format("object {} (removed with session {})", id, s.index));

    const std::string text = log();
    std::smatch ticks;
    const bool ticksLogged = std::regex_search(text, ticks, std::regex(R"((\d+) of (\d+) ticks over 10 ms)"));
    double peakRss = 0, peakHwm = 0;
    std::vector<double> early, lastHour;
    for (const MemorySample& m : memory) {
        peakRss = std::max(peakRss, m.rssMb);
        peakHwm = std::max(peakHwm, m.hwmMb);
        if (m.scenarioT >= 3600 && m.scenarioT < 3 * 3600) early.push_back(m.rssMb);
        if (m.scenarioT >= m_duration - 3600 && m.scenarioT < m_duration) lastHour.push_back(m.rssMb);
    }
    const double earlyPlateau = early.empty() ? 0 : *std::max_element(early.begin(), early.end());
    const double lastLevel = lf_median(lastHour);
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::size_t renewals = 0;
    for (auto at = text.find("Parking adjustments:"); at != std::string::npos;
         at = text.find("Parking adjustments:", at + 1))
        ++renewals;

    const std::string figures = fmt::format(
        "soak: a day over Switzerland ({} flights, {:.0f} s of the day at {}x) in {:.0f} s\n"
        "aircraft created: {}\naircraft removed: {}\npeak live count: {}\n"
        "peak memory: VmHWM {:.1f} MB (VmRSS peak {:.1f} MB)\n"
        "memory: early plateau {:.1f} MB (hours 1-3, max), last hour {:.1f} MB (median)\n"
        "ticks over 10 ms: {}\n"
        "static aircraft: {} created, {} standing after the day; parking renewals: {}\n"
        "left in the simulator: {} moving while running after the day, {} after the exit\n"
        "exit status: {}\n",
        m_flights, m_duration, scale, seconds, trace.created, trace.removed, trace.peakLive, peakHwm, peakRss,
        earlyPlateau, lastLevel, ticksLogged ? fmt::format("{} of {}", ticks[1].str(), ticks[2].str()) : "not logged",
        trace.staticsCreated, staticsAtEnd, renewals, leftWhileRunning, leftAfterExit.size(), status ? std::to_string(*status) : "still running");
    std::cout << figures << std::flush;
    fs::create_directories(kFigures.parent_path());
    writeWholeFile(kFigures, figures);

    EXPECT_TRUE(runningAtEnd) << logTail();
    EXPECT_EQ(status, std::optional<int>(0)) << logTail();
    EXPECT_GT(trace.created, m_flights / 4) << "the day's traffic hardly showed\n" << logTail();
    EXPECT_EQ(trace.created, trace.removed);
    EXPECT_EQ(leftWhileRunning, 0u) << "still there " << fmt::format("{}", kEmptyAfterEnd.count())
                                    << " s after the last report";
    EXPECT_TRUE(leftAfterExit.empty()) << fmt::format("{}", fmt::join(leftAfterExit, ", "));
    EXPECT_TRUE(trace.twice.empty()) << fmt::format("{}", fmt::join(trace.twice, "\n"));
    EXPECT_TRUE(foreign.empty()) << fmt::format("{}", fmt::join(foreign, "\n"));
    EXPECT_TRUE(forgotten.empty()) << fmt::format("{}", fmt::join(forgotten, "\n"));
    EXPECT_TRUE(ticksLogged) << logTail();
    // Zurich's stands were filled and the parking renewed.
    EXPECT_GT(staticsAtEnd, 0u) << logTail();
    EXPECT_GE(renewals, 2u) << logTail();
    ASSERT_FALSE(early.empty());
    ASSERT_FALSE(lastHour.empty());
    EXPECT_LE(peakHwm, kAbsoluteBoundMb);
    EXPECT_LE(lastLevel, earlyPlateau * kGrowthFactor + kGrowthSlackMb)
        << "grew from an early plateau of " << earlyPlateau << " MB to " << lastLevel << " MB in the last hour";
    EXPECT_EQ(text.find("mainLoop"), std::string::npos) << logTail();
}

}  // namespace
