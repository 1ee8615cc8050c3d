// A scratch file per fuzzing process: readers of files get the input as a real file, as they would from a user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fuzz {

// <temp>/zntv-fuzz-<pid>, made on first use: the target's own scratch folder. It stays behind when the
// fuzzer exits: scripts/fuzz removes it.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        // A memory file system where there is one: the disk would cost most of each run.
        std::error_code ec;
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        auto dir = base / ("zntv-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir;
    }();
    return folder;
}

// Writes the input to <scratch folder>/<name> (a name may hold folders that exist) and returns that path.
inline std::filesystem::path writeInput(const uint8_t* data, size_t size, const std::string& name) {
    auto path = scratchFolder() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

}  // namespace fuzz
