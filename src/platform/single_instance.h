// The single-instance guard: an exclusive lock on a file named after the mutex name in the runtime folder,
// released by the kernel when the process ends.
#pragma once

#include <string_view>

namespace platform {

class SingleInstance {
public:
    explicit SingleInstance(std::string_view mutexName);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;
    bool alreadyExists() const { return m_alreadyExists; }

private:
    int m_fd = -1;
    bool m_alreadyExists = false;
};

}  // namespace platform
