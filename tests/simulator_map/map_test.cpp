// The map's own rules: how the recorder tells an object's state and keeps its trail, the trail and stands as
// drawn, and the stands read from a stand file. (The PNG round trip is checked on the program's own pictures.)
#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "map_probe.h"
#include "map_window.h"

using namespace map_test;
using namespace std::chrono_literals;
using standin::MapColours;
using standin::MapState;

namespace {

constexpr double kLat = 47.46, kLon = 8.55;
constexpr double kDegPerM = 1 / 111194.9;

standin::ObjectState lf_object(double northM, bool onGround) {
    standin::ObjectState o;
    o.id = 100;
    o.atcId = "SWR7";
    o.latitude = kLat + northM * kDegPerM;
    o.longitude = kLon;
    o.onGround = onGround;
    return o;
}

}  // namespace

TEST(MapRecorder, TellsTheStateFromStillnessAndKeepsTwoMinutesOfTrail) {
    standin::MapRecorder recorder;  // the default times: parked after 3 s on a stand, 60 s elsewhere
    recorder.setStands({{"A01", kLat, kLon, 30}});
    standin::ObjectState user;
    user.latitude = kLat;
    user.longitude = kLon;
    struct Step {
        int second;
        double northM;
        bool onGround;
        MapState state;
        std::size_t trailPoints;  // kept positions, the current one included
    };
    const Step steps[] = {
        {0, 0, true, MapState::ground, 2},     // just seen on its stand
        {2, 0.5, true, MapState::ground, 2},   // standing (a jitter below the step of the trail)
        {3, 0, true, MapState::parked, 2},
        {4, 20, true, MapState::ground, 3},    // pushed back
        {40, 100, true, MapState::ground, 4},  // taxiing
        {99, 100, true, MapState::ground, 4},  // holding, 59 s
        {100, 100, true, MapState::parked, 4}, // 60 s still, away from a stand
        {110, 300, false, MapState::air, 5},
        {200, 2000, false, MapState::air, 3},  // the points older than two minutes are gone
    };
    const auto t0 = standin::MapRecorder::Clock::now();
    for (const Step& s : steps) {
        recorder.sample({lf_object(s.northM, s.onGround)}, user, t0 + std::chrono::seconds(s.second));
        const standin::MapScene scene = recorder.scene();
        ASSERT_EQ(scene.objects.size(), 1u);
        EXPECT_EQ(scene.objects[0].state, s.state) << "at " << s.second << " s";
        EXPECT_EQ(scene.objects[0].trail.size(), s.trailPoints) << "at " << s.second << " s";
        EXPECT_EQ(scene.objects[0].label, "SWR7");
    }
    // Removed from the stand-in, gone from the map.
    recorder.sample({}, user, t0 + 201s);
    EXPECT_TRUE(recorder.scene().objects.empty());
}

