#include <gtest/gtest.h>

#include <fmt/format.h>

#include "frame/entry.h"
#include "frame/errors.h"

TEST(UserError, TheCodeIsPartOfTheTextExceptForCode99) {
    const qtm::UserErrorException e41(41, fmt::format("{} must be run from the {} folder!", kAppTitle, kAppTitle));
    EXPECT_STREQ(e41.what(), "41: ZNTV_P3D must be run from the ZNTV_P3D folder!");

    const std::string update = "New version 10.11.0 available. Exit here, and run as administrator:   \"x\"";
    EXPECT_EQ(std::string(qtm::UserErrorException(99, update).what()), update);

    EXPECT_STREQ(qtm::UserErrorException(0, "zero").what(), "0: zero");
    EXPECT_STREQ(qtm::UserErrorException(533, "a.xml does not contain liveries").what(),
                 "533: a.xml does not contain liveries");
    EXPECT_STREQ(qtm::UserErrorException(5, "").what(), "5: ");
}

TEST(UserError, IsCaughtAsAStandardRuntimeError) {
    try {
        throw qtm::UserErrorException(53, "no liveries found");
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "53: no liveries found");
        return;
    }
    FAIL();
}
