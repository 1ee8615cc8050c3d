#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// Why a child cannot work in the folder as uid/gid 65534; empty when it can.
std::string lf_whyNoOtherUser(const fs::path& folder) {
    if (::geteuid() != 0) return "only root may start a child as another user";
    for (fs::path up = folder.parent_path(); up != up.parent_path(); up = up.parent_path())
        if ((fs::status(up).permissions() & fs::perms::others_exec) == fs::perms::none)
            return "another user cannot enter " + up.string();
    return "";
}

// gf_backupFile(path, BackupBy::move) in a child process, as uid/gid 65534 when asked: 1 when it threw, 0 when it
// returned, anything else when the child failed.
int lf_moveInChild(const fs::path& path, bool asOtherUser) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (asOtherUser && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
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

TEST(Backup, AMoveThatCannotBeMadeWholeMovesNothing) {
    // What parameters.xml, parameters0.xml and parameters00.xml hold: bytes, nothing, or a folder with a file.
    const char* const kFolder = "a folder's file";
    struct Case {
        const char* what;
        std::array<const char*, 3> held;
        bool asOtherUser;  // in a sticky folder (as /tmp), where the file is root's and its backups the user's
    };
    const Case cases[] = {
        {"no file to move", {nullptr, "0", "00"}, false},
        {"a folder in its backup's place", {"x", kFolder, "00"}, false},
        {"another user's file in a sticky folder", {"x", "0", "00"}, true},
    };
    const std::array<const char*, 3> names = {"parameters.xml", "parameters0.xml", "parameters00.xml"};
    std::string skipped;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        if (c.asOtherUser && !(skipped = lf_whyNoOtherUser(dir.path())).empty()) continue;
        const auto bytesOf = [&](std::size_t i) {
            return c.held[i] == kFolder ? dir / names[i] / "inner" : dir / names[i];
        };
        std::set<std::string> present;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!c.held[i]) continue;
            if (c.held[i] == kFolder) fs::create_directory(dir / names[i]);
            writeWholeFile(bytesOf(i), c.held[i]);
            present.insert(names[i]);
        }
        if (c.asOtherUser) {
            fs::permissions(dir.path(), fs::perms::all | fs::perms::sticky_bit);
            fs::permissions(dir / names[0], fs::perms::none);
            for (const char* name : {names[1], names[2]}) ASSERT_EQ(::chown((dir / name).c_str(), 65534, 65534), 0);
        }
        EXPECT_EQ(lf_moveInChild(dir / names[0], c.asOtherUser), c.held[0] ? 1 : 0) << "1: threw, 0: did not";
        EXPECT_EQ(lf_folderNames(dir.path()), present);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!c.held[i]) continue;
            EXPECT_EQ(readWholeFile(bytesOf(i)), c.held[i]) << names[i];
        }
    }
    if (!skipped.empty()) GTEST_SKIP() << "the sticky folder's row needs another user: " << skipped;
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
