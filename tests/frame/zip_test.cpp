#include "frame/zip.h"

#include "support/test_support.h"
#include "zip_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

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

// The little-endian field of `width` bytes at `at`.
std::uint64_t getLe(const std::string& bytes, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
}
void putLe(std::string& bytes, std::size_t at, int width, std::uint64_t v) {
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(v >> (8 * i));
}

// A one-entry archive of a few hundred bytes whose entry declares `declared` bytes. libzip writes no ZIP64
// field on request, so the entry gets a 16-byte extra field of a private id from libzip, and the test
// turns it into the ZIP64 sizes (uncompressed, compressed) of both headers.
std::string archiveDeclaring(const std::filesystem::path& path, const std::string& content, bool stored,
                             std::uint64_t declared) {
    writeZip(path, {{"a.xml", content, stored}});
    int code = 0;
    zip_t* za = zip_open(path.c_str(), 0, &code);
    const zip_uint8_t blank[16] = {};
    EXPECT_EQ(zip_file_extra_field_set(za, 0, 0x5A5A, ZIP_EXTRA_FIELD_NEW, blank, 16, ZIP_FL_LOCAL | ZIP_FL_CENTRAL),
              0);
    EXPECT_EQ(zip_close(za), 0);
    std::string bytes = readWholeFile(path);
    // Local header: sizes at 18 and 22, name length at 26, extra at 30 + name. Central header: sizes at 20
    // and 24, name length at 28, extra at 46 + name.
    const std::size_t local = 0, central = bytes.find("PK\x01\x02");
    for (const auto& [header, sizes, extra] : {std::tuple<std::size_t, std::size_t, std::size_t>{local, 18, 30},
                                               {central, 20, 46}}) {
        const std::uint64_t compressed = getLe(bytes, header + sizes, 4);
        const std::size_t field = header + extra + getLe(bytes, header + sizes + 8, 2);
        EXPECT_EQ(getLe(bytes, field, 2), 0x5A5Au);
        putLe(bytes, header + sizes, 4, 0xFFFFFFFF);
        putLe(bytes, header + sizes + 4, 4, 0xFFFFFFFF);
        putLe(bytes, field, 2, 0x0001);
        putLe(bytes, field + 4, 8, declared);
        putLe(bytes, field + 12, 8, compressed);
    }
    writeWholeFile(path, bytes);
    return bytes;
}

TEST(ZipArchive, SizesTheArchiveCannotHoldAreRefusedBeforeReading) {
    TempDir dir;
    const std::uint64_t huge = std::uint64_t{1} << 41;
    const struct {
        std::string content;
        bool stored;
        const char* why;
    } cases[] = {
        {"hello", true, "declares 2199023255552 bytes but stores 5"},
        {std::string(300, 'x'), false, "more than 1032 to 1"},  // libzip stores what deflate cannot shrink
    };
    for (const auto& c : cases) {
        const std::string bytes = archiveDeclaring(dir / "tiny.zip", c.content, c.stored, huge);
        ASSERT_LT(bytes.size(), 400u);
        const ZipArchive archive(dir / "tiny.zip");
        const auto entry = archive.fileEntries().at(0);
        ASSERT_EQ(entry.size, huge);  // the patch took: libzip reads the ZIP64 size
        try {
            archive.read(entry);
            ADD_FAILURE() << "read an entry declaring 2^41 bytes";
        } catch (const ZipError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.why));
        }
        std::ostringstream out;
        EXPECT_THROW(archive.read(entry, out, 7), ZipError);
        EXPECT_EQ(out.str(), "");
    }
    // The same patch with the true size reads as it did: the patching is not what is refused.
    archiveDeclaring(dir / "true.zip", std::string(300, 'x'), false, 300);
    const ZipArchive archive(dir / "true.zip");
    EXPECT_EQ(archive.read(archive.fileEntries().at(0)), std::string(300, 'x'));
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
