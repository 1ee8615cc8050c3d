// zntv-demo: the part of scripts/demo that starts and stops processes. The script installs, builds and lays out
// build/demo, then execs this with INT, TERM and HUP still blocked, as they have been since its first line. Here
// they stay blocked and are taken with sigtimedwait between two looks at the files and children: a signal that
// comes at any moment waits, pending, until it is taken, and none is lost to a shell's handler, its forks or
// its parser. This starts the service and simulator stand-ins, waits for their ports, starts the program and
// echoes its log; on the first signal (INT, TERM, HUP or QUIT) it asks the program to close once, waits while it
// closes through its exit sequence, stops the stand-ins and ends by that signal, as a program that cleans up on
// it does, so that a calling shell or loop stops too. When the program ends by itself, it ends with the
// program's status. Every child it starts ends when this process dies, whatever kills it.
//   zntv-demo --root ROOT [--program DIR]
// ROOT is the checkout; the demo folder is ROOT/build/demo. The environment is the one the script exported;
// ZNTV_DEMO_CLOSE_SECONDS (default 60) is how long the program is given to close before it is ended.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The script's lock on build/demo, inherited across its exec: held here to the end, and by the program too.
constexpr int kLockFd = 9;

// The signals that end the demo: blocked in this process from its start (the script blocked them before its
// exec, and they stay so), never handled, only taken.
sigset_t endingSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGQUIT);
    return set;
}

sigset_t noSignals() {
    sigset_t set;
    sigemptyset(&set);
    return set;
}

void blockEndingSignals() {
    const sigset_t set = endingSignals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

// Tells whoever watches. The terminal may be gone or the pipe's reader ended: a failed write changes nothing.
void say(int fd, const std::string& line) {
    const std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}
void tell(const std::string& line) { say(STDOUT_FILENO, line); }
void warn(const std::string& line) { say(STDERR_FILENO, line); }

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string firstLine(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string line;
    std::getline(in, line);
    return line;
}

struct Output {
    fs::path file;       // empty: as this process has it
    bool errorsToo;      // standard error into the same file
    fs::path errorFile;  // else standard error here, when set
};

struct Spawn {
    std::vector<std::string> argv;
    Output output;
    bool keepLock = false;     // only the program holds the demo's lock with us
    sigset_t mask{};           // the child's signal mask at its exec
};

// A child's name, as its messages give it.
std::string nameOf(const std::string& program) { return fs::path(program).filename().string(); }

// Starts a child in a session of its own, so that Ctrl-C in the terminal reaches this process alone. Its
// dispositions are the defaults and its mask the one given; this process's pending signals stay here. It gets a
// TERM when this process dies, however it dies. A child that cannot be started (fork or exec) is told, and gives
// nothing: no pid of a child that never ran is ever signalled or waited for.
std::optional<pid_t> spawn(const Spawn& what) {
    std::vector<char*> argv;
    for (const std::string& arg : what.argv) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // The output files are emptied here, before the fork: a wait for a line in one must never find the
    // previous run's.
    const auto openOutput = [](const fs::path& file) {
        return file.empty() ? -1 : open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    };
    const int out = openOutput(what.output.file);
    const int err = openOutput(what.output.errorFile);
    // The child writes the error of a failed exec here; a successful exec closes it unwritten.
    int report[2] = {-1, -1};
    const auto closeAll = [&] {
        for (int fd : {out, err, report[0], report[1]})
            if (fd >= 0) close(fd);
    };
    const pid_t parent = getpid();
    pid_t pid = -1;
    int error = 0;
    if (pipe2(report, O_CLOEXEC) != 0 || (pid = fork()) < 0) {
        error = errno;
    } else if (pid == 0) {
        setsid();
        // Ended with this process: the program closes as on a TERM, the others end.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);  // it died before the line above
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &byDefault, nullptr);
        const auto fail = [&](int code) {
            const int e = errno;
            [[maybe_unused]] const ssize_t n = write(report[1], &e, sizeof e);
            _exit(code);
        };
        // Its input is nothing, as a script's background job's is.
        const int nothing = open("/dev/null", O_RDONLY);
        if (nothing >= 0) {
            dup2(nothing, STDIN_FILENO);
            if (nothing != STDIN_FILENO) close(nothing);
        }
        if ((!what.output.file.empty() && out < 0) || (!what.output.errorFile.empty() && err < 0)) fail(126);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            if (what.output.errorsToo) dup2(out, STDERR_FILENO);
        }
        if (err >= 0) dup2(err, STDERR_FILENO);
        if (!what.keepLock) close(kLockFd);
        sigprocmask(SIG_SETMASK, &what.mask, nullptr);
        execv(argv[0], argv.data());
        fail(127);
    } else {
        close(report[1]);
        report[1] = -1;
        // Nothing to read (the end of the pipe) once the exec has closed it; the error of a failed one.
        int failed = 0;
        ssize_t got = 0;
        do {
            got = read(report[0], &failed, sizeof failed);
        } while (got < 0 && errno == EINTR);
        if (got == static_cast<ssize_t>(sizeof failed)) {
            error = failed;
            int raw = 0;
            waitpid(pid, &raw, 0);
        }
    }
    closeAll();
    if (error != 0) {
        warn("demo: cannot start " + nameOf(what.argv[0]) + ": " + std::strerror(error));
        return std::nullopt;
    }
    return pid;
}

