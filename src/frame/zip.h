// Read-only access to ZIP archives: a thin owner of a libzip archive handle.
// The downloads (installer, aircraft database, registration codes) arrive as archives; all we ever do is list
// their entries and copy an entry's bytes out, whole or in chunks, so that is all this class offers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct zip;

// Any failure of libzip, with libzip's own message (and the archive or entry it concerns).
class ZipError : public std::runtime_error {
public:
    explicit ZipError(const std::string& message) : std::runtime_error(message) {}
};

struct ZipEntry {
    std::uint64_t index = 0;
    std::string name;       // as stored, with "/" separators
    std::uint64_t size = 0; // uncompressed

    // Archivers store folders as entries whose name ends in "/"; they carry no content.
    bool isDirectory() const { return !name.empty() && name.back() == '/'; }
};

class ZipArchive {
public:
    static constexpr std::size_t kDefaultChunkSize = 524288;
    // Deflate cannot expand beyond 1032 to 1 (a 258-byte match costs at least two bits); the archives we
    // download are deflated, so an entry that declares more is damaged or a bomb.
    static constexpr std::uint64_t kMaxExpansion = 1032;

    // Opens the archive read-only; throws ZipError when it is missing or not a valid archive.
    explicit ZipArchive(const std::filesystem::path& path);
    ~ZipArchive();
    ZipArchive(ZipArchive&& other) noexcept;
    ZipArchive& operator=(ZipArchive&& other) noexcept;
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    const std::filesystem::path& path() const { return m_path; }

    // Every entry in archive order, directories included.
    std::vector<ZipEntry> entries() const;
    // The entries that hold content (directories left out).
    std::vector<ZipEntry> fileEntries() const;

    // The whole (uncompressed) content of an entry; throws ZipError on a read or checksum failure, and
    // before reading when the sizes the archive declares for the entry cannot be true (see read below).
    std::string read(const ZipEntry& entry) const;
    // The content in pieces of at most chunkSize bytes, handed to sink in order. The entry's sizes are taken
    // from the archive, not from `entry`, and checked first: its compressed bytes must lie within the
    // archive file, a stored entry holds as many bytes as it stores, and no entry may declare more than
    // kMaxExpansion times its compressed size. Content beyond the declared size is an error as it arrives.
    void read(const ZipEntry& entry, const std::function<void(std::string_view chunk)>& sink,
              std::size_t chunkSize = kDefaultChunkSize) const;
    // The content written to a stream in chunks; a failing stream is a ZipError too.
    void read(const ZipEntry& entry, std::ostream& out, std::size_t chunkSize = kDefaultChunkSize) const;

private:
    void close() noexcept;
    // The entry's uncompressed size as the archive declares it, once it has passed the checks of read().
    std::uint64_t declaredSize(const ZipEntry& entry) const;

    zip* m_archive = nullptr;
    std::filesystem::path m_path;
    std::uint64_t m_fileSize = 0;  // of the archive file, as opened
};
