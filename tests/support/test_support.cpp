#include "support/test_support.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testing_support {

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path p = fs::temp_directory_path() /
                     ("zntv-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            m_path = fs::canonical(p);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : m_name(std::move(name)) {
    if (const char* old = std::getenv(m_name.c_str())) m_old = old;
    if (value)
        ::setenv(m_name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (m_old)
        ::setenv(m_name.c_str(), m_old->c_str(), 1);
    else
        ::unsetenv(m_name.c_str());
}

ScopedCwd::ScopedCwd(const fs::path& dir) : m_old(fs::current_path()) { fs::current_path(dir); }
ScopedCwd::~ScopedCwd() {
    std::error_code ec;
    fs::current_path(m_old, ec);
}

std::string readWholeFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::map<std::string, std::string> programFolders(const fs::path& root) {
    return {{"XDG_CONFIG_HOME", (root / "config").string()},
            {"XDG_DOCUMENTS_DIR", (root / "documents").string()},
            {"XDG_PUBLICSHARE_DIR", (root / "public").string()},
            {"XDG_RUNTIME_DIR", (root / "runtime").string()},
            {"ZNTV_REGISTRY_DIR", (root / "registry").string()}};
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

void writeWholeFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

fs::path sharedDir() {
    std::error_code ec;
#ifdef ZNTV_SHARED_DIR
    // Where the build found it, while it is there.
    if (const fs::path found = ZNTV_SHARED_DIR; !found.empty() && fs::is_directory(found, ec)) return found;
#endif
#ifdef ZNTV_SOURCE_DIR
    // Else the way the build looks: the first "shared" holding "fixtures", from the source tree upwards.
    for (fs::path dir = ZNTV_SOURCE_DIR;; dir = dir.parent_path()) {
        if (fs::is_directory(dir / "shared" / "fixtures", ec)) return dir / "shared";
        if (dir == dir.parent_path()) break;
    }
#endif
    return {};
}

fs::path sharedFixtures() {
    const fs::path dir = sharedDir();
    return dir.empty() ? dir : dir / "fixtures";
}

fs::path closedToOthers(const fs::path& path) {
    for (fs::path up = path.parent_path(); up != up.parent_path(); up = up.parent_path())
        if ((fs::status(up).permissions() & fs::perms::others_exec) == fs::perms::none) return up;
    return {};
}

fs::path zurichRecording() {
    return fs::path(ZNTV_SOURCE_DIR) / "testbed" / "fixtures" / "adsb" / "zurich_airport.json.gz";
}

}  // namespace testing_support
