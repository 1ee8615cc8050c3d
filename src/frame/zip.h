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

    // The whole (uncompressed) content of an entry; throws ZipError on a read or checksum failure.
    std::string read(const ZipEntry& entry) const;
    // The content in pieces of at most chunkSize bytes, handed to sink in order.
    void read(const ZipEntry& entry, const std::function<void(std::string_view chunk)>& sink,
              std::size_t chunkSize = kDefaultChunkSize) const;
    // The content written to a stream in chunks; a failing stream is a ZipError too.
    void read(const ZipEntry& entry, std::ostream& out, std::size_t chunkSize = kDefaultChunkSize) const;

private:
    void close() noexcept;

    zip* m_archive = nullptr;
    std::filesystem::path m_path;
};
