// Messages as the simulator sends them, built field by field from the protocol's layout, for feeding the
// link's dispatch directly; and the messages the link posted to the work thread.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "injection/services.h"
#include "raw_peer.h"
#include "simlink/dispatch.h"
#include "simlink/simids.h"

namespace sim_msg {

inline ByteVec f64(double v) {
    ByteVec b(8);
    std::memcpy(b.data(), &v, 8);
    return b;
}
inline ByteVec i64(std::int64_t v) {
    ByteVec b(8);
    std::memcpy(b.data(), &v, 8);
    return b;
}
inline ByteVec text(const std::string& s, std::size_t width) {
    ByteVec b(width, 0);
    std::memcpy(b.data(), s.data(), std::min(s.size(), width));
    return b;
}
// A variable-length text as the simulator sends STRINGV data: the bytes and a NUL.
inline ByteVec textV(const std::string& s) {
    ByteVec b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

inline ByteVec exception(std::uint32_t code, std::uint32_t sendId, std::uint32_t index = 1) {
    return makeMessage(1, concat({u32le(code), u32le(sendId), u32le(index)}));
}
inline ByteVec open(const std::string& name, std::uint32_t major = 5, std::uint32_t minor = 4, std::uint32_t build = 9,
                    std::uint32_t buildMinor = 28482) {
    return makeMessage(2, concat({text(name, 256), u32le(major), u32le(minor), u32le(build), u32le(buildMinor),
                                  u32le(5), u32le(0), u32le(0), u32le(0), u32le(0), u32le(0)}));
}
inline ByteVec event(std::uint32_t eventId, std::uint32_t data = 0) {
    return makeMessage(4, concat({u32le(0xFFFFFFFFu), u32le(eventId), u32le(data)}));
}
inline ByteVec added(std::uint32_t objectId, std::uint32_t type = 2) {
    return makeMessage(5, concat({u32le(0xFFFFFFFFu), u32le(kEventObjectAdded), u32le(objectId), u32le(type)}));
}
inline ByteVec removed(std::uint32_t objectId, std::uint32_t type = 2) {
    return makeMessage(5, concat({u32le(0xFFFFFFFFu), u32le(kEventObjectRemoved), u32le(objectId), u32le(type)}));
}
// Object data (8) or object data by type (9): request, object, define, flags, entry, out of, count, block.
inline ByteVec objectData(std::uint32_t requestId, std::uint32_t objectId, std::uint32_t defineId, const ByteVec& block,
                          std::uint32_t msgId = 8, std::uint32_t entry = 0, std::uint32_t outOf = 0) {
    return makeMessage(msgId, concat({u32le(requestId), u32le(objectId), u32le(defineId), u32le(0), u32le(entry),
                                      u32le(outOf), u32le(1), block}));
}

inline ByteVec userAcBlock(double latitude, double longitude, double altitude = 1416, double groundSpeed = 0,
                           std::int64_t zuluSeconds = 0, std::int64_t dayOfYear = 1, std::int64_t year = 2025) {
    return concat({f64(latitude), f64(longitude), f64(0), f64(0), f64(0), f64(altitude), f64(0), f64(groundSpeed),
                   i64(zuluSeconds), i64(dayOfYear), i64(year), i64(0)});
}
inline ByteVec userPosition(double latitude, double longitude, std::uint32_t objectId = 1, double altitude = 1416,
                            double groundSpeed = 0) {
    return objectData(kRequestUserPosition, objectId, kDefineUserPosition,
                      userAcBlock(latitude, longitude, altitude, groundSpeed));
}
inline ByteVec userOnGround(bool onGround) {
    return objectData(kRequestUserOnGround, 1, kDefineUserOnGround, i64(onGround ? 1 : 0));
}
inline ByteVec inRange(std::uint32_t objectId, const std::string& atcId, double altAboveGround, double groundAltitude,
                       bool onGround, std::uint32_t entry = 1, std::uint32_t outOf = 2) {
    return objectData(kRequestAircraftInRange, objectId, kDefineAircraftInRange,
                      concat({f64(altAboveGround), f64(groundAltitude), i64(onGround ? 1 : 0), text(atcId, 32)}), 9,
                      entry, outOf);
}

inline void dispatch(const ByteVec& m, LinkSession* session = nullptr) {
    lf_dispatch(m.data(), static_cast<std::uint32_t>(m.size()), session);
}

// The messages the link posted for the work thread, taken out.
inline std::vector<SimMessage> posted() { return gf_takeSimMessages(); }

}  // namespace sim_msg
