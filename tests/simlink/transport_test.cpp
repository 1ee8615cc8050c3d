// The client's receive path over real sockets: delivery to the dispatch, broken streams, lost peers,
// the local socket of a pipe name, and the dispatch callback's freedom to throw.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <stdexcept>

#include "client_fixture.h"
#include "platform/pipes.h"
#include "support/test_support.h"

namespace {

struct Collected {
    std::vector<ByteVec> messages;
};

void collect(const std::uint8_t* m, std::uint32_t size, void* ctx) {
    static_cast<Collected*>(ctx)->messages.emplace_back(m, m + size);
}

// Dispatches until n messages arrived or the wait ran out; returns the last dispatch result.
SimResult dispatchUntil(SimConnectHandle h, Collected& c, std::size_t n) {
    SimResult r = kSimOk;
    waitUntil([&] {
        r = SimConnect_CallDispatch(h, collect, &c);
        return c.messages.size() >= n || r != kSimOk;
    });
    return r;
}

using ClientReceive = ClientOnRawPeer;

TEST_F(ClientReceive, MessagesArriveWholeHoweverTheyAreWritten) {
    ByteVec a = makeMessage(4, concat({u32le(0), u32le(201), u32le(1)}));
    ByteVec b = makeMessage(7, concat({u32le(0), u32le(204), u32le(0), u32le(0x41F00000), u32le(0)}));
    ByteVec c = makeMessage(3);
    ASSERT_TRUE(peer.send(concat({a, b})));  // two in one write
    ASSERT_TRUE(peer.send(ByteVec(c.begin(), c.begin() + 5)));
    Collected got;
    EXPECT_EQ(dispatchUntil(handle, got, 2), kSimOk);
    ASSERT_EQ(got.messages.size(), 2u);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(SimConnect_CallDispatch(handle, collect, &got), kSimOk);
    EXPECT_EQ(got.messages.size(), 2u);  // the split one waits for its rest
    ASSERT_TRUE(peer.send(concat({ByteVec(c.begin() + 5, c.end()), ByteVec(8, 0), a})));  // rest, padding, one more
    EXPECT_EQ(dispatchUntil(handle, got, 4), kSimOk);
    ASSERT_EQ(got.messages.size(), 4u);
    EXPECT_EQ(got.messages[0], a);
    EXPECT_EQ(got.messages[1], b);
    EXPECT_EQ(got.messages[2], c);
    EXPECT_EQ(got.messages[3], a);
}

TEST_F(ClientReceive, MessagesShorterThanTheHeaderAreDropped) {
    ByteVec shortOne = {8, 0, 0, 0, 5, 0, 0, 0};
    ASSERT_TRUE(peer.send(concat({shortOne, makeMessage(3)})));
    Collected got;
    dispatchUntil(handle, got, 1);
    ASSERT_EQ(got.messages.size(), 1u);
    EXPECT_EQ(got.messages[0], makeMessage(3));
}

TEST_F(ClientReceive, GrowsTheReceiveBufferForALargeMessage) {
    ByteVec big = makeMessage(8, ByteVec(10000, 0x42));
    ASSERT_TRUE(peer.send(big));
    Collected got;
    dispatchUntil(handle, got, 1);
    ASSERT_EQ(got.messages.size(), 1u);
    EXPECT_EQ(got.messages[0], big);
    EXPECT_GE(simConnectReceiveCapacity(handle), 10012u);
}

TEST_F(ClientReceive, ThrowingCallbackLeavesTheQueueWhole) {
    ASSERT_TRUE(peer.send(concat({makeMessage(3), makeMessage(4, ByteVec(12, 1)), makeMessage(5, ByteVec(16, 2))})));
    struct State {
        int calls = 0;
        std::vector<std::uint32_t> ids;
    } state;
    auto throwing = [](const std::uint8_t* m, std::uint32_t, void* ctx) {
        auto* s = static_cast<State*>(ctx);
        s->ids.push_back(wireGet32(m + 8));
        if (++s->calls == 1) throw std::runtime_error("user error in the handler");
    };
    ASSERT_TRUE(waitUntil([&] {
        try {
            SimConnect_CallDispatch(handle, throwing, &state);
        } catch (const std::runtime_error&) {
        }
        return state.ids.size() >= 3;
    }));
    EXPECT_EQ(state.ids, (std::vector<std::uint32_t>{3, 4, 5}));
    // The builders still work after the throw: no lock was left held.
    EXPECT_EQ(SimConnect_AIReleaseControl(handle, 1, 103), kSimOk);
}

struct BrokenCase {
    ByteVec bytes;
    int reason;
    SimResult status;
    // The message and the break arrive, and the stream fails, just as a dispatch has found the queue empty.
    bool whileTheQueueIsSeenEmpty = false;
};

TEST(ClientStreamFailure, BrokenStreamsEndTheConnectionWithTheirReason) {
    const BrokenCase cases[] = {
        {concat({u32le(2), ByteVec(12, 1)}), kDisconnectTooShort, kSimAbort},
        {concat({u32le(41089), ByteVec(12, 1)}), kDisconnectTooLong, kSimAbort},
        {concat({u32le(2), ByteVec(12, 1)}), kDisconnectTooShort, kSimAbort, true},
    };
    for (const auto& c : cases) {
        RawPeer peer;
        SimConnectHandle h;
        ASSERT_EQ(SimConnect_OpenWith(&h, "ZNTV_P3D", tcpSettings(peer.port())), kSimOk);
        ASSERT_TRUE(peer.accept());
        ByteVec stream = concat({makeMessage(3), c.bytes});
        bool sent = false;
        if (c.whileTheQueueIsSeenEmpty) {
            simConnectAfterEmptyQueueForTest([&] {
                if (std::exchange(sent, true)) return;
                ASSERT_TRUE(peer.send(stream));
                ASSERT_TRUE(waitUntil([&] { return simConnectDisconnectReason(h) != 0; }));
            });
        } else {
            ASSERT_TRUE(peer.send(stream));
        }
        Collected got;
        SimResult r = kSimOk;
        waitUntil([&] { return (r = SimConnect_CallDispatch(h, collect, &got)) != kSimOk; });
        simConnectAfterEmptyQueueForTest({});
        EXPECT_EQ(r, c.status);
        EXPECT_EQ(got.messages.size(), 1u);  // what came before the break is still delivered
        EXPECT_EQ(simConnectDisconnectReason(h), c.reason);
        // Builders now report the stored failure.
        EXPECT_EQ(SimConnect_AIReleaseControl(h, 1, 103), c.status);
        EXPECT_EQ(SimConnect_Close(h), kSimOk);
    }
}

TEST(ClientStreamFailure, LengthAboveOneMebibyteIsTooLongWhateverMaxReceiveSizeSays) {
    RawPeer peer;
    ConnectionSettings s = tcpSettings(peer.port());
    s.maxReceiveSize = 8u << 20;
    SimConnectHandle h;
    ASSERT_EQ(SimConnect_OpenWith(&h, "ZNTV_P3D", s), kSimOk);
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(peer.send(concat({u32le(0x100001), ByteVec(64, 1)})));
    Collected got;
    SimResult r = kSimOk;
    waitUntil([&] { return (r = SimConnect_CallDispatch(h, collect, &got)) != kSimOk; });
    EXPECT_EQ(r, kSimAbort);
    EXPECT_EQ(simConnectDisconnectReason(h), kDisconnectTooLong);
    SimConnect_Close(h);
}

// A peer that goes away is seen as a failed dispatch; sending into the dead socket never raises SIGPIPE.
TEST(ClientStreamFailure, LostPeerFailsDispatchAndBuildersWithoutSigpipe) {
    std::signal(SIGPIPE, SIG_DFL);  // a SIGPIPE would end this test process
    RawPeer peer;
    SimConnectHandle h;
    ASSERT_EQ(SimConnect_OpenWith(&h, "ZNTV_P3D", tcpSettings(peer.port())), kSimOk);
    ASSERT_TRUE(peer.accept());
    peer.closeConnection();
    SimResult r = kSimOk;
    for (int i = 0; i < 20000 && r == kSimOk; ++i) {
        r = SimConnect_SetDataOnSimObject(h, 402, 100, 0, 0, 8, "abcdefgh");
        if (i % 100 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_NE(r, kSimOk);
    Collected got;
    EXPECT_NE(SimConnect_CallDispatch(h, collect, &got), kSimOk);
    int reason = simConnectDisconnectReason(h);
    EXPECT_TRUE(reason == kDisconnectRemoteClosed || reason == kDisconnectReset) << reason;
    EXPECT_EQ(SimConnect_Close(h), kSimOk);
}

TEST(ClientLocalSocket, ConnectsToAPipeNameAndSendsOpen) {
    testing_support::TempDir dir;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    auto path = platform::pipeSocketPath("\\\\.\\pipe\\ZentavoTestPipe");
    ASSERT_TRUE(path.has_value());
    RawPeer peer(*path);
    ConnectionSettings s;
    s.protocol = SimProtocol::Pipe;
    s.port = "ZentavoTestPipe";
    SimConnectHandle h;
    ASSERT_EQ(SimConnect_OpenWith(&h, "ZNTV_P3D", s), kSimOk);
    ASSERT_TRUE(peer.accept());
    auto open = peer.readRequest();
    ASSERT_TRUE(open.has_value());
    EXPECT_EQ(open->size(), 296u);
    ASSERT_TRUE(peer.send(makeMessage(3)));
    Collected got;
    dispatchUntil(h, got, 1);
    EXPECT_EQ(got.messages.size(), 1u);
    EXPECT_EQ(SimConnect_Close(h), kSimOk);
}

// A pipe whose every instance stays busy fails the connect once the wait for a free one runs out,
// instead of waiting without end.
TEST(ClientLocalSocket, PipeThatStaysBusyFailsTheConnect) {
    testing_support::TempDir dir;
    testing_support::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    testing_support::ScopedEnv registry("ZNTV_REGISTRY_DIR", dir.path().string());
    auto path = platform::pipeSocketPath("\\\\.\\pipe\\BusyPipe");
    ASSERT_TRUE(path.has_value());
    std::filesystem::create_directories(path->parent_path());
    int server = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path->c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server, 0), 0);
    std::vector<int> fillers;  // never accepted: they fill the backlog
    for (int i = 0; i < 8; ++i) {
        int f = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        fillers.push_back(f);
    }
    auto saved = SimConnectTransport::s_pipeBusyWait;
    SimConnectTransport::s_pipeBusyWait = std::chrono::milliseconds(200);
    ConnectionSettings s;
    s.port = "BusyPipe";
    SimConnectHandle h;
    EXPECT_EQ(SimConnect_OpenWith(&h, "ZNTV_P3D", s), kSimFail);
    SimConnectTransport::s_pipeBusyWait = saved;
    for (int f : fillers) ::close(f);
    ::close(server);
}

TEST(ClientLocalSocket, PipeNamesFollowAddressAndPort) {
    EXPECT_EQ(simPipeName("", "Foo"), "\\\\.\\pipe\\Foo");
    EXPECT_EQ(simPipeName("host", ""), "\\\\host\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect");
    EXPECT_EQ(simPipeName(".", std::string(250, 'p')).size(), 259u);
    EXPECT_EQ(simPipeName(".", std::string(251, 'p')), "");  // longer than 259 characters
}

}  // namespace
