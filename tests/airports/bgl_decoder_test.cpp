// The BGL decoder: the real KTST scenery file against its compiler source, files of our own writer for the
// format's cases, a table of corrupt files that must end cleanly, and the file task's archive lookup writing
// pointer and stand files into a program folder of its own.
#include "airports/bgl_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <numbers>
#include <set>

#include <pugixml.hpp>

#include "airports/addon_scan.h"
#include "airports/stand_file.h"
#include "fixtures/bgl_writer.h"
#include "frame/files.h"
#include "liveries/database.h"
#include "support/program_env.h"

namespace fs = std::filesystem;
using namespace testing_support;
using namespace bglgen;

namespace {

constexpr double kLatStep = 3.3527612686157227e-7, kLonStep = 4.470348358154297e-7;  // the format's precision
const std::string kPath = "scenery/test.bgl";

std::vector<BglAirport> decodeBytes(const std::vector<std::uint8_t>& bytes) {
    return gf_decodeBglAirports(gf_bglWords(bytes), kPath);
}
std::vector<BglAirport> decode(const File& file) { return decodeBytes(write(file)); }

const ParkPos* standById(const ApfAirport& a, const std::string& id) {
    const auto it = std::find_if(a.stands.begin(), a.stands.end(), [&](const ParkPos& s) { return s.id == id; });
    return it == a.stands.end() ? nullptr : &*it;
}

std::vector<std::string> ids(const std::vector<ParkPos>& stands) {
    std::vector<std::string> out;
    for (const ParkPos& s : stands) out.push_back(s.id);
    return out;
}
std::vector<std::string> ids(const ApfAirport& a) { return ids(a.stands); }

ParkingSpot spot(std::uint32_t code, std::uint32_t number, std::uint32_t type, float radius = 20.0f,
                 std::vector<std::string> airlines = {}) {
    return ParkingSpot{code, number, type, radius, 45.0f, 47.25, 8.5 + number * 1e-4, std::move(airlines)};
}

Airport airport(std::string ident, std::vector<ParkingSpot> parking, Layout layout = Layout::Later) {
    Airport a;
    a.ident = std::move(ident);
    a.name = "Test Field";
    a.lat = 47.25, a.lon = 8.5;
    a.altitudeMetres = 400;
    a.layout = layout;
    a.parking = std::move(parking);
    return a;
}

}  // namespace

TEST(BglDecoder, RealKtstFileMatchesItsCompilerSource) {
    const fs::path dir = sharedFixtures() / "bgl";
    if (sharedFixtures().empty() || !fs::exists(dir / "KTST_TestAirport_v5.BGL")) GTEST_SKIP() << "no shared fixtures";
    EXPECT_TRUE(lf_bglHasAirportSection(dir / "KTST_TestAirport_v5.BGL"));
    const std::string bytes = readWholeFile(dir / "KTST_TestAirport_v5.BGL");
    const auto airports = gf_decodeBglAirports(
        gf_bglWords({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}), kPath);
    ASSERT_EQ(airports.size(), 1u);
    const ApfAirport& a = airports[0].airport;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file((dir / "KTST_TestAirport_v5.xml").c_str()));
    const pugi::xml_node source = doc.child("FSData").child("Airport");
    EXPECT_EQ(a.ident, source.attribute("ident").value());
    EXPECT_EQ(a.name, source.attribute("name").value());
    EXPECT_EQ(a.altitude, std::lround(source.attribute("alt").as_double() * 3.2808399));
    EXPECT_TRUE(airports[0].scanLog.empty());

    // Name and type as the compiler source spells them, and what they become.
    const std::map<std::string, std::string> names{{"GATE", "g"}, {"PARKING", "r"}};
    const std::map<std::string, std::pair<bool, bool>> kinds{{"GATE_SMALL", {false, false}},
                                                             {"RAMP_GA_SMALL", {true, false}}};  // ramp, cargo
    std::size_t spots = 0;
    for (const pugi::xml_node p : source.children("TaxiwayParking")) {
        ++spots;
        const std::string id = names.at(p.attribute("name").value()) + p.attribute("number").value();
        SCOPED_TRACE(id);
        const ParkPos* s = standById(a, id);
        ASSERT_NE(s, nullptr);
        EXPECT_NEAR(s->latitude, p.attribute("lat").as_double(), kLatStep);
        EXPECT_NEAR(s->longitude, p.attribute("lon").as_double(), kLonStep);
        EXPECT_DOUBLE_EQ(s->heading, p.attribute("heading").as_double() * std::numbers::pi / 180.0);
        EXPECT_NEAR(s->radius * 1852.0, p.attribute("radius").as_double(), 1e-9);
        EXPECT_EQ(std::pair(static_cast<bool>(s->ramp), static_cast<bool>(s->cargo)),
                  kinds.at(p.attribute("type").value()));
        EXPECT_FALSE(s->heli);
    }
    const pugi::xml_node pad = source.child("Helipad");
    const ParkPos* h = standById(a, "helipad1");
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(h->heli);
    EXPECT_NEAR(h->latitude, pad.attribute("lat").as_double(), kLatStep);
    EXPECT_NEAR(h->longitude, pad.attribute("lon").as_double(), kLonStep);
    EXPECT_DOUBLE_EQ(h->heading, 2 * std::numbers::pi);  // heading 0
    EXPECT_NEAR(h->radius * 1852.0, std::stod(pad.attribute("width").value()) * 0.3048 / 2, 1e-4);  // "60F"
    EXPECT_EQ(a.stands.size(), spots + 1);
}