// A child's end as a shell tells it: its exit status, or 128 + the signal that ended it.
int statusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return 1;
}

// A child this process started and has not reaped yet.
struct Child {
    std::string name;
    pid_t pid;
};

class Demo {
public:
    Demo(fs::path root, std::optional<fs::path> programDir, std::chrono::seconds closeBound)
        : m_root(std::move(root)), m_folder(m_root / "build" / "demo"), m_programDir(std::move(programDir)),
          m_closeBound(closeBound) {}

    int run();
    // The signal that ended the demo, once run() has returned; 0 when none did.
    int endingSignal() const { return m_request; }

private:
    // Waits up to `bound` for an ending signal. The first one decides how the demo ends; later ones are taken
    // and let pass, as the program is asked to close once.
    void pause(std::chrono::milliseconds bound) {
        const sigset_t set = endingSignals();
        timespec timeout{static_cast<time_t>(bound.count() / 1000),
                         static_cast<long>(bound.count() % 1000) * 1'000'000};
        const int sig = sigtimedwait(&set, nullptr, &timeout);
        if (sig > 0 && m_request == 0) m_request = sig;
    }
    bool requested() const { return m_request != 0; }
    // Takes a signal that is pending now: before each start, so that a request that came meanwhile starts nothing.
    bool requestedNow() {
        pause(0ms);
        return requested();
    }

    // Whether the child has ended, reaping it; its status goes to `status`. Only a child's own pid is waited for.
    static bool ended(pid_t pid, int& status) {
        if (pid <= 1) {
            status = 1;
            return true;
        }
        int raw = 0;
        const pid_t got = waitpid(pid, &raw, WNOHANG);
        if (got == pid) {
            status = statusOf(raw);
            return true;
        }
        if (got < 0 && errno == ECHILD) {
            status = 1;
            return true;
        }
        return false;
    }
    // Signals a child: never a group, never everyone (a pid of -1, 0 or 1 reaches far more than the demo's).
    static void signal(pid_t pid, int sig) {
        if (pid > 1) kill(pid, sig);
    }
    // Whether the child ends within the bound; signals that come meanwhile are taken as requests.
    bool endsWithin(pid_t pid, std::chrono::milliseconds bound, int& status) {
        const auto until = std::chrono::steady_clock::now() + bound;
        while (!ended(pid, status)) {
            if (std::chrono::steady_clock::now() >= until) return false;
            pause(100ms);
        }
        return true;
    }
    // Ends a child that ought to go now: TERM, and KILL ten seconds later. Gives its status.
    int stop(pid_t pid) {
        int status = 0;
        signal(pid, SIGTERM);
        if (!endsWithin(pid, 10s, status)) {
            signal(pid, SIGKILL);
            int raw = 0;
            if (pid > 1 && waitpid(pid, &raw, 0) == pid) status = statusOf(raw);
        }
        return status;
    }
    void stopAll() {
        if (m_echo) stop(*m_echo);
        m_echo.reset();
        for (auto it = m_standIns.rbegin(); it != m_standIns.rend(); ++it) stop(it->pid);
        m_standIns.clear();
    }
    // Leaves with what started stopped: the program through its exit sequence, then the echo and the stand-ins.
    // The request's status when there was one, else the given one.
    int leave(int status) {
        if (m_program) closeProgram();
        stopAll();
        return requested() ? 128 + m_request : status;
    }
    // Starts a stand-in (recorded to be stopped at the end); nothing when a request came first or it cannot start.
    std::optional<pid_t> startStandIn(const Spawn& what) {
        if (requestedNow()) return std::nullopt;
        const auto pid = spawn(what);
        if (pid) m_standIns.push_back({nameOf(what.argv[0]), *pid});
        return pid;
    }
    // Tells of a stand-in that ended while the program runs, and reaps it: the program shows the outage as it
    // would the real service's.
    void reapEndedStandIns() {
        std::erase_if(m_standIns, [&](const Child& standIn) {
            int status = 0;
            if (!ended(standIn.pid, status)) return false;
            warn("demo: " + standIn.name + " ended with " + std::to_string(status) + " while ZNTV_P3D runs");
            return true;
        });
    }

