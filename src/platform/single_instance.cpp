#include "platform/single_instance.h"

#include "platform/folders.h"
#include "platform/names.h"

#include <fmt/format.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

fs::path lf_lockFilePath(std::string_view mutexName) {
    std::string name = safeFileName(mutexName);
    // Stay well inside the 255-byte limit of a file name; the hash keeps long names apart.
    if (name.size() > 200) name = fmt::format("{}-{:016x}", name.substr(0, 100), fnv1a64(mutexName));
    return runtimeFolder() / (name + ".lock");
}

}  // namespace

SingleInstance::SingleInstance(std::string_view mutexName) {
    const fs::path path = lf_lockFilePath(mutexName);
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);

    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    // Without a lock file there is nothing to guard with; running unguarded beats refusing to start.
    if (fd < 0) return;

    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_fd = fd;
        return;
    }
    m_alreadyExists = (errno == EWOULDBLOCK);
    ::close(fd);
}

SingleInstance::~SingleInstance() {
    // The file stays: removing it would let a third process lock a fresh file while a second one still
    // waits on the old one, and two instances would run.
    if (m_fd >= 0) ::close(m_fd);
}

}  // namespace platform
