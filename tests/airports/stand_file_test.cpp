#include "airports/stand_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "liveries/database.h"

namespace {

constexpr double kDegToRad = 0.017453292519943295;

HalfHourSet hours(std::initializer_list<std::size_t> list) {
    HalfHourSet set;
    for (const std::size_t h : list) set.set(h);
    return set;
}

ParkPosOption opt(std::string reg, std::string cs1, std::string cs2, std::uint32_t day, HalfHourSet hh,
                  std::uint32_t real, std::uint32_t id = 1) {
    return ParkPosOption{.airline = "SWR", .type = "A333", .registration = std::move(reg),
                         .callsign1 = std::move(cs1), .callsign2 = std::move(cs2), .halfHours = hh, .id = id,
                         .day = day, .fromFile = 0, .real = real};
}

// Heading in degrees and radius in metres that the one-decimal text keeps exactly.
ParkPos stand(std::string id, double lat, double lon, double headingDeg, double radiusM, bool cargo, bool ramp,
              bool heli, std::vector<ParkPosOption> options = {}) {
    return ParkPos(std::move(id), std::move(options), lat, lon, headingDeg * kDegToRad, radiusM, cargo, ramp, heli);
}

StandFile learnedFile(bool handmade) {
    StandFile f;
    f.mode = StandFileMode::learned;
    f.airportName = "Zurich";
    f.publisher = "stock";
    f.handmade = handmade;
    f.altitude = 1416;
    f.qfReal = handmade ? 44 : -1;
    f.qfSoft = handmade ? 12 : -1;
    f.settings.lateralRange = 25;
    f.settings.week = true;
    f.settings.maxLive = 0;
    f.settings.maxFit = 11;
    ParkPos manual = stand("E21", 47.451234, 8.561234, 123.4, 23.5, false, true, false,
                           {opt("HBJHA", "SWR12", "SWR7X", 2, hours({0, 1, 47}), 1, 1),
                            opt("", "EZS12", "", 7, hours({}), 0, 2), opt("", "", "BAW9", 3, hours({20}), 1, 3)});
    manual.manual = 1;
    f.stands.push_back(std::move(manual));
    // Not hand-made: a stand without changes keeps its name and options only.
    f.stands.push_back(stand("H1", handmade ? 47.1 : 0.0, handmade ? -8.25 : 0.0, 0.0, handmade ? 15.0 : 0.0, false,
                             false, handmade, {opt("DHELI", "HELI1", "", 1, hours({10, 11}), 0, 1)}));
    ParkPos grown = stand("C3", handmade ? 47.3 : 0.0, handmade ? 8.3 : 0.0, handmade ? 270.0 : 0.0, 40.5, true,
                          false, false, {opt("HBJHB", "SWR13", "", 5, hours({46}), 1, 1)});
    // Hand-made files write full stands, which do not carry the change marks.
    grown.radiusChanged = handmade ? 0 : 1;
    grown.cargoChanged = handmade ? 0 : 1;
    f.stands.push_back(std::move(grown));
    return f;
}

// What a stand file keeps of a stand and of an option (ids come anew, 1, 2, ...; fromFile from the reader).
auto kept(const ParkPos& s) {
    return std::tie(s.id, s.latitude, s.longitude, s.manual, s.cargo, s.ramp, s.heli, s.radiusChanged, s.cargoChanged);
}
auto kept(const ParkPosOption& o) {
    return std::tie(o.airline, o.type, o.registration, o.callsign1, o.callsign2, o.halfHours, o.day, o.real);
}

void expectSameStands(const std::vector<ParkPos>& expected, const std::vector<ParkPos>& actual, const char* label) {
    ASSERT_EQ(expected.size(), actual.size()) << label;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ParkPos& e = expected[i];
        const ParkPos& a = actual[i];
        SCOPED_TRACE(std::string(label) + " stand " + e.id);
        EXPECT_TRUE(kept(e) == kept(a));
        EXPECT_NEAR(e.heading, a.heading, 1e-12);
        EXPECT_NEAR(e.radius, a.radius, 1e-12);
        ASSERT_EQ(e.options.size(), a.options.size());
        for (std::size_t k = 0; k < e.options.size(); ++k) {
            EXPECT_TRUE(kept(e.options[k]) == kept(a.options[k])) << "option " << k;
            EXPECT_EQ(k + 1, a.options[k].id);
            EXPECT_EQ(7u, a.options[k].fromFile);
        }
    }
}

