// The map of the stand-in's world with aircraft that a real SimConnect client created in it: each drawn where
// the stand-in holds it, pointing along its heading, in the colour of its state, with its callsign; and the
// zntv-simulator program writing that map as PNG.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

#include "map_probe.h"
#include "simlink/protocol/simconnect.h"
#include "support/test_support.h"

extern char** environ;

using namespace map_test;
using namespace std::chrono_literals;
using standin::MapColours;
using standin::MapState;

namespace {

constexpr double kUserLat = 47.4612, kUserLon = 8.5535, kUserHeading = 280;

constexpr const char* kStandFile = R"(<?xml version="1.0"?>
<meta><info name="author" value="test" /></meta>
<parameters><parameter name="airport_name" value="Zurich" /></parameters>
<parkpositions>
	<parkpos id="A01" latitude="47.4625" longitude="8.5550" heading="0" radius="30.0" />
	<parkpos id="B02" latitude="47.4600" longitude="8.5510" heading="0" radius="30.0" />
</parkpositions>
)";

struct Creation {
    const char* title;
    const char* tail;
    InitPosition at;
    MapState state;  // once the map has watched it for a few seconds
};
const Creation kTraffic[] = {
    {"Airbus A320 Swiss", "SWR123", {47.4660, 8.5600, 3000, 0, 0, 45, 0, 160}, MapState::air},
    {"Airbus A320 Swiss", "HBJLT", {47.4625, 8.5550, 1416, 0, 0, 200, 1, 0}, MapState::parked},  // on A01
    {"Boeing 737 Lufthansa", "DLH4", {47.4590, 8.5580, 1416, 0, 0, 90, 1, 0}, MapState::ground},
};

SimConnectHandle lf_connect(std::uint16_t port) {
    ConnectionSettings s;
    s.protocol = SimProtocol::IPv4;
    s.address = "127.0.0.1";
    s.port = std::to_string(port);
    SimConnectHandle h = SimConnectHandle::None;
    EXPECT_EQ(SimConnect_OpenWith(&h, "map test", s), kSimOk);
    return h;
}

template <class F>
bool lf_waitUntil(F done, std::chrono::milliseconds bound = 10s) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

bool lf_hasColourIn(const standin::RgbImage& img, int x0, int y0, int x1, int y1, standin::Rgb8 c) {
    for (int y = std::max(0, y0); y < std::min(img.height, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(img.width, x1); ++x)
            if (img.at(x, y) == c) return true;
    return false;
}

standin::ObjectState lf_user() {
    standin::ObjectState u = standin::defaultOptions().user;
    u.latitude = kUserLat;
    u.longitude = kUserLon;
    u.heading = kUserHeading;
    return u;
}

}  // namespace

TEST(StandInMap, DrawsEachCreatedAircraftWhereTheStandInHoldsIt) {
    standin::Options o = standin::defaultOptions();
    o.listenPipe = false;
    o.listenIPv6 = false;
    o.user = lf_user();
    standin::SimulatorStandIn sim(o);
    ASSERT_TRUE(sim.start());
    const SimConnectHandle h = lf_connect(sim.portIPv4());
    for (std::uint32_t i = 0; i < std::size(kTraffic); ++i)
        ASSERT_EQ(SimConnect_AICreateNonATCAircraft(h, kTraffic[i].title, kTraffic[i].tail, kTraffic[i].at, 10 + i),
                  kSimOk);
    ASSERT_TRUE(lf_waitUntil([&] { return sim.aiObjects().size() == std::size(kTraffic); }));

    standin::MapRecorder recorder;
    recorder.setStands(*standin::gf_parseStands(kStandFile));
    const auto t0 = standin::MapRecorder::Clock::now();
    recorder.sample(sim.aiObjects(), sim.user(), t0);
    recorder.sample(sim.aiObjects(), sim.user(), t0 + 5s);  // long enough to count as parked on a stand
    const standin::MapScene scene = recorder.scene();
    const int w = 800, hgt = 600;
    const standin::RgbImage img = standin::renderMap(scene, w, hgt);

    for (const standin::ObjectState& held : sim.aiObjects()) {
        const Creation* c = nullptr;
        for (const Creation& k : kTraffic)
            if (held.atcId == k.tail) c = &k;
        ASSERT_NE(c, nullptr) << held.atcId;
        const standin::MapPixel at = standin::gf_project(scene, w, hgt, held.latitude, held.longitude);
        EXPECT_TRUE(lf_aircraftDrawn(img, at, held.heading, standin::gf_stateColour(c->state)))
            << held.atcId << " at " << at.x << "," << at.y << " should be " << standin::gf_stateName(c->state);
        // The callsign stands to the upper right of the aircraft.
        const int lx = static_cast<int>(std::lround(at.x)) + 12, ly = static_cast<int>(std::lround(at.y)) - 16;
        EXPECT_TRUE(lf_hasColourIn(img, lx, ly, lx + 6 * static_cast<int>(held.atcId.size()), ly + 7,
                                   MapColours::text))
            << held.atcId;
    }
    // The user aircraft at the centre, the empty stand as a circle of its radius around nothing.
    EXPECT_TRUE(lf_aircraftDrawn(img, {w / 2.0, hgt / 2.0}, kUserHeading, MapColours::user));
    const standin::MapPixel stand = standin::gf_project(scene, w, hgt, 47.4600, 8.5510);
    const double r = 30.0 * w / scene.widthM;
    EXPECT_EQ(img.at(static_cast<int>(stand.x + r - 0.75), static_cast<int>(stand.y)), MapColours::stand);
    EXPECT_EQ(img.at(static_cast<int>(stand.x - r + 0.75), static_cast<int>(stand.y)), MapColours::stand);
    EXPECT_EQ(img.at(static_cast<int>(stand.x), static_cast<int>(stand.y)), MapColours::background);
    SimConnect_Close(h);
    sim.stop();
}

