// Small file-system operations and the throttle of the parallel scan tasks.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

extern std::uint32_t g_scanLimit;                      // hardware threads; set before any scan task starts
extern std::atomic<std::uint32_t> g_scanRunningTasks;  // running scan tasks

// Returns when a scan task may start; the caller then adds 1 to g_scanRunningTasks and starts its task.
void gf_enterThrottle();
// Every scan task calls this when it ends, also when it fails.
void gf_leaveThrottle();

std::size_t gf_countFiles(const std::filesystem::path& folder);  // 0 when the folder does not exist
// Regular files directly in the folder with the extension .xml in any letter case; iteration errors throw.
std::vector<std::filesystem::path> gf_listXmlFiles(const std::filesystem::path& folder);
bool gf_removeIfExists(const std::filesystem::path& path);
// Throws qtm::UserErrorException code 5 with the file-system error's text.
void gf_removeFolderFiles(const std::filesystem::path& folder);
// A save writes "<target>.<8 hex digits>.tmp" beside its target and renames it over; a process that ends in
// between leaves it behind. Removes those (only those: other files stay) in the folder, in its sub-folders too
// when asked; each removal is logged.
void gf_removeInterruptedSaves(const std::filesystem::path& folder, bool recursive);
// The same over the program's own folders: the program folder, "airports" and "output" with their
// sub-folders, and the application-data folder. Called once at the start.
void gf_removeInterruptedSaves();
// "x.txt": x0.txt is copied over x00.txt, then x.txt over x0.txt; a name without '.' is left alone. Moved, the
// two are renamed instead, when x.txt is there, both or neither (a failed rename leaves every file where it
// was): for a file that cannot be read (a copy needs its bytes) in a folder that can be written. Throws
// FileSystemError.
enum class BackupBy { copy, move };
void gf_backupFile(const std::filesystem::path& path, BackupBy how = BackupBy::copy);

// A file-system error whose text reads "<operation>: <system message>: "<path>"", the wording the user
// knows from the program's messages. Still a std::filesystem::filesystem_error for the handlers.
class FileSystemError : public std::filesystem::filesystem_error {
public:
    FileSystemError(std::string_view operation, const std::filesystem::path& path, std::error_code ec);
    const char* what() const noexcept override { return m_text.c_str(); }

private:
    std::string m_text;
};
