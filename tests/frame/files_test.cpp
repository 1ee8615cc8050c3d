#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "frame/errors.h"
#include "frame/files.h"
#include "frame/log.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

std::set<std::string> lf_names(const std::vector<fs::path>& paths) {
    std::set<std::string> names;
    for (const auto& p : paths) names.insert(p.filename().string());
    return names;
}

std::set<std::string> lf_folderNames(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// gf_backupFile(path, BackupBy::move) in a child process run as uid/gid 65534: 1 when it threw, 0 when it
// returned, anything else when the child failed.
int lf_moveAsAnotherUser(const fs::path& path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        try {
            gf_backupFile(path, BackupBy::move);
        } catch (const FileSystemError&) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

TEST(Throttle, AFifthTaskWaitsUntilOneOfFourLeaves) {
    const std::uint32_t oldLimit = g_scanLimit;
    g_scanLimit = 4;
    g_scanRunningTasks = 0;
    for (int i = 0; i < 4; ++i) {
        gf_enterThrottle();  // free places: returns at once
        ++g_scanRunningTasks;
    }

    std::mutex m;
    std::condition_variable cv;
    bool started = false, entered = false;
    std::thread fifth([&] {
        {
            std::lock_guard lock(m);
            started = true;
        }
        cv.notify_all();
        gf_enterThrottle();
        ++g_scanRunningTasks;
        {
            std::lock_guard lock(m);
            entered = true;
        }
        cv.notify_all();
    });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return started; });
        // However long it is given, it must not pass while four tasks run.
        EXPECT_FALSE(cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return entered; }));
    }
    gf_leaveThrottle();
    {
        std::unique_lock lock(m);
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return entered; }));
    }
    fifth.join();
    EXPECT_EQ(g_scanRunningTasks.load(), 4u);
    for (int i = 0; i < 4; ++i) gf_leaveThrottle();
    EXPECT_EQ(g_scanRunningTasks.load(), 0u);
    g_scanLimit = oldLimit;
}

