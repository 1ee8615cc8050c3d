// Small text helpers shared by the platform layer: names of Windows objects (pipes, mutexes) turned into
// file names, and the ASCII case folding that Windows-style look-ups need.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Every byte outside [A-Za-z0-9._-] becomes '_', so that the result is one harmless path component.
std::string safeFileName(std::string_view name);

// 64-bit FNV-1a over the bytes; stable across runs and builds, which a name derived from it needs.
std::uint64_t fnv1a64(std::string_view bytes);

constexpr char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
std::string asciiLowerCopy(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace platform
