#include "platform/pipes.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

class PipesTest : public ::testing::Test {
protected:
    TempDir m_dir;
    ScopedEnv m_run{"XDG_RUNTIME_DIR", m_dir.path().string()};
};

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

TEST_F(PipesTest, LocalPipeNamesMapIntoThePipeFolder) {
    EXPECT_EQ(platform::pipeFolder(), m_dir / "zntv-pipes");
    const fs::path expected = m_dir / "zntv-pipes" / "Lockheed_Martin_Prepar3D_v5_SimConnect";
    EXPECT_EQ(platform::pipeSocketPath("\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect"), expected);
    EXPECT_EQ(platform::pipeSocketPath("\\\\LocalHost\\PIPE\\Lockheed Martin Prepar3D v5\\SimConnect"), expected);

    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(platform::pipeSocketPath("\\\\" + upper(host) + "\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect"),
              expected);

    EXPECT_EQ(platform::pipeSocketPath("\\\\.\\pipe\\a.b-c_d\xC3\xA9$"), m_dir / "zntv-pipes" / "a.b-c_d___");
}

TEST_F(PipesTest, OtherHostsAndMalformedNamesGiveNothing) {
    for (const char* name : {"\\\\otherbox\\pipe\\SimConnect", "\\\\.\\pipe\\", "\\\\.\\pipes\\x", "\\\\.\\x",
                             "\\\\\\pipe\\x", "\\.\\pipe\\x", "//./pipe/x", "SimConnect", "", "\\\\.\\pipe\\..",
                             "\\\\.\\pipe\\."}) {
        EXPECT_EQ(platform::pipeSocketPath(name), std::nullopt) << name;
    }
}

TEST_F(PipesTest, LongNamesStayWithinTheSocketAddressAndCanBeBound) {
    const std::string longName(150, 'x');
    const auto a = platform::pipeSocketPath("\\\\.\\pipe\\" + longName);
    const auto b = platform::pipeSocketPath("\\\\.\\pipe\\" + longName + "y");
    ASSERT_TRUE(a && b);
    EXPECT_NE(*a, *b);
    EXPECT_EQ(a, platform::pipeSocketPath("\\\\.\\pipe\\" + longName));  // the same name on every call
    EXPECT_EQ(a->parent_path(), platform::pipeFolder());
    EXPECT_LE(a->native().size(), 107u);

    fs::create_directories(platform::pipeFolder());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, a->c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << std::strerror(errno);
    ::close(fd);
}
