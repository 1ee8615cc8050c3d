#include <gtest/gtest.h>

#include <fmt/format.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "frame/display.h"
#include "frame/log.h"
#include "frame/text.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

enum class Enc { Plain, Utf8Bom, Utf16Le, Utf16Be };

std::string lf_utf16Bytes(std::string_view utf8, bool littleEndian) {
    std::string out = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t u : utf8ToUtf16(utf8)) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += littleEndian ? std::string{lo, hi} : std::string{hi, lo};
    }
    return out;
}

std::string lf_encode(const std::vector<std::string>& lines, Enc enc, std::string_view eol) {
    std::string text;
    for (const auto& line : lines) text.append(line).append(eol);
    switch (enc) {
        case Enc::Plain: return text;
        case Enc::Utf8Bom: return "\xEF\xBB\xBF" + text;
        case Enc::Utf16Le: return lf_utf16Bytes(text, true);
        case Enc::Utf16Be: return lf_utf16Bytes(text, false);
    }
    return text;
}

std::vector<std::string> lf_read(const fs::path& p) {
    std::vector<std::string> lines;
    EXPECT_TRUE(gf_readExtTextFileToStringVector(p, lines)) << p;
    return lines;
}

void lf_expectInvalidUtf8(std::string_view bytes) {
    try {
        utf8ToUtf16(bytes);
        ADD_FAILURE() << "accepted invalid UTF-8 of " << bytes.size() << " bytes";
    } catch (const win32::Utf8ConversionException& e) {
        EXPECT_EQ(e.errorCode(), 1113u);
        EXPECT_STREQ(e.what(), "Invalid UTF-8 sequence found in input string.");
    }
}

void lf_expectInvalidUtf16(std::u16string_view units) {
    try {
        win32::Utf16ToUtf8(units);
        ADD_FAILURE() << "accepted invalid UTF-16";
    } catch (const win32::Utf8ConversionException& e) {
        EXPECT_EQ(e.errorCode(), 1113u);
        EXPECT_STREQ(e.what(), "Invalid UTF-16 sequence found in input string.");
    }
}

std::vector<std::string> g_shown;

class TextFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_shown.clear();
        gf_setStatusLineHooks({.showMessage = [](std::string_view text, bool) { g_shown.emplace_back(text); },
                               .showError = nullptr});
    }
    void TearDown() override {
        gf_setStatusLineHooks({});
        gf_closeLog();
    }
    fs::path write(const std::string& name, const std::string& bytes) {
        writeWholeFile(dir / name, bytes);
        return dir / name;
    }
    TempDir dir;
};

}  // namespace

