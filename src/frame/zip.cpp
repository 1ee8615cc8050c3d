#include "frame/zip.h"

#include <fmt/format.h>
#include <zip.h>

#include <algorithm>
#include <memory>
#include <new>
#include <ostream>
#include <utility>

namespace {

std::string lf_errorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

struct FileCloser {
    void operator()(zip_file_t* file) const noexcept { zip_fclose(file); }
};

}  // namespace

ZipArchive::ZipArchive(const std::filesystem::path& path) : m_path(path) {
    int code = 0;
    // ZIP_CHECKCONS: a download that was cut or mangled should be refused here, not half-read later.
    m_archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (m_archive == nullptr)
        throw ZipError(fmt::format("cannot open archive {}: {}", path.string(), lf_errorText(code)));
    std::error_code ec;
    m_fileSize = std::filesystem::file_size(path, ec);
    if (ec) {
        close();
        throw ZipError(fmt::format("cannot open archive {}: {}", path.string(), ec.message()));
    }
}

ZipArchive::~ZipArchive() { close(); }

ZipArchive::ZipArchive(ZipArchive&& other) noexcept
    : m_archive(std::exchange(other.m_archive, nullptr)),
      m_path(std::move(other.m_path)),
      m_fileSize(std::exchange(other.m_fileSize, 0)) {}

ZipArchive& ZipArchive::operator=(ZipArchive&& other) noexcept {
    if (this != &other) {
        close();
        m_archive = std::exchange(other.m_archive, nullptr);
        m_path = std::move(other.m_path);
        m_fileSize = std::exchange(other.m_fileSize, 0);
    }
    return *this;
}

void ZipArchive::close() noexcept {
    // Nothing was changed, so nothing must be written back: discard, never zip_close.
    if (m_archive != nullptr) zip_discard(m_archive);
    m_archive = nullptr;
}

std::vector<ZipEntry> ZipArchive::entries() const {
    if (m_archive == nullptr) throw ZipError("archive is not open");
    const zip_int64_t count = zip_get_num_entries(m_archive, 0);
    if (count < 0) throw ZipError(fmt::format("{}: {}", m_path.string(), zip_strerror(m_archive)));
    std::vector<ZipEntry> list;
    list.reserve(static_cast<std::size_t>(count));
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(m_archive, static_cast<zip_uint64_t>(i), 0, &st) != 0)
            throw ZipError(fmt::format("{}: entry {}: {}", m_path.string(), i, zip_strerror(m_archive)));
        ZipEntry entry;
        entry.index = static_cast<std::uint64_t>(i);
        if ((st.valid & ZIP_STAT_NAME) != 0 && st.name != nullptr) entry.name = st.name;
        if ((st.valid & ZIP_STAT_SIZE) != 0) entry.size = st.size;
        list.push_back(std::move(entry));
    }
    return list;
}

std::vector<ZipEntry> ZipArchive::fileEntries() const {
    std::vector<ZipEntry> files;
    for (auto& entry : entries())
        if (!entry.isDirectory()) files.push_back(std::move(entry));
    return files;
}

void ZipArchive::read(const ZipEntry& entry, const std::function<void(std::string_view chunk)>& sink,
                      std::size_t chunkSize) const {
    if (m_archive == nullptr) throw ZipError("archive is not open");
    if (chunkSize == 0) chunkSize = kDefaultChunkSize;
    const std::uint64_t size = declaredSize(entry);
    std::unique_ptr<zip_file_t, FileCloser> file(zip_fopen_index(m_archive, entry.index, 0));
    if (!file)
        throw ZipError(fmt::format("{}: cannot open entry {}: {}", m_path.string(), entry.name,
                                   zip_strerror(m_archive)));
    // One byte more than the entry holds is enough to see its end; a small entry needs no large buffer.
    std::string buffer(static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize, size + 1)), '\0');
    std::uint64_t total = 0;
    for (;;) {
        // libzip verifies the CRC when the last byte has been read and reports a mismatch as a read error.
        const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
        if (n < 0)
            throw ZipError(fmt::format("{}: cannot read entry {}: {}", m_path.string(), entry.name,
                                       zip_file_strerror(file.get())));
        if (n == 0) break;
        total += static_cast<std::uint64_t>(n);
        // No further: what an entry holds beyond its declared size is never handed on nor kept.
        if (total > size)
            throw ZipError(fmt::format("{}: entry {} holds more than the {} bytes it declares", m_path.string(),
                                       entry.name, size));
        sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    }
    if (total != size)
        throw ZipError(fmt::format("{}: entry {} holds {} bytes instead of {}", m_path.string(), entry.name,
                                   total, size));
}

std::uint64_t ZipArchive::declaredSize(const ZipEntry& entry) const {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_archive, entry.index, 0, &st) != 0)
        throw ZipError(fmt::format("{}: entry {}: {}", m_path.string(), entry.name, zip_strerror(m_archive)));
    constexpr zip_uint64_t kNeeded = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD;
    if ((st.valid & kNeeded) != kNeeded)
        throw ZipError(fmt::format("{}: entry {} has no recorded size", m_path.string(), entry.name));
    const auto refuse = [&](const std::string& why) {
        return ZipError(fmt::format("{}: entry {} {}", m_path.string(), entry.name, why));
    };
    // libzip's consistency check at opening refuses this already; the bound is kept here so that it holds
    // by itself.
    if (st.comp_size > m_fileSize)
        throw refuse(fmt::format("declares {} compressed bytes in an archive of {}", st.comp_size, m_fileSize));
    if (st.comp_method == ZIP_CM_STORE && st.size != st.comp_size)
        throw refuse(fmt::format("declares {} bytes but stores {}", st.size, st.comp_size));
    if (st.size / kMaxExpansion > st.comp_size)
        throw refuse(fmt::format("declares {} bytes from {} compressed, more than {} to 1", st.size, st.comp_size,
                                 kMaxExpansion));
    return st.size;
}

std::string ZipArchive::read(const ZipEntry& entry) const {
    // Whole entries are small (databases, lists); reserving their declared size at once would let an
    // archive choose how much we allocate before a byte is read. The string grows with what arrives.
    constexpr std::uint64_t kReserveLimit = 16u << 20;
    std::string content;
    try {
        content.reserve(static_cast<std::size_t>(std::min(entry.size, kReserveLimit)));
        read(entry, [&](std::string_view chunk) { content.append(chunk); });
    } catch (const std::bad_alloc&) {
        throw ZipError(fmt::format("{}: entry {} of {} bytes does not fit in memory", m_path.string(), entry.name,
                                   entry.size));
    }
    return content;
}

void ZipArchive::read(const ZipEntry& entry, std::ostream& out, std::size_t chunkSize) const {
    read(
        entry,
        [&](std::string_view chunk) {
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            if (!out) throw ZipError(fmt::format("writing entry {} failed", entry.name));
        },
        chunkSize);
}
