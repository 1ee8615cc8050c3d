// A client opened against a RawPeer, with the expected-packet builder of the request tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "raw_peer.h"
#include "simlink/protocol/simconnect.h"

// An expected request: zero-filled, header stamped, fields placed at their offsets.
struct ExpectedPacket {
    ByteVec b;
    ExpectedPacket(std::uint32_t size, std::uint32_t number, std::uint32_t sendId) : b(size, 0) {
        u32(0, size);
        u32(4, 35);
        u32(8, 0xF0000000u | number);
        u32(12, sendId);
    }
    ExpectedPacket& u32(std::size_t off, std::uint32_t v) {
        std::memcpy(&b[off], &v, 4);
        return *this;
    }
    ExpectedPacket& f32(std::size_t off, float v) {
        std::memcpy(&b[off], &v, 4);
        return *this;
    }
    ExpectedPacket& f64(std::size_t off, double v) {
        std::memcpy(&b[off], &v, 8);
        return *this;
    }
    ExpectedPacket& text(std::size_t off, const std::string& s) {
        std::memcpy(&b[off], s.data(), s.size());
        return *this;
    }
    ExpectedPacket& bytes(std::size_t off, const void* p, std::size_t n) {
        std::memcpy(&b[off], p, n);
        return *this;
    }
};

inline ConnectionSettings tcpSettings(std::uint16_t port) {
    ConnectionSettings s;
    s.protocol = SimProtocol::IPv4;
    s.address = "127.0.0.1";
    s.port = std::to_string(port);
    return s;
}

class ClientOnRawPeer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SimConnect_OpenWith(&handle, "ZNTV_P3D", tcpSettings(peer.port())), kSimOk);
        ASSERT_TRUE(peer.accept());
        auto open = peer.readRequest();
        ASSERT_TRUE(open.has_value());
        openPacket = *open;
    }
    void TearDown() override {
        if (handle != SimConnectHandle::None) SimConnect_Close(handle);
    }
    ByteVec next() {
        auto r = peer.readRequest();
        return r ? *r : ByteVec{};
    }

    RawPeer peer;
    SimConnectHandle handle = SimConnectHandle::None;
    ByteVec openPacket;
};