    std::optional<std::string> waitForStandIn(const std::string& name, pid_t pid, const fs::path& file,
                                              const std::string& pattern, const fs::path& errors);
    void showErrors(const fs::path& errors);
    int runProgram();
    void closeProgram();

    fs::path m_root;
    fs::path m_folder;
    std::optional<fs::path> m_programDir;
    std::chrono::seconds m_closeBound;
    std::vector<Child> m_standIns;
    std::optional<pid_t> m_echo;
    std::optional<pid_t> m_program;
    int m_request = 0;
};

void Demo::showErrors(const fs::path& errors) {
    std::deque<std::string> last;
    std::ifstream in(errors, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        last.push_back(line);
        if (last.size() > 20) last.pop_front();
    }
    for (const std::string& line : last) warn(line);
}

// Waits while the stand-in lives and has not written a line matching the pattern into the file, and gives that
// line's last word. On a loaded machine a stand-in can take a minute to come up, so it is given five; a signal
// ends the wait at once. One that ends first is named with its error output, and so is one that has not
// answered in that time: the demo never goes on without a port.
std::optional<std::string> Demo::waitForStandIn(const std::string& name, pid_t pid, const fs::path& file,
                                                const std::string& pattern, const fs::path& errors) {
    const std::regex wanted(pattern);
    for (int tick = 0; tick < 3000 && !requested(); ++tick) {
        std::istringstream lines(readFile(file));
        for (std::string line; std::getline(lines, line);) {
            if (!std::regex_search(line, wanted)) continue;
            std::istringstream words(line);
            std::string word, lastWord;
            while (words >> word) lastWord = word;
            if (!lastWord.empty()) return lastWord;
            break;
        }
        int status = 0;
        if (ended(pid, status)) {
            std::erase_if(m_standIns, [&](const Child& standIn) { return standIn.pid == pid; });
            warn("demo: " + name + " ended with " + std::to_string(status) +
                 " before it gave its port; its error output (" + errors.string() + "):");
            showErrors(errors);
            return std::nullopt;
        }
        pause(100ms);
    }
    if (!requested()) {
        warn("demo: " + name + " gave no port in 300 s (no \"" + pattern + "\" in " + file.string() +
             "); its error output (" + errors.string() + "):");
        showErrors(errors);
    }
    return std::nullopt;
}

// A setting's whole-number value from the settings file, as the program reads MAIN_WINDOW_X and _Y.
std::optional<std::string> settingOf(const std::string& settings, const std::string& name) {
    const std::regex value("name=\"" + name + "\" value=\"(-?[0-9]*)\"");
    std::smatch found;
    if (!std::regex_search(settings, found, value)) return std::nullopt;
    return found[1].str();
}