StandFile readBack(const std::string& text) {
    StandFile back;
    std::string error;
    EXPECT_TRUE(gf_readStandFileText(text, 7, back, error)) << error;
    return back;
}

// The names of the attributes of a node, in order.
std::vector<std::string> attributeNames(pugi::xml_node node) {
    std::vector<std::string> names;
    for (pugi::xml_attribute a : node.attributes()) names.emplace_back(a.name());
    return names;
}

std::vector<std::string> parameterNames(const std::string& text) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_string(text.c_str()));
    std::vector<std::string> names;
    for (pugi::xml_node p : doc.child("parameters").children("parameter")) names.emplace_back(p.attribute("name").value());
    return names;
}

class StandFileTest : public ::testing::Test {
protected:
    void TearDown() override { g_regcodeDb.clear(); }
};

TEST_F(StandFileTest, WrittenFilesReadBackUnchanged) {
    struct Case {
        const char* label;
        StandFile file;
    };
    StandFile full;
    full.airportName = "Generated";
    full.publisher = "unknown";
    full.bglPath = "C:\\Scenery\\AP_LSZH.bgl";
    full.altitude = -12;
    full.stands.push_back(stand("A1", 0.0, 8.5, 359.9, 30.0, true, true, false));
    full.stands.push_back(stand("A2", -33.946111, 151.177222, 90.0, 18.2, false, false, true));
    const std::vector<Case> cases = {
        {"full", full},
        {"learned handmade", learnedFile(true)},
        {"learned", learnedFile(false)},
    };
    for (const Case& c : cases) {
        const std::string text = gf_writeStandFileText(c.file);
        ASSERT_FALSE(text.empty()) << c.label;
        const StandFile back = readBack(text);
        EXPECT_TRUE(back.metaComplete) << c.label;
        EXPECT_EQ(back.mode, c.file.mode) << c.label;
        EXPECT_EQ(back.airportName, c.file.airportName) << c.label;
        EXPECT_EQ(back.publisher, c.file.publisher) << c.label;
        EXPECT_EQ(back.handmade, c.file.handmade) << c.label;
        EXPECT_EQ(back.qfReal, c.file.qfReal) << c.label;
        EXPECT_EQ(back.qfSoft, c.file.qfSoft) << c.label;
        if (c.file.mode == StandFileMode::full || c.file.handmade) {
            EXPECT_EQ(back.altitude, c.file.altitude) << c.label;
        } else {
            EXPECT_FALSE(back.altitude.has_value()) << c.label;
        }
        if (c.file.mode == StandFileMode::learned) {
            EXPECT_EQ(back.settings, c.file.settings) << c.label;
        }
        expectSameStands(c.file.stands, back.stands, c.label);
        // And a second pass writes the same text.
        EXPECT_EQ(gf_writeStandFileText(back), text) << c.label;
    }
}

TEST_F(StandFileTest, ParametersAreWrittenInOrderAndOnlyWhenDue) {
    struct Case {
        const char* label;
        StandFileMode mode;
        bool handmade;
        std::string publisher;
        std::int32_t maxLive;
        std::vector<std::string> expected;
    };
    const std::vector<std::string> snapshot = {"LATERAL_RANGE", "AUTO_RANGE", "WEEK", "PARK_FAKE", "PARK_SOFT",
                                               "parking_percentage", "INITIAL_LOAD_ONLY", "MAX_FIT",
                                               "RT_PARKTRAFFIC_ONLY", "MAX_LIVE", "LEARN_SOFT"};
    std::vector<std::string> snapshotNoLive = snapshot;
    snapshotNoLive.erase(snapshotNoLive.begin() + 9);
    auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<Case> cases = {
        {"full", StandFileMode::full, false, "stock", -1, {"airport_name", "publisher", "altitude", "num_parkpos"}},
        {"full unknown", StandFileMode::full, false, "unknown", -1,
         {"airport_name", "publisher", "altitude", "num_parkpos", "BGLpath"}},
        {"capital Unknown", StandFileMode::full, false, "Unknown", -1,
         {"airport_name", "publisher", "altitude", "num_parkpos"}},
        {"unknown and blank", StandFileMode::full, false, "unknown ", -1,
         {"airport_name", "publisher", "altitude", "num_parkpos"}},
        {"learned", StandFileMode::learned, false, "stock", 0,
         join({"airport_name", "publisher", "num_parkpos"}, snapshot)},
        {"learned MAX_LIVE -1", StandFileMode::learned, false, "stock", -1,
         join({"airport_name", "publisher", "num_parkpos"}, snapshotNoLive)},
        {"handmade", StandFileMode::learned, true, "simaddon", 5,
         join({"airport_name", "publisher", "handmade", "altitude", "num_parkpos", "Qf_real", "Qf_soft"}, snapshot)},
        {"handmade full", StandFileMode::full, true, "x", -1,
         {"airport_name", "publisher", "handmade", "altitude", "num_parkpos", "Qf_real", "Qf_soft"}},
    };
    for (const Case& c : cases) {
        StandFile f;
        f.mode = c.mode;
        f.handmade = c.handmade;
        f.publisher = c.publisher;
        f.settings.maxLive = c.maxLive;
        f.rtTrafficWeek = 33;  // never written
        EXPECT_EQ(parameterNames(gf_writeStandFileText(f)), c.expected) << c.label;
    }
}

