// Read-only registry look-ups from REGEDIT4-format text files ("regedit /e" output): the machine file and
// the user file, by default registry/machine.reg and registry/user.reg in the application folder (the
// working folder), or in the folder named by ZNTV_REGISTRY_DIR.
#pragma once

#include <optional>
#include <string>
#include <system_error>

namespace winreg {

enum class Hive { LocalMachine, CurrentUser };

// Error codes as the original platform reports them.
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorMoreData = 234;
// A registry file beyond the limits of a real registry: refused as a whole, the error says where.
inline constexpr int kErrorBadDb = 1009;

class RegException : public std::system_error {
public:
    RegException(int errorCode, const std::string& message);
};

class RegKey {
public:
    // Opens a key for reading; throws RegException "RegOpenKeyExW failed." when it does not exist, with
    // kErrorBadDb and the file's line when the hive's file was refused.
    static RegKey Open(Hive hive, const std::string& subKey);
    // A string value; throws RegException "Cannot get size of string value: RegGetValueW failed." when
    // the value does not exist or is not a string.
    std::string GetStringValue(const std::string& valueName) const;
    // A DWORD value, nullopt when missing or of another kind.
    std::optional<unsigned long> GetDwordValue(const std::string& valueName) const;

private:
    RegKey(Hive hive, std::string path) : m_hive(hive), m_path(std::move(path)) {}
    Hive m_hive;
    std::string m_path;
};

}  // namespace winreg
