// A program of the build started as a child process for the end-to-end runs: its own working folder and
// environment, output to a file, and a bounded wait for its end. A child still running at the end of the
// scope is killed and reaped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace run_test {

// A user a child can run as: its user and group ids.
struct Account {
    uid_t uid;
    gid_t gid;
};

// The user whose file rights are enforced, for a test that needs a refused read or write: under root (as CI
// runs), "nobody"; else the test's own user, for whom they are enforced already (nothing).
std::optional<Account> unprivilegedAccount();
// Gives the folder and everything in it to the account, as a user's own files are.
void handOver(const std::filesystem::path& folder, Account account);

// A terminal window for a child: a pseudo-terminal whose far side the child takes as its controlling terminal,
// its input and its output. What the child writes is copied into the output file; hangUp() closes the window.
class Terminal {
public:
    explicit Terminal(const std::filesystem::path& outputFile);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    const std::string& device() const { return m_device; }
    // Closes our side: the kernel hangs the terminal up, and its session's leader gets SIGHUP.
    void hangUp();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_device;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};

class ChildProcess {
public:
    // `environment` is added to the test's own environment, less the program's variables (ZNTV_...): a child
    // gets only those its test sets, whatever the user running the tests exported. With an account, the child
    // runs as that user (the output file is opened before it changes users). With a terminal, the child leads a
    // session of its own on it, and its output goes to the terminal's file instead.
    // SIGINT and SIGQUIT are at their defaults in the child, however the test program was started (a script's
    // background job starts with both ignored, and a shell cannot trap a signal that was ignored at its start).
    ChildProcess(const std::filesystem::path& program, std::vector<std::string> arguments,
                 const std::filesystem::path& workingFolder, const std::map<std::string, std::string>& environment,
                 const std::filesystem::path& outputFile, std::optional<Account> account = std::nullopt,
                 const Terminal* terminal = nullptr);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    void signal(int sig) const;
    // The child leads a process group of its own, as a shell with job control starts a command: this signals
    // the whole group, as Ctrl-C in a terminal does its foreground job.
    void signalGroup(int sig) const;
    // The exit status (0..255, or 128 + the signal that ended it); nothing when it still runs at the bound.
    std::optional<int> waitForExit(std::chrono::milliseconds bound);
    bool running();

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

}  // namespace run_test
