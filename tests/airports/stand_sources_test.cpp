// The reference rules of the stand-file sources: the learned path of a reference, pointer files and the order of
// the local sources. Nothing here reaches the network (the server side is in stand_sources_e2e_test.cpp).
#include "airports/stand_sources.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

TEST(StandSources, LearnedPathOfAReferenceAcrossSeparatorsAndLetterCases) {
    struct Case {
        const char* reference;
        const char* publisher;
        const char* expected;  // "" : no learned file
    };
    const std::vector<Case> cases = {
        {"", "X", ""},
        {"archive/stock/EHAM.xml", "", "airports/learned/stock/EHAM.xml"},
        {"archive/simaddon/EHAM.xml", "X", "airports/learned/simaddon/EHAM.xml"},
        {"archive/thirdparty/Some%20Maker/EHAM.xml", "", "airports/learned/thirdparty/Some Maker/EHAM.xml"},
        {"archive\\thirdparty\\Some%20Maker\\EHAM.xml", "", "airports/learned/thirdparty/Some Maker/EHAM.xml"},
        {"airports/my_thirdparty/EHAM.xml", "X", "airports/learned/thirdparty/X/EHAM.xml"},
        {"airports\\my_thirdparty\\EHAM.xml", "X", "airports/learned/thirdparty/X/EHAM.xml"},
        {"airports/my_thirdparty2024/EHAM.xml", "X", "airports/learned/thirdparty/X/EHAM.xml"},
        {"airports/my_ORBX/EHAM.xml", "X", "airports/learned/my_ORBX/EHAM.xml"},
        // Letter case counts: these are not the folders the rules know.
        {"airports/My_Thirdparty/EHAM.xml", "X", "airports/learned/My_Thirdparty/EHAM.xml"},
        {"Archive/stock/EHAM.xml", "", ""},
        {"AIRPORTS/my_ORBX/EHAM.xml", "", ""},
        // A publisher cannot lead out of its folder.
        {"airports/my_thirdparty/EHAM.xml", "a/../b", "airports/learned/thirdparty/a__._b/EHAM.xml"},
        {"airports/my_thirdparty/EHAM.xml", "..", "airports/learned/thirdparty/_./EHAM.xml"},
        {"airports/my_thirdparty/EHAM.xml", "C:\\x\n", "airports/learned/thirdparty/C__x_/EHAM.xml"},
        // Nor can the reference itself; a reference whose learned file lies elsewhere has none.
        {"archive/thirdparty/../../../x.xml", "", ""},
        {"archive/../../x.xml", "", ""},
        {"/srv/archive/stock/EHAM.xml", "", ""},
        {"airports", "", ""},
        {"other/EHAM.xml", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lf_resolveApfPath(c.reference, c.publisher).generic_string(), c.expected)
            << c.reference << " / " << c.publisher;
}

TEST(StandSources, PointerFileGivesItsFirstLineUpToTheLastLowerCaseL) {
    struct Case {
        const char* label;
        std::optional<std::string> content;  // nullopt: no file
        bool read;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"missing", std::nullopt, false, "unchanged"},
        {"empty", "", false, "unchanged"},
        {"one empty line", "\n", true, ""},
        {"CR LF", "archive/thirdparty/Some%20Maker/EHAM.xml\r\n", true, "archive/thirdparty/Some%20Maker/EHAM.xml"},
        {"blanks, second line", "airports/my_ORBX/EHAM.xml  \nnext.xml\n", true, "airports/my_ORBX/EHAM.xml"},
        {"backslashes", "airports\\my_thirdparty\\EHAM.xml", true, "airports/my_thirdparty/EHAM.xml"},
        {"UTF-8 mark", "\xEF\xBB\xBF" "archive/stock/EHAM.xml\n", true, "archive/stock/EHAM.xml"},
        {"no lower-case l", "EHAM.XML\n", true, ""},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const fs::path path = dir / (std::string(c.label) + ".txt");
        if (c.content) writeWholeFile(path, *c.content);
        std::string text = "unchanged";
        EXPECT_EQ(lf_readApfPointer(path, text), c.read) << c.label;
        EXPECT_EQ(text, c.text) << c.label;
    }
}

TEST(StandSources, LocalSourcesInTheirOrder) {
    struct Case {
        const char* label;
        std::vector<std::pair<std::string, std::string>> files;
        const char* reference;
    };
    const std::vector<Case> cases = {
        {"pointer before file", {{"my_thirdparty/EHAM.txt", "archive/x/EHAM.xml\n"}, {"my_thirdparty/EHAM.xml", "<a/>"}},
         "archive/x/EHAM.xml"},
        {"empty pointer is no pointer", {{"my_thirdparty/EHAM.txt", ""}, {"my_thirdparty/EHAM.xml", "<a/>"}},
         "airports/my_thirdparty/EHAM.xml"},
        {"thirdparty before ORBX", {{"my_ORBX/EHAM.txt", "archive/y/EHAM.xml"}, {"my_thirdparty/EHAM.xml", "<a/>"}},
         "airports/my_thirdparty/EHAM.xml"},
        {"ORBX pointer", {{"my_ORBX/EHAM.txt", "archive/simaddon/EHAM.xml"}, {"my_ORBX/EHAM.xml", "<a/>"}},
         "archive/simaddon/EHAM.xml"},
        {"ORBX file", {{"my_ORBX/EHAM.xml", "<a/>"}}, "airports/my_ORBX/EHAM.xml"},
        {"pointer naming nothing", {{"my_ORBX/EHAM.txt", "EHAM.XML"}}, ""},
    };
    for (const Case& c : cases) {
        TempDir program;
        ScopedCwd cwd(program.path());
        for (const auto& [name, content] : c.files) {
            fs::create_directories((program / "airports" / name).parent_path());
            writeWholeFile(program / "airports" / name, content);
        }
        EXPECT_EQ(lf_findArchivedApf("EHAM"), c.reference) << c.label;
        EXPECT_TRUE(gf_apfAvailable("EHAM")) << c.label;

        // The fetch finds the same; a local reference is read in place (server ones: the end-to-end tests).
        const std::string reference = c.reference;
        if (!reference.empty() && !reference.starts_with("airports")) continue;
        gf_startStandFileFetch("EHAM");
        std::optional<StandFileFetch> fetched;
        while (!(fetched = gf_standFileFetched("EHAM"))) std::this_thread::yield();
        gf_joinStandFileFetch();
        EXPECT_EQ(fetched->reference, reference) << c.label;
        EXPECT_EQ(fetched->localFile.generic_string(), reference) << c.label;
        EXPECT_EQ(fetched->message, "") << c.label;
    }
}

}  // namespace
