// The text reader: files of any encoding that a user or an installer writes (aircraft.cfg, lists, regcodes).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "frame/text.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto path = fuzz::writeInput(data, size, "text.cfg");
    std::vector<std::string> lines;
    int code = gf_detectEncoding(path);
    gf_readTextFileLines(code, path, lines);
    lines.clear();
    gf_readExtTextFileToStringVector(path, lines);
    for (const auto& line : lines) {
        (void)gf_split(line, '=');
        (void)gf_extractPath(line);
    }
    return 0;
}