TEST_F(StandFileTest, StandFormsFollowModeAndChanges) {
    struct Case {
        const char* label;
        StandFileMode mode;
        bool handmade;
        bool manual, radiusChanged, cargoChanged, heli;
        std::vector<std::string> expected;
    };
    const std::vector<std::string> fullCargo = {"id", "latitude", "longitude", "heading", "radius", "cargo", "ramp"};
    const std::vector<std::string> fullHeli = {"id", "latitude", "longitude", "heading", "radius", "heli", "ramp"};
    std::vector<std::string> fullManual = fullCargo;
    fullManual.emplace_back("manual");
    const std::vector<Case> cases = {
        {"full mode", StandFileMode::full, false, false, true, true, false, fullCargo},
        {"full mode heli", StandFileMode::full, false, false, false, false, true, fullHeli},
        {"full mode manual", StandFileMode::full, false, true, false, false, false, fullManual},
        {"learned manual", StandFileMode::learned, false, true, true, false, false, fullManual},
        {"learned handmade", StandFileMode::learned, true, false, true, true, false, fullCargo},
        {"learned radius", StandFileMode::learned, false, false, true, false, false, {"id", "radius_change", "radius"}},
        {"learned cargo", StandFileMode::learned, false, false, false, true, false, {"id", "cargo_change", "cargo"}},
        {"learned both", StandFileMode::learned, false, false, true, true, false,
         {"id", "radius_change", "radius", "cargo_change", "cargo"}},
        {"learned nothing", StandFileMode::learned, false, false, false, false, true, {"id"}},
    };
    for (const Case& c : cases) {
        pugi::xml_document doc;
        pugi::xml_node root = doc.append_child("parkpositions");
        ParkPos s = stand("B7", 47.0, 8.0, 10.0, 20.0, true, false, c.heli, {opt("", "X1", "", 1, hours({3}), 1)});
        s.manual = c.manual;
        s.radiusChanged = c.radiusChanged;
        s.cargoChanged = c.cargoChanged;
        lf_writeParkpos(root, c.mode, c.handmade, s);
        const pugi::xml_node node = root.child("parkpos");
        EXPECT_EQ(attributeNames(node), c.expected) << c.label;
        // options only in learned files
        EXPECT_EQ(static_cast<bool>(node.child("opt")), c.mode == StandFileMode::learned) << c.label;
    }
}

TEST_F(StandFileTest, OptionAttributesAreLeftOutWhenDue) {
    g_regcodeDb["HB-JHA"] = RegcodeData{.airline = "SWR", .type = "A333", .operatorCode = "EDW", .cargo = false};
    struct Case {
        const char* label;
        ParkPosOption option;
        std::vector<std::string> names;  // empty: no element
        std::string cs;
    };
    const std::vector<Case> cases = {
        {"withdrawn", opt("", "A", "", 1, hours({1}), 1, 0), {}, ""},
        {"real, no reg", opt("", "A", "", 1, hours({1}), 1), {"reg", "airl", "type", "day", "hh", "cs"}, "A"},
        {"soft", opt("", "A", "B", 1, hours({1}), 0), {"reg", "airl", "type", "soft", "day", "hh", "cs"}, "A:B"},
        {"known reg variant", opt("HBJHA", "A", "", 1, hours({1}), 1), {"reg", "day", "hh", "cs"}, "A"},
        {"unknown reg", opt("HBJHZ", "", "", 1, hours({}), 1), {"reg", "airl", "type", "day", "hh"}, ""},
        {"second callsign only", opt("", "", "Z9", 1, hours({}), 1), {"reg", "airl", "type", "day", "hh", "cs"}, ":Z9"},
    };
    for (const Case& c : cases) {
        pugi::xml_document doc;
        pugi::xml_node parent = doc.append_child("parkpos");
        lf_writeOpt(parent, c.option);
        const pugi::xml_node node = parent.child("opt");
        if (c.names.empty()) {
            EXPECT_FALSE(node) << c.label;
            continue;
        }
        EXPECT_EQ(attributeNames(node), c.names) << c.label;
        EXPECT_EQ(std::string(node.attribute("cs").value()), c.cs) << c.label;
    }
}