TEST(ZntvSimulatorProgram, WritesTheMapAsPngAndKeepsItCurrent) {
    testing_support::TempDir dir;
    testing_support::writeWholeFile(dir / "LSZH.xml", kStandFile);
    const std::string png = (dir / "map.png").string(), portFile = (dir / "port").string();
    const std::string exe = std::string(ZNTV_BINARY_DIR) + "/bin/zntv-simulator";
    std::vector<std::string> args = {exe, "--port", "0", "--no-pipe", "--no-ipv6", "--port-file", portFile,
                                     "--user-lat", std::to_string(kUserLat), "--user-lon", std::to_string(kUserLon),
                                     "--user-heading", std::to_string(kUserHeading), "--stands",
                                     (dir / "LSZH.xml").string(), "--map-png", png, "--map-png-every", "0.25",
                                     "--map-size", "400x300", "--map-width", "2000"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv.data(), environ), 0);
    struct Reaper {  // a failed check leaves no program behind
        pid_t& pid;
        ~Reaper() {
            if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
        }
    } reaper{pid};

    // With no AI object yet, the picture is exactly what the renderer draws for the user aircraft and stands.
    ASSERT_TRUE(lf_waitUntil([&] { return std::filesystem::exists(png); }));
    standin::MapRecorder recorder;
    recorder.setStands(*standin::gf_readStands(dir / "LSZH.xml"));
    recorder.setWidthM(2000);
    recorder.sample({}, lf_user(), standin::MapRecorder::Clock::now());
    const standin::RgbImage expected = standin::renderMap(recorder.scene(), 400, 300);
    const auto first = lf_readPng(png);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->width, 400);
    EXPECT_EQ(first->height, 300);
    EXPECT_TRUE(first->rgb == expected.rgb);

    // An aircraft created by a client shows up in a later picture.
    ASSERT_TRUE(lf_waitUntil([&] { return std::filesystem::exists(portFile); }));
    const SimConnectHandle h =
        lf_connect(static_cast<std::uint16_t>(std::stoi(testing_support::readWholeFile(portFile))));
    const Creation& c = kTraffic[0];
    ASSERT_EQ(SimConnect_AICreateNonATCAircraft(h, c.title, c.tail, c.at, 1), kSimOk);
    const standin::MapScene scene = recorder.scene();
    const standin::MapPixel at = standin::gf_project(scene, 400, 300, c.at.latitude, c.at.longitude);
    EXPECT_TRUE(lf_waitUntil([&] {
        const auto img = lf_readPng(png);  // never a half-written file
        EXPECT_TRUE(img.has_value());
        return img && lf_aircraftDrawn(*img, at, c.at.heading, MapColours::air);
    }));
    SimConnect_Close(h);

    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(std::filesystem::exists(png + ".tmp"));
}
