// Downloads and the update check against the update-server stand-in on 127.0.0.1: real HTTP through libcurl.
#include "frame/download.h"

#include "frame/errors.h"
#include "frame/log.h"
#include "frame/version.h"
#include "service/service_standin.h"
#include "support/test_support.h"
#include "zip_builder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace fs = std::filesystem;
using namespace std::string_literals;
using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::UnorderedElementsAre;

namespace {

ProgramVersion nextPatch() { return {g_programVersion.major, g_programVersion.minor, g_programVersion.patch + 1}; }

std::string installerName(const ProgramVersion& v) {
    return fmt::format("setup_ZNTV_P3D_d_v{}.zip", gf_versionText(v));
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_program.path() / "input");
        gf_openLog(m_logDir / "Log.txt");
        m_service.update().setRoot(m_serverRoot.path());
        m_service.start();
        m_url.emplace("ZNTV_UPDATE_URL", m_service.downloadsRoot());
        // Long enough for a loaded machine, short enough that a stall test takes a second or two.
        gf_setDownloadTimeouts({std::chrono::milliseconds(5000), std::chrono::seconds(1), 1});
    }

    void TearDown() override {
        gf_setDownloadTimeouts(DownloadTimeouts{});
        gf_setDownloadStopCheck(nullptr);
        m_service.stop();
        gf_closeLog();
    }

    std::string log() const { return readWholeFile(m_logDir / "Log.txt"); }

    // Everything left in the program folder, by name.
    std::vector<std::string> programFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(m_program.path()))
            if (e.is_regular_file()) names.push_back(fs::relative(e.path(), m_program.path()).string());
        return names;
    }

    void serveFile(const std::string& path, const std::string& content) {
        fs::create_directories((m_serverRoot.path() / path).parent_path());
        writeWholeFile(m_serverRoot.path() / path, content);
    }
    void serveZip(const std::string& path, const std::vector<ZipItem>& items) {
        fs::create_directories((m_serverRoot.path() / path).parent_path());
        writeZip(m_serverRoot.path() / path, items);
    }

    std::vector<std::string> requestedPaths() {
        std::vector<std::string> paths;
        for (const auto& r : m_service.requests().all()) paths.push_back(r.path);
        return paths;
    }

    TempDir m_program;  // the working folder
    ScopedCwd m_cwd{m_program.path()};
    TempDir m_logDir;
    TempDir m_serverRoot;
    standin::ServiceStandin m_service;
    std::optional<ScopedEnv> m_url;
};

TEST_F(DownloadTest, ANewerReleaseIsDownloadedUnpackedAndStopsTheStartWithUserError99) {
    const ProgramVersion server = nextPatch();
    const std::string installer = "MZ\x90\0installer bytes"s + std::string(70000, '\x7f');
    serveFile("release/version_P3D.json", gf_versionText(server) + "\n");
    serveZip("release/" + installerName(server),
             {{"setup/", ""}, {"setup/ZNTV_P3D_setup.exe", installer}, {"setup/docs/", ""}});

    try {
        gf_checkForUpdate();
        FAIL() << "no user error for a newer release";
    } catch (const qtm::UserErrorException& e) {
        EXPECT_EQ(std::string(e.what()),
                  fmt::format("New version {} available. Exit here, and run as administrator:   \"{}\"",
                              gf_versionText(server), (m_program.path() / "install_new_version.exe").string()));
    }
    EXPECT_EQ(readWholeFile(m_program.path() / "install_new_version.exe"), installer);
    // Neither the version file nor the archive stays; the folder entry did not become a file.
    EXPECT_THAT(programFiles(), ElementsAre("install_new_version.exe"));
    EXPECT_THAT(requestedPaths(), ElementsAre("/downloads/release/version_P3D.json",
                                              "/downloads/release/" + installerName(server)));
    EXPECT_THAT(log(), HasSubstr("downloaded " + installerName(server) + "\n"));
    EXPECT_THAT(log(), HasSubstr(installerName(server) + " unzipped to install_new_version.exe\n"));
}

