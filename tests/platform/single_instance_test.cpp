#include "platform/single_instance.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr const char* kName = "Local\\$Zentavo_P3D$";

class SingleInstanceTest : public ::testing::Test {
protected:
    TempDir m_dir;
    ScopedEnv m_run{"XDG_RUNTIME_DIR", (m_dir / "run").string()};  // not there yet: must be created
};

// Runs fn in a child process and returns its exit status.
template <typename Fn>
int inChild(Fn fn) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(SingleInstanceTest, OnlyTheFirstHolderRunsUntilItEnds) {
    {
        platform::SingleInstance first(kName);
        EXPECT_FALSE(first.alreadyExists());
        EXPECT_TRUE(fs::exists(m_dir / "run" / "Local__Zentavo_P3D_.lock"));  // directly in the folder

        platform::SingleInstance second(kName);
        EXPECT_TRUE(second.alreadyExists());
        platform::SingleInstance other("Local\\$SomethingElse$");
        EXPECT_FALSE(other.alreadyExists());

        EXPECT_EQ(inChild([] { return platform::SingleInstance(kName).alreadyExists() ? 1 : 0; }), 1);
    }
    platform::SingleInstance again(kName);
    EXPECT_FALSE(again.alreadyExists());
}

TEST_F(SingleInstanceTest, TheLockEndsWithTheProcessThatHeldIt) {
    int toParent[2], toChild[2];
    ASSERT_EQ(::pipe(toParent), 0);
    ASSERT_EQ(::pipe(toChild), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Take the lock, tell the parent, and die without running any destructor.
        auto* held = new platform::SingleInstance(kName);
        const char ok = held->alreadyExists() ? 'n' : 'y';
        (void)!::write(toParent[1], &ok, 1);
        char go;
        (void)!::read(toChild[0], &go, 1);
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(toParent[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    EXPECT_TRUE(platform::SingleInstance(kName).alreadyExists());
    (void)!::write(toChild[1], "x", 1);
    ::waitpid(pid, nullptr, 0);
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) ::close(fd);
    EXPECT_FALSE(platform::SingleInstance(kName).alreadyExists());
}