TEST_F(StandFileTest, StandsAndOptionsAreReadByTheRules) {
    g_regcodeDb["HB-JHA"] = RegcodeData{.airline = "SWR", .type = "A333", .operatorCode = "EDW", .cargo = false};
    g_regcodeDb["D-ABCD"] = RegcodeData{.airline = "DLH", .type = "A320", .operatorCode = "", .cargo = false};
    struct Case {
        const char* label;
        std::string parkpos;
        std::size_t stands;
        bool cargo, ramp, heli;
        std::string cs1, cs2, airline, type;
        std::uint32_t day;
        std::uint32_t real;
    };
    const std::vector<Case> cases = {
        {"no position", R"(<parkpos id="a" latitude="0" longitude="0.0" radius="20"/>)", 0, false, false, false, "", "", "", "", 0, 0},
        {"latitude 0 only", R"(<parkpos id="a" latitude="0" longitude="5" radius="20"/>)", 1, false, false, false, "", "", "", "", 0, 0},
        {"no ramp", R"(<parkpos id="a" latitude="1" longitude="1" cargo="TRUE"/>)", 1, true, false, false, "", "", "", "", 0, 0},
        {"yes and 1", R"(<parkpos id="a" latitude="1" longitude="1" cargo="no" ramp="Yes" heli="1"/>)", 1, false,
         true, true, "", "", "", "", 0, 0},
        {"empty and 0", R"(<parkpos id="a" latitude="1" longitude="1" cargo="" ramp="0" heli="false"/>)", 1, false, false, false, "", "", "", "", 0, 0},
        {"one colon", R"(<parkpos id="a" latitude="1" longitude="1"><opt cs="A:B" airl="X" type="Y" day="3"/></parkpos>)",
         1, false, false, false, "A", "B", "X", "Y", 3, 1},
        {"two colons", R"(<parkpos id="a" latitude="1" longitude="1"><opt cs="A:B:C" soft="t" day="-4"/></parkpos>)",
         1, false, false, false, "A", "", "", "", 0, 0},
        {"operator first", R"(<parkpos id="a" latitude="1" longitude="1"><opt reg="HBJHA" airl="X" type="Y" day="7"/></parkpos>)",
         1, false, false, false, "", "", "EDW", "A333", 7, 1},
        {"airline when no operator", R"(<parkpos id="a" latitude="1" longitude="1"><opt reg="D-ABCD" airl="X" soft="false"/></parkpos>)",
         1, false, false, false, "", "", "DLH", "A320", 0, 1},
    };
    for (const Case& c : cases) {
        StandFile f;
        std::string error;
        ASSERT_TRUE(gf_readStandFileText("<parkpositions>" + c.parkpos + "<other/></parkpositions>", 1, f, error))
            << c.label;
        EXPECT_FALSE(f.metaComplete) << c.label;
        ASSERT_EQ(f.stands.size(), c.stands) << c.label;
        if (c.stands == 0) continue;
        const ParkPos& s = f.stands[0];
        EXPECT_EQ(s.cargo, c.cargo) << c.label;
        EXPECT_EQ(s.ramp, c.ramp) << c.label;
        EXPECT_EQ(s.heli, c.heli) << c.label;
        EXPECT_EQ(s.manual, 0) << c.label;
        if (s.options.empty()) continue;
        const ParkPosOption& o = s.options[0];
        EXPECT_EQ(o.callsign1, c.cs1) << c.label;
        EXPECT_EQ(o.callsign2, c.cs2) << c.label;
        EXPECT_EQ(o.airline, c.airline) << c.label;
        EXPECT_EQ(o.type, c.type) << c.label;
        EXPECT_EQ(o.day, c.day) << c.label;
        EXPECT_EQ(o.real, c.real) << c.label;
        EXPECT_EQ(o.id, 1u) << c.label;
        EXPECT_EQ(o.fromFile, 1u) << c.label;
    }
}

