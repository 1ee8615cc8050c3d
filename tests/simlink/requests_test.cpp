// Byte-exact layout of every request the client sends, and the rules of texts, send ids and handles.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "client_fixture.h"
#include "simlink/simids.h"

namespace {

TEST_F(ClientOnRawPeer, OpenRequestCarriesNameMarkerAndClientVersion) {
    ExpectedPacket e(296, 0x01, 1);
    e.text(16, "ZNTV_P3D").u32(272, 0).u32(276, 0x50334400).u32(280, 5).u32(284, 3).u32(288, 0).u32(292, 0);
    EXPECT_EQ(openPacket, e.b);
    std::uint32_t last = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(handle, &last), kSimOk);
    EXPECT_EQ(last, 1u);
}

TEST_F(ClientOnRawPeer, EventAndGroupRequests) {
    ASSERT_EQ(SimConnect_MapClientEventToSimEvent(handle, 220, "GEAR_SET"), kSimOk);
    ASSERT_EQ(SimConnect_TransmitClientEvent(handle, 101, 220, 1, 301, 0), kSimOk);
    ASSERT_EQ(SimConnect_AddClientEventToNotificationGroup(handle, 301, 220, true), kSimOk);
    ASSERT_EQ(SimConnect_SetNotificationGroupPriority(handle, 301, 1), kSimOk);
    ASSERT_EQ(SimConnect_SubscribeToSystemEvent(handle, 201, "Sim"), kSimOk);

    EXPECT_EQ(next(), ExpectedPacket(276, 0x04, 2).u32(16, 220).text(20, "GEAR_SET").b);
    EXPECT_EQ(next(), ExpectedPacket(36, 0x05, 3).u32(16, 101).u32(20, 220).u32(24, 1).u32(28, 301).u32(32, 0).b);
    EXPECT_EQ(next(), ExpectedPacket(28, 0x07, 4).u32(16, 301).u32(20, 220).u32(24, 1).b);
    EXPECT_EQ(next(), ExpectedPacket(24, 0x09, 5).u32(16, 301).u32(20, 1).b);
    EXPECT_EQ(next(), ExpectedPacket(276, 0x17, 6).u32(16, 201).text(20, "Sim").b);
}

TEST_F(ClientOnRawPeer, DataRequests) {
    ASSERT_EQ(SimConnect_AddToDataDefinition(handle, 402, "Plane Latitude", "degree", kDatumFloat64, 0.5f, kSimUnused),
              kSimOk);
    ASSERT_EQ(SimConnect_AddToDataDefinition(handle, 407, "TITLE", nullptr, kDatumStringV), kSimOk);
    ASSERT_EQ(SimConnect_RequestDataOnSimObject(handle, 108, 409, 0, kPeriodSecond, 1, 2, 3, 4), kSimOk);
    ASSERT_EQ(SimConnect_RequestDataOnSimObjectType(handle, 101, 404, 65560, 2), kSimOk);
    const double three[3] = {1.5, 2.5, -3.25};
    ASSERT_EQ(SimConnect_SetDataOnSimObject(handle, 401, 123, 0, 0, 24, three), kSimOk);

    EXPECT_EQ(next(), ExpectedPacket(544, 0x0C, 2)
                          .u32(16, 402).text(20, "Plane Latitude").text(276, "degree")
                          .u32(532, 4).f32(536, 0.5f).u32(540, 0xFFFFFFFF).b);
    // No units: the field stays empty.
    EXPECT_EQ(next(), ExpectedPacket(544, 0x0C, 3).u32(16, 407).text(20, "TITLE").u32(532, 11).u32(540, 0xFFFFFFFF).b);
    EXPECT_EQ(next(), ExpectedPacket(48, 0x0E, 4)
                          .u32(16, 108).u32(20, 409).u32(24, 0).u32(28, 4).u32(32, 1).u32(36, 2).u32(40, 3).u32(44, 4).b);
    EXPECT_EQ(next(), ExpectedPacket(32, 0x0F, 5).u32(16, 101).u32(20, 404).u32(24, 65560).u32(28, 2).b);
    EXPECT_EQ(next(), ExpectedPacket(60, 0x10, 6)
                          .u32(16, 401).u32(20, 123).u32(24, 0).u32(28, 1).u32(32, 24).bytes(36, three, 24).b);
}

TEST_F(ClientOnRawPeer, SetDataWithCountZeroSendsOneUnit) {
    AircraftUpdate u;
    u.latitude = 47.5;
    u.longitude = 8.5;
    u.heading = 1.25;
    u.altitude = 3000;
    u.objectID = 77;
    ASSERT_EQ(gf_sendAircraftUpdate(handle, u), kSimOk);
    ByteVec p = next();
    ASSERT_EQ(p.size(), 100u);
    EXPECT_EQ(p, ExpectedPacket(100, 0x10, 2)
                     .u32(16, 402).u32(20, 77).u32(24, 0).u32(28, 1).u32(32, 64).bytes(36, &u, 64).b);
}