// Both layouts: which spots become which stands, and which are skipped with which line.
TEST(BglDecoder, ParkingSpotsOfBothLayouts) {
    for (const Layout layout : {Layout::Classic, Layout::Later}) {
        SCOPED_TRACE(layout == Layout::Classic ? "0x003C" : "0x00AB");
        ParkingSpot north = spot(10, 12, 8, 20.0f, {"BAW", "KLM"});
        north.heading = 0.0f;
        ParkingSpot nearZero = spot(2, 9, 1);
        nearZero.lat = 0.0005, nearZero.lon = 0.01;
        Airport a = airport("EDDM", {north, spot(12, 3, 5, 1.5f), spot(11, 4, 6, 199.9f, {"A", "B", "C"}),
                                     spot(0, 7, 11), spot(1, 1, 0), spot(1, 2, 12), spot(1, 3, 13),
                                     spot(1, 5, 1, 1.0f), spot(1, 6, 1, 200.0f), nearZero,
                                     // ids of the same text from other name codes: "4" again, "r1" twice
                                     spot(0, 4, 1, 15.0f), spot(61, 1, 2, 30.0f), spot(1, 1, 2, 40.0f)},
                            layout);
        const auto airports = decode(airportFile({a}));
        ASSERT_EQ(airports.size(), 1u);
        const ApfAirport& d = airports[0].airport;
        EXPECT_EQ(ids(d), (std::vector<std::string>{"g12", "A3", "4", "7", "4a", "r1a", "r1"}));
        struct Want { const char* id; bool ramp, cargo; double radius, heading; };
        for (const Want& w : {Want{"g12", false, false, 20.0, 2 * std::numbers::pi},
                              Want{"A3", true, true, 1.5, std::numbers::pi / 4}, Want{"4", true, false, 199.9, 0},
                              Want{"7", false, false, 20.0, 0}, Want{"r1", true, false, 40.0, 0}}) {
            const ParkPos* s = standById(d, w.id);
            ASSERT_NE(s, nullptr) << w.id;
            EXPECT_EQ(s->ramp, w.ramp) << w.id;
            EXPECT_EQ(s->cargo, w.cargo) << w.id;
            EXPECT_NEAR(s->radius * 1852.0, w.radius, 1e-4) << w.id;
            if (w.heading != 0) {
                EXPECT_DOUBLE_EQ(s->heading, w.heading) << w.id;
            }
        }
        EXPECT_EQ(airports[0].scanLog,
                  (std::vector<std::string>{"skipped position with radius 1.0 meters, in " + kPath,
                                            "skipped position with radius 200.0 meters, in " + kPath,
                                            "lat/lon: 0.000500,0.010000, incorrect (skipped) "}));
    }
}

