// Named pipes "\\HOST\pipe\NAME" are Unix-domain sockets in $XDG_RUNTIME_DIR/zntv-pipes/; only the local
// host (".", "localhost" or this machine's name) can be reached.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace platform {

std::filesystem::path pipeFolder();
// The socket path of a pipe name; nullopt when the name is not of the pipe form or names another host.
std::optional<std::filesystem::path> pipeSocketPath(std::string_view pipeName);

}  // namespace platform