TEST_F(StandFileTest, BadTextAndParameterDefaults) {
    struct Case {
        const char* label;
        std::string text;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"not closed", "<parkpositions><parkpos id=\"a\">", false},
        {"garbage", "<<>>", false},
        {"empty", "", false},
        {"only parameters", "<parameters><parameter name=\"altitude\"/></parameters>", true},
    };
    for (const Case& c : cases) {
        StandFile f;
        std::string error;
        EXPECT_EQ(gf_readStandFileText(c.text, 0, f, error), c.ok) << c.label;
        EXPECT_EQ(error.empty(), c.ok) << c.label;
    }
    StandFile f;
    std::string error;
    ASSERT_TRUE(gf_readStandFileText(
        R"(<parameters><parameter name="altitude"/><parameter name="RT_traffic_week" value="17"/>
           <parameter name="handmade" value="false"/><parameter name="MAX_LIVE" value="-1"/></parameters>)",
        0, f, error));
    EXPECT_EQ(f.altitude, 0);  // present without value
    EXPECT_EQ(f.rtTrafficWeek, 17);
    EXPECT_TRUE(f.handmade);  // its presence counts
    EXPECT_EQ(f.qfReal, -1);
    EXPECT_EQ(f.qfSoft, -1);
    EXPECT_EQ(f.mode, StandFileMode::full);  // no snapshot
}

TEST_F(StandFileTest, GoldenTextOfASmallFile) {
    StandFile f;
    f.mode = StandFileMode::learned;
    f.airportName = "Tiny";
    f.publisher = "stock";
    f.settings.maxLive = 3;
    ParkPos manual = stand("1", 52.3, 4.75, 0.0, 23.46, false, true, false,
                           {opt("", "KLM1", "KLM2", 2, hours({1, 2, 47}), 0, 4), opt("", "X", "", 1, hours({}), 1, 0)});
    manual.manual = 1;
    f.stands.push_back(std::move(manual));
    ParkPos grown = stand("2", 0.0, 0.0, 0.0, 30.0, false, false, false);
    grown.radiusChanged = 1;
    f.stands.push_back(std::move(grown));
    f.stands.push_back(stand("3", 1.0, 1.0, 0.0, 30.0, false, false, false));
    const std::string text = gf_writeStandFileText(f);
    const std::size_t metaEnd = text.find("</meta>\n");
    ASSERT_NE(metaEnd, std::string::npos);
    EXPECT_EQ(text.substr(0, 22), "<?xml version=\"1.0\"?>\n");
    EXPECT_EQ(text.substr(metaEnd + 8),
              "<parameters>\n"
              "\t<parameter name=\"airport_name\" value=\"Tiny\" />\n"
              "\t<parameter name=\"publisher\" value=\"stock\" />\n"
              "\t<parameter name=\"num_parkpos\" value=\"3\" />\n"
              "\t<parameter name=\"LATERAL_RANGE\" value=\"40\" />\n"
              "\t<parameter name=\"AUTO_RANGE\" value=\"true\" />\n"
              "\t<parameter name=\"WEEK\" value=\"false\" />\n"
              "\t<parameter name=\"PARK_FAKE\" value=\"false\" />\n"
              "\t<parameter name=\"PARK_SOFT\" value=\"true\" />\n"
              "\t<parameter name=\"parking_percentage\" value=\"30\" />\n"
              "\t<parameter name=\"INITIAL_LOAD_ONLY\" value=\"false\" />\n"
              "\t<parameter name=\"MAX_FIT\" value=\"47\" />\n"
              "\t<parameter name=\"RT_PARKTRAFFIC_ONLY\" value=\"false\" />\n"
              "\t<parameter name=\"MAX_LIVE\" value=\"3\" />\n"
              "\t<parameter name=\"LEARN_SOFT\" value=\"true\" />\n"
              "</parameters>\n"
              "<parkpositions>\n"
              "\t<parkpos id=\"1\" latitude=\"52.300000\" longitude=\"4.750000\" heading=\"0.0\" radius=\"23.5\" "
              "cargo=\"false\" ramp=\"true\" manual=\"true\">\n"
              "\t\t<opt reg=\"\" airl=\"SWR\" type=\"A333\" soft=\"true\" day=\"2\" hh=\"1,2,47\" cs=\"KLM1:KLM2\" />\n"
              "\t</parkpos>\n"
              "\t<parkpos id=\"2\" radius_change=\"true\" radius=\"30.0\" />\n"
              "\t<parkpos id=\"3\" />\n"
              "</parkpositions>\n");
}

}  // namespace