TEST(Conversion, RoundTripsAllPlanes) {
    const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // A é € 😀 z
    const std::u16string utf16 = u"A\u00E9\u20AC\U0001F600z";
    EXPECT_EQ(utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(win32::Utf16ToUtf8(utf16), utf8);
    EXPECT_EQ(utf8ToUtf16(""), u"");
    EXPECT_EQ(win32::Utf16ToUtf8(u""), "");
    // The edges of the valid ranges.
    const std::string edges = "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"
                              "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";
    EXPECT_EQ(win32::Utf16ToUtf8(utf8ToUtf16(edges)), edges);
    EXPECT_EQ(utf8ToUtf16(std::string_view("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Conversion, InvalidUtf8FailsWithCode1113) {
    lf_expectInvalidUtf8("\xC0\xAF");              // overlong '/'
    lf_expectInvalidUtf8("\xC1\xBF");              // overlong
    lf_expectInvalidUtf8("\xE0\x80\xAF");          // overlong, three bytes
    lf_expectInvalidUtf8("\xF0\x80\x80\xAF");      // overlong, four bytes
    lf_expectInvalidUtf8("\xED\xA0\x80");          // high surrogate in UTF-8
    lf_expectInvalidUtf8("\xED\xBF\xBF");          // low surrogate in UTF-8
    lf_expectInvalidUtf8("ab\xE2\x82");            // truncated at the end
    lf_expectInvalidUtf8("\xE2\x82z");             // truncated inside
    lf_expectInvalidUtf8("\x80");                  // stray continuation byte
    lf_expectInvalidUtf8("\xF4\x90\x80\x80");      // above U+10FFFF
    lf_expectInvalidUtf8("\xF5\x80\x80\x80");      // lead byte above F4
    lf_expectInvalidUtf8("\xFF");
    lf_expectInvalidUtf8("caf\xE9");               // a Windows-1252 byte is no UTF-8
}

TEST(Conversion, UnpairedSurrogatesFailWithCode1113) {
    lf_expectInvalidUtf16(std::u16string{u'a', char16_t(0xD800)});
    lf_expectInvalidUtf16(std::u16string{char16_t(0xDC00), u'a'});
    lf_expectInvalidUtf16(std::u16string{char16_t(0xD83D), u'a'});
    lf_expectInvalidUtf16(std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)});
}

TEST_F(TextFileTest, EveryEncodingAndLineEndGivesTheSameLines) {
    const std::vector<std::string> ascii = {"[fltsim.0]", "title=Airbus A320 Lufthansa D-AIQA", "", "  ui_type=A320  "};
    const std::vector<std::string> wide = {"[fltsim.1]", "title=A321 M\xC3\xBCller \xC3\x86r\xC3\xB8 \xE2\x82\xAC",
                                           "atc_airline=\xF0\x9F\x98\x80", "last"};
    int n = 0;
    for (const char* eol : {"\r\n", "\n"}) {
        for (Enc enc : {Enc::Plain, Enc::Utf8Bom, Enc::Utf16Le, Enc::Utf16Be}) {
            SCOPED_TRACE(testing::Message() << "encoding " << static_cast<int>(enc) << " eol size " << strlen(eol));
            EXPECT_EQ(lf_read(write("a" + std::to_string(++n) + ".cfg", lf_encode(ascii, enc, eol))), ascii);
            EXPECT_EQ(lf_read(write("w" + std::to_string(++n) + ".cfg", lf_encode(wide, enc, eol))), wide);
        }
    }
    // Without a line end after the last line.
    EXPECT_EQ(lf_read(write("x.cfg", "a\r\nb")), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(lf_read(write("y.cfg", lf_utf16Bytes("a\r\nb", true))), (std::vector<std::string>{"a", "b"}));
}

TEST_F(TextFileTest, DetectsTheEncodingFromTheFirstTwoBytes) {
    EXPECT_EQ(gf_detectEncoding(write("le", std::string("\xFF\xFE" "a\0", 4))), kEncodingUtf16Le);
    EXPECT_EQ(gf_detectEncoding(write("be", "\xFE\xFF")), kEncodingUtf16Be);
    EXPECT_EQ(gf_detectEncoding(write("u8", "\xEF\xBB\xBFx")), kEncodingUtf8Bom);
    EXPECT_EQ(gf_detectEncoding(write("plain", "ab")), kEncodingPlain);
    EXPECT_EQ(gf_detectEncoding(write("one", "\xFF")), kEncodingPlain);
    EXPECT_EQ(gf_detectEncoding(write("empty", "")), kEncodingPlain);
}

TEST_F(TextFileTest, PlainFilesKeepTheirBytes) {
    // A Windows-1252 text is read as it is, not converted and not rejected.
    EXPECT_EQ(lf_read(write("ansi.cfg", "caf\xE9\r\n\xC3\xA9t\xE9\r\n")),
              (std::vector<std::string>{"caf\xE9", "\xC3\xA9t\xE9"}));
    // Only the trailing CR goes; one inside a line stays.
    EXPECT_EQ(lf_read(write("cr.cfg", "a\rb\r\n\r\n")), (std::vector<std::string>{"a\rb", ""}));
}

TEST_F(TextFileTest, EmptyAndTinyFiles) {
    const fs::path empty = write("empty.cfg", "");
    EXPECT_EQ(gf_detectEncoding(empty), kEncodingPlain);
    EXPECT_TRUE(lf_read(empty).empty());

    EXPECT_EQ(lf_read(write("one.cfg", "x")), (std::vector<std::string>{"x"}));
    // Starts like a UTF-8 mark but ends after two bytes: nothing of it is left, nothing beyond is touched.
    const fs::path twoBytes = write("two.cfg", "\xEF\xBB");
    EXPECT_EQ(gf_detectEncoding(twoBytes), kEncodingUtf8Bom);
    EXPECT_EQ(lf_read(twoBytes), (std::vector<std::string>{""}));
    EXPECT_EQ(lf_read(write("bom.cfg", "\xEF\xBB\xBF")), (std::vector<std::string>{""}));
    // A UTF-16 file of only its mark, or with an odd last byte.
    EXPECT_TRUE(lf_read(write("le.cfg", "\xFF\xFE")).empty());
    EXPECT_EQ(lf_read(write("odd.cfg", std::string("\xFF\xFE" "a\0b", 5))), (std::vector<std::string>{"a"}));
}

TEST_F(TextFileTest, LinesAreAppendedAndOnlyTheFilesOwnFirstLineLosesTheMark) {
    std::vector<std::string> lines = {"\xEF\xBB\xBFkept"};
    ASSERT_TRUE(gf_readExtTextFileToStringVector(write("u8.cfg", "\xEF\xBB\xBF" "first\nsecond\n"), lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"\xEF\xBB\xBFkept", "first", "second"}));
}

TEST_F(TextFileTest, AMissingFileIsCode5AndLogged) {
    TempDir logDir;
    gf_openLog(logDir / "Log.txt");
    const fs::path missing = dir / "none.cfg";
    EXPECT_EQ(gf_detectEncoding(missing), kEncodingNoFile);
    std::vector<std::string> lines;
    EXPECT_FALSE(gf_readExtTextFileToStringVector(missing, lines));
    EXPECT_FALSE(gf_readTextFileLines(kEncodingPlain, missing, lines));
    EXPECT_TRUE(lines.empty());
    // A folder is no text file.
    EXPECT_EQ(gf_detectEncoding(dir.path()), kEncodingNoFile);
    EXPECT_FALSE(gf_readExtTextFileToStringVector(dir.path(), lines));
    EXPECT_FALSE(gf_readFile(dir.path()));
    gf_closeLog();
    EXPECT_NE(readWholeFile(logDir / "Log.txt")
                  .find("cannot open file " + missing.string() + " for character encoding, err: 2\n"),
              std::string::npos);
}

TEST_F(TextFileTest, AUtf16ConversionErrorIsShownAndKeepsTheLinesBefore) {
    std::string bytes = lf_utf16Bytes("good\r\n", true);
    bytes += std::string("b\0\x00\xD8\r\0\n\0", 8);  // "b", lone high surrogate, CR LF
    bytes += lf_utf16Bytes("after\r\n", true).substr(2);
    std::vector<std::string> lines;
    EXPECT_TRUE(gf_readExtTextFileToStringVector(write("bad.cfg", bytes), lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"good"}));
    EXPECT_EQ(g_shown, (std::vector<std::string>{"conversion from error from utf16 to utf8, code: 1113"}));
}

TEST_F(TextFileTest, ReadAndWriteWholeFiles) {
    EXPECT_FALSE(gf_readFile(dir / "none"));
    EXPECT_FALSE(gf_readFile(write("empty", "")));
    const std::string binary("a\0\r\n\xFF", 5);
    EXPECT_EQ(gf_readFile(write("bin", binary), 1), binary);

    // A file that holds the first temporary name drawn is left alone: the write takes another name.
    gf_seedRandom(7);
    const std::string taken = fmt::format("out.txt.{:08x}.tmp", gf_random32());
    write(taken, "the user's");
    gf_seedRandom(7);
    const fs::path target = dir / "out.txt";
    ASSERT_TRUE(gf_writeFile("first", target, false));
    EXPECT_EQ(readWholeFile(target), "first");
    EXPECT_EQ(readWholeFile(dir / taken), "the user's");
    ASSERT_TRUE(gf_writeFile("second", target, true));
    EXPECT_EQ(readWholeFile(target), "second\n");
    EXPECT_FALSE(gf_writeFile("x", dir / "missing" / "out.txt", false));

    // Only the targets are left: no temporary files beside them.
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"bin", "empty", "out.txt", taken}));
}

