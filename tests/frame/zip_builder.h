// Builds ZIP archives for the tests with libzip itself, so that no binary archive is kept in the tree.
#pragma once

#include <zip.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

struct ZipItem {
    std::string name;     // a folder entry ends in "/"
    std::string content;  // ignored for folders
    bool stored = false;  // no compression: the content's bytes appear as they are in the archive file
};

inline void writeZip(const std::filesystem::path& path, const std::vector<ZipItem>& items) {
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr) throw std::runtime_error("cannot create " + path.string());
    for (const auto& item : items) {
        if (!item.name.empty() && item.name.back() == '/') {
            if (zip_dir_add(archive, item.name.c_str(), ZIP_FL_ENC_UTF_8) < 0)
                throw std::runtime_error(zip_strerror(archive));
            continue;
        }
        // libzip reads the buffer at zip_close, so it must outlive the archive: items does.
        zip_source_t* source = zip_source_buffer(archive, item.content.data(), item.content.size(), 0);
        const zip_int64_t index =
            source == nullptr ? -1 : zip_file_add(archive, item.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            if (source != nullptr) zip_source_free(source);
            throw std::runtime_error(zip_strerror(archive));
        }
        if (item.stored) zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    if (zip_close(archive) != 0) throw std::runtime_error(zip_strerror(archive));
}

}  // namespace testing_support
