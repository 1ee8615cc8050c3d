#include "child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

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

Terminal::Terminal(const std::filesystem::path& outputFile) {
    // Neither side is inherited: a child holding our side would keep the terminal from hanging up.
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        throw std::runtime_error(std::string("no pseudo-terminal: ") + std::strerror(errno));
    m_device = ptsname(m_master);
    // Held open here, so that our side reads no end before the child has opened the far side.
    m_slave = open(m_device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0) throw std::runtime_error("cannot open " + m_device + ": " + std::strerror(errno));
    // Read at once: a terminal nobody reads fills up, and its writer blocks.
    m_reader = std::thread([this, outputFile] {
        FILE* out = std::fopen(outputFile.c_str(), "w");
        char buffer[4096];
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = read(m_master, buffer, sizeof buffer);
            if (n <= 0) break;
            if (out != nullptr) {
                std::fwrite(buffer, 1, static_cast<std::size_t>(n), out);
                std::fflush(out);
            }
        }
        if (out != nullptr) std::fclose(out);
    });
}

Terminal::~Terminal() { hangUp(); }

void Terminal::hangUp() {
    m_stop = true;
    if (m_reader.joinable()) m_reader.join();
    for (int* fd : {&m_slave, &m_master}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

ChildProcess::ChildProcess(const std::filesystem::path& program, std::vector<std::string> arguments,
                           const std::filesystem::path& workingFolder,
                           const std::map<std::string, std::string>& environment,
                           const std::filesystem::path& outputFile, std::optional<Account> account,
                           const Terminal* terminal) {
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
    const std::string device = terminal != nullptr ? terminal->device() : std::string();

    // Every signal is blocked across the fork: one sent to the child before it has set its dispositions stays
    // pending (Linux keeps a blocked signal even while it is ignored) and is taken once they are the defaults.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    m_pid = fork();
    if (m_pid == 0) {
        if (device.empty()) setpgid(0, 0);
        else setsid();
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigaction(SIGINT, &byDefault, nullptr);
        sigaction(SIGQUIT, &byDefault, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        if (!device.empty()) {
            // Opened by a session leader that has none yet, it becomes the controlling terminal.
            const int fd = open(device.c_str(), O_RDWR);
            if (fd < 0 || ioctl(fd, TIOCSCTTY, 0) != 0) _exit(124);
            for (int std = 0; std < 3; ++std) dup2(fd, std);
            if (fd > 2) close(fd);
        } else if (const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644); fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        if (account && (setgroups(0, nullptr) != 0 || setgid(account->gid) != 0 || setuid(account->uid) != 0))
            _exit(125);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (m_pid < 0) throw std::runtime_error("fork failed");
    // Both sides set the group, so that it stands before either goes on (the child may not have run yet). A
    // group leader could not start a session: with a terminal, the child alone does it.
    if (device.empty()) setpgid(m_pid, m_pid);
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
