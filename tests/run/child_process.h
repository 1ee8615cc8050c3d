// A program of the build started as a child process for the end-to-end runs: its own working folder and
// environment, output to a file, and a bounded wait for its end. A child still running at the end of the
// scope is killed and reaped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace run_test {

class ChildProcess {
public:
    // `environment` is added to (and overrides) the test's own environment.
    ChildProcess(const std::filesystem::path& program, std::vector<std::string> arguments,
                 const std::filesystem::path& workingFolder, const std::map<std::string, std::string>& environment,
                 const std::filesystem::path& outputFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    void signal(int sig) const;
    // The exit status (0..255, or 128 + the signal that ended it); nothing when it still runs at the bound.
    std::optional<int> waitForExit(std::chrono::milliseconds bound);
    bool running();

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

}  // namespace run_test
