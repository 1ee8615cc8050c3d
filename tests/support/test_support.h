// Helpers shared by the test suites: a temporary folder, scoped environment variables and working folder.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace testing_support {

// A fresh folder below the system temp folder, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Sets (or unsets, with nullopt) an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Changes the working folder for the scope.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::filesystem::path& dir);
    ~ScopedCwd();
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    std::filesystem::path m_old;
};

// The environment that gives a program started as a process a world of its own below `root`, as the runs of
// the program lay it out: the roaming folder "config", "documents", "public", "runtime" and the registry
// files in "registry".
std::map<std::string, std::string> programFolders(const std::filesystem::path& root);

// The first folder above `path` that other users may not enter, where a test that runs something as another user
// skips; empty when there is none.
std::filesystem::path closedToOthers(const std::filesystem::path& path);

// Polls `condition` until it holds or `bound` has passed; whether it holds at the end.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound);

std::string readWholeFile(const std::filesystem::path& p);
void writeWholeFile(const std::filesystem::path& p, const std::string& bytes);

// The shared folder beside the checkout (test fixtures too big or too foreign for the repository): where the
// build found it, else the first "shared" holding "fixtures" from the source tree upwards; empty
// when there is none, and a test that needs it skips.
std::filesystem::path sharedDir();
// Its "fixtures" folder; empty when there is no shared folder.
std::filesystem::path sharedFixtures();

// The ADS-B recording of Zurich that ships in the repository (the build makes the demo's scenario from it).
std::filesystem::path zurichRecording();

}  // namespace testing_support
