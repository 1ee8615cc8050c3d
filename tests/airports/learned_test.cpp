#include "airports/learned.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "frame/log.h"
#include "frame/settings.h"
#include "support/test_support.h"
#include "window/requests.h"

namespace {

using testing_support::readWholeFile;
using testing_support::writeWholeFile;

const std::string kMeta = R"(<meta><info name="author" value="a"/><info name="date" value="d"/>)"
                          R"(<info name="version" value="v"/></meta>)";
const std::string kLearnedPath = "airports/learned/stock/EHAM.xml";

std::string param(const std::string& name, const std::string& value) {
    return "<parameter name=\"" + name + "\" value=\"" + value + "\"/>";
}

std::string learnedText(const std::string& params, const std::string& stands) {
    return kMeta + "<parameters>" + param("airport_name", "Schiphol") + params + "</parameters><parkpositions>" +
           stands + "</parkpositions>";
}

HalfHourSet hours(std::initializer_list<std::size_t> list) {
    HalfHourSet set;
    for (const std::size_t h : list) set.set(h);
    return set;
}

void resetSettings() {
    for (IntParameter* p : std::initializer_list<IntParameter*>{&g_LATERAL_RANGE, &g_MAX_LIVE, &g_parking_percentage,
                                                                &g_MAX_FIT})
        p->reset();
    for (CheckBoxParameter* p : {&g_LEARN_SOFT, &g_AUTO_RANGE, &g_PARK_FAKE, &g_WEEK, &g_PARK_SOFT,
                                 &g_INITIAL_LOAD_ONLY, &g_RT_PARKTRAFFIC_ONLY})
        p->reset();
    g_MAX_FIT_FL.reset();
    gf_resetWindowRequests();
    gf_setDerivedTrafficRange(g_LATERAL_RANGE.value());
}

class Learned : public ::testing::Test {
protected:
    void SetUp() override {
        gf_openLog(m_dir / "Log.txt");
        resetSettings();
        std::filesystem::create_directories("airports/learned/stock");
        archive();
    }
    void archive() {
        m_stands.clear();
        const ParkPosOption held{.airline = "KLM", .type = "B738", .registration = "PHBXA", .callsign1 = {}, .callsign2 = {},
                                 .halfHours = hours({10, 11}), .id = 1, .day = 2, .fromFile = 1, .real = 1};
        m_stands.emplace_back("A1", std::vector<ParkPosOption>{held}, 52.3, 4.76, 0.0, 30.0, false, true, false);
        m_stands.emplace_back("A2", std::vector<ParkPosOption>{}, 52.31, 4.76, 0.0, 30.0, false, true, false);
    }
    void TearDown() override {
        gf_closeLog();
        resetSettings();
    }
    void merge(const std::string& text) {
        writeWholeFile(kLearnedPath, text);
        lf_readLearned(kLearnedPath, ApfInfo{.airportName = "Schiphol", .publisher = {}}, m_stands, m_handmade);
    }
    std::vector<std::string> ids() const {
        std::vector<std::string> out;
        for (const ParkPos& s : m_stands) out.push_back(s.id);
        return out;
    }
    std::string log() const { return readWholeFile(m_dir / "Log.txt"); }

