#include "xvfb.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace window_test {
namespace {

// How long Xvfb may take to come up; a bound for a stuck start, not a measure of anything.
constexpr int kStartWaitMs = 30000;

int lf_waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Runs a program with its output thrown away and waits for it; its exit status, or -1 when it did not run.
int lf_run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    const int status = lf_waitFor(pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool gf_programOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::istringstream dirs(path);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (!dir.empty() && ::access((fs::path(dir) / name).c_str(), X_OK) == 0) return true;
    }
    return false;
}

bool XvfbServer::installed() { return gf_programOnPath("Xvfb"); }

XvfbServer::XvfbServer(int width, int height) {
    int fds[2];
    if (::pipe(fds) != 0) {
        m_failure = "cannot create a pipe";
        return;
    }
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    // Xvfb picks a free display number itself and writes it to this descriptor once it takes clients.
    const std::string fd = std::to_string(fds[1]);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::vector<std::string> args = {"Xvfb", "-displayfd", fd, "-screen", "0", screen, "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        // The server must not outlive a test that crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (m_pid < 0) {
        m_pid = -1;
        m_failure = "cannot start Xvfb";
        ::close(fds[0]);
        return;
    }

    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (number.find('\n') == std::string::npos) {
        const int ready = ::poll(&p, 1, kStartWaitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[32];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;  // Xvfb ended before it took clients
        number.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    if (number.find('\n') == std::string::npos) {
        m_failure = "Xvfb did not report a display";
        ::kill(m_pid, SIGTERM);
        lf_waitFor(m_pid);
        m_pid = -1;
        return;
    }
    number.erase(number.find('\n'));
    m_display = ":" + number;
    if (const char* old = std::getenv("DISPLAY")) m_oldDisplay = old;
    ::setenv("DISPLAY", m_display.c_str(), 1);
}

XvfbServer::~XvfbServer() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        lf_waitFor(m_pid);
    }
    if (m_display.empty()) return;
    if (m_oldDisplay) {
        ::setenv("DISPLAY", m_oldDisplay->c_str(), 1);
    } else {
        ::unsetenv("DISPLAY");
    }
}

bool gf_screenshot(const std::string& display, const fs::path& file, std::optional<ui::Rect> crop) {
    std::vector<std::string> args = {"import", "-display", display, "-window", "root"};
    if (crop) {
        args.push_back("-crop");
        args.push_back(std::to_string(crop->right - crop->left) + "x" + std::to_string(crop->bottom - crop->top) +
                       "+" + std::to_string(crop->left) + "+" + std::to_string(crop->top));
        args.push_back("+repage");
    }
    args.push_back("-depth");
    args.push_back("8");
    args.push_back(file.string());
    std::error_code ec;
    fs::remove(file, ec);
    return lf_run(args) == 0 && fs::exists(file, ec);
}

std::optional<Image> gf_readPpm(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    auto token = [&in]() {
        std::string t;
        char c;
        while (in.get(c)) {
            if (c == '#') {
                std::string comment;
                std::getline(in, comment);
                continue;
            }
            if (std::isspace(static_cast<unsigned char>(c))) {
                if (!t.empty()) break;
                continue;
            }
            t += c;
        }
        return t;
    };
    if (token() != "P6") return std::nullopt;
    Image image;
    try {
        image.width = std::stoi(token());
        image.height = std::stoi(token());
        const int maxValue = std::stoi(token());
        const int bytes = maxValue > 255 ? 2 : 1;
        const std::size_t samples = static_cast<std::size_t>(image.width) * image.height * 3;
        std::vector<unsigned char> raw(samples * bytes);
        if (!in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size())))
            return std::nullopt;
        image.rgb.resize(samples);
        for (std::size_t i = 0; i < samples; ++i) {
            // 16-bit samples are big-endian; their high byte is the 8-bit value
            image.rgb[i] = bytes == 2 ? raw[i * 2] : raw[i];
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return image;
}

}  // namespace window_test