int Demo::run() {
    const std::string bin = (m_root / "build" / "bin").string();

    // The stand-ins run in sessions of their own, as the program does, so that Ctrl-C in the terminal reaches
    // this process alone: the program logs out and removes its aircraft while they still answer; they are
    // stopped afterwards.
    const fs::path scenario = m_root / "build" / "scenarios" / "zurich.json";
    // It starts 50 s into the recording. The program shows traffic half a minute behind the reports, and its
    // first request brings the half minute before that: the second arrival is then some 200 ft up on final and
    // lands in the program's first half minute, two departures push back from their stands in the second and the
    // fourth minute, and five more aircraft appear taxiing, one every half minute from the third minute on. The
    // recording's three landings all come in its first 90 s and its first take-off at 10 minutes: a later start
    // shows a landing only in its last seconds, or none, and an earlier one finds that arrival before the program
    // has its track and only delays the rest.
    const auto service =
        startStandIn({{bin + "/zntv-service", "--port", "0", "--root", (m_folder / "server").string(), "--scenario",
                scenario.string(), "--loop", "--start-at", "50"},
               {m_folder / "service.out", false, m_folder / "service.err"},
               false,
               noSignals()});
    if (!service) return leave(1);
    const auto servicePort =
        waitForStandIn("zntv-service", *service, m_folder / "service.out", "^port ", m_folder / "service.err");
    if (!servicePort) return leave(1);
    const std::string serviceUrl = "http://127.0.0.1:" + *servicePort + "/v4/";
    setenv("ZNTV_SERVICE_URL", serviceUrl.c_str(), 1);
    if (!m_programDir) {
        setenv("ZNTV_UPDATE_URL", ("http://127.0.0.1:" + *servicePort + "/downloads/").c_str(), 1);
        tell("demo: update server and live-traffic service on port " + *servicePort);
    } else {
        // The installed folder reads the downloads it holds, as it does when used for real.
        unsetenv("ZNTV_UPDATE_URL");
        tell("demo: live-traffic service on port " + *servicePort + " (ZNTV_SERVICE_URL=" + serviceUrl + ")");
    }

    const fs::path portFile = m_folder / "run" / "simulator.port";
    std::error_code ignored;
    fs::remove(portFile, ignored);
    // The user aircraft stands at Zurich, where the scenario's traffic moves. The stand-in traces every creation,
    // position update and removal of an AI aircraft as a JSON line; each run starts a fresh trace.
    const fs::path trace = m_folder / "simulator-trace.jsonl";
    fs::remove(trace, ignored);
    // Its map of the AI aircraft, with the stands of Zurich: written to demo/map.png every two seconds, and shown
    // in a window of its own when there is a display. Five kilometres across take in the runways as well as the
    // stands.
    std::vector<std::string> simulator = {bin + "/zntv-simulator", "--port", "0", "--no-pipe", "--port-file",
                                          portFile.string(), "--user-lat", "47.4612", "--user-lon", "8.5535",
                                          "--trace", trace.string(), "--map-png", (m_folder / "map.png").string(),
                                          "--map-width", "5000", "--stands",
                                          (m_root / "build/server/P3D/archive/stock/LSZH.xml").string()};
    // The map window opens beside the program's (where the settings put it, 880 x 476), so neither hides the
    // other.
    const char* headless = std::getenv("ZNTV_HEADLESS");
    if (headless == nullptr || std::string(headless) != "1") {
        const char* config = std::getenv("XDG_CONFIG_HOME");
        const std::string settings =
            config != nullptr ? readFile(fs::path(config) / "ZNTV_P3D" / "parameters.xml") : std::string();
        const std::string x = settingOf(settings, "MAIN_WINDOW_X").value_or("");
        const std::string y = settingOf(settings, "MAIN_WINDOW_Y").value_or("");
        simulator.insert(simulator.end(), {"--map", "--map-beside",
                                           (x.empty() ? "400" : x) + "," + (y.empty() ? "20" : y) + ",880,476"});
    }
    fs::remove(m_folder / "map.png", ignored);
    const auto sim = startStandIn({simulator, {m_folder / "simulator.out", true, {}}, false, noSignals()});
    if (!sim) return leave(1);
    const auto simPort =
        waitForStandIn("zntv-simulator", *sim, portFile, "^[0-9]", m_folder / "simulator.out");
    if (!simPort) return leave(1);
    // DisableNagle: each frame's positions go out in one small write, and the work thread now and then writes a
    // request of its own between two frames. With Nagle's algorithm on, the next frame's write then waits for the
    // simulator's acknowledgement, which comes with its next message; the frames after it go out one frame late
    // in turn until an acknowledgement falls between them, and the traffic stutters.
    const char* documents = std::getenv("XDG_DOCUMENTS_DIR");
    std::ofstream(fs::path(documents != nullptr ? documents : ".") / "SimConnect.cfg")
        << "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" << *simPort << "\nDisableNagle=1\n";
    tell("demo: simulator stand-in on port " + *simPort + "; its AI aircraft are traced in " + trace.string() +
         " and drawn in " + (m_folder / "map.png").string());
    return runProgram();
}

