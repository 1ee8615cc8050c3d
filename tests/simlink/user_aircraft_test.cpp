// The user aircraft's title, model, half wing span and category from the answers to the title and model
// requests, with the aircraft database standing behind the spans and categories.
#include <gtest/gtest.h>

#include "frame/errors.h"
#include "link_test_env.h"
#include "liveries/services.h"
#include "sim_messages.h"

namespace {

using namespace sim_msg;

constexpr double kNmPerMetre = 0.0005399568034557236;

ByteVec titleAnswer(const std::string& title) {
    return objectData(kRequestUserTitle, 1, kDefineUserTitle, textV(title));
}
ByteVec modelAnswer(const std::string& model) {
    return objectData(kRequestUserModel, 1, kDefineUserModel, text(model, 32));
}

class UserAircraft : public link_test::LinkEnv {
protected:
    void SetUp() override {
        LinkEnv::SetUp();
        // A small database: half spans from the full spans in metres, as the database reader stores them.
        g_wingspans = {{"B738", 35.8 * 0.5 * kNmPerMetre}, {"E190", 28.7 * 0.5 * kNmPerMetre},
                       {"A320", 35.8 * 0.5 * kNmPerMetre}, {"A388", 79.8 * 0.5 * kNmPerMetre}};
        g_largeModels = {"B738", "A320", "E190"};
        g_heavyModels = {"A388"};
        g_defaultWingspans = {0.004, 0.006, 0.0097, 0.03, 0.005, 0.006};
        g_maxHalfWingSpan = g_wingspans["A388"];
        g_mainWindow.userModelKnown = true;
    }
    void TearDown() override {
        g_wingspans.clear();
        g_largeModels.clear();
        g_heavyModels.clear();
        g_defaultWingspans = {};
        g_maxHalfWingSpan = 0.0;
        g_mainWindow.userModelKnown = true;
        LinkEnv::TearDown();
    }
    static constexpr const char* kUnknown =
        "User aircraft wing span unknown, max is taken instead, please report in my Forum!";
};

TEST_F(UserAircraft, ATitleIsShownLoggedOnceAndCutToFortyEightCharacters) {
    dispatch(titleAnswer("Zentavo Test Aircraft"));
    EXPECT_EQ(g_userTitle, "Zentavo Test Aircraft");
    EXPECT_EQ(gf_displayText(&MainWindow::userTitle), "Zentavo Test Aircraft");
    EXPECT_TRUE(logHas("          SimConnect: User aircraft title: Zentavo Test Aircraft"));
    dispatch(titleAnswer("Zentavo Test Aircraft"));
    const auto lines = logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "          SimConnect: User aircraft title: Zentavo Test Aircraft"),
              1);

    const std::string longTitle = "Aerosoft A320 Professional CFM Swiss International Air Lines HB-JLT";
    dispatch(titleAnswer(longTitle));
    EXPECT_EQ(g_userTitle, longTitle.substr(0, 48));
    EXPECT_EQ(gf_displayText(&MainWindow::userTitle), longTitle.substr(0, 48));

    dispatch(titleAnswer(""));
    EXPECT_TRUE(logHas("! title of your ac is empty?"));
    EXPECT_EQ(g_userTitle, longTitle.substr(0, 48));
}

TEST_F(UserAircraft, ATypeCodeGivesItsSpanAndCategory) {
    dispatch(modelAnswer("B738"));
    EXPECT_DOUBLE_EQ(g_userHalfWingSpan.load(), 35.8 * 0.5 * kNmPerMetre);
    EXPECT_EQ(g_userCategory.load(), 2u);
    EXPECT_TRUE(g_mainWindow.userModelKnown.load());
    EXPECT_TRUE(logHas("model raw: B738 "));
    EXPECT_TRUE(logHas("          SimConnect: User aircraft model: B738, half wing span: 17.9 meter, category: Large"));
    // A type without its own span takes the average of its category.
    dispatch(modelAnswer("B77W"));
    EXPECT_DOUBLE_EQ(g_userHalfWingSpan.load(), 0.004);
    EXPECT_EQ(g_userCategory.load(), 0u);
    EXPECT_TRUE(logHas("          SimConnect: User aircraft model: B77W, half wing span: 7.4 meter, category: Light"));
}

TEST_F(UserAircraft, TheLargestAircraftOfTheDatabaseIsKnownToo) {
    // Its span is the fallback span itself; it is still a span the database knows.
    dispatch(modelAnswer("A388"));
    EXPECT_TRUE(g_mainWindow.userModelKnown.load());
    EXPECT_FALSE(caught().shown(kUnknown));
    EXPECT_EQ(g_userCategory.load(), 3u);
    EXPECT_TRUE(logHas("          SimConnect: User aircraft model: A388, half wing span: 39.9 meter, category: Heavy"));
}

TEST_F(UserAircraft, ALongModelNameIsDeducedFromAnAerosoftTitle) {
    dispatch(titleAnswer("Aerosoft A320 Swiss HB-JLT"));
    dispatch(modelAnswer("Airbus A320-214"));
    EXPECT_DOUBLE_EQ(g_userHalfWingSpan.load(), 35.8 * 0.5 * kNmPerMetre);
    EXPECT_EQ(g_userCategory.load(), 2u);
    EXPECT_TRUE(g_mainWindow.userModelKnown.load());
    EXPECT_TRUE(logHas(
        "          SimConnect: User aircraft model deduced from title: A320, half wing span: 17.9 meter, category: Large"));
}

TEST_F(UserAircraft, AnUnknownModelTakesTheLargestSpanAndAsksForAReport) {
    dispatch(titleAnswer("Some Freeware Bizjet"));
    dispatch(modelAnswer("Learjet 45 XR"));
    EXPECT_DOUBLE_EQ(g_userHalfWingSpan.load(), g_maxHalfWingSpan);
    EXPECT_FALSE(g_mainWindow.userModelKnown.load());
    EXPECT_TRUE(caught().shown(kUnknown));
    EXPECT_EQ(g_userCategory.load(), 0u);
    EXPECT_TRUE(logHas("          SimConnect: User aircraft model: Learjet 45 XR, category: Light"));
}

TEST_F(UserAircraft, ACameraOrVesselTakesTheRoomOfAnE190) {
    dispatch(modelAnswer("camerapod"));
    EXPECT_DOUBLE_EQ(g_userHalfWingSpan.load(), 28.7 * 0.5 * kNmPerMetre);
    EXPECT_EQ(g_userCategory.load(), 0u);
    EXPECT_TRUE(g_mainWindow.userModelKnown.load());
    EXPECT_FALSE(logHas("          SimConnect: User aircraft model: camerapod, category: Light"));
    dispatch(modelAnswer("Crew Vessel 2"));
    EXPECT_DOUBLE_EQ(g_userHalfWingSpan.load(), 28.7 * 0.5 * kNmPerMetre);
}

TEST_F(UserAircraft, AnEmptyModelIsUserError71) {
    try {
        dispatch(modelAnswer(""));
        FAIL() << "an empty model must stop the link";
    } catch (const qtm::UserErrorException& e) {
        EXPECT_STREQ(e.what(), "71: atc_model= in [General] section of your aircraft.cfg is empty or missing");
    }
    EXPECT_FALSE(gf_userHalfWingSpanKnown());
    EXPECT_EQ(g_userCategory.load(), kDefaultUserCategory);
}

}  // namespace
