#include "injection/collision.h"

#include <cmath>
#include <numbers>
#include <string>

#include <gtest/gtest.h>

#include "frame/log.h"
#include "frame/settings.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
#include "simlink/link.h"
#include "support/test_support.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kFeetPerNm = 6076.11549;
constexpr double kLat = 47.45, kLon = 8.56;

// The position `aheadNm` along `heading` from the reference and `besideFt` to its right.
GeoPosition offset(double heading, double aheadNm, double besideFt) {
    const GeoPosition ahead = gf_destinationPoint(kLat, kLon, heading, aheadNm * kFeetPerNm);
    return gf_destinationPoint(ahead.latitude, ahead.longitude, heading + kPi / 2, besideFt);
}

class Collision : public ::testing::Test {
protected:
    void SetUp() override {
        lf_clearAiLists();
        gf_resetLinkState();
        gf_openLog(m_dir / "Log.txt");
        g_userPos = UserAcData{};
        g_userPos.latitude = kLat;
        g_userPos.longitude = kLon;
        g_userPos.heading = kPi / 2;  // east
    }
    void TearDown() override {
        gf_closeLog();
        lf_clearAiLists();
    }
    LiveAc& live(const GeoPosition& at, bool onGround, double altitude, double heading) {
        LiveAc& ac = g_liveAc.emplace_back();
        ac.hexId = 0x4b0001 + static_cast<std::uint32_t>(g_liveAc.size());
        ac.callsign = "SWR" + std::to_string(g_liveAc.size());
        ac.status = kAcInSim;
        ac.objectId = 100 + static_cast<std::uint32_t>(g_liveAc.size());
        ac.latitude = at.latitude;
        ac.longitude = at.longitude;
        ac.onGround = onGround;
        ac.altitude = altitude;
        ac.heading = heading;
        return ac;
    }
    testing_support::TempDir m_dir;
};

TEST_F(Collision, AnAircraftOnTheUsersLineIsRemovedOnlyWhenCloseEnough) {
    struct Case {
        const char* name;
        bool onGround;
        double aheadNm, besideFt;
        double userAglFt, userAltFt, acAltFt;
        double acHeading;  // airborne: its line of flight
        bool removed;
    };
    const Case cases[] = {
        // A parked aircraft beside the line of a user on short final.
        {"ground, 30 ft beside, user at 400 ft", true, 0.5, 30, 400, 1800, 1400, 0, true},
        {"ground, 30 ft beside, user at 600 ft", true, 0.5, 30, 600, 2000, 1400, 0, false},
        {"ground, 60 ft beside", true, 0.5, 60, 400, 1800, 1400, 0, false},
        {"ground, 1.2 nm ahead", true, 1.2, 0, 400, 1800, 1400, 0, false},
        // Crossing traffic: its line of flight (north) passes 650 ft from the user.
        {"air, 500 ft below, passes 650 ft away", false, 0.107, 3 * kFeetPerNm, 3000, 8000, 7500, 0, true},
        {"air, 1200 ft below", false, 0.107, 3 * kFeetPerNm, 3000, 8000, 6800, 0, false},
        {"air, passes 800 ft away", false, 0.132, 3 * kFeetPerNm, 3000, 8000, 7500, 0, false},
        {"air, 4.5 nm away", false, 0.107, 4.5 * kFeetPerNm, 3000, 8000, 7500, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        g_userPos.altAboveGround = c.userAglFt;
        g_userPos.altitude = c.userAltFt;
        LiveAc& ac = live(offset(g_userPos.heading, c.aheadNm, c.besideFt), c.onGround, c.acAltFt, c.acHeading);
        EXPECT_EQ(lf_removeLiveConflictingWithUser(0, ac), c.removed);
        EXPECT_EQ(ac.status, c.removed ? kAcRemovalRequested : kAcInSim);
        EXPECT_EQ(g_removals.size(), c.removed ? 1u : 0u);
        TearDown();
    }
}

TEST_F(Collision, ATaxiingAircraftRemovesTheFirstStaticOneWithinItsSpan) {
    g_LOG.set(true);
    LiveAc& ac = live({kLat, kLon}, true, 1400, 0);
    ac.halfSpan = 0.02;
    const auto addStatic = [](double northFt, std::uint32_t status, const char* callsign) {
        AiAc& st = g_staticAc.emplace_back();
        const GeoPosition at = gf_destinationPoint(kLat, kLon, 0.0, northFt);
        st.standLat = at.latitude;
        st.standLon = at.longitude;
        st.halfSpan = 0.02;
        st.status = status;
        st.objectId = 200 + static_cast<std::uint32_t>(g_staticAc.size());
        st.callsign = callsign;
    };
    addStatic(100, kAcCreationQueued, "A1*");  // not in the simulator yet
    addStatic(200, kAcInSim, "B2*");           // 0.033 nm: inside 1.1 x 0.04 nm
    addStatic(100, kAcInSim, "C3*");           // also inside, later in the list
    addStatic(500, kAcInSim, "D4*");           // outside
    LiveAc copy;
    lf_copyLiveAc(copy, ac);
    bool removed = false;
    lf_removeStaticForCollisionAvoidance(removed, 0, copy);
    EXPECT_TRUE(removed);
    EXPECT_EQ(g_staticAc[1].status, kAcRemovalRequested);
    EXPECT_EQ(g_staticAc[2].status, kAcInSim);  // one a call
    gf_closeLog();
    EXPECT_NE(testing_support::readWholeFile(m_dir / "Log.txt").find("        : B2*      removed for collision avoidance with live SWR1"),
              std::string::npos);
    g_LOG.set(false);
}

}  // namespace
