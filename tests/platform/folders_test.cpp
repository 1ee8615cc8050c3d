#include "platform/folders.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;
namespace fs = std::filesystem;

TEST(Folders, TheVariablesWinOverHome) {
    TempDir dir;
    ScopedEnv home("HOME", (dir / "home").string());
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "cfg").string());
    ScopedEnv docs("XDG_DOCUMENTS_DIR", (dir / "docs").string());
    ScopedEnv pub("XDG_PUBLICSHARE_DIR", (dir / "pub").string());
    ScopedEnv run("XDG_RUNTIME_DIR", (dir / "run").string());
    EXPECT_EQ(platform::roamingAppDataFolder(), dir / "cfg");
    EXPECT_EQ(platform::documentsFolder(), dir / "docs");
    EXPECT_EQ(platform::publicDocumentsFolder(), dir / "pub");
    EXPECT_EQ(platform::runtimeFolder(), dir / "run");
}

TEST(Folders, WithoutTheVariablesTheFoldersLieBelowHome) {
    TempDir dir;
    ScopedEnv home("HOME", (dir / "home").string());
    ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv docs("XDG_DOCUMENTS_DIR", "");           // empty counts as unset
    ScopedEnv pub("XDG_PUBLICSHARE_DIR", "relative");  // relative values are to be ignored
    EXPECT_EQ(platform::roamingAppDataFolder(), dir / "home" / ".config");
    EXPECT_EQ(platform::documentsFolder(), dir / "home" / "Documents");
    EXPECT_EQ(platform::publicDocumentsFolder(), dir / "home" / "Public");
}

TEST(Folders, NeitherVariableNorHomeGivesNoFolder) {
    ScopedEnv home("HOME", std::nullopt);
    ScopedEnv config("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv docs("XDG_DOCUMENTS_DIR", std::nullopt);
    ScopedEnv pub("XDG_PUBLICSHARE_DIR", std::nullopt);
    EXPECT_EQ(platform::roamingAppDataFolder(), std::nullopt);
    EXPECT_EQ(platform::documentsFolder(), std::nullopt);
    EXPECT_EQ(platform::publicDocumentsFolder(), std::nullopt);
}

TEST(Folders, RuntimeFolderFallsBackToTheTempFolder) {
    TempDir dir;
    ScopedEnv run("XDG_RUNTIME_DIR", std::nullopt);
    ScopedEnv tmp("TMPDIR", dir.path().string());
    EXPECT_EQ(platform::runtimeFolder(), dir.path());
}
