#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "liveries/database.h"
#include "liveries/publishers.h"

TEST(Publishers, FileNameGivesTheFirstGroupWithAMatchingName) {
    // In the database's order: ascending by the groups' name lists.
    g_publisherGroups = {{"Aerosoft", "AES"}, {"FlyTampa", "FLYT"}, {"Latin.VFR", "LVFR"}};
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"C:\\Scenery\\ORBX\\YBBN\\scenery\\ybbn.bgl", "simaddon"},
        {"orbx_ygil_cvx.bgl", "simaddon"},
        {"EDDF_aes_ground.bgl", "Aerosoft"},     // an alias, in another case
        {"FLYT_AES_lowi.bgl", "Aerosoft"},       // two groups: the first one wins
        {"LatinXVFR_SBGL.bgl", "Latin.VFR"},     // the dot stands for any character
        {"Lat.VFR_SBGL.bgl", "unknown"},
        {"", "unknown"},
    };
    for (const auto& [file, publisher] : cases) EXPECT_EQ(gf_publisherFromFilename(file), publisher) << file;
    g_publisherGroups.push_back({"Anybody", ""});  // an empty name matches every file
    EXPECT_EQ(gf_publisherFromFilename(""), "Anybody");
    g_publisherGroups.clear();
}

TEST(Publishers, ContainsLikeIsACaseFreePatternSearchThatNeverThrows) {
    struct Case {
        std::string text, name;
        bool found;
    };
    const std::vector<Case> cases = {
        {"MyAirport_FlyTampa.bgl", "flytampa", true}, {"ab", "a+b", true},
        {"A+B", "a\\+b", true},                        {"line\nFlyTampa", "FlyTampa", false},  // ".*" stops at a line end
        {"x(y", "(", false},                           {"caf\xC3\xA9", "CAF\xC3\x89", false},  // only ASCII folds
    };
    for (const Case& c : cases) EXPECT_EQ(gf_containsLike(c.text, c.name), c.found) << c.text << " / " << c.name;
}