TEST_F(DownloadTest, EveryFormOfTheVersionFileIsUnderstood) {
    const ProgramVersion v = g_programVersion;
    const ProgramVersion newerMinor{v.major, v.minor + 1, 0};  // a smaller patch does not matter
    struct Case {
        std::string file;
        ProgramVersion expected;
    };
    const std::vector<Case> cases = {
        {gf_versionText(nextPatch()), nextPatch()},
        {gf_versionText(nextPatch()) + "\r\nsecond line 1.2.3\r\n", nextPatch()},
        {fmt::format(R"({{"major":{},"minor":{},"patch":{}}})", v.major, v.minor + 1, 0), newerMinor},
        // Pretty-printed: the first line alone is just "{".
        {fmt::format("{{\n  \"major\": {},\n  \"minor\": {},\n  \"patch\": {}\n}}\n", v.major, v.minor + 1, 0),
         newerMinor},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        serveFile("release/version_P3D.json", c.file);
        serveZip("release/" + installerName(c.expected), {{"setup.exe", "new"}});
        try {
            gf_checkForUpdate();
            ADD_FAILURE() << "the newer version was not seen";
        } catch (const qtm::UserErrorException& e) {
            EXPECT_THAT(e.what(), HasSubstr("New version " + gf_versionText(c.expected) + " available."));
        }
        fs::remove(m_program.path() / "install_new_version.exe");
    }
}

TEST_F(DownloadTest, TheSameOrAnOlderReleaseDownloadsNothing) {
    const ProgramVersion v = g_programVersion;
    for (const ProgramVersion& server : {v, ProgramVersion{v.major - 1, v.minor + 5, v.patch + 5},
                                         ProgramVersion{v.major, v.minor - 1, v.patch + 9}}) {
        SCOPED_TRACE(gf_versionText(server));
        m_service.requests().clear();
        serveFile("release/version_P3D.json", gf_versionText(server));
        serveZip("release/" + installerName(server), {{"setup.exe", "old"}});
        EXPECT_NO_THROW(gf_checkForUpdate());
        EXPECT_THAT(requestedPaths(), ElementsAre("/downloads/release/version_P3D.json"));
        EXPECT_TRUE(programFiles().empty());
    }
    EXPECT_THAT(log(), Not(HasSubstr("not found")));
}

TEST_F(DownloadTest, AMissingOrUnreadableVersionFileLetsTheStartGoOn) {
    // 404 first, then a page that holds no version at all.
    EXPECT_NO_THROW(gf_checkForUpdate());
    EXPECT_THAT(log(), HasSubstr("downloading \"" + m_service.downloadsRoot() +
                                 "release/version_P3D.json\" failed\nProgram Version file not found?\n"));
    serveFile("release/version_P3D.json", "<html>maintenance</html>");
    EXPECT_NO_THROW(gf_checkForUpdate());
    EXPECT_TRUE(programFiles().empty());
}

TEST_F(DownloadTest, AStalledServerTimesOutAndTheStartGoesOn) {
    serveFile("release/version_P3D.json", gf_versionText(nextPatch()));
    m_service.update().setFault("release/version_P3D.json", standin::Fault::Stall);
    m_service.update().setStallLimit(std::chrono::seconds(60));

    EXPECT_NO_THROW(gf_checkForUpdate());
    EXPECT_THAT(log(), HasSubstr("Program Version file not found?"));
    EXPECT_THAT(log(), HasSubstr("===> download of " + m_service.downloadsRoot() + "release/version_P3D.json failed:"));
    EXPECT_TRUE(programFiles().empty());
}

