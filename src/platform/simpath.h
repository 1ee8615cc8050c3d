// Windows paths found in simulator files, mapped onto this file system: backslash and slash both separate,
// a relative path is taken against its base folder, each component is matched case-insensitively when the
// exact name is missing, and a drive letter "X:" resolves through the "dosdevices/x:" link in the folder
// named by ZNTV_DOSDEVICES (the layout Wine uses).
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace platform {

// nullopt when a drive letter cannot be resolved. Components that do not exist are kept as written.
std::optional<std::filesystem::path> mapSimPath(std::string_view windowsPath,
                                                const std::filesystem::path& base = {});

}  // namespace platform
