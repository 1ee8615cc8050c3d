// Preloaded into one program of the demo, this makes the rare moments of a start happen every time, as the
// environment asks:
//  - ZNTV_HOLD_AFTER_THREAD_MS: the main thread is held that long after each thread it starts, so that the new
//    thread runs first;
//  - ZNTV_FAIL_FORK=N: the N-th fork fails with EAGAIN, as under a process limit;
//  - ZNTV_HOLD_CHILD_MS: each child is held that long after its fork, so that its parent goes on first;
//  - ZNTV_FAULT_RECORD=FILE: a kill to a pid of 1 or less is not made but written to FILE, and so is a wait for
//    any child (a pid of 0 or less).
// Its variables and LD_PRELOAD are taken out of the environment at once: the program's children run as they are.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

namespace {

long g_holdMs = 0;
long g_holdChildMs = 0;
int g_failFork = 0;
int g_forks = 0;
char g_record[4096] = "";

__attribute__((constructor(101))) void readFaults() {
    if (const char* hold = std::getenv("ZNTV_HOLD_AFTER_THREAD_MS")) g_holdMs = std::atol(hold);
    if (const char* fail = std::getenv("ZNTV_FAIL_FORK")) g_failFork = std::atoi(fail);
    if (const char* hold = std::getenv("ZNTV_HOLD_CHILD_MS")) g_holdChildMs = std::atol(hold);
    if (const char* record = std::getenv("ZNTV_FAULT_RECORD"))
        std::snprintf(g_record, sizeof g_record, "%s", record);
    for (const char* name : {"ZNTV_HOLD_AFTER_THREAD_MS", "ZNTV_FAIL_FORK", "ZNTV_HOLD_CHILD_MS", "ZNTV_FAULT_RECORD", "LD_PRELOAD"})
        unsetenv(name);
}

void record(const char* call, pid_t pid) {
    if (g_record[0] == '\0') return;
    const int fd = open(g_record, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%s(%d)\n", call, static_cast<int>(pid));
    if (n > 0 && write(fd, line, static_cast<std::size_t>(n)) < 0) {
        // nothing to do: the test then finds no record
    }
    close(fd);
}

void hold(long ms) {
    timespec left{ms / 1000, (ms % 1000) * 1'000'000};
    while (ms > 0 && nanosleep(&left, &left) != 0) {
    }
}

template <typename F>
F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* argument) {
    static const auto create = real<decltype(&pthread_create)>("pthread_create");
    const int result = create(thread, attributes, start, argument);
    if (result == 0 && gettid() == getpid()) hold(g_holdMs);
    return result;
}

pid_t fork() {
    static const auto forkReally = real<pid_t (*)()>("fork");
    if (++g_forks == g_failFork) {
        errno = EAGAIN;
        return -1;
    }
    const pid_t pid = forkReally();
    if (pid == 0) hold(g_holdChildMs);
    return pid;
}

int kill(pid_t pid, int sig) {
    static const auto killReally = real<int (*)(pid_t, int)>("kill");
    if (pid <= 1) {
        record("kill", pid);
        return 0;
    }
    return killReally(pid, sig);
}

pid_t waitpid(pid_t pid, int* status, int options) {
    static const auto waitReally = real<pid_t (*)(pid_t, int*, int)>("waitpid");
    if (pid <= 0) record("waitpid", pid);
    return waitReally(pid, status, options);
}

}  // extern "C"