// Asks the program to close as its close box would, and waits while it closes through its exit sequence
// (logout, removal of its aircraft, the learned stand file saved) with its simulator and service still there to
// answer. This is the one request it gets, however often Ctrl-C is pressed: a second signal would tell it to go
// at once, without that sequence. It was started with INT blocked, as its signal thread takes it, so a request
// at its very first moment waits, pending, until that thread is there. One that has not closed in the bound (a
// minute unless set otherwise) is told so, and is ended ten seconds later: nothing the demo started is to
// outlive it.
void Demo::closeProgram() {
    const pid_t program = *m_program;
    signal(program, SIGINT);
    int status = 0;
    if (!endsWithin(program, m_closeBound, status)) {
        warn("demo: ZNTV_P3D has not closed in " + std::to_string(m_closeBound.count()) + " s; it is ended");
        status = stop(program);
    }
    m_program.reset();
    tell("demo: ZNTV_P3D ended with " + std::to_string(status));
}

int Demo::runProgram() {
    const fs::path folder = m_programDir.value_or(m_folder);
    tell("demo: program folder " + folder.string());
    if (chdir(folder.c_str()) != 0) {
        warn("demo: cannot enter " + folder.string() + ": " + std::strerror(errno));
        return leave(1);
    }
    // The program keeps the previous logs itself (Log.txt to Log0.txt, Log0.txt to Log00.txt) and then starts
    // Log.txt afresh with a header line of its start time: the echo begins once that header stands, so it shows
    // this run's log alone, and no empty Log.txt is made here for the program to keep as a previous log.
    const std::string previousHeader = firstLine("Log.txt");
    // Its signal thread takes INT and TERM, which every one of its threads blocks: it starts with them blocked
    // already, so that neither is lost before that thread runs.
    sigset_t taken;
    sigemptyset(&taken);
    sigaddset(&taken, SIGINT);
    sigaddset(&taken, SIGTERM);
    const fs::path program = m_programDir ? *m_programDir / "ZNTV_P3D" : m_root / "build" / "bin" / "ZNTV_P3D";
    if (requestedNow()) return leave(0);
    m_program = spawn({{program.string()}, {}, true, taken});
    if (!m_program) return leave(1);
    tell("demo: ZNTV_P3D runs (pid " + std::to_string(*m_program) + "); Ctrl-C ends it");
    int status = 0;
    while (!requested()) {
        if (ended(*m_program, status)) {
            m_program.reset();
            tell("demo: ZNTV_P3D ended with " + std::to_string(status));
            // Whoever started the demo learns how the program ended: 1 after a start-up or service error, 255
            // when another ZNTV_P3D of the same user ran.
            return leave(status);
        }
        reapEndedStandIns();
        // However late the program writes its log's header, the echo starts with it.
        if (!m_echo) {
            const std::string header = firstLine("Log.txt");
            if (!header.empty() && header != previousHeader) {
                if (requestedNow()) break;
                m_echo = spawn({{"/usr/bin/tail", "-n", "+1", "-F", "Log.txt"}, {"", false, "/dev/null"}, false,
                                noSignals()});
                if (!m_echo) return leave(1);
            }
        }
        pause(50ms);
    }
    return leave(0);
}

// Ends this process by the signal that ended the demo, with that signal's default action, as a program that
// cleans up on a signal does: a shell that started it, or a loop in one, then stops as well. No core file is
// written for a QUIT: the demo has closed, and nothing has gone wrong.
int endBy(int sig) {
    if (sig == SIGQUIT) {
        const rlimit none{0, 0};
        setrlimit(RLIMIT_CORE, &none);
    }
    std::signal(sig, SIG_DFL);
    raise(sig);  // pending while blocked
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    return 128 + sig;  // not reached
}

}  // namespace

int main(int argc, char** argv) {
    blockEndingSignals();
    // A gone reader of standard output shows as a failed write, not as the end of this process.
    std::signal(SIGPIPE, SIG_IGN);
    std::optional<fs::path> root, program;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--root") root = argv[i + 1];
        else if (option == "--program") program = argv[i + 1];
    }
    if (!root || argc % 2 == 0) {
        warn("usage: zntv-demo --root ROOT [--program DIR]");
        return 2;
    }
    std::chrono::seconds closeBound = 60s;
    if (const char* bound = std::getenv("ZNTV_DEMO_CLOSE_SECONDS"); bound != nullptr && std::atoi(bound) > 0)
        closeBound = std::chrono::seconds(std::atoi(bound));
    Demo demo(*root, program, closeBound);
    const int status = demo.run();
    if (demo.endingSignal() != 0) return endBy(demo.endingSignal());
    return status;
}
