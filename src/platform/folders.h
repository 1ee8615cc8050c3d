// The user's shell folders, from the XDG variables with the usual fall-backs below $HOME.
#pragma once

#include <filesystem>
#include <optional>

namespace platform {

std::optional<std::filesystem::path> roamingAppDataFolder();  // $XDG_CONFIG_HOME, else ~/.config
std::optional<std::filesystem::path> documentsFolder();       // $XDG_DOCUMENTS_DIR, else ~/Documents
std::optional<std::filesystem::path> publicDocumentsFolder(); // $XDG_PUBLICSHARE_DIR, else ~/Public
std::filesystem::path runtimeFolder();                        // $XDG_RUNTIME_DIR, else the temp folder

}  // namespace platform