TEST_F(TextFileTest, SaveXmlReplacesTheFileAndLogs) {
    TempDir logDir;
    gf_openLog(logDir / "Log.txt");
    pugi::xml_document doc;
    doc.append_child("parameters").append_child("parameter").append_attribute("name") = "LOG";
    const fs::path target = write("parameters.xml", "old and longer content than the new one ...............");
    EXPECT_TRUE(gf_saveXml(doc, target));
    const fs::path bad = dir / "missing" / "p.xml";
    EXPECT_FALSE(gf_saveXml(doc, bad));
    gf_closeLog();

    pugi::xml_document back;
    ASSERT_TRUE(back.load_file(target.c_str()));
    EXPECT_STREQ(back.child("parameters").child("parameter").attribute("name").value(), "LOG");
    const std::string log = readWholeFile(logDir / "Log.txt");
    EXPECT_NE(log.find("\n\"" + target.string() + "\" saved\n"), std::string::npos);
    EXPECT_NE(log.find("\ncould not save to \"" + bad.string() + "\": No such file or directory\n"), std::string::npos);
}

TEST(AppDataPath, FollowsTheRoamingFolder) {
    TempDir home;
    ScopedEnv config("XDG_CONFIG_HOME", home.path().string());
    EXPECT_EQ(gf_getAppDataPath(), home.path());
}

