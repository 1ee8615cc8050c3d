// The airport list every program folder has ("input/airports_p3d.xml"): the build makes it, suites that start
// the program copy it into their program folder. Needs ZNTV_BINARY_DIR (the test executables define it).
#pragma once

#include <filesystem>

namespace testing_support {

inline const std::filesystem::path kBuiltAirportList =
    std::filesystem::path(ZNTV_BINARY_DIR) / "input" / "airports_p3d.xml";

inline void copyAirportList(const std::filesystem::path& programFolder) {
    std::filesystem::create_directories(programFolder / "input");
    std::filesystem::copy_file(kBuiltAirportList, programFolder / "input" / "airports_p3d.xml",
                               std::filesystem::copy_options::overwrite_existing);
}

}  // namespace testing_support