TEST_F(DownloadTest, AFailedInstallerDownloadIsShownAndTheOldVersionRuns) {
    const ProgramVersion server = nextPatch();
    serveFile("release/version_P3D.json", gf_versionText(server));
    const std::string failed = fmt::format("Downloading program installer file version {} failed\n"
                                           "The downloading/unzipping of the new version failed? Try manually via "
                                           "morvale website\n",
                                           gf_versionText(server));

    // Not on the server.
    EXPECT_NO_THROW(gf_checkForUpdate());
    EXPECT_THAT(log(), HasSubstr(failed));

    // Broken off half-way.
    serveZip("release/" + installerName(server), {{"setup.exe", std::string(100000, 'i')}});
    m_service.update().setFault("release/" + installerName(server), standin::Fault::BreakOff);
    gf_openLog(m_logDir / "Log.txt");
    EXPECT_NO_THROW(gf_checkForUpdate());
    EXPECT_THAT(log(), HasSubstr(failed));
    EXPECT_TRUE(programFiles().empty());

    // Complete, but no archive.
    m_service.update().clearFaults();
    serveFile("release/" + installerName(server), "<html>moved</html>");
    gf_openLog(m_logDir / "Log.txt");
    EXPECT_NO_THROW(gf_checkForUpdate());
    EXPECT_THAT(log(), HasSubstr("could not open " + installerName(server) + "\n"));
    EXPECT_THAT(log(), HasSubstr("The downloading/unzipping of the new version failed?"));
    EXPECT_TRUE(programFiles().empty());
}

TEST_F(DownloadTest, ADataArchiveYieldsTheTextOfItsFilesOnly) {
    const std::string db = "<aircraft>\n  <reg id=\"PH-BXA\"/>\n</aircraft>\n";
    serveZip("dbase.zip", {{"dbase/", ""}, {"dbase/aircraft.xml", db}});
    EXPECT_TRUE(gf_downloadDatabase("input/temp2.xml"));
    EXPECT_EQ(readWholeFile(m_program.path() / "input/temp2.xml"), db);
    EXPECT_THAT(programFiles(), ElementsAre("input/temp2.xml"));

    serveZip("AIG-regcodes.zip", {{"empty/", ""}});
    EXPECT_FALSE(gf_downloadAndUnzip("AIG-regcodes.zip", "input/AIG-regcodes.xml"));
    EXPECT_THAT(log(), HasSubstr("unzipping AIG-regcodes.zip failed?"));

    serveFile("AIG-regcodes.zip", "not an archive");
    EXPECT_FALSE(gf_downloadAndUnzip("AIG-regcodes.zip", "input/AIG-regcodes.xml"));
    EXPECT_THAT(programFiles(), ElementsAre("input/temp2.xml"));
}

TEST_F(DownloadTest, AFailedDataDownloadLeavesNoFileAndKeepsTheOldOutput) {
    writeWholeFile(m_program.path() / "input/temp2.xml", "old");
    serveZip("dbase.zip", {{"aircraft.xml", std::string(200000, 'a')}});
    m_service.update().setFault("dbase.zip", standin::Fault::BreakOff);

    EXPECT_FALSE(gf_downloadDatabase("input/temp2.xml"));
    EXPECT_THAT(log(), HasSubstr("downloading dbase.zip failed?"));
    EXPECT_THAT(programFiles(), ElementsAre("input/temp2.xml"));
    EXPECT_EQ(readWholeFile(m_program.path() / "input/temp2.xml"), "old");

    m_service.update().setFault("dbase.zip", standin::Fault::NotFound);
    EXPECT_FALSE(gf_downloadDatabase("input/temp2.xml"));
    EXPECT_THAT(programFiles(), ElementsAre("input/temp2.xml"));
}