TEST(Throttle, AZeroLimitStillLetsOneTaskRun) {
    const std::uint32_t oldLimit = g_scanLimit;
    g_scanLimit = 0;
    g_scanRunningTasks = 0;
    // Each entrant on a thread of its own, left behind if it never enters: a throttle that took 0 literally
    // would hold it forever, and the test must fail rather than hang.
    const auto enter = [] {
        auto entered = std::make_shared<std::atomic<bool>>(false);
        std::thread([entered] {
            gf_enterThrottle();
            ++g_scanRunningTasks;
            *entered = true;
        }).detach();
        return entered;
    };
    const auto waitUntil = [](const std::atomic<bool>& flag, std::chrono::milliseconds bound) {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (!flag && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return flag.load();
    };
    const auto first = enter();
    ASSERT_TRUE(waitUntil(*first, std::chrono::seconds(30)));
    // One at a time, not "no limit": the second waits for the first to leave.
    const auto second = enter();
    EXPECT_FALSE(waitUntil(*second, std::chrono::milliseconds(50)));
    gf_leaveThrottle();
    EXPECT_TRUE(waitUntil(*second, std::chrono::seconds(30)));
    gf_leaveThrottle();
    EXPECT_EQ(g_scanRunningTasks.load(), 0u);
    g_scanLimit = oldLimit;
}

TEST(Backup, KeepsTwoOlderCopies) {
    TempDir dir;
    const fs::path log = dir / "Log.txt";
    gf_backupFile(log);  // nothing there yet
    EXPECT_TRUE(lf_folderNames(dir.path()).empty());

    writeWholeFile(log, "1");
    gf_backupFile(log);
    EXPECT_EQ(readWholeFile(dir / "Log0.txt"), "1");
    EXPECT_FALSE(fs::exists(dir / "Log00.txt"));
    writeWholeFile(log, "2");
    gf_backupFile(log);
    writeWholeFile(log, "3");
    gf_backupFile(log);
    EXPECT_EQ(readWholeFile(log), "3");
    EXPECT_EQ(readWholeFile(dir / "Log0.txt"), "3");
    EXPECT_EQ(readWholeFile(dir / "Log00.txt"), "2");
    EXPECT_EQ(lf_folderNames(dir.path()), (std::set<std::string>{"Log.txt", "Log0.txt", "Log00.txt"}));
}

TEST(Backup, NamesWithoutOrWithSeveralDots) {
    TempDir dir;
    writeWholeFile(dir / "README", "x");
    gf_backupFile(dir / "README");
    EXPECT_EQ(lf_folderNames(dir.path()), std::set<std::string>{"README"});

    fs::create_directory(dir / "a.d");
    writeWholeFile(dir / "a.d" / "noext", "x");
    gf_backupFile(dir / "a.d" / "noext");  // the folder's dot does not count
    EXPECT_EQ(lf_folderNames(dir / "a.d"), std::set<std::string>{"noext"});

    writeWholeFile(dir / "my.regcodes.txt", "y");
    gf_backupFile(dir / "my.regcodes.txt");
    gf_backupFile(dir / "my.regcodes.txt");
    EXPECT_EQ(readWholeFile(dir / "my.regcodes0.txt"), "y");
    EXPECT_EQ(readWholeFile(dir / "my.regcodes00.txt"), "y");
}

// The older backups move only with the file: not when there is none, nor when it cannot be moved whole (a folder
// in the older backup's place; another user's file in a sticky folder, as /tmp, where the backups are the user's
// own).
TEST(Backup, AMoveThatCannotBeMadeWholeMovesNothing) {
    TempDir dir;
    const fs::path file = dir / "parameters.xml";
    const auto layBackups = [&] {
        writeWholeFile(dir / "parameters0.xml", "0");
        writeWholeFile(dir / "parameters00.xml", "00");
    };
    const auto expectBackupsKept = [&] {
        EXPECT_EQ(readWholeFile(dir / "parameters0.xml"), "0");
        EXPECT_EQ(readWholeFile(dir / "parameters00.xml"), "00");
    };
    layBackups();
    gf_backupFile(file, BackupBy::move);
    expectBackupsKept();

    // The last step fails (a folder where the older backup goes): the file and its backup go back.
    writeWholeFile(file, "x");
    fs::remove(dir / "parameters00.xml");
    fs::create_directories(dir / "parameters00.xml" / "kept");
    EXPECT_THROW(gf_backupFile(file, BackupBy::move), fs::filesystem_error);
    EXPECT_EQ(readWholeFile(file), "x");
    EXPECT_EQ(readWholeFile(dir / "parameters0.xml"), "0");
    EXPECT_EQ(lf_folderNames(dir.path()),
              (std::set<std::string>{"parameters.xml", "parameters0.xml", "parameters00.xml"}));
    fs::remove_all(dir / "parameters00.xml");

    if (::geteuid() != 0) GTEST_SKIP() << "the sticky folder needs another user: only root may start a child as one";
    if (const fs::path closed = testing_support::closedToOthers(dir.path()); !closed.empty())
        GTEST_SKIP() << "the sticky folder needs another user: another user cannot enter " << closed;
    layBackups();
    writeWholeFile(file, "x");
    fs::permissions(file, fs::perms::none);
    fs::permissions(dir.path(), fs::perms::all | fs::perms::sticky_bit);
    for (const char* name : {"parameters0.xml", "parameters00.xml"})
        ASSERT_EQ(::chown((dir / name).c_str(), 65534, 65534), 0);
    EXPECT_EQ(lf_moveAsAnotherUser(file), 1) << "1: threw";
    EXPECT_EQ(readWholeFile(file), "x");
    expectBackupsKept();
    EXPECT_EQ(lf_folderNames(dir.path()),
              (std::set<std::string>{"parameters.xml", "parameters0.xml", "parameters00.xml"}));
}

TEST(ListXmlFiles, AnyCaseOfXmlButOnlyRegularFiles) {
    TempDir dir;
    for (const char* name : {"a.xml", "b.XML", "c.Xml", "d.xmlx", "e.txt", "xml", "f.xml.bak"})
        writeWholeFile(dir / name, "<x/>");
    fs::create_directory(dir / "x.xml");
    writeWholeFile(dir / "x.xml" / "inner.xml", "<x/>");
    EXPECT_EQ(lf_names(gf_listXmlFiles(dir.path())), (std::set<std::string>{"a.xml", "b.XML", "c.Xml"}));
    EXPECT_THROW(gf_listXmlFiles(dir / "missing"), fs::filesystem_error);
}

TEST(CountFiles, RegularFilesDirectlyInTheFolder) {
    TempDir dir;
    EXPECT_EQ(gf_countFiles(dir / "missing"), 0u);
    EXPECT_EQ(gf_countFiles(dir.path()), 0u);
    writeWholeFile(dir / "a", "");
    writeWholeFile(dir / "b.cfg", "");
    fs::create_directory(dir / "sub");
    writeWholeFile(dir / "sub" / "c", "");
    EXPECT_EQ(gf_countFiles(dir.path()), 2u);
    EXPECT_EQ(gf_countFiles(dir / "a"), 0u);  // a file is no folder
}

TEST(RemoveIfExists, MissingIsDoneExistingIsRemoved) {
    TempDir dir;
    EXPECT_TRUE(gf_removeIfExists(dir / "none"));
    writeWholeFile(dir / "f", "x");
    EXPECT_TRUE(gf_removeIfExists(dir / "f"));
    EXPECT_FALSE(fs::exists(dir / "f"));
    fs::create_directories(dir / "full" / "sub");
    try {
        gf_removeIfExists(dir / "full");
        FAIL() << "a full folder was removed";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("remove: ", 0), 0u) << e.what();
        EXPECT_NE(std::string(e.what()).find(": \"" + (dir / "full").string() + "\""), std::string::npos) << e.what();
    }
}

TEST(RemoveFolderFiles, RemovesFilesAndLogsWhatStays) {
    TempDir dir, logDir;
    gf_openLog(logDir / "Log.txt");
    gf_removeFolderFiles(dir / "missing");  // nothing to do

    writeWholeFile(dir / "a", "");
    writeWholeFile(dir / "b", "");
    fs::create_directory(dir / "empty");
    fs::create_directories(dir / "full" / "inner");
    gf_removeFolderFiles(dir.path());
    gf_closeLog();

    EXPECT_EQ(lf_folderNames(dir.path()), std::set<std::string>{"full"});
    EXPECT_NE(readWholeFile(logDir / "Log.txt").find("\n" + (dir / "full").string() + " could not be removed\n"),
              std::string::npos);
}

TEST(RemoveFolderFiles, AnUnreadableFolderIsUserError5) {
    TempDir dir;
    fs::create_directory(dir / "locked");
    writeWholeFile(dir / "locked" / "f", "");
    fs::permissions(dir / "locked", fs::perms::none);
    if (::access((dir / "locked").c_str(), R_OK) == 0) {
        fs::permissions(dir / "locked", fs::perms::owner_all);
        GTEST_SKIP() << "permissions are not enforced for this user";
    }
    try {
        gf_removeFolderFiles(dir / "locked");
        ADD_FAILURE() << "no exception";
    } catch (const qtm::UserErrorException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("5: directory_iterator::directory_iterator: ", 0), 0u) << e.what();
    }
    fs::permissions(dir / "locked", fs::perms::owner_all);
}
