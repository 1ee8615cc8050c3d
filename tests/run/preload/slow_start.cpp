// Preloaded into a program, this holds it for ZNTV_SLOW_START_SECONDS (default 3) before its own constructors
// and main run: a program that is slow after its exec, as on a loaded machine.
#include <cstdlib>
#include <ctime>

namespace {

__attribute__((constructor(101))) void holdTheStart() {
    const char* seconds = std::getenv("ZNTV_SLOW_START_SECONDS");
    timespec hold{seconds != nullptr ? std::atoi(seconds) : 3, 0};
    while (nanosleep(&hold, &hold) != 0) {
    }
}

}  // namespace