TEST_F(ClientOnRawPeer, AiRequests) {
    InitPosition pos{47.25, 8.75, 1500, -2, 1, 270, 1, 0};
    ASSERT_EQ(SimConnect_AICreateNonATCAircraft(handle, "Airbus A320 Swiss", "HBJLT", pos, 104), kSimOk);
    ASSERT_EQ(SimConnect_AIReleaseControl(handle, 150, 103), kSimOk);
    ASSERT_EQ(SimConnect_AIRemoveObject(handle, 150, 105), kSimOk);
    ASSERT_EQ(SimConnect_AISetAircraftFlightPlan(handle, 150, "C:\\plans\\HBJLT.pln", 110), kSimOk);

    EXPECT_EQ(next(), ExpectedPacket(344, 0x29, 2)
                          .text(16, "Airbus A320 Swiss").text(272, "HBJLT")
                          .f64(284, 47.25).f64(292, 8.75).f64(300, 1500).f64(308, -2).f64(316, 1).f64(324, 270)
                          .u32(332, 1).u32(336, 0).u32(340, 104).b);
    EXPECT_EQ(next(), ExpectedPacket(24, 0x2B, 3).u32(16, 150).u32(20, 103).b);
    EXPECT_EQ(next(), ExpectedPacket(24, 0x2C, 4).u32(16, 150).u32(20, 105).b);
    EXPECT_EQ(next(), ExpectedPacket(284, 0x2D, 5).u32(16, 150).text(20, "C:\\plans\\HBJLT.pln").u32(280, 110).b);
}

// A text takes at most its field less one byte; a longer one fails the request, sends nothing and leaves
// no trace in the send buffer for the next request.
TEST_F(ClientOnRawPeer, TextsLongerThanTheirFieldFailAndSendNothing) {
    std::string name255(255, 'N'), name256(256, 'N');
    ASSERT_EQ(SimConnect_AddToDataDefinition(handle, 1, name255.c_str(), nullptr), kSimOk);
    ByteVec p = next();
    ASSERT_EQ(p.size(), 544u);
    EXPECT_EQ(std::string(p.begin() + 20, p.begin() + 275), name255);
    EXPECT_EQ(p[275], 0);

    EXPECT_EQ(SimConnect_AddToDataDefinition(handle, 1, name256.c_str(), nullptr), kSimTextTooLong);
    EXPECT_EQ(SimConnect_AddToDataDefinition(handle, 1, "X", name256.c_str()), kSimTextTooLong);
    InitPosition pos;
    EXPECT_EQ(SimConnect_AICreateNonATCAircraft(handle, "T", "ABCDEFGHIJKL", pos, 104), kSimTextTooLong);
    EXPECT_EQ(SimConnect_AISetAircraftFlightPlan(handle, 1, std::string(260, 'p').c_str(), 110), kSimTextTooLong);
    EXPECT_EQ(SimConnect_SubscribeToSystemEvent(handle, 1, name256.c_str()), kSimTextTooLong);
    EXPECT_TRUE(peer.quietFor(std::chrono::milliseconds(100)));

    // Eleven characters fit the tail number; the next request is clean.
    ASSERT_EQ(SimConnect_AICreateNonATCAircraft(handle, "T", "ABCDEFGHIJK", pos, 104), kSimOk);
    std::uint32_t sendId = 0;
    SimConnect_GetLastSentPacketID(handle, &sendId);
    EXPECT_EQ(next(), ExpectedPacket(344, 0x29, sendId).text(16, "T").text(272, "ABCDEFGHIJK").u32(340, 104).b);
}

TEST_F(ClientOnRawPeer, NullTextsGiveEmptyFields) {
    ASSERT_EQ(SimConnect_MapClientEventToSimEvent(handle, 7, nullptr), kSimOk);
    EXPECT_EQ(next(), ExpectedPacket(276, 0x04, 2).u32(16, 7).b);
}

TEST_F(ClientOnRawPeer, SendIdsCountUpAndSkipZeroWhenWrapping) {
    simConnectSetSendIdForTest(handle, 0xFFFFFFFEu);
    ASSERT_EQ(SimConnect_AIReleaseControl(handle, 1, 103), kSimOk);
    ASSERT_EQ(SimConnect_AIReleaseControl(handle, 2, 103), kSimOk);
    ASSERT_EQ(SimConnect_AIReleaseControl(handle, 3, 103), kSimOk);
    EXPECT_EQ(wireGet32(next().data() + 12), 0xFFFFFFFFu);
    EXPECT_EQ(wireGet32(next().data() + 12), 1u);
    EXPECT_EQ(wireGet32(next().data() + 12), 2u);
    std::uint32_t last = 0;
    ASSERT_EQ(SimConnect_GetLastSentPacketID(handle, &last), kSimOk);
    EXPECT_EQ(last, 2u);
    EXPECT_EQ(SimConnect_GetLastSentPacketID(handle, nullptr), kSimFail);
}

