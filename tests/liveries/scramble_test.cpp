// The database's scrambling: the stored forms the reader relies on (its round trips run through every reader
// test), and where a field ends or is damaged.
#include <gtest/gtest.h>

#include <stdexcept>

#include "liveries/scramble.h"

namespace {

TEST(Scramble, StoredFormsHideTheCodesButKeepPlusSignsAndLengths) {
    EXPECT_NE(gf_scrambleType("A320"), "A320");
    EXPECT_EQ(gf_scrambleAirline("DLH").size(), 6u);
    EXPECT_EQ(gf_scrambleAirline(""), "");
    // Each registration position has its own substitution; a "+" stays itself at every one of them.
    const std::string stored = gf_scrambleRegistration("AAAAAA");
    EXPECT_NE(stored[0], stored[1]);
    EXPECT_EQ(gf_scrambleRegistration(std::string(24, '+')), std::string(24, '+'));
    for (const char* reg : {"HB-JLT", "N12345", "HB-ZZ+", "9H-vca"}) {
        EXPECT_EQ(gf_unscrambleRegistration(gf_scrambleRegistration(reg)), reg);
    }
}

TEST(Scramble, RegistrationsStopAt24PositionsAndDamagedAirlinesAreRefused) {
    const std::string stored = gf_scrambleRegistration("ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_EQ(gf_unscrambleRegistration(stored + "YZ"), "ABCDEFGHIJKLMNOPQRSTUVWX");
    EXPECT_THROW(gf_scrambleRegistration("ABCDEFGHIJKLMNOPQRSTUVWXY"), std::invalid_argument);
    EXPECT_THROW(gf_scrambleAirline("DL"), std::invalid_argument);
    EXPECT_EQ(gf_unscrambleAirline("DLH"), std::nullopt);
    std::string damaged = gf_scrambleAirline("DLH");
    damaged[5] = damaged[4];  // the two characters of a pair no longer agree
    EXPECT_EQ(gf_unscrambleAirline(damaged), std::nullopt);
}

}  // namespace