TEST_F(DownloadTest, CurlDownloadReplacesTheTargetOnlyWhenComplete) {
    CurlHandle handle;
    const fs::path target = m_program.path() / "EHAM.xml";
    writeWholeFile(target, "previous");
    serveFile("P3D/archive/stock/EHAM.xml", "<parkpositions/>");

    EXPECT_TRUE(gf_curlDownload(handle.get(), gf_updateBaseURL() + "archive/stock/EHAM.xml", target, false));
    EXPECT_EQ(readWholeFile(target), "<parkpositions/>");

    // The same handle again, now against a server that breaks off, one that sends us elsewhere (the page
    // that says so is not the file) and one that is not there.
    m_service.update().setFault("P3D/archive/stock/EHAM.xml", standin::Fault::BreakOff);
    EXPECT_FALSE(gf_curlDownload(handle.get(), gf_updateBaseURL() + "archive/stock/EHAM.xml", target, false));
    m_service.update().setFault("P3D/archive/stock/EHAM.xml", standin::Fault::Redirect);
    EXPECT_FALSE(gf_curlDownload(handle.get(), gf_updateBaseURL() + "archive/stock/EHAM.xml", target, false));
    EXPECT_FALSE(gf_curlDownload(handle.get(), "http://127.0.0.1:1/downloads/x", target, false));
    EXPECT_EQ(readWholeFile(target), "<parkpositions/>");
    EXPECT_THAT(programFiles(), ElementsAre("EHAM.xml"));

    EXPECT_FALSE(gf_curlDownload(nullptr, gf_updateBaseURL() + "archive/stock/EHAM.xml", target, false));
    EXPECT_FALSE(gf_curlDownload(handle.get(), gf_updateBaseURL() + "archive/stock/EHAM.xml",
                                 m_program.path() / "no/such/folder/EHAM.xml", false));
    EXPECT_THAT(log(), HasSubstr("could not open output file: " + (m_program.path() / "no/such/folder/EHAM.xml").string()));
}