TEST_F(ClientOnRawPeer, SetDataThatCanNeverFitIsRefused) {
    std::vector<std::uint8_t> big(41088, 0);
    EXPECT_EQ(SimConnect_SetDataOnSimObject(handle, 1, 1, 0, 1, 41088 - 36, big.data()), kSimOk);
    EXPECT_EQ(next().size(), 41088u);
    EXPECT_EQ(SimConnect_SetDataOnSimObject(handle, 1, 1, 0, 1, 41088 - 35, big.data()), kSimFail);
    EXPECT_EQ(SimConnect_SetDataOnSimObject(handle, 1, 1, 0, 0x10000, 0x10000, big.data()), kSimFail);
    EXPECT_EQ(SimConnect_SetDataOnSimObject(handle, 1, 1, 0, 1, 8, nullptr), kSimFail);
}

// Requests from two threads never mix: each arrives whole, and the send ids run without gaps.
TEST_F(ClientOnRawPeer, RequestsFromTwoThreadsArriveWhole) {
    constexpr int kEach = 2000;
    auto sender = [&](std::uint32_t object) {
        for (int i = 0; i < kEach; ++i) {
            AircraftUpdate u;
            u.objectID = object;
            u.latitude = i;
            gf_sendAircraftUpdate(handle, u);
            SimConnect_AIReleaseControl(handle, object, 103);
        }
    };
    std::thread a(sender, 1000), b(sender, 2000);
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 4 * kEach; ++i) {
        ByteVec p = next();
        ASSERT_TRUE(p.size() == 100 || p.size() == 24) << p.size();
        std::uint32_t object = wireGet32(p.data() + (p.size() == 100 ? 20 : 16));
        ASSERT_TRUE(object == 1000 || object == 2000);
        ids.push_back(wireGet32(p.data() + 12));
    }
    a.join();
    b.join();
    for (std::size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(ids[i], i + 2);
}

// A batch holds what is requested on its handle, from any thread, until the last open batch closes; then it
// all arrives in the order it was built. A close sends what an open batch still holds.
TEST_F(ClientOnRawPeer, ABatchHoldsItsRequestsUntilItClosesAndKeepsTheirOrder) {
    {
        const SimConnectBatch outer(handle);
        {
            const SimConnectBatch inner(handle);
            for (std::uint32_t i = 0; i < 300; ++i) ASSERT_EQ(SimConnect_AIRemoveObject(handle, 1000 + i, 105), kSimOk);
        }
        std::thread([&] { SimConnect_AIReleaseControl(handle, 2000, 103); }).join();
        EXPECT_TRUE(peer.quietFor(std::chrono::milliseconds(50)));
    }
    for (std::uint32_t i = 0; i < 300; ++i)
        ASSERT_EQ(next(), ExpectedPacket(24, 0x2C, i + 2).u32(16, 1000 + i).u32(20, 105).b) << i;
    EXPECT_EQ(next(), ExpectedPacket(24, 0x2B, 302).u32(16, 2000).u32(20, 103).b);

    const SimConnectBatch unknown(SimConnectHandle::None);
    const SimConnectBatch open(handle);  // outlives the close below
    ASSERT_EQ(SimConnect_AIRemoveObject(handle, 3000, 105), kSimOk);
    ASSERT_EQ(SimConnect_Close(handle), kSimOk);
    handle = SimConnectHandle::None;
    EXPECT_EQ(next(), ExpectedPacket(24, 0x2C, 303).u32(16, 3000).u32(20, 105).b);
}

// A handle kept after closing only ever fails; it never touches the freed client.
TEST_F(ClientOnRawPeer, HandleAfterCloseFailsEverywhere) {
    ASSERT_EQ(SimConnect_Close(handle), kSimOk);
    SimConnectHandle stale = handle;
    handle = SimConnectHandle::None;
    EXPECT_EQ(SimConnect_AIRemoveObject(stale, 1, 105), kSimFail);
    EXPECT_EQ(SimConnect_SetDataOnSimObject(stale, 402, 1, 0, 0, 8, "12345678"), kSimFail);
    std::uint32_t id = 0;
    EXPECT_EQ(SimConnect_GetLastSentPacketID(stale, &id), kSimFail);
    EXPECT_EQ(SimConnect_CallDispatch(stale, [](const std::uint8_t*, std::uint32_t, void*) {}, nullptr), kSimFail);
    EXPECT_EQ(SimConnect_Close(stale), kSimFail);
    EXPECT_EQ(SimConnect_Close(SimConnectHandle::None), kSimFail);
}

TEST(SimConnectOpen, RefusesMissingArgumentsAndLongNames) {
    SimConnectHandle h = SimConnectHandle::None;
    ConnectionSettings s = tcpSettings(1);
    EXPECT_EQ(SimConnect_OpenWith(nullptr, "ZNTV_P3D", s), kSimInvalidArg);
    EXPECT_EQ(SimConnect_OpenWith(&h, nullptr, s), kSimInvalidArg);
    EXPECT_EQ(SimConnect_Open(&h, nullptr, nullptr, 0, nullptr, 0), kSimInvalidArg);

    RawPeer peer;
    EXPECT_EQ(SimConnect_OpenWith(&h, std::string(256, 'n').c_str(), tcpSettings(peer.port())), kSimTextTooLong);
    EXPECT_EQ(h, SimConnectHandle::None);
    EXPECT_EQ(simConnectClientCount(), 0);
}

}  // namespace