TEST(BglDecoder, DuplicateIdsGoToTheLargestStandsAndAnEighthIsDropped) {
    std::vector<ParkingSpot> spots;
    for (int i = 1; i <= 8; ++i) spots.push_back(spot(10, 12, 8, 10.0f * static_cast<float>(i)));
    spots.push_back(spot(10, 1, 8));
    const auto airports = decode(airportFile({airport("LOWW", spots)}));
    ASSERT_EQ(airports.size(), 1u);
    const ApfAirport& a = airports[0].airport;
    EXPECT_EQ(a.stands.size(), 8u);
    const std::map<std::string, double> want{{"g12", 70}, {"g12a", 60}, {"g12b", 50}, {"g12c", 40},
                                             {"g12d", 30}, {"g12e", 20}, {"g12f", 10}, {"g1", 20}};
    for (const auto& [id, radius] : want) {
        const ParkPos* s = standById(a, id);
        ASSERT_NE(s, nullptr) << id;
        EXPECT_NEAR(s->radius * 1852.0, radius, 1e-4) << id;
    }
    EXPECT_EQ(airports[0].scanLog,
              std::vector<std::string>{"===> Warning more then 6 the same ids g12, in " + kPath});
}

// What an airport record holds besides its parking list.
TEST(BglDecoder, AirportRecordCases) {
    const Helipad pad{47.3, 8.6, 20.0f, 90.0f};
    struct Case {
        const char* what;
        std::function<void(Airport&)> change;
        std::size_t airports;
        std::string name;
        std::int32_t altitude;
        std::vector<std::string> ids;
        std::vector<std::string> scanLog;
    };
    const std::string sixty(60, 'N');
    const std::vector<Case> cases{
        {"plain", [](Airport&) {}, 1, "Test Field", 1312, {"g1"}, {}},
        {"altitude -3048 mm", [](Airport& a) { a.altitudeMetres = -3.048; }, 1, "Test Field", -10, {"g1"}, {}},
        {"altitude -7000 mm", [](Airport& a) { a.altitudeMetres = -7.0; }, 1, "Test Field", 0, {"g1"}, {}},
        {"altitude 3,100,000 mm", [](Airport& a) { a.altitudeMetres = 3100; }, 1, "Test Field", 0, {"g1"}, {}},
        {"two different names", [](Airport& a) { a.before = {nameSubrecord("Other")}; }, 1, "", 1312, {"g1"}, {}},
        {"the same name twice", [](Airport& a) { a.before = {nameSubrecord("Test Field")}; }, 1, "Test Field",
         1312, {"g1"}, {}},
        {"60 characters", [&](Airport& a) { a.name = sixty; }, 1, sixty.substr(0, 44), 1312, {"g1"}, {}},
        {"helipads", [&](Airport& a) { a.helipads = {pad, pad, {0.0005, 0.01}, {47.4, 8.6}}; }, 1, "Test Field",
         1312, {"helipad1", "helipad2", "g1"},
         {"double helipad Test Field (skipped) 47.300000,8.600000",
          "lat/lon helipad incorrect (skipped): 0.000500,0.010000"}},
        {"after the parking list", [&](Airport& a) {
             a.after = {helipadSubrecord(pad), parkingListSubrecord(a.layout, {spot(10, 2, 8)})};
         }, 1, "Test Field", 1312, {"g1"}, {}},
        {"other subrecords stepped over", [](Airport& a) { a.before = {Raw{0x00CE, std::vector<std::uint8_t>(58)}}; },
         1, "Test Field", 1312, {"g1"}, {}},
        {"three-letter ident", [](Airport& a) { a.ident = "ABC"; }, 0, "", 0, {}, {}},
        {"ident with a blank", [](Airport& a) { a.ident = "AB C"; }, 0, "", 0, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Airport a = airport("LSZH", {spot(10, 1, 8)});
        c.change(a);
        const auto airports = decode(airportFile({a}));
        ASSERT_EQ(airports.size(), c.airports);
        if (c.airports == 0) continue;
        EXPECT_EQ(airports[0].airport.ident, "LSZH");
        EXPECT_EQ(airports[0].airport.name, c.name);
        EXPECT_EQ(airports[0].airport.altitude, c.altitude);
        EXPECT_EQ(ids(airports[0].airport), c.ids);
        EXPECT_EQ(airports[0].scanLog, c.scanLog);
    }
}

// Stands the airport cannot have are dropped with a scan-log line: far from its reference point, without a
// heading that is a bearing, helipads wider than any stand. Headings a turn outside are brought into range.
TEST(BglDecoder, StandsTheAirportCannotHaveAreDropped) {
    struct Case {
        const char* what;
        std::function<void(Airport&)> change;  // of an airport at 47.25, 8.5 with the spot g1 and no helipad
        std::vector<std::string> ids;
        std::string scanLog;  // "" for none
        double heading = 0, radiusMetres = 20;  // of the first stand; heading 0: not looked at
    };
    const std::string in = ", in " + kPath;
    const auto helipad = [](float width, float heading = 0.0f, double lat = 47.26) {
        return [=](Airport& a) { a.helipads = {{lat, 8.5, width, heading}}; };
    };
    const std::vector<Case> cases{
        {"9.9 nm out", [](Airport& a) { a.parking[0].lat += 9.9 / 60; }, {"g1"}, ""},
        {"10.1 nm out", [](Airport& a) { a.parking[0].lat += 10.1 / 60; }, {},
         "position g1 at 47.418333,8.500100 lies 10.1 nm from the airport (skipped)" + in},
        {"patched 680 km away", [](Airport& a) { a.parking[0].lat = 53.37; }, {},
         "position g1 at 53.370000,8.500100 lies 367.2 nm from the airport (skipped)" + in},
        {"airport off the globe", [](Airport& a) { a.lat = -95; }, {},
         "position g1 at 47.250000,8.500100 lies inf nm from the airport (skipped)" + in},
        {"heading -90", [](Airport& a) { a.parking[0].heading = -90; }, {"g1"}, "", 1.5 * std::numbers::pi},
        {"heading 720", [](Airport& a) { a.parking[0].heading = 720; }, {"g1"}, "", 2 * std::numbers::pi},
        {"heading 1e26", [](Airport& a) { a.parking[0].heading = 1e26f; }, {},
         "position g1 at 47.250000,8.500100 has heading 1e+26 degrees (skipped)" + in},
        {"heading no number", [](Airport& a) { a.parking[0].heading = std::nanf(""); }, {},
         "position g1 at 47.250000,8.500100 has heading nan degrees (skipped)" + in},
        {"helipad 399 m wide", helipad(399.0f), {"helipad1", "g1"}, "", 0, 199.5},
        {"helipad of no width", helipad(-4.0f), {"helipad1", "g1"}, "", 0, 0},
        {"helipad 8.7e24 m wide", helipad(8.7e24f), {"g1"},
         "helipad at 47.260000,8.500000 has width 8.7e+24 meters (skipped)" + in},
        {"helipad of endless width", helipad(std::numeric_limits<float>::infinity()), {"g1"},
         "helipad at 47.260000,8.500000 has width inf meters (skipped)" + in},
        {"helipad heading no number", helipad(20.0f, std::nanf("")), {"g1"},
         "helipad at 47.260000,8.500000 has heading nan degrees (skipped)" + in},
        {"helipad 10.1 nm out", helipad(20.0f, 0.0f, 47.25 + 10.1 / 60), {"g1"},
         "helipad at 47.418333,8.500000 lies 10.1 nm from the airport (skipped)" + in},
        {"just south of the box at 0, 0, at an airport there", [](Airport& a) {
             a.lat = -0.001, a.lon = 0.01;
             a.parking[0].lat = -0.0005, a.parking[0].lon = 0.01;
         }, {"g1"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Airport a = airport("LSZH", {spot(10, 1, 8)});
        c.change(a);
        const auto airports = decode(airportFile({a}));
        ASSERT_EQ(airports.size(), 1u);
        EXPECT_EQ(ids(airports[0].airport), c.ids);
        EXPECT_EQ(airports[0].scanLog, c.scanLog.empty() ? std::vector<std::string>{} : std::vector{c.scanLog});
        if (c.ids.empty()) continue;
        const ParkPos& first = airports[0].airport.stands[0];
        EXPECT_NEAR(first.radius * 1852.0, c.radiusMetres, 1e-4);
        if (c.heading != 0) {
            EXPECT_DOUBLE_EQ(first.heading, c.heading);
        }
    }
}

// Decoding costs a bounded number of steps and stands per word of the file, whatever the file holds: a list
// of many groups of equal ids, and airport records reached through other subsections that overlap one
// another and would each decode the same parking list (they lie where the outer airport lies, so that their
// stands would all be kept).
TEST(BglDecoder, DecodingIsBoundByTheFilesWords) {
    const auto duplicateIds = [] {
        std::vector<ParkingSpot> spots;
        for (std::uint32_t i = 0; i < 4096; ++i) spots.push_back(spot(10, i / 2, 8, 10.0f + i % 2));
        return write(airportFile({airport("EGLL", spots)}));
    };
    const auto overlappingRecords = [] {
        constexpr std::size_t kInner = 20;
        Airport a = airport("EGLL", {}, Layout::Classic);
        for (std::uint32_t i = 0; i < 100; ++i) a.parking.push_back(spot(10, i, 8));
        a.before = {Raw{0x00CE, std::vector<std::uint8_t>(kInner * 64 + 10)}};  // a whole number of words
        File file = airportFile({a});
        for (std::size_t k = 0; k < kInner; ++k) file.sections[0].subsections.push_back({Raw{0x22, {}}});
        Map map;
        std::vector<std::uint8_t> bytes = write(file, &map);
        const std::size_t outer = map.airports[0].record;
        const std::size_t padding = map.airports[0].subrecords[1], list = map.airports[0].subrecords[2];
        const std::size_t end = list + 6 + 2 + 36 * 100;  // of the list, and of the airport
        // Inside the padding: airport records that reach the list through one subrecord each.
        for (std::size_t k = 0; k < kInner; ++k) {
            const std::size_t r = (padding + 8) / 4 * 4 + 64 * k, h = map.subsectionHeaders[k + 1];
            putU32(bytes, h + 8, static_cast<std::uint32_t>(r));
            putU32(bytes, h + 12, static_cast<std::uint32_t>(end - r));
            putU16(bytes, r, 0x003C);
            putU32(bytes, r + 2, static_cast<std::uint32_t>(end - r));
            std::copy_n(bytes.begin() + outer + 12, 24, bytes.begin() + r + 12);  // position, altitude, tower
            putU32(bytes, r + 40, packIdent("EGLL"));
            putU16(bytes, r + 56, 0x0000);
            putU32(bytes, r + 58, static_cast<std::uint32_t>(list - (r + 56)));
        }
        return bytes;
    };
    for (const auto& [what, make] : {std::pair<const char*, std::function<std::vector<std::uint8_t>()>>{
                                         "4096 spots in pairs of equal ids", duplicateIds},
                                     {"overlapping airport records", overlappingRecords}}) {
        SCOPED_TRACE(what);
        const std::vector<std::uint32_t> words = gf_bglWords(make());
        std::uint64_t steps = 0, stands = 0;
        for (const BglAirport& a : gf_decodeBglAirports(words, kPath)) {
            steps += a.steps;
            stands += a.airport.stands.size();
        }
        EXPECT_GT(stands, 0u);
        EXPECT_LE(stands * 9, words.size());  // a stand takes at least 9 words of its own
        EXPECT_LE(steps, 2 * words.size());
    }
}

// Several airports in several subsections, other records between them, other sections around; an airport
// record in a section that follows the airport section is never taken for an airport.
TEST(BglDecoder, WalksOnlyTheAirportSectionsRecords) {
    const Raw filler{0x0022, std::vector<std::uint8_t>(30, 0xAB)};
    File file;
    file.sections.push_back(Section{0x25, false, {{filler, filler}}});
    file.sections.push_back(Section{3, false,
                                    {{airport("EGLL", {spot(10, 1, 8)}, Layout::Classic), filler,
                                      airport("EGKK", {spot(10, 2, 8)})},
                                     {airport("EGSS", {spot(10, 3, 8)})}}});
    file.sections.push_back(Section{0x99, false, {{airport("XXXX", {spot(10, 4, 8)})}}});
    file.sections.push_back(Section{3, true, {{airport("YYYY", {spot(10, 5, 8)})}}});  // 20-byte headers
    std::vector<std::string> found;
    for (const BglAirport& a : decode(file)) found.push_back(a.airport.ident);
    EXPECT_EQ(found, (std::vector<std::string>{"EGLL", "EGKK", "EGSS"}));

    File other;
    other.sections.push_back(Section{0x99, false, {{filler}}});
    const TempDir dir;
    const fs::path bgl = dir / "any.bgl";
    for (const auto& [f, has] : {std::pair{file, true}, std::pair{other, false}}) {
        writeFile(bgl, f);
        EXPECT_EQ(lf_bglHasAirportSection(bgl), has);
    }
    fs::remove(bgl);
    EXPECT_FALSE(lf_bglHasAirportSection(bgl));
}

// Corrupt sizes and counts: each file ends its walks cleanly with what lies before the damage.
TEST(BglDecoder, CorruptFilesEndCleanly) {
    Map map;
    File file = airportFile({airport("EGLL", {spot(10, 1, 8, 20, {"BAW"}), spot(10, 2, 8)}),
                             airport("EGKK", {spot(10, 3, 8)})});
    const std::vector<std::uint8_t> good = write(file, &map);
    const auto& first = map.airports[0];
    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        std::vector<std::size_t> stands;  // per airport decoded
    };
    const std::vector<Case> cases{
        {"header size not 56", [](auto& b) { putU32(b, 4, 60); }, {}},
        {"section count huge", [](auto& b) { putU32(b, 20, 0xFFFFFFFF); }, {2, 1}},
        {"subsection count huge", [&](auto& b) { putU32(b, map.sectionEntries[0] + 8, 0xFFFFFFFF); }, {2, 1}},
        {"subsection headers beyond the file", [&](auto& b) { putU32(b, map.sectionEntries[0] + 12, 1u << 30); }, {}},
        {"records beyond the file", [&](auto& b) { putU32(b, map.subsectionHeaders[0] + 8, 0xFFFFFFF0); }, {}},
        {"records' size huge", [&](auto& b) { putU32(b, map.subsectionHeaders[0] + 12, 0xFFFFFFF0); }, {2, 1}},
        {"record size 0", [&](auto& b) { putU32(b, first.record + 2, 0); }, {}},
        {"record size 3", [&](auto& b) { putU32(b, first.record + 2, 3); }, {}},
        {"record beyond its subsection", [&](auto& b) { putU32(b, map.records[1] + 2, 0x7FFFFFFF); }, {2}},
        {"record past the subsection", [&](auto& b) { putU32(b, map.subsectionHeaders[0] + 12, 200); }, {2}},
        {"subrecord size 0", [&](auto& b) { putU32(b, first.subrecords[0] + 2, 0); }, {0, 1}},
        {"subrecord beyond its record", [&](auto& b) { putU32(b, first.subrecords[0] + 2, 0x10000); }, {0, 1}},
        {"name size 5", [&](auto& b) { putU32(b, first.subrecords[0] + 2, 5); }, {0, 1}},
        {"parking count huge", [&](auto& b) { putU16(b, first.subrecords[1] + 6, 0xFFFF); }, {2, 1}},
        {"airline codes beyond the list", [&](auto& b) { b[first.parkingEntries[0] + 3] = 0xFF; }, {0, 1}},
        {"parking list shorter than its entries", [&](auto& b) { putU32(b, first.subrecords[1] + 2, 60); },
         {1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> bytes = good;
        c.damage(bytes);
        std::vector<std::size_t> stands;
        ASSERT_NO_THROW(for (const BglAirport& a : decodeBytes(bytes)) stands.push_back(a.airport.stands.size()));
        EXPECT_EQ(stands, c.stands);
    }
    for (std::size_t n = 0; n < good.size(); ++n) {
        ASSERT_NO_THROW(decodeBytes({good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)})) << n;
    }
}

// The file task in a program folder: archive lookup by publisher, pointer files, generated stand files.
class BglFileTask : public ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        fs::create_directories(m_program / "airports");
        gf_clearDataBase();
        g_publisherGroups = {{"Fly Tampa", "FlyTampa"}};
    }
    void TearDown() override {
        gf_clearDataBase();
        ProgramEnv::TearDown();
    }
    // Runs the task on a file of the airport at `relative` and returns the scan-log lines it added.
    std::vector<std::string> run(const std::string& relative, const Airport& a) {
        const fs::path bgl = m_program / relative;
        fs::create_directories(bgl.parent_path());
        writeFile(bgl, airportFile({a}));
        const std::size_t before = gf_scanLogLines().size();
        g_scanRunningTasks = 1;
        lf_toParkingPositions(bgl);
        EXPECT_EQ(g_scanRunningTasks.load(), 0u);
        const auto lines = gf_scanLogLines();
        return {lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()};
    }
};

TEST_F(BglFileTask, ArchiveLookupDecidesPointerAndStandFile) {
    Airport a = airport("LGAV", {spot(10, 1, 8), spot(10, 2, 8)});
    a.helipads = {{47.3, 8.6}};
    const std::string generated = "Generated LGAV.xml: 3 positions, of which 1 helipad";
    const std::string tampaRef = "archive/thirdparty/Fly%20Tampa/LGAV.xml";
    struct Case {
        const char* what;
        const char* folder;  // of the scenery
        std::set<std::string> simaddon;
        std::vector<std::string> tampa;
        const char* pointerIn;    // "" for none
        const char* generatedIn;  // "" for none
        std::vector<std::string> scanLog;
    };
    const std::vector<Case> cases{
        {"simaddon linked", "ORBX/scenery", {"LGAV"}, {}, "my_ORBX", "",
         {"simaddon airport LGAV linked to archive/simaddon/LGAV.xml"}},
        {"simaddon not linked", "ORBX/scenery", {"EGLL"}, {}, "", "my_ORBX",
         {"LGAV does not exist as simaddon", generated}},
        {"thirdparty with fewer stands", "FlyTampa/Athens", {}, {"EGLL9", "LGAV2"}, "my_thirdparty", "my_thirdparty",
         {"thirdparty airport LGAV linked to " + tampaRef, "===> LGAV has 3 parkpos while archived one has 2",
          generated}},
        {"thirdparty with as many stands", "FlyTampa/Athens", {}, {"LGAV3"}, "my_thirdparty", "",
         {"thirdparty airport LGAV linked to " + tampaRef}},
        {"thirdparty unknown airport", "FlyTampa/Athens", {}, {"EGLL9"}, "", "my_thirdparty",
         {"thirdparty Fly Tampa LGAV does not exist", "===> LGAV has 3 parkpos while archived one has 0", generated}},
        {"thirdparty count unreadable", "FlyTampa/Athens", {}, {"LGAVxx"}, "my_thirdparty", "my_thirdparty",
         {"thirdparty airport LGAV linked to " + tampaRef, "===> LGAV has 3 parkpos while archived one has 0",
          generated}},
        {"unknown publisher", "Somebody/Athens", {}, {"LGAV1"}, "", "my_thirdparty",
         {"===> LGAV has 3 parkpos while archived one has 0", generated}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_program / "airports");
        fs::create_directories(m_program / "airports");
        g_simAddonAirports = c.simaddon;
        g_thirdPartyAirports = {{"Fly Tampa", c.tampa}};
        g_addOnAirportFound = false;
        const std::string bgl = std::string("scenery/") + c.folder + "/LGAV.bgl";
        EXPECT_EQ(run(bgl, a), c.scanLog);
        const fs::path airports = m_program / "airports";
        for (const char* folder : {"my_ORBX", "my_thirdparty"}) {
            const bool pointer = fs::exists(airports / folder / "LGAV.txt");
            EXPECT_EQ(pointer, std::string(c.pointerIn) == folder) << folder;
            if (pointer) {
                EXPECT_EQ(readWholeFile(airports / folder / "LGAV.txt").back(), '\n');
            }
            EXPECT_EQ(fs::exists(airports / folder / "LGAV.xml"), std::string(c.generatedIn) == folder) << folder;
        }
        EXPECT_EQ(g_addOnAirportFound.load(), *c.pointerIn || *c.generatedIn);
    }
    EXPECT_TRUE(logHas("===> Fly Tampa LGAV LGAVxx stoi"));

    // The last stand file: sorted by id, with the scenery's path since its publisher is unknown.
    StandFile file;
    std::string error;
    ASSERT_TRUE(gf_readStandFileText(readWholeFile(m_program / "airports/my_thirdparty/LGAV.xml"), 0, file, error));
    EXPECT_EQ(ids(file.stands), (std::vector<std::string>{"g1", "g2", "helipad1"}));
    EXPECT_EQ(file.publisher, "unknown");
    EXPECT_EQ(file.airportName, "Test Field");
    EXPECT_EQ(file.altitude, 1312);
    EXPECT_EQ(file.bglPath, (m_program / "scenery/Somebody/Athens/LGAV.bgl").string());
}

TEST_F(BglFileTask, FilesThatCannotBeDecodedLowerTheTaskCountOnce) {
    for (const std::string& bytes : {std::string(), std::string("BG"), std::string(3000, '\xFF')}) {
        writeWholeFile(m_program / "bad.bgl", bytes);
        g_scanRunningTasks = 1;
        EXPECT_EQ(lf_toParkingPositions(m_program / "bad.bgl"), 0u);
        EXPECT_EQ(g_scanRunningTasks.load(), 0u);
    }
    EXPECT_TRUE(logHas("===> Exception in lf_toParkingPositions: " + (m_program / "bad.bgl").string()));
    g_scanRunningTasks = 1;
    lf_toParkingPositions(m_program / "missing.bgl");
    EXPECT_EQ(g_scanRunningTasks.load(), 0u);
}
