// The database reader on small hand-built files: categories, wing spans and their averages, cargo flags,
// repeated registrations, the plain sections, and what every failure leaves behind (an error with its text, no
// "temp2.xml", no half-filled containers).
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "database_tables.h"
#include "frame/errors.h"
#include "liveries/database.h"
#include "support/program_env.h"

namespace database_test {
namespace {

namespace fs = std::filesystem;
using testing_support::writeWholeFile;

constexpr double kHalfSpanNmPerMetre = 0.5 * 0.0005399568034557236;

class Database : public testing_support::ProgramEnv {
protected:
    void SetUp() override {
        ProgramEnv::SetUp();
        openLog();
        fs::create_directories(m_program / "input");
        gf_clearDataBase();
    }
    void TearDown() override {
        gf_clearDataBase();
        ProgramEnv::TearDown();
    }

    // Writes the database as "input/temp2.xml" of the program folder and reads it from there.
    void read(const DbXml& db) {
        writeWholeFile(m_program / "input" / "temp2.xml", db.text());
        gf_readDataBaseFile(fs::path("input") / "temp2.xml");
    }
    bool fileGone() const { return !fs::exists(m_program / "input" / "temp2.xml"); }
};

TEST_F(Database, ATypeInSeveralSetsTakesTheFirstOfLargeHeavyBuzjetRotorcraftHighPerf) {
    DbXml db;
    db.sections["large"] = {"<lar types=\"" + scrambledTypes({"A320", "X1"}) + "\"/>"};
    db.sections["heavy"] = {"<hvy types=\"" + scrambledTypes({"B744", "X1", "X2"}) + "\"/>"};
    db.sections["buzjet"] = {"<bzj types=\"" + scrambledTypes({"C25A", "X2", "X3"}) + "\"/>"};
    db.sections["rotorcraft"] = {"<rot types=\"" + scrambledTypes({"EC35", "X3", "X4"}) + "\"/>"};
    db.sections["high_performance"] = {"<hpf types=\"" + scrambledTypes({"F16", "X4"}) + "\"/>"};
    read(db);
    const struct {
        const char* type;
        ModelCategory category;
    } cases[] = {{"A320", 2}, {"X1", 2}, {"B744", 3}, {"X2", 3},   {"C25A", 1}, {"X3", 1},
                 {"EC35", 5}, {"X4", 5}, {"F16", 4},  {"C172", 0}, {"ZZZZ", 0}};
    for (const auto& c : cases) EXPECT_EQ(gf_categoryOfModel(c.type), c.category) << c.type;
    EXPECT_TRUE(gf_isKnownModel("C172"));
    EXPECT_FALSE(gf_isKnownModel("ZZZZ"));
    EXPECT_TRUE(gf_isKnownAirline("SWR"));
    EXPECT_FALSE(gf_isKnownAirline(""));
    EXPECT_TRUE(fileGone());
}

TEST_F(Database, WingSpansAreHalfSpansInNauticalMilesWithCategoryAverages) {
    DbXml db;
    db.sections["wingspans"] = {
        "<wingspan type=\"" + gf_scrambleType("A320") + "\" meters=\"36\"/>",
        "<wingspan type=\"" + gf_scrambleType("A321") + "\" meters=\"34.5\"/>",
        "<wingspan type=\"" + gf_scrambleType("A320") + "\" meters=\"40\"/>",  // the first of a type wins
        "<wingspan type=\"" + gf_scrambleType("B744") + "\" meters=\"64.44\"/>",
        "<wingspan type=\"" + gf_scrambleType("C172") + "\"/>",  // no metres: 0
        "<wingspan type=\"" + gf_scrambleType("QQQQ") + "\" meters=\"20\"/>",
    };
    read(db);
    EXPECT_DOUBLE_EQ(gf_wingspanOfModel("A320"), 0.009719222462203024);
    EXPECT_DOUBLE_EQ(g_defaultWingspans[2], (36 + 34.5) / 2 * kHalfSpanNmPerMetre);
    EXPECT_DOUBLE_EQ(g_defaultWingspans[0], 0.0);
    EXPECT_DOUBLE_EQ(g_maxHalfWingSpan, 64.44 * kHalfSpanNmPerMetre);
    EXPECT_FALSE(g_wingspans.contains("QQQQ"));
    EXPECT_TRUE(logHas("wingspan model QQQQ is no valid model, skipped"));
    // Business jets, rotorcraft and high performance have no span of their own here: the average of all.
    const double overall = (36 + 34.5 + 64.44 + 0) / 4 * kHalfSpanNmPerMetre;
    for (const char* type : {"C25A", "EC35", "F16"}) EXPECT_DOUBLE_EQ(gf_wingspanOfModel(type), overall) << type;
}

// A span is read as people write it; one that still is no span costs its own entry only, never the
// database (and with it every start-up).
TEST_F(Database, AWingSpanIsReadAsWrittenAndOneThatIsNoSpanIsSkippedAlone) {
    const struct {
        const char* type;
        const char* meters;
        double expected;  // < 0: skipped
    } cases[] = {{"T01", "34.10 ", 34.1},   {"T02", "34,10", 34.1}, {"T03", "+34.10", 34.1}, {"T04", "34.10m", 34.1},
                 {"T05", " 3.41e1", 34.1},  {"T06", "1e400", -1},   {"T07", "wide", -1},   {"T08", "-34", -1},
                 {"T09", "nan", -1},        {"T10", "3410", -1}};
    DbXml db;
    std::string types;
    for (const auto& c : cases) {
        types += (types.empty() ? "" : ",") + gf_scrambleType(c.type);
        db.sections["wingspans"].push_back("<wingspan type=\"" + gf_scrambleType(c.type) + "\" meters=\"" + c.meters +
                                           "\"/>");
    }
    db.sections["aircrafts"].push_back("<aircraft types=\"" + types + "\"/>");
    db.sections["dbase"] = {registration("D-ABCD", "DLH", "A320")};
    read(db);
    for (const auto& c : cases) {
        if (c.expected < 0) {
            EXPECT_FALSE(g_wingspans.contains(c.type)) << c.meters;
            EXPECT_TRUE(
                logHas(fmt::format("===> wingspan \"{}\" of model {} cannot be read, skipped", c.meters, c.type)));
        } else {
            EXPECT_DOUBLE_EQ(gf_wingspanOfModel(c.type), c.expected * kHalfSpanNmPerMetre) << c.meters;
        }
    }
    EXPECT_TRUE(g_regcodeDb.contains("D-ABCD"));
    EXPECT_DOUBLE_EQ(g_maxHalfWingSpan, 34.1 * kHalfSpanNmPerMetre);
}

TEST_F(Database, ACargoFlagIsTrueOnlyWhenItBeginsWithOneTOrY) {
    const struct {
        const char* reg;
        const char* cargo;  // null: no attribute
        bool expected;
    } cases[] = {{"D-AAA1", "True", true}, {"D-AAA2", "yes", true},    {"D-AAA3", "1", true},
                 {"D-AAA4", "Y", true},    {"D-AAA5", "false", false}, {"D-AAA6", "0", false},
                 {"D-AAA7", "no", false},  {"D-AAA8", "", false},      {"D-AAA9", nullptr, false}};
    DbXml db;
    for (const auto& c : cases) db.sections["dbase"].push_back(registration(c.reg, "GEC", "B744", "", c.cargo));
    read(db);
    for (const auto& c : cases) EXPECT_EQ(g_regcodeDb.at(c.reg).cargo, c.expected) << (c.cargo ? c.cargo : "missing");
}

TEST_F(Database, ARepeatedRegistrationKeepsTheFirstRecordAndIsLogged) {
    DbXml db;
    db.sections["dbase"] = {registration("D-ABCD", "DLH", "A320", "SWR", "0"), registration("D-ABCD", "GEC", "B744"),
                            registration("HB-JLT", "SWR", "A321")};
    read(db);
    ASSERT_EQ(g_regcodeDb.size(), 2u);
    const RegcodeData& first = g_regcodeDb.at("D-ABCD");
    EXPECT_EQ(first.airline, "DLH");
    EXPECT_EQ(first.type, "A320");
    EXPECT_EQ(first.operatorCode, "SWR");
    EXPECT_EQ(g_regcodeDb.at("HB-JLT").operatorCode, "");
    EXPECT_TRUE(logHas("regcode D-ABCD already exists"));
}

TEST_F(Database, PlainSectionsKeepTheirOrderAndBadFixesAreSkipped) {
    DbXml db;
    db.sections["similar_types"] = {"<similar types=\"" + scrambledTypes({"A321", "A318", "A320"}) + "\"/>",
                                    "<similar types=\"" + scrambledTypes({"B744", "B748"}) + "\"/>"};
    db.sections["publishers"] = {"<pub names=\"Zeta,Z\"/>", "<pub names=\"Alpha,A1,A2\"/>",
                                 "<pub names=\"Alpha,A1,A2\"/>", "<pub/>"};
    db.sections["fixes"] = {"<fx wro=\"A32N\" cor=\"A320\"/>", "<fx wro=\"A32N\" cor=\"A321\"/>",
                            "<fx wro=\"B7XX\" cor=\"ZZZZ\"/>"};
    db.sections["thirdpartiesP3D"] = {"<thirdpartieP3D pub=\"FlyTampa\" arpts=\"LGAV142,EKCH173\"/>"};
    read(db);
    EXPECT_EQ(g_similarModelGroups,
              (std::vector<std::vector<std::string>>{{"A318", "A320", "A321"}, {"B744", "B748"}}));
    EXPECT_EQ(g_publisherGroups, (std::vector<std::vector<std::string>>{{"Alpha", "A1", "A2"}, {"Zeta", "Z"}}));
    EXPECT_EQ(g_modelFixes.size(), 1u);
    EXPECT_EQ(g_modelFixes.at("A32N"), "A320");
    EXPECT_TRUE(logHas("wrong part of fix: \"A32N\", already exists, skipped"));
    EXPECT_TRUE(logHas("wrong fix B7XX->ZZZZ, the latter is not a valid model"));
    ASSERT_EQ(g_thirdPartyAirports.size(), 1u);
    EXPECT_EQ(g_thirdPartyAirports[0].publisher, "FlyTampa");
    EXPECT_EQ(g_thirdPartyAirports[0].airports, (std::vector<std::string>{"LGAV142", "EKCH173"}));
    EXPECT_EQ(g_simAddonAirports, (std::set<std::string>{"YMML", "YSSY"}));
    EXPECT_EQ(g_cargoOperators, std::set<std::string>{"GEC"});

    // A second read of the same process starts from empty containers: no group twice.
    read(db);
    EXPECT_EQ(g_similarModelGroups.size(), 2u);
    EXPECT_EQ(g_publisherGroups.size(), 2u);
    EXPECT_EQ(g_thirdPartyAirports.size(), 1u);
}

TEST_F(Database, AFailureNamesItsCauseRemovesTheFileAndLeavesNothingHalfRead) {
    const auto without = [](const char* section) {
        DbXml db;
        db.sections.erase(section);
        return db;
    };
    const auto with = [](const char* section, std::string element) {
        DbXml db;
        db.sections[section] = {std::move(element)};
        return db;
    };
    const struct {
        const char* what;
        std::string text;
        std::string error;
    } cases[] = {
        {"no valid types", with("aircrafts", "<aircraft types=\"\"/>").text(),
         "61: In an xml file section aircrafts aircraft types is empty "},
        {"no cargo operators", without("cargo_operators").text(),
         "61: In an xml file section cargo_operators ICAO codes is empty "},
        // The last required list: everything before it was read already.
        {"no add-on airports", without("simaddonsP3D").text(),
         "61: In an xml file section simaddonsP3D simaddonP3D arpts is empty "},
        {"not well-formed", "<aircrafts><aircraft types=\"A\"/></large>",
         "60: \"input/temp2.xml\" not read because of Start-end tags mismatch"},
        {"airline field of 5", with("ICAO_airlines", "<ICAO codes=\"ABCDE\"/>").text(), "decrypt airl \"ABCDE\" error"},
    };
    DbXml full;
    full.sections["similar_types"] = {"<similar types=\"" + scrambledTypes({"A320", "A321"}) + "\"/>"};
    full.sections["publishers"] = {"<pub names=\"Aerosoft,AES\"/>"};
    full.sections["dbase"] = {registration("D-ABCD", "DLH", "A320")};
    for (const auto& c : cases) {
        read(full);  // a database in the containers that a failed read must not leave half-replaced
        writeWholeFile(m_program / "input" / "temp2.xml", c.text);
        try {
            gf_readDataBaseFile(fs::path("input") / "temp2.xml");
            ADD_FAILURE() << c.what << ": no error";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), c.error) << c.what;
        }
        EXPECT_TRUE(fileGone()) << c.what;
        EXPECT_TRUE(g_knownModels.empty() && g_similarModelGroups.empty() && g_publisherGroups.empty() &&
                    g_regcodeDb.empty() && g_icaoAirlines.empty())
            << c.what;
    }
}

TEST_F(Database, AnAirlineFieldIsSixScrambledThreePlainOrEmpty) {
    EXPECT_EQ(gf_decryptAirline(gf_scrambleAirline("SWR")), "SWR");
    EXPECT_EQ(gf_decryptAirline(""), "");
    EXPECT_EQ(gf_decryptAirline("DLH"), "DLH");
    EXPECT_TRUE(logHas("Unencrypted airline DLH in decrypt airl?"));
    for (const std::string bad : {"AB", "ABCD", "ABCDEFG"}) {
        try {
            gf_decryptAirline(bad);
            ADD_FAILURE() << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "decrypt airl \"" + bad + "\" error");
        }
    }
}

}  // namespace
}  // namespace database_test
