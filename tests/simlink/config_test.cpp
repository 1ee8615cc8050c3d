// "SimConnect.cfg" from its three folders, the registry ports, and the fallback order of the connect.
#include <gtest/gtest.h>

#include "simlink/protocol/config.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::writeWholeFile;

struct Folders {
    TempDir pub, docs, cwd;
    std::vector<fs::path> list() const { return {pub.path(), docs.path(), cwd.path()}; }
};

std::string noRegistry(AddressFamily) { return {}; }

TEST(SimConnectConfig, LaterFilesOverrideTheKeysTheySet) {
    Folders f;
    writeWholeFile(f.pub / "SimConnect.cfg", "[SimConnect]\nProtocol=IPv6\nAddress=::1\nPort=5000\nDisableNagle=1\n");
    writeWholeFile(f.docs / "SimConnect.cfg", "; user file\n[SimConnect]\r\nMaxReceiveSize=100000\r\nDisableNagle=0\r\n");
    writeWholeFile(f.cwd / "SimConnect.cfg", "[simconnect]\nport = 5001\nMaxReceiveSize=50000\n[SimConnect.1]\nPort=9\n");
    auto s = readSimConnectConfig(0, f.list(), noRegistry);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->protocol, SimProtocol::IPv6);
    EXPECT_EQ(s->address, "::1");
    EXPECT_EQ(s->port, "5001");
    EXPECT_EQ(s->maxReceiveSize, 100000u);  // kept only when larger
    EXPECT_FALSE(s->disableNagle);
}

TEST(SimConnectConfig, DefaultsWithoutFilesAndIndexedSections) {
    Folders f;
    auto s = readSimConnectConfig(0, f.list(), noRegistry);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->protocol, SimProtocol::Pipe);
    EXPECT_EQ(s->address, "");
    EXPECT_EQ(s->port, "");
    EXPECT_EQ(s->maxReceiveSize, 41088u);
    EXPECT_FALSE(readSimConnectConfig(1, f.list(), noRegistry).has_value());

    writeWholeFile(f.docs / "SimConnect.cfg", "[SimConnect.1]\nProtocol=ipv4\nPort=600\n");
    auto one = readSimConnectConfig(1, f.list(), noRegistry);
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(one->protocol, SimProtocol::IPv4);
    EXPECT_EQ(one->port, "600");
    EXPECT_FALSE(readSimConnectConfig(2, f.list(), noRegistry).has_value());
    // The skip index never reads the files.
    auto skip = readSimConnectConfig(kSkipConfigFiles, f.list(), noRegistry);
    ASSERT_TRUE(skip.has_value());
    EXPECT_EQ(skip->port, "");
}

TEST(SimConnectConfig, ReadsUtf16FilesAndIgnoresUnknownProtocols) {
    Folders f;
    std::string text = "[SimConnect]\r\nProtocol=Carrier\r\nAddress=.\r\nPort=MyPipe\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
        utf16 += c;
        utf16 += '\0';
    }
    writeWholeFile(f.pub / "SimConnect.cfg", utf16);
    auto s = readSimConnectConfig(0, f.list(), noRegistry);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->protocol, SimProtocol::Pipe);
    EXPECT_EQ(s->address, ".");
    EXPECT_EQ(s->port, "MyPipe");
}

// A protocol line of a later file takes the simulator's port of its family in place of a port that an
// earlier file set; the section's own "Port" still decides.
TEST(SimConnectConfig, ExplicitProtocolReplacesAnEarlierPortWithTheRegistryPort) {
    Folders f;
    auto registry = [](AddressFamily fam) { return std::string(fam == AddressFamily::IPv4 ? "4444" : "6666"); };
    writeWholeFile(f.pub / "SimConnect.cfg", "[SimConnect]\nPort=PipeName\n");
    writeWholeFile(f.docs / "SimConnect.cfg", "[SimConnect]\nProtocol=IPv4\n");
    auto s = readSimConnectConfig(0, f.list(), registry);
    EXPECT_EQ(s->port, "4444");
    writeWholeFile(f.cwd / "SimConnect.cfg", "[SimConnect]\nProtocol=IPv6\nPort=7000\n");
    s = readSimConnectConfig(0, f.list(), registry);
    EXPECT_EQ(s->protocol, SimProtocol::IPv6);
    EXPECT_EQ(s->port, "7000");
}

TEST(SimConnectConfig, FoldersComeFromTheShellFoldersAndTheWorkingFolder) {
    TempDir pub, docs, cwd;
    testing_support::ScopedEnv p("XDG_PUBLICSHARE_DIR", pub.path().string());
    testing_support::ScopedEnv d("XDG_DOCUMENTS_DIR", docs.path().string());
    testing_support::ScopedCwd c(cwd.path());
    auto folders = simConnectConfigFolders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0], pub.path());
    EXPECT_EQ(folders[1], docs.path());
    EXPECT_EQ(fs::canonical(folders[2]), cwd.path());
}

