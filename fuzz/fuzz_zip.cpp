// ZIP archives: the downloads (installer, aircraft database, registration codes) through our own ZIP class,
// every entry listed and read whole and in chunks.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "frame/zip.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto path = fuzz::writeInput(data, size, "archive.zip");
    try {
        const ZipArchive archive(path);
        for (const ZipEntry& entry : archive.entries()) {
            if (entry.isDirectory()) continue;
            // Each way of reading fails by itself: a damaged entry must not keep the next from being read.
            try {
                (void)archive.read(entry);
            } catch (const ZipError&) {
            }
            try {
                std::uint64_t total = 0;
                // An odd chunk size, so that chunks and the library's own buffers do not line up.
                archive.read(entry, [&](std::string_view chunk) { total += chunk.size(); }, 4093);
            } catch (const ZipError&) {
            }
        }
    } catch (const ZipError&) {
    }
    return 0;
}
