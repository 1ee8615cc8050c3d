#include "child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace run_test {

std::optional<Account> unprivilegedAccount() {
    if (geteuid() != 0) return std::nullopt;
    return Account{65534, 65534};
}

void handOver(const std::filesystem::path& folder, Account account) {
    const auto give = [&](const std::filesystem::path& path) {
        if (lchown(path.c_str(), account.uid, account.gid) != 0)
            throw std::runtime_error("cannot hand " + path.string() + " over: " + std::strerror(errno));
    };
    give(folder);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) give(entry.path());
}

ChildProcess::ChildProcess(const std::filesystem::path& program, std::vector<std::string> arguments,
                           const std::filesystem::path& workingFolder,
                           const std::map<std::string, std::string>& environment,
                           const std::filesystem::path& outputFile, std::optional<Account> account) {
    // Everything the child needs is built before the fork: after it only async-signal-safe calls are made.
    std::map<std::string, std::string> merged;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        // ZNTV_HEADLESS=1 exported in the shell that runs the tests would take the window from a test of it.
        if (eq != std::string::npos && !entry.starts_with("ZNTV_")) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [k, v] : environment) merged[k] = v;
    std::vector<std::string> envText;
    for (const auto& [k, v] : merged) envText.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envText) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string path = program.string();
    arguments.insert(arguments.begin(), path);
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string cwd = workingFolder.string();
    const std::string out = outputFile.string();

    m_pid = fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        if (account && (setgroups(0, nullptr) != 0 || setgid(account->gid) != 0 || setuid(account->uid) != 0))
            _exit(125);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    // Both sides set the group, so that it stands before either goes on (the child may not have run yet).
    setpgid(m_pid, m_pid);
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !m_status) {
        kill(m_pid, SIGKILL);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
}

void ChildProcess::signal(int sig) const {
    if (m_pid > 0) kill(m_pid, sig);
}

void ChildProcess::signalGroup(int sig) const {
    if (m_pid > 0) kill(-m_pid, sig);
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!m_status) {
        int status = 0;
        const pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= end) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return m_status;
}

bool ChildProcess::running() { return !waitForExit(std::chrono::milliseconds(0)).has_value(); }

}  // namespace run_test
