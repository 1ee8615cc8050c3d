// Reading received messages and data blocks: every field inside the message, texts bounded by their
// field and by the message's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "raw_peer.h"
#include "simlink/simids.h"

namespace {

ByteVec f64le(double v) {
    ByteVec b(8);
    std::memcpy(b.data(), &v, 8);
    return b;
}
ByteVec i64le(std::int64_t v) {
    ByteVec b(8);
    std::memcpy(b.data(), &v, 8);
    return b;
}
ByteVec textField(const std::string& s, std::size_t width) {
    ByteVec b(width, 0);
    std::memcpy(b.data(), s.data(), std::min(s.size(), width));
    return b;
}

TEST(ReceivedMessages, ParsersRefuseMessagesShorterThanTheirFields) {
    ByteVec exception = makeMessage(1, concat({u32le(22), u32le(1234), u32le(1)}));
    auto e = parseRecvException(exception);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->exception, 22u);
    EXPECT_EQ(e->sendId, 1234u);
    EXPECT_EQ(e->index, 1u);
    exception.pop_back();
    EXPECT_FALSE(parseRecvException(exception).has_value());

    ByteVec frame = makeMessage(7, concat({u32le(0), u32le(204), u32le(0), u32le(0x41F00000)}));
    auto f = parseRecvFrame(frame);
    ASSERT_TRUE(f.has_value());
    EXPECT_FLOAT_EQ(f->frameRate, 30.0f);
    EXPECT_FALSE(parseRecvFrame(ByteVec(frame.begin(), frame.end() - 1)).has_value());

    ByteVec added = makeMessage(5, concat({u32le(0), u32le(202), u32le(150), u32le(2)}));
    auto a = parseRecvObjectAddRemove(added);
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->objectId, 150u);
    EXPECT_EQ(a->objectType, 2u);
    EXPECT_FALSE(parseRecvObjectAddRemove(ByteVec(added.begin(), added.end() - 4)).has_value());
    EXPECT_FALSE(parseRecvEvent(makeMessage(4, u32le(0))).has_value());
    EXPECT_FALSE(simMessageId(ByteVec(11, 0)).has_value());

    ByteVec data = makeMessage(8, concat({u32le(109), u32le(1), u32le(403), u32le(0), u32le(0), u32le(0), u32le(12)}));
    auto d = parseRecvObjectData(data);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->requestId, 109u);
    EXPECT_TRUE(d->data.empty());
    EXPECT_FALSE(parseRecvObjectData(ByteVec(data.begin(), data.end() - 1)).has_value());
}

TEST(ReceivedMessages, OpenNameIsBoundedByItsField) {
    ByteVec name(256, 'A');  // no NUL anywhere in the field
    ByteVec open = makeMessage(2, concat({name, u32le(5), u32le(4), u32le(9), u32le(28482), u32le(0)}));
    auto o = parseRecvOpen(open);
    ASSERT_TRUE(o.has_value());
    EXPECT_EQ(o->applicationName.size(), 256u);
    EXPECT_EQ(o->versionMajor, 5u);
    EXPECT_EQ(o->buildMinor, 28482u);
    EXPECT_FALSE(parseRecvOpen(ByteVec(open.begin(), open.begin() + 283)).has_value());

    // A text field cut by the message's end reads up to that end only.
    ByteVec cut = {'a', 'b', 'c'};
    EXPECT_EQ(wireReadText(cut, 1, 32), "bc");
    EXPECT_EQ(wireReadText(cut, 3, 32), "");
    EXPECT_EQ(wireReadText(cut, 99, 32), "");
}

TEST(DataBlocks, UserDataKeepsAltitudeAtOrAboveZero) {
    ByteVec block = concat({f64le(47.5), f64le(8.5), f64le(0.01), f64le(-0.02), f64le(1.5), f64le(-12.0), f64le(0.0),
                            f64le(3.0), i64le(3600), i64le(61), i64le(2024), i64le(5)});
    auto u = gf_decodeUserAcData(block);
    ASSERT_TRUE(u.has_value());
    EXPECT_DOUBLE_EQ(u->latitude, 47.5);
    EXPECT_DOUBLE_EQ(u->altitude, 0.0);
    EXPECT_EQ(u->zuluDayOfYear, 61);
    EXPECT_EQ(u->zuluYear, 2024);
    EXPECT_EQ(u->lightStates, 5);
    EXPECT_FALSE(gf_decodeUserAcData(ByteVec(block.begin(), block.end() - 1)).has_value());
}

TEST(DataBlocks, TextsStayInsideTheirFieldAndTheBlock) {
    ByteVec range = concat({f64le(120.0), f64le(1400.0), i64le(1), ByteVec(32, 'X')});  // ATC ID without NUL
    auto r = gf_decodeAircraftInRange(range);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->atcId, std::string(31, 'X'));
    EXPECT_EQ(r->onGround, 1);
    EXPECT_FALSE(gf_decodeAircraftInRange(ByteVec(range.begin(), range.end() - 1)).has_value());

    ByteVec title = {'B', '7', '3', '8'};  // STRINGV cut before its NUL
    EXPECT_EQ(gf_decodeUserTitle(title), "B738");
    EXPECT_EQ(gf_decodeUserModel(textField("A320", 32)), "A320");
    EXPECT_EQ(gf_decodeUserModel(ByteVec(40, 'M')), std::string(31, 'M'));
    EXPECT_FALSE(gf_decodeStaticData(f64le(1.0)).has_value());
    EXPECT_FALSE(gf_decodeUserOnGround(ByteVec(7, 0)).has_value());
}

TEST(SimVocabulary, GroupHoldsEveryClientEventButEngineStart) {
    std::vector<std::uint32_t> mapped;
    for (const auto& e : gf_simClientEvents()) mapped.push_back(e.id);
    EXPECT_EQ(mapped.size(), 17u);
    auto group = gf_simGroupEvents();
    EXPECT_EQ(group.size(), 16u);
    for (std::uint32_t id : mapped)
        EXPECT_EQ(std::count(group.begin(), group.end(), id), id == kEventEngineAutoStart ? 0 : 1) << id;
}

TEST(SimVocabulary, BlocksMatchTheirRecords) {
    for (const auto& def : gf_simDefinitions()) {
        std::size_t bytes = 0;
        for (const auto& d : def.datums) bytes += d.type == kDatumString32 ? 32 : d.type == kDatumStringV ? 0 : 8;
        if (def.defineId == kDefineAiPosition) { EXPECT_EQ(bytes, kAircraftUpdateBlockSize); }
        if (def.defineId == kDefineUserPosition) { EXPECT_EQ(bytes, sizeof(UserAcData)); }
        if (def.defineId == kDefineAircraftInRange) { EXPECT_EQ(bytes, 56u); }
    }
}

}  // namespace
