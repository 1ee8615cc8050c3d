// Stand files from the update-server stand-in on 127.0.0.1, over real HTTP: the stock probe, the lookup and the
// fetch off the work thread, and what a failed or empty download leaves behind (nothing).
#include "airports/stand_sources.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame/download.h"
#include "frame/log.h"
#include "service/service_standin.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

constexpr const char* kStock = "P3D/archive/stock/EHAM.xml";
constexpr const char* kStandFile = "<meta/><parameters/><parkpositions/>\n";

class StandSourcesE2e : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_program / "airports");
        gf_openLog(m_logDir / "Log.txt");
        m_service.start();
        m_url.emplace("ZNTV_UPDATE_URL", m_service.downloadsRoot());
        gf_setDownloadTimeouts({std::chrono::milliseconds(5000), std::chrono::seconds(1), 1});
    }
    void TearDown() override {
        gf_joinStandFileFetch();
        gf_setDownloadTimeouts(DownloadTimeouts{});
        m_service.stop();
        gf_closeLog();
    }

    // Every file left in the program folder, by name.
    std::vector<std::string> programFiles() const {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(m_program.path()))
            if (e.is_regular_file()) names.push_back(fs::relative(e.path(), m_program.path()).generic_string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> requestedPaths() {
        std::vector<std::string> paths;
        for (const auto& r : m_service.requests().all()) paths.push_back(r.path);
        return paths;
    }
    StandFileFetch fetch(const std::string& code) {
        gf_startStandFileFetch(code);
        std::optional<StandFileFetch> done;
        while (!(done = gf_standFileFetched(code))) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return *done;
    }
    std::string failed(const std::string& path) const {
        return "failed to download: \"" + m_service.downloadsRoot() + path + "\"";
    }

    TempDir m_program;
    ScopedCwd m_cwd{m_program.path()};
    TempDir m_logDir;
    standin::ServiceStandin m_service;
    std::optional<ScopedEnv> m_url;
};

TEST_F(StandSourcesE2e, FetchesAndProbesAndWhatFailuresLeaveBehind) {
    using standin::Fault;
    const std::string pointer = "archive/thirdparty/Some%20Maker/EHAM.xml";
    const std::string served = "P3D/archive/thirdparty/Some Maker/EHAM.xml";  // as the server decodes it
    struct Case {
        const char* label;
        bool withPointer;
        const char* servedPath;  // nullptr: the server has nothing
        Fault fault;
        bool downloaded;
        const char* left;  // what "airports/park_airport.xml" holds afterwards; nullptr: no file
    };
    const std::vector<Case> cases = {
        {"stock", false, kStock, Fault::None, true, kStandFile},
        {"no stock", false, nullptr, Fault::None, false, "old"},
        {"empty stock", false, kStock, Fault::Empty, false, nullptr},
        {"broken-off stock", false, kStock, Fault::BreakOff, false, "old"},
        {"pointer", true, served.c_str(), Fault::None, true, kStandFile},
        {"pointer to nothing", true, nullptr, Fault::None, false, "old"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(m_program / "airports");
        fs::create_directories(m_program / "airports/my_thirdparty");
        if (c.withPointer) writeWholeFile(m_program / "airports/my_thirdparty/EHAM.txt", pointer + "\r\n");
        writeWholeFile(m_program / "airports/park_airport.xml", "old");
        m_service.update().reset();
        if (c.servedPath != nullptr) m_service.update().putFile(c.servedPath, kStandFile);
        if (c.servedPath != nullptr) m_service.update().setFault(c.servedPath, c.fault);

        gf_forgetStandFileFetch();
        const StandFileFetch f = fetch("EHAM");
        const std::string reference = c.withPointer ? pointer : c.downloaded ? "archive/stock/EHAM.xml" : "";
        EXPECT_EQ(f.reference, reference);
        EXPECT_EQ(f.localFile, c.downloaded ? fs::path("airports/park_airport.xml") : fs::path());
        EXPECT_EQ(f.message, c.downloaded ? "" : failed(c.withPointer ? "P3D/" + pointer : kStock));
        // No probe copy, no part file, no empty or short stand file.
        std::vector<std::string> files;
        if (c.withPointer) files.emplace_back("airports/my_thirdparty/EHAM.txt");
        if (c.left) files.emplace_back("airports/park_airport.xml");
        EXPECT_EQ(programFiles(), files);
        if (c.left) {
            EXPECT_EQ(readWholeFile(m_program / "airports/park_airport.xml"), c.left);
        }
        if (c.withPointer) continue;
        EXPECT_EQ(gf_downloadStockApf("EHAM"), c.downloaded);
        EXPECT_EQ(lf_findArchivedApf("EHAM"), reference);
        EXPECT_EQ(programFiles(), files);
    }
}

TEST_F(StandSourcesE2e, ANewCodeGivesUpTheRunningFetchWithoutWaiting) {
    m_service.update().setStallLimit(std::chrono::milliseconds(300));
    m_service.update().putFile(kStock, kStandFile);
    m_service.update().setFault(kStock, standin::Fault::Stall);
    m_service.update().putFile("P3D/archive/stock/LSZH.xml", "lszh");

    gf_startStandFileFetch("EHAM");
    while (requestedPaths().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    gf_startStandFileFetch("LSZH");  // returns while EHAM stalls; LSZH follows it
    const StandFileFetch f = fetch("LSZH");
    EXPECT_EQ(f.reference, "archive/stock/LSZH.xml");
    EXPECT_EQ(readWholeFile(m_program / "airports/park_airport.xml"), "lszh");
    EXPECT_FALSE(gf_standFileFetched("EHAM").has_value());
    // The result stays until it is forgotten; a second start does not fetch again.
    gf_startStandFileFetch("LSZH");
    EXPECT_TRUE(gf_standFileFetched("LSZH").has_value());
    gf_forgetStandFileFetch();
    EXPECT_FALSE(gf_standFileFetched("LSZH").has_value());
    EXPECT_EQ(requestedPaths().size(), 2u);
}

}  // namespace