    testing_support::TempDir m_dir;
    testing_support::ScopedCwd m_cwd{m_dir.path()};
    std::vector<ParkPos> m_stands;
    bool m_handmade = false;
};

TEST_F(Learned, MergesLearnedStandsManualStandsAndNewOptions) {
    const std::string opt = R"(<opt reg="PHBXA" airl="KLM" type="B738" day="2" )";
    merge(learnedText(param("LATERAL_RANGE", "40"),
                      R"(<parkpos id="A1">)" + opt + R"(hh="11,12"/>)" + opt + R"(hh="20"/>)" + opt +
                          R"(/>)" + opt + R"(hh="10" soft="true"/></parkpos>)"
                          R"(<parkpos id="A2" radius_change="true" cargo_change="true" cargo="true"/>)"
                          R"(<parkpos id="X9"/>)"
                          R"(<parkpos id="M1" manual="true" latitude="0.0005" longitude="0.01" radius="20"/>)"
                          R"(<parkpos id="M2" manual="true" latitude="-0.0005" longitude="0.01" radius="20">)"
                          R"(<opt reg="" airl="TRA" type="B738" day="1" hh="3"/></parkpos>)"
                          R"(<parkpos id="M2" manual="true" latitude="52" longitude="4" radius="20"/>)"
                          R"(<parkpos id="A1" manual="true" latitude="52" longitude="4" radius="20"/>)"
                          R"(<parkpos id="M3" manual="yes" latitude="52" longitude="4" radius="0"/>)"));

    EXPECT_FALSE(m_handmade);
    EXPECT_EQ(ids(), (std::vector<std::string>{"A1", "A2", "M2"}));
    const std::vector<ParkPosOption>& a1 = m_stands[0].options;
    ASSERT_EQ(a1.size(), 4u);  // the one sharing half-hour 11 is not added again
    EXPECT_EQ(a1[1].halfHours, hours({20}));  // disjoint half-hours
    EXPECT_TRUE(a1[2].halfHours.none());  // never the same as a held option
    for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(a1[i].id, i + 1);
    EXPECT_DOUBLE_EQ(m_stands[1].radius, 30.0 / 1852.0);  // radius_change without a radius changes nothing
    EXPECT_FALSE(m_stands[1].radiusChanged);
    EXPECT_TRUE(m_stands[1].cargoChanged && m_stands[1].cargo);
    EXPECT_EQ(m_stands[2].manual, 1);
    EXPECT_EQ(m_stands[2].options.at(0).fromFile, 0u);

    const std::string text = log();
    const std::string lines[] = {"learned stand X9 in " + kLearnedPath + " not found?",
                                 "radius change of stand A2 in " + kLearnedPath + " without a usable radius",
                                 "standid M1 misses correct attributes", "standid M3 misses correct attributes",
                                 "standid M2 already exists", "standid A1 already exists"};
    for (const std::string& line : lines)
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST_F(Learned, SnapshotBecomesTheSettingsInForceWithinTheirRanges) {
    struct Case {
        std::string params;
        std::int32_t lateral, maxLive, percentage;
        float maxFitFl;
        std::string logged;
        bool autoRange = false;  // the switch in force before
        std::int32_t comeBackTo = 25;  // the manual range afterwards
    };
    const Case cases[] = {
        // The traffic range follows the clamped LATERAL_RANGE, not the 150 nm the file asks for; without
        // AUTO_RANGE in the file, the range is the manual one under the switch in force.
        {param("LATERAL_RANGE", "150") + param("MAX_LIVE", "500"), 100, 300, 30, 24.0f,
         "MAX_LIVE                : 500", false, 100},
        // With the automatic range on, it is the range to come back to, and the automatic range applies.
        {param("LATERAL_RANGE", "39"), 40, -1, 30, 24.0f, "LATERAL_RANGE           : 39", true, 39},
        {param("LATERAL_RANGE", "150") + param("AUTO_RANGE", "false"), 25, -1, 30, 24.0f,
         "AUTO_RANGE              : false", true},
        // A percentage above 100 is no percentage of the stands.
        {param("parking_percentage", "150") + param("MAX_FIT", "60"), 40, -1, 100, 24.0f,
         "MAX_FIT                 : 47"},
        {param("MAX_FIT", "3"), 40, -1, 30, 2.0f,
         "MAX_FIT                 : 3 (max number of half hours, is 2 hrs decimal)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        resetSettings();
        g_AUTO_RANGE.set(c.autoRange);
        g_autoRangeManualValue = 25;
        g_MAX_LIVE.set(7);
        g_parking_percentage.set(55);
        merge(learnedText(c.params, ""));
        EXPECT_EQ(g_LATERAL_RANGE.value(), c.lateral);
        EXPECT_EQ(g_trafficRangeNm.load(), c.lateral);
        EXPECT_EQ(g_trafficRangeMeters.load(), c.lateral * 1852 + 10000);
        EXPECT_EQ(g_MAX_LIVE.value(), c.maxLive);
        EXPECT_EQ(g_parking_percentage.value(), c.percentage);
        EXPECT_EQ(g_MAX_FIT_FL.value(), c.maxFitFl);
        EXPECT_EQ(g_autoRangeManualValue.load(), c.comeBackTo);
        EXPECT_NE(log().find(c.logged), std::string::npos);
    }
}

TEST_F(Learned, HandMadeFileReplacesTheStandsOnlyWhenReadWhole) {
    struct Case {
        std::string stands;
        std::vector<std::string> ids;
        bool handmade;
        std::string logged;
    };
    const std::string h1 = R"(<parkpos id="H1" latitude="52.1" longitude="4.1" radius="20"/>)";
    const Case cases[] = {
        {h1 + R"(<parkpos id="H2" latitude="52.2" longitude="4.2" radius="20"/>)", {"H1", "H2"}, true,
         "handmade                : false"},
        // A file that fails half-way keeps the archived stands.
        {h1 + h1, {"A1", "A2"}, false, "lf_readLearned: 94: Parking position H1 appears more than once?"},
    };
    for (const Case& c : cases) {
        archive();
        merge(learnedText(param("handmade", "false") + param("WEEK", "true"), c.stands));
        EXPECT_EQ(ids(), c.ids);
        EXPECT_EQ(m_handmade, c.handmade);
        EXPECT_TRUE(g_WEEK.value());
        EXPECT_NE(log().find(c.logged), std::string::npos) << c.logged;
    }
}

TEST_F(Learned, UnparsableFileIsCopiedAsideBesideAnOlderCopyAndChangesNothing) {
    const std::string broken = learnedText(param("WEEK", "true"), "<parkpos id=\"A1\"><opt");
    writeWholeFile("airports/learned/stock/EHAM.0.xml", "an older copy");
    merge(broken);
    // The older copy is the user's too: the new one goes beside it.
    EXPECT_EQ(readWholeFile("airports/learned/stock/EHAM.0.xml"), "an older copy");
    EXPECT_EQ(readWholeFile("airports/learned/stock/EHAM.1.xml"), broken);
    EXPECT_EQ(readWholeFile(kLearnedPath), broken);
    EXPECT_FALSE(g_WEEK.value());
    EXPECT_EQ(ids(), (std::vector<std::string>{"A1", "A2"}));
    EXPECT_EQ(m_stands[0].options.size(), 1u);
    EXPECT_NE(log().find(kLearnedPath + " found, but could not be loaded, saved as *.0.xml: "), std::string::npos);
}

}  // namespace