// The file a download is written into before it is renamed over the target takes no name a file holds: files
// of the names a download of this process would take first stay as they were.
TEST_F(DownloadTest, CurlDownloadWritesItsTemporaryFileUnderNoNameThatIsTaken) {
    CurlHandle handle;
    const fs::path target = m_program.path() / "EHAM.xml";
    serveFile("P3D/archive/stock/EHAM.xml", "<parkpositions/>");
    std::vector<std::string> names = {"EHAM.xml"};
    for (int n = 0; n < 64; ++n) {
        names.push_back(fmt::format("EHAM.xml.{}-{}.part", ::getpid(), n));
        writeWholeFile(m_program.path() / names.back(), "the user's");
    }

    EXPECT_TRUE(gf_curlDownload(handle.get(), gf_updateBaseURL() + "archive/stock/EHAM.xml", target, false));
    EXPECT_EQ(readWholeFile(target), "<parkpositions/>");
    std::vector<std::string> left = programFiles();
    std::sort(left.begin(), left.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(left, names);
    for (const std::string& name : names) {
        if (name == "EHAM.xml") continue;
        EXPECT_EQ(readWholeFile(m_program.path() / name), "the user's") << name;
    }
}

TEST_F(DownloadTest, DownloadFileIsRelativeToTheSimulatorFolderOfTheServer) {
    serveFile("P3D/archive/thirdparty/Some Maker/EHAM.xml", "<stands/>");
    // An override without the final slash works as well.
    std::string root = m_service.downloadsRoot();
    root.pop_back();
    ScopedEnv url("ZNTV_UPDATE_URL", root);

    EXPECT_EQ(gf_downloadFile("archive/thirdparty/Some%20Maker/EHAM.xml", "airport.xml"), "");
    EXPECT_EQ(readWholeFile(m_program.path() / "airport.xml"), "<stands/>");

    const std::string expected =
        fmt::format("failed to download: \"{}P3D/archive/stock/ZZZZ.xml\"", m_service.downloadsRoot());
    EXPECT_EQ(gf_downloadFile("archive/stock/ZZZZ.xml", "airport.xml"), expected);
    EXPECT_THAT(log(), HasSubstr(expected + "\n"));
    EXPECT_EQ(readWholeFile(m_program.path() / "airport.xml"), "<stands/>");
}

TEST_F(DownloadTest, ATransferIsAbortedWhenTheProgramQuits) {
    // Without the stop, this download would wait for the slow-transfer limit (a minute here).
    gf_setDownloadTimeouts({std::chrono::milliseconds(5000), std::chrono::seconds(60), 1});
    m_service.update().setStallLimit(std::chrono::seconds(60));
    serveFile("dbase.zip", "x");
    m_service.update().setFault("dbase.zip", standin::Fault::Stall);
    std::atomic<bool> quit{false};
    gf_setDownloadStopCheck([&] {
        // Asked only while the transfer runs: the request is out, so quitting now interrupts it.
        if (m_service.requests().count("/downloads/dbase.zip") > 0) quit = true;
        return quit.load();
    });

    EXPECT_FALSE(gf_downloadDatabase("input/temp2.xml"));
    EXPECT_TRUE(quit);
    EXPECT_THAT(log(), HasSubstr("dbase.zip failed: stopped"));
    EXPECT_TRUE(programFiles().empty());
}

TEST_F(DownloadTest, AShortWriteIsAFailedDownload) {
    // The file-size limit makes writes beyond it fail, as a full disk would.
    serveFile("P3D/big.bin", std::string(256 * 1024, 'b'));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string result = gf_downloadFile("big.bin", "big.bin");
    setrlimit(RLIMIT_FSIZE, &old);

    EXPECT_THAT(result, HasSubstr("failed to download"));
    EXPECT_TRUE(programFiles().empty());
}

// Without an address, the program folder's "downloads" is the server, read as a file:// address: what the
// installation put there is found, a missing file is an ordinary "not there", and the same version is no update.
TEST_F(DownloadTest, WithoutAnAddressTheProgramFoldersDownloadsAreTheServer) {
    ScopedEnv url("ZNTV_UPDATE_URL", std::nullopt);
    const fs::path downloads = m_program.path() / "downloads";
    fs::create_directories(downloads / "P3D/archive/thirdparty/Some Maker");
    fs::create_directories(downloads / "release");
    writeZip(downloads / "dbase.zip", {{"temp2.xml", "<db/>"}});
    writeWholeFile(downloads / "P3D/archive/thirdparty/Some Maker/EHAM.xml", "<stands/>");
    writeWholeFile(downloads / "release/version_P3D.json", gf_versionText(g_programVersion) + "\n");

    EXPECT_EQ(gf_updateBaseURL(), "file://" + downloads.generic_string() + "/P3D/");
    EXPECT_TRUE(gf_downloadDatabase("input/temp2.xml"));
    EXPECT_EQ(readWholeFile(m_program.path() / "input/temp2.xml"), "<db/>");
    EXPECT_EQ(gf_downloadFile("archive/thirdparty/Some%20Maker/EHAM.xml", "airport.xml"), "");
    EXPECT_EQ(readWholeFile(m_program.path() / "airport.xml"), "<stands/>");
    EXPECT_THAT(gf_downloadFile("archive/stock/ZZZZ.xml", "airport.xml"), HasSubstr("failed to download"));
    gf_checkForUpdate();
    EXPECT_THAT(log(), Not(HasSubstr("Program Version file not found?")));
    EXPECT_THAT(log(), Not(HasSubstr("===>")));
    EXPECT_THAT(programFiles(), UnorderedElementsAre("input/temp2.xml", "airport.xml", "downloads/dbase.zip",
                                                     "downloads/P3D/archive/thirdparty/Some Maker/EHAM.xml",
                                                     "downloads/release/version_P3D.json"));
}

TEST(DownloadRoot, TheOverrideReplacesTheProgramsOwnFolder) {
    {
        ScopedEnv url("ZNTV_UPDATE_URL", std::nullopt);
        EXPECT_EQ(gf_downloadsRoot(), gf_fileUrl(fs::current_path() / "downloads"));
        EXPECT_EQ(gf_fileUrl("/a b/50%/Z\xC3\xBCrich#1"), "file:///a%20b/50%25/Z%C3%BCrich%231/");
    }
    ScopedEnv url("ZNTV_UPDATE_URL", "http://127.0.0.1:9/downloads/");
    EXPECT_EQ(gf_updateBaseURL(), "http://127.0.0.1:9/downloads/P3D/");
}

}  // namespace
