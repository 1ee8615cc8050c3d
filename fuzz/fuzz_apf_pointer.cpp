// Pointer files and the learned path of the reference they give: any bytes are read without a crash, the
// reference ends in 'l' and uses '/', and a learned path never leads out of "airports/learned". Input: the
// pointer file's bytes, then optionally a NUL and the publisher's name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "airports/stand_sources.h"
#include "support/fuzz_file.h"

namespace fs = std::filesystem;

namespace {

bool insideLearned(const fs::path& path) {
    auto it = path.begin();
    if (path.has_root_path() || it == path.end() || *it != "airports") return false;
    if (++it == path.end() || *it != "learned") return false;
    if (++it == path.end()) return false;
    for (; it != path.end(); ++it)
        if (*it == "..") return false;
    return true;
}

bool safeName(const std::string& name) {
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == ':' || u < 0x20 || u == 0x7f) return false;
    }
    return name.find("..") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view pointer = input.substr(0, nul);
    const std::string publisher(nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1));

    const fs::path file = fuzz::writeInput(data, pointer.size(), "EHAM.txt");
    std::string reference;
    if (lf_readApfPointer(file, reference)) {
        if (!reference.empty() && reference.back() != 'l') std::abort();
        if (reference.find('\\') != std::string::npos) std::abort();
    } else {
        reference = std::string(pointer);
    }
    const fs::path learned = lf_resolveApfPath(reference, publisher);
    if (!learned.empty() && !insideLearned(learned)) std::abort();
    if (!safeName(lf_safeFolderName(publisher))) std::abort();
    return 0;
}
