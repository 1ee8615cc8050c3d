#include <gtest/gtest.h>

#include <ctime>

#include "frame/timeutil.h"

namespace {

std::time_t lf_utc(int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return timegm(&tm);
}

// 2026-12-06 is a Sunday, 2026-12-07 a Monday.
const std::time_t kSunday = lf_utc(2026, 12, 6, 14, 51, 2);

class SlotClockTest : public ::testing::Test {
protected:
    void TearDown() override { gf_setSlotClock({}); }
    void install(std::time_t now, bool inForce, std::time_t traffic) {
        gf_setSlotClock({.now = [now] { return now; },
                         .trafficTimeInForce = [inForce] { return inForce; },
                         .latestTrafficTime = [traffic] { return traffic; }});
    }
};

}  // namespace

TEST(TimeStamp, FixedLayoutInUtc) {
    EXPECT_EQ(gf_utcTimeStamp(kSunday), "Sun Dec 06 14:51:02 2026");
    EXPECT_EQ(gf_utcTimeStamp(0), "Thu Jan 01 00:00:00 1970");
    EXPECT_EQ(gf_utcTimeStamp(lf_utc(2025, 10, 27, 9, 5, 7)), "Mon Okt 27 09:05:07 2025");
}

TEST(TimeStamp, MonthAndWeekdayNames) {
    EXPECT_EQ(lf_monthName(10), "Okt");
    EXPECT_EQ(lf_monthName(1), "Jan");
    EXPECT_EQ(lf_monthName(12), "Dec");
    EXPECT_EQ(lf_monthName(0), "???");
    EXPECT_EQ(lf_monthName(13), "???");
    EXPECT_EQ(lf_weekdayName(1), "Mon");
    EXPECT_EQ(lf_weekdayName(7), "Sun");
    EXPECT_EQ(lf_weekdayName(0), "???");
    EXPECT_EQ(lf_weekdayName(8), "???");
}

TEST(HalfHourSlot, SecondHalfStartsAt29Minutes30) {
    EXPECT_EQ(gf_halfHourSlotAt(lf_utc(2026, 12, 6, 10, 29, 29)), 20u);
    EXPECT_EQ(gf_halfHourSlotAt(lf_utc(2026, 12, 6, 10, 29, 30)), 21u);
    EXPECT_EQ(gf_halfHourSlotAt(lf_utc(2026, 12, 6, 10, 30, 0)), 21u);
    EXPECT_EQ(gf_halfHourSlotAt(lf_utc(2026, 12, 6, 10, 59, 59)), 21u);
    EXPECT_EQ(gf_halfHourSlotAt(lf_utc(2026, 12, 6, 23, 59, 59)), 47u);
    EXPECT_EQ(gf_halfHourSlotAt(lf_utc(2026, 12, 7, 0, 0, 0)), 0u);
}

TEST(WeekSlot, SundayIsSevenAndTheSlotSitsInTheUpperHalf) {
    const WeekSlot sunday = gf_weekSlotAt(kSunday);
    EXPECT_EQ(gf_weekdayOf(sunday), 7u);
    EXPECT_EQ(gf_slotOf(sunday), 29u);
    EXPECT_EQ(sunday, (WeekSlot{29} << 32) | 7u);
    EXPECT_EQ(lf_weekdayName(static_cast<int>(gf_weekdayOf(sunday))), "Sun");
    EXPECT_EQ(gf_weekdayOf(gf_weekSlotAt(lf_utc(2026, 12, 7, 0, 0, 0))), 1u);
    EXPECT_EQ(gf_weekdayOf(gf_weekSlotAt(lf_utc(2026, 12, 12, 0, 0, 0))), 6u);
}

TEST(WeekSlot, DistanceWrapsOnlyBetweenSundayAndMonday) {
    const WeekSlot sun47 = gf_makeWeekSlot(47, 7), mon0 = gf_makeWeekSlot(0, 1), tue0 = gf_makeWeekSlot(0, 2);
    EXPECT_EQ(gf_weekSlotDiff(sun47, mon0), 1);
    EXPECT_EQ(gf_weekSlotDiff(mon0, sun47), 1);
    EXPECT_EQ(gf_weekSlotDiff(mon0, tue0), 48);
    EXPECT_EQ(gf_weekSlotDiff(tue0, mon0), 48);
    EXPECT_EQ(gf_weekSlotDiff(tue0, tue0), 0);
    EXPECT_EQ(gf_weekSlotDiff(gf_makeWeekSlot(10, 3), gf_makeWeekSlot(12, 3)), 2);
    EXPECT_EQ(gf_weekSlotDiff(gf_makeWeekSlot(40, 6), gf_makeWeekSlot(2, 7)), 10);
    EXPECT_EQ(gf_weekSlotDiff(gf_makeWeekSlot(20, 7), gf_makeWeekSlot(5, 1)), 33);
}

TEST_F(SlotClockTest, ClockTextsFollowTheInstalledClock) {
    install(kSunday, false, 0);
    EXPECT_EQ(gf_clockTime(), "14:51:02");
    EXPECT_EQ(gf_dateText(), "Dec 06, 2026");
    EXPECT_EQ(gf_simClockMark(), "14:51:02");
    EXPECT_EQ(gf_now(), kSunday);
}

TEST_F(SlotClockTest, TrafficTimeIsTheReferenceOnlyWhenInForceAndKnown) {
    const std::time_t traffic = lf_utc(2026, 12, 7, 0, 10, 0);  // Monday, slot 0

    install(kSunday, true, traffic);
    EXPECT_EQ(gf_slotReferenceTime(), traffic);
    EXPECT_EQ(gf_weekSlot(), gf_makeWeekSlot(0, 1));
    EXPECT_EQ(gf_halfHourSlot(), 0u);
    EXPECT_EQ(gf_simClockMark(), "<<< 00:10:00");
    EXPECT_EQ(gf_clockTime(), "14:51:02");  // the log clock stays the real one

    install(kSunday, true, 0);  // shifted, but no traffic received yet
    EXPECT_EQ(gf_slotReferenceTime(), kSunday);
    EXPECT_EQ(gf_weekSlot(), gf_makeWeekSlot(29, 7));
    EXPECT_EQ(gf_simClockMark(), "14:51:02");

    install(kSunday, false, traffic);
    EXPECT_EQ(gf_slotReferenceTime(), kSunday);
    EXPECT_EQ(gf_halfHourSlot(), 29u);
}

TEST_F(SlotClockTest, EmptyMembersFallBackToTheSystemClock) {
    gf_setSlotClock({});
    const std::time_t before = std::time(nullptr);
    const std::time_t ref = gf_slotReferenceTime();
    const std::time_t after = std::time(nullptr);
    EXPECT_GE(ref, before);
    EXPECT_LE(ref, after);
    EXPECT_EQ(gf_clockTime().size(), 8u);
}
