// UTC time stamps, half-hour slots of the day and week slots (half-hour slot << 32 | weekday, Sunday 7).
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

using WeekSlot = std::uint64_t;

extern std::atomic<WeekSlot> g_weekSlotNow;

// The reference time of the slots: the time of the latest traffic record while a professional licence
// works with a time shift, else the clock. The traffic service installs its source; tests install theirs.
struct SlotClock {
    std::function<std::time_t()> now;              // system clock, seconds since 1970
    std::function<bool()> trafficTimeInForce;      // professional licence and a time shift in force
    std::function<std::time_t()> latestTrafficTime;  // 0 until traffic arrived
};
void gf_setSlotClock(SlotClock clock);  // empty members fall back to the defaults
std::time_t gf_slotReferenceTime();
// "Now" of the installed clock (the system clock unless a test fixed it): the log header, gf_clockTime
// and gf_dateText use it.
std::time_t gf_now();

std::string gf_utcTimeStamp(std::time_t t);
std::string gf_clockTime();
std::string gf_dateText();
std::string gf_simClockMark();
std::string lf_monthName(int month);
std::string lf_weekdayName(int weekday);

std::uint32_t gf_halfHourSlotAt(std::time_t t);
WeekSlot gf_weekSlotAt(std::time_t t);
std::uint32_t gf_halfHourSlot();
WeekSlot gf_weekSlot();
inline std::uint32_t gf_slotOf(WeekSlot ws) { return static_cast<std::uint32_t>(ws >> 32); }
inline std::uint32_t gf_weekdayOf(WeekSlot ws) { return static_cast<std::uint32_t>(ws & 0xffffffffu); }
inline WeekSlot gf_makeWeekSlot(std::uint32_t slot, std::uint32_t weekday) {
    return (static_cast<WeekSlot>(slot) << 32) | weekday;
}
std::int64_t gf_weekSlotDiff(WeekSlot a, WeekSlot b);
