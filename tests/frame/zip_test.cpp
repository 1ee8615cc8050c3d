#include "frame/zip.h"

#include "support/test_support.h"
#include "zip_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

using namespace testing_support;
using ::testing::HasSubstr;

namespace {

// Incompressible enough to need many chunks, and varied so that a chunk out of place shows.
std::string patternBytes(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 12345;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

TEST(ZipArchive, ListsEntriesInOrderAndTellsFoldersFromFiles) {
    TempDir dir;
    writeZip(dir / "a.zip", {{"data/", ""}, {"data/aircraft.xml", "<db/>"}, {"readme.txt", "hello"}, {"empty", ""}});

    const ZipArchive archive(dir / "a.zip");
    const auto all = archive.entries();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].name, "data/");
    EXPECT_TRUE(all[0].isDirectory());
    EXPECT_EQ(all[1].name, "data/aircraft.xml");
    EXPECT_FALSE(all[1].isDirectory());
    EXPECT_EQ(all[1].size, 5u);
    EXPECT_EQ(all[2].index, 2u);

    const auto files = archive.fileEntries();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, "data/aircraft.xml");
    EXPECT_EQ(archive.read(files[0]), "<db/>");
    EXPECT_EQ(archive.read(files[1]), "hello");
    EXPECT_EQ(archive.read(files[2]), "");
}

TEST(ZipArchive, ChunkedReadsDeliverTheWholeContentInOrder) {
    TempDir dir;
    const std::string big = patternBytes(3 * ZipArchive::kDefaultChunkSize + 17);
    writeZip(dir / "big.zip", {{"installer.exe", big}});
    const ZipArchive archive(dir / "big.zip");
    const auto entry = archive.fileEntries().at(0);

    EXPECT_EQ(archive.read(entry), big);

    std::string joined;
    std::size_t pieces = 0;
    archive.read(
        entry,
        [&](std::string_view chunk) {
            EXPECT_LE(chunk.size(), 1000u);
            joined.append(chunk);
            ++pieces;
        },
        1000);
    EXPECT_EQ(joined, big);
    EXPECT_GT(pieces, big.size() / 1000);

    std::ostringstream out;
    archive.read(entry, out);
    EXPECT_EQ(out.str(), big);
}

TEST(ZipArchive, FailuresAreExceptionsWithLibzipsMessage) {
    TempDir dir;
    try {
        ZipArchive missing(dir / "missing.zip");
        FAIL() << "a missing archive opened";
    } catch (const ZipError& e) {
        EXPECT_THAT(e.what(), HasSubstr("missing.zip"));
        EXPECT_THAT(e.what(), HasSubstr("No such file"));
    }

    writeWholeFile(dir / "page.zip", "<html>404 Not Found</html>");
    try {
        ZipArchive notZip(dir / "page.zip");
        FAIL() << "an HTML page opened as an archive";
    } catch (const ZipError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Not a zip archive"));
    }

    // A download cut short: the central directory at the end is missing.
    writeZip(dir / "whole.zip", {{"a.xml", patternBytes(5000)}});
    const std::string whole = readWholeFile(dir / "whole.zip");
    writeWholeFile(dir / "cut.zip", whole.substr(0, whole.size() / 2));
    EXPECT_THROW(ZipArchive(dir / "cut.zip"), ZipError);
}

TEST(ZipArchive, DamagedContentIsRefusedOnRead) {
    TempDir dir;
    const std::string content = "PARKPOS-" + std::string(200, 'x') + "-END";
    writeZip(dir / "s.zip", {{"EHAM.xml", content, true}});
    std::string bytes = readWholeFile(dir / "s.zip");
    const auto at = bytes.find(content);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 100] = 'y';  // same size, wrong checksum
    writeWholeFile(dir / "s.zip", bytes);

    const ZipArchive archive(dir / "s.zip");
    EXPECT_THROW(archive.read(archive.fileEntries().at(0)), ZipError);
}

TEST(ZipArchive, AFailingStreamIsAnError) {
    TempDir dir;
    writeZip(dir / "a.zip", {{"a.txt", "abc"}});
    const ZipArchive archive(dir / "a.zip");
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    EXPECT_THROW(archive.read(archive.fileEntries().at(0), out), ZipError);
}

TEST(ZipArchive, MovingHandsOverTheOneHandle) {
    TempDir dir;
    writeZip(dir / "a.zip", {{"a.txt", "abc"}});
    ZipArchive first(dir / "a.zip");
    ZipArchive second = std::move(first);
    EXPECT_EQ(second.read(second.fileEntries().at(0)), "abc");
    EXPECT_THROW(first.entries(), ZipError);  // NOLINT(bugprone-use-after-move): the moved-from state is defined

    ZipArchive third(dir / "a.zip");
    third = std::move(second);
    EXPECT_EQ(third.entries().size(), 1u);
}

}  // namespace
