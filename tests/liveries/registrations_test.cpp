// Registration spellings and the look-ups in the registration table, including the private-owner fragments
// that are answered from a collected index instead of a scan of the whole table.
#include <gtest/gtest.h>

#include <random>

#include "liveries/database.h"
#include "liveries/registrations.h"

namespace {

class Registrations : public ::testing::Test {
protected:
    void SetUp() override { gf_clearDataBase(); }
    void TearDown() override { gf_clearDataBase(); }
};

TEST(RegistrationSpellings, DashAfterTwoThenOneThenAsReceived) {
    const struct {
        const char* registration;
        std::vector<std::string> spellings;
    } cases[] = {
        {"DABCD", {"DA-BCD", "D-ABCD", "DABCD"}},
        {"D-ABCD", {"D-ABCD"}},
        {"N12345", {"N12345"}},
        {"G-ABC", {"G-ABC"}},
        {"ABCD", {"ABCD"}},
        {"", {""}},
    };
    for (const auto& c : cases) EXPECT_EQ(gf_registrationVariants(c.registration), c.spellings) << c.registration;
}

TEST_F(Registrations, TheFirstSpellingInTheTableGivesTheRecord) {
    g_regcodeDb["D-ABCD"] = {"DLH", "A320", "", false};
    g_regcodeDb["HB-JLT"] = {"EDW", "A320", "SWR", false};
    g_regcodeDb["HBJLT"] = {"XXX", "B744", "", true};  // the undashed entry loses to the dashed one
    const struct {
        const char* registration;
        const char* airline;  // empty: no record
        const char* type;
        const char* op;
    } cases[] = {{"DABCD", "DLH", "A320", ""}, {"D-ABCD", "DLH", "A320", ""}, {"HBJLT", "EDW", "A320", "SWR"},
                 {"DA-BCD", "", "", ""},       {"ZZZZZ", "", "", ""},         {"", "", "", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(gf_regcodeLookup(c.registration).has_value(), *c.airline != '\0') << c.registration;
        EXPECT_EQ(gf_regcodeField1(c.registration), c.airline) << c.registration;
        EXPECT_EQ(gf_regcodeField2(c.registration), c.type) << c.registration;
        EXPECT_EQ(gf_regcodeField3(c.registration), c.op) << c.registration;
    }
}

// What the lookup must answer: the first key in the table's order that is a private fragment inside the text.
std::string lf_scanWholeTable(const std::string& text) {
    for (const auto& [key, record] : g_regcodeDb) {
        if (key.size() < 5 && record.airline == "PVT" && text.find(key) != std::string::npos) return key;
    }
    return {};
}

TEST_F(Registrations, APrivateFragmentIsFoundAsAScanOfTheTableWouldFindIt) {
    // Many overlapping fragments, so that a text holds several and the table's order has to decide.
    std::mt19937 gen(11);
    const std::string letters = "ABCDEGHN-1";
    for (int i = 0; i < 400; ++i) {
        std::string key;
        for (std::size_t n = 1 + gen() % 6; n > 0; --n) key += letters[gen() % letters.size()];
        g_regcodeDb.try_emplace(key, RegcodeData{gen() % 3 == 0 ? "SWR" : "PVT", "C172", "", false});
    }
    gf_collectPrivateOperators();
    std::size_t found = 0;
    for (int i = 0; i < 300; ++i) {
        std::string text = "AIG C172 ";
        for (std::size_t n = gen() % 12; n > 0; --n) text += letters[gen() % letters.size()];
        const std::string expected = lf_scanWholeTable(text);
        EXPECT_EQ(gf_findPrivateOperator(text), expected) << text;
        found += !expected.empty();
    }
    EXPECT_GT(found, 100u);  // the comparison is worth something only when most texts hold a fragment
    EXPECT_EQ(gf_findPrivateOperator(""), "");
}

}  // namespace