TEST(SimConnectConfig, RegistryPortsComeFromTheUserHive) {
    TempDir reg;
    testing_support::ScopedEnv r("ZNTV_REGISTRY_DIR", reg.path().string());
    EXPECT_EQ(simRegistryPort(AddressFamily::IPv4), "");
    writeWholeFile(reg / "user.reg",
                   "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Lockheed Martin\\Prepar3D v5]\r\n"
                   "\"SimConnect_Port_IPv4\"=\"51234\"\r\n\"SimConnect_Port_IPv6\"=\"51236\"\r\n");
    EXPECT_EQ(simRegistryPort(AddressFamily::IPv4), "51234");
    EXPECT_EQ(simRegistryPort(AddressFamily::IPv6), "51236");
}

struct Attempt {
    TransportKind kind;
    AddressFamily family;
    std::string address, port;
    bool operator==(const Attempt& o) const {
        return kind == o.kind && (kind == TransportKind::Pipe || family == o.family) && address == o.address &&
               port == o.port;
    }
};

std::ostream& operator<<(std::ostream& os, const Attempt& a) {
    return os << (a.kind == TransportKind::Pipe ? "pipe " : a.family == AddressFamily::IPv6 ? "ipv6 " : "ipv4 ")
              << a.address << " " << a.port;
}

std::vector<Attempt> walk(const ConnectionSettings& s, const RegistryPortFn& registry, int succeedAt = -1) {
    std::vector<Attempt> seen;
    connectWithFallback(s, registry, [&](TransportKind k, AddressFamily f, const std::string& a, const std::string& p) {
        seen.push_back({k, f, a, p});
        return static_cast<int>(seen.size()) - 1 == succeedAt;
    });
    return seen;
}

const Attempt kPipeDefault{TransportKind::Pipe, AddressFamily::IPv4, "", ""};
const Attempt kLastPipe{TransportKind::Pipe, AddressFamily::IPv4, ".", ""};

TEST(ConnectFallback, WithoutPortsOnlyThePipesAreTried) {
    EXPECT_EQ(walk(ConnectionSettings{}, noRegistry), (std::vector<Attempt>{kPipeDefault, kLastPipe}));
}

TEST(ConnectFallback, RegistryPortsOpenTheIpSteps) {
    auto registry = [](AddressFamily f) { return std::string(f == AddressFamily::IPv6 ? "600" : "400"); };
    std::vector<Attempt> all{kPipeDefault,
                             {TransportKind::Socket, AddressFamily::IPv6, "::1", "600"},
                             {TransportKind::Socket, AddressFamily::IPv4, "127.0.0.1", "400"},
                             kLastPipe};
    EXPECT_EQ(walk(ConnectionSettings{}, registry), all);
    // The chain stops at the first success.
    EXPECT_EQ(walk(ConnectionSettings{}, registry, 1), std::vector<Attempt>(all.begin(), all.begin() + 2));
    // Only the IPv4 port known: IPv6 is skipped.
    auto only4 = [](AddressFamily f) { return std::string(f == AddressFamily::IPv4 ? "400" : ""); };
    EXPECT_EQ(walk(ConnectionSettings{}, only4), (std::vector<Attempt>{kPipeDefault, all[2], kLastPipe}));
}

TEST(ConnectFallback, RemoteTargetsNeverFallBack) {
    ConnectionSettings remote4;
    remote4.protocol = SimProtocol::IPv4;
    remote4.address = "192.0.2.10";
    remote4.port = "500";
    EXPECT_EQ(walk(remote4, noRegistry),
              (std::vector<Attempt>{{TransportKind::Socket, AddressFamily::IPv4, "192.0.2.10", "500"}}));

    ConnectionSettings remotePipe;
    remotePipe.address = "simpc";
    remotePipe.port = "SimConnect";
    EXPECT_EQ(walk(remotePipe, noRegistry),
              (std::vector<Attempt>{{TransportKind::Pipe, AddressFamily::IPv4, "simpc", "SimConnect"}}));
}

TEST(ConnectFallback, ExplicitProtocolWithoutPortTakesTheRegistryPort) {
    ConnectionSettings s;
    s.protocol = SimProtocol::IPv4;
    s.explicitProtocol = true;
    s.address = "127.0.0.1";
    auto registry = [](AddressFamily f) { return std::string(f == AddressFamily::IPv4 ? "400" : "600"); };
    EXPECT_EQ(walk(s, registry),
              (std::vector<Attempt>{{TransportKind::Socket, AddressFamily::IPv4, "127.0.0.1", "400"}, kLastPipe}));
}

}  // namespace
