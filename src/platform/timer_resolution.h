// The original platform raises the system timer resolution around the work loop; here nothing is needed.
#pragma once

namespace platform {

class TimerResolutionGuard {
public:
    explicit TimerResolutionGuard(unsigned /*milliseconds*/) {}
};

}  // namespace platform