TEST(StringFunctions, PluralSuffix) {
    EXPECT_EQ(gf_pluralSuffix(std::uint64_t{0}), "s");
    EXPECT_EQ(gf_pluralSuffix(std::uint64_t{1}), "");
    EXPECT_EQ(gf_pluralSuffix(std::uint64_t{2}), "s");
    EXPECT_EQ(gf_pluralSuffix(std::uint64_t{1} << 63), "");
    EXPECT_EQ(gf_pluralSuffix(std::int32_t{0}), "s");
    EXPECT_EQ(gf_pluralSuffix(std::int32_t{1}), "");
    EXPECT_EQ(gf_pluralSuffix(std::int32_t{-2}), "");
    EXPECT_EQ(gf_pluralSuffix(std::int32_t{5}), "s");
}

TEST(StringFunctions, SplitTrimAndNormalise) {
    EXPECT_EQ(gf_split(" a , b,,c ", ','), (std::vector<std::string>{"a", "b", "", "c"}));
    EXPECT_EQ(gf_split("a;b;", ';'), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(gf_split("", ',').empty());
    EXPECT_EQ(gf_splitComma(" a , b"), (std::vector<std::string>{" a ", " b"}));
    EXPECT_EQ(gf_splitCommaToList("x,y"), (std::list<std::string>{"x", "y"}));

    std::string list = " DLH, \tBAW ,\r\nAFR ";
    gf_normaliseCommaList(list);
    EXPECT_EQ(list, "DLH,BAW,AFR");

    EXPECT_EQ(gf_trim(" \t\r\n x y \n"), "x y");
    EXPECT_EQ(gf_trim(" \t\r\n"), "");
    EXPECT_EQ(gf_trim(""), "");
}

TEST(StringFunctions, Comparisons) {
    EXPECT_TRUE(gf_equalsUpper("B738", "b738"));
    EXPECT_FALSE(gf_equalsUpper("b738", "b738"));
    EXPECT_FALSE(gf_equalsUpper("B73", "b738"));

    EXPECT_TRUE(gf_matchUpToStar("DLH123*", "DLH123"));
    EXPECT_TRUE(gf_matchUpToStar("DLH123*7", "DLH123"));
    EXPECT_TRUE(gf_matchUpToStar("DLH123", "DLH123"));
    EXPECT_FALSE(gf_matchUpToStar("DLH123", "DLH12"));
    EXPECT_FALSE(gf_matchUpToStar("DLH12*", "DLH123"));
    EXPECT_TRUE(gf_matchUpToStar("*", ""));
}

TEST(StringFunctions, ExtractPath) {
    EXPECT_EQ(gf_extractPath("<Path>C:\\Addons\\A</Path>"), "C:\\Addons\\A");
    EXPECT_EQ(gf_extractPath("  <Path></Path> "), "");
    EXPECT_EQ(gf_extractPath("no markers at all"), "");
    EXPECT_EQ(gf_extractPath("<Path>never closed"), "");
    EXPECT_EQ(gf_extractPath("</Path>before<Path>x"), "");
    EXPECT_EQ(gf_extractPath("</Path><Path>x</Path>"), "x");
}

TEST(StringFunctions, Banner) {
    EXPECT_EQ(gf_banner(5, 4, false, false, ""), "**********");
    EXPECT_EQ(gf_banner(5, 5, true, true, "ab"), "\n**** ab ****\n");
    EXPECT_EQ(gf_banner(10, 0, false, false, "abcdefg"), "**** abcdefg ****");
    EXPECT_EQ(gf_banner(5, 4, true, false, "12345678"), "12345678");    // not shorter than w - 2
    EXPECT_EQ(gf_banner(5, 4, true, true, "1234567"), "\n**** 1234567 ****\n");
    // Small widths: no wrap-around of the counts.
    EXPECT_EQ(gf_banner(0, 0, false, false, "x"), "x");
    EXPECT_EQ(gf_banner(1, 0, true, true, "x"), "x\n");
    EXPECT_EQ(gf_banner(0, 0, true, false, ""), "\n");
    EXPECT_EQ(gf_banner(2, 0, false, false, "x"), "x");
    EXPECT_EQ(gf_banner(2, 2, false, false, "x"), "* x *");
}

TEST(StringFunctions, Numbers) {
    EXPECT_EQ(gf_formatNumber(2.0f), "2");
    EXPECT_EQ(gf_formatNumber(2.5f), "2.5");
    EXPECT_EQ(gf_formatNumber(-0.75f), "-0.8");
    EXPECT_EQ(gf_formatNumber(1.04f), "1.0");
    EXPECT_EQ(gf_formatNumber(-3.0f), "-3");
}

TEST(StringFunctions, RandomHelpers) {
    EXPECT_EQ(gf_randomPercent(100.0, 0.0), 100.0);
    EXPECT_EQ(gf_randomPercent(100.0, -5.0), 100.0);
    std::set<double> seen;
    for (int i = 0; i < 200; ++i) {
        const double v = gf_randomPercent(200.0, 10.0);
        EXPECT_TRUE(v == 220.0 || v == 180.0) << v;
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 2u);  // both signs in 200 draws (chance of failing: 2^-199)

    std::vector<std::string> one = {"a"};
    gf_shuffle(one);
    EXPECT_EQ(one, std::vector<std::string>{"a"});
    std::vector<std::string> many;
    for (int i = 0; i < 50; ++i) many.push_back(std::to_string(i));
    auto shuffled = many;
    gf_shuffle(shuffled);
    EXPECT_NE(shuffled, many);  // chance of an identical order: 1/50!
    std::sort(shuffled.begin(), shuffled.end());
    auto sorted = many;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(shuffled, sorted);
}