TEST(MapRender, DrawsTrailsBehindAndStandsAtTheirRadius) {
    standin::MapScene scene;
    scene.centreLatitude = kLat;
    scene.centreLongitude = kLon;
    scene.widthM = 1000;
    standin::MapObject o;
    o.label = "EZY1";
    o.state = MapState::ground;
    o.latitude = kLat;
    o.longitude = kLon + 300 * kDegPerM / std::cos(kLat * 3.14159265358979 / 180);
    o.heading = 90;
    o.trail = {{kLat - 300 * kDegPerM, o.longitude}, {o.latitude, o.longitude}};
    scene.objects.push_back(o);
    scene.stands.push_back({"B1", kLat - 200 * kDegPerM, kLon - 200 * kDegPerM, 50});
    const standin::RgbImage img = standin::renderMap(scene, 500, 500);  // 2 m a pixel

    const standin::MapPixel plane = standin::gf_project(scene, 500, 500, o.latitude, o.longitude);
    EXPECT_NEAR(plane.x, 400, 0.5);
    EXPECT_NEAR(plane.y, 250, 0.5);
    EXPECT_TRUE(lf_aircraftDrawn(img, plane, 90, MapColours::ground));
    // Halfway along the trail: the state's colour, faded towards the background.
    const standin::Rgb8 t = img.at(400, 325);
    EXPECT_NE(t, MapColours::ground);
    EXPECT_GT(t.b, MapColours::ground.b + 40);
    EXPECT_LT(t.b, MapColours::background.b - 40);
    // The stand: 25 pixels of radius; its id inside once the circle is large enough to hold it.
    const standin::MapPixel s = standin::gf_project(scene, 500, 500, scene.stands[0].latitude,
                                                    scene.stands[0].longitude);
    EXPECT_EQ(img.at(static_cast<int>(s.x), static_cast<int>(s.y - 24.25)), MapColours::stand);
    EXPECT_EQ(img.at(static_cast<int>(s.x), static_cast<int>(s.y - 27)), MapColours::background);
    EXPECT_EQ(img.at(static_cast<int>(s.x), static_cast<int>(s.y - 22)), MapColours::background);

    // Positions far away or not numbers at all draw nothing and harm nothing.
    scene.objects.clear();
    o.latitude = std::nan("");
    o.trail = {{89, 179}, {o.latitude, kLon}, {-89, -179}};
    scene.objects.push_back(o);
    scene.stands = {{"FAR", 89.9, 179, 500}};
    scene.user.latitude = -89;
    const standin::RgbImage empty = standin::renderMap(scene, 500, 500);
    int drawn = 0;
    for (int y = 160; y < 440; ++y)  // between the legend and the scale bar
        for (int x = 0; x < 500; ++x) drawn += empty.at(x, y) != MapColours::background;
    EXPECT_EQ(drawn, 0);
}

TEST(MapStands, ReadsPlacedStandsOnly) {
    const struct {
        const char* xml;
        std::optional<std::size_t> stands;
    } cases[] = {
        {"<parkpositions><parkpos id=\"A\" latitude=\"47.4\" longitude=\"8.5\" radius=\"30\"/>"
         "<parkpos id=\"B\" latitude=\"0\" longitude=\"0\" radius=\"30\"/>"
         "<parkpos id=\"C\" latitude=\"nan\" longitude=\"8.5\"/><parkpos id=\"D\" latitude=\"95\"/></parkpositions>",
         1},
        {"<meta/><parameters/>", 0},
        {"<parkpositions><parkpos", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto stands = standin::gf_parseStands(c.xml);
        ASSERT_EQ(stands.has_value(), c.stands.has_value()) << c.xml;
        if (stands) {
            EXPECT_EQ(stands->size(), *c.stands) << c.xml;
        }
    }
    const auto one = standin::gf_parseStands(cases[0].xml);
    EXPECT_EQ((*one)[0].id, "A");
    EXPECT_EQ((*one)[0].radiusM, 30);
}

TEST(MapWindowPlace, OpensBesideTheProgramsWindowNeverOverIt) {
    using standin::ScreenRect;
    const ScreenRect screen{0, 0, 1920, 1080};
    const ScreenRect program{0, 20, 880, 476};
    struct Case {
        const char* what;
        std::optional<ScreenRect> beside;
        ScreenRect want;
    } cases[] = {
        {"no window given: the right edge", std::nullopt, {896, 0, 1024, 768}},
        {"room on the right", program, {896, 20, 1024, 768}},
        {"room on the left only", ScreenRect{1040, 20, 880, 476}, {0, 20, 1024, 768}},
        {"room on neither side: narrowed on the roomier", ScreenRect{400, 20, 880, 476}, {1296, 20, 624, 768}},
        {"no useful room: the right edge", ScreenRect{200, 20, 1600, 476}, {896, 0, 1024, 768}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(standin::gf_placeMapWindow(screen, 1024, 768, c.beside), c.want) << c.what;
}
