#include "frame/timeutil.h"

#include <fmt/format.h>

#include <array>
#include <memory>
#include <mutex>

std::atomic<WeekSlot> g_weekSlotNow{0};

namespace {

std::time_t lf_systemNow() { return std::time(nullptr); }

// The installed clock is replaced as a whole and read as a shared snapshot, so a reader never sees a
// half-installed clock and never calls out while holding the lock.
std::mutex g_slotClockMutex;
std::shared_ptr<const SlotClock> g_slotClock;

std::shared_ptr<const SlotClock> lf_slotClock() {
    std::lock_guard lock(g_slotClockMutex);
    return g_slotClock;
}

bool lf_brokenDownUtc(std::time_t t, std::tm& out) { return gmtime_r(&t, &out) != nullptr; }

// Sunday is 7 in the program's week; the C library counts it as 0.
int lf_weekdayOf(const std::tm& tm) { return tm.tm_wday == 0 ? 7 : tm.tm_wday; }

std::uint32_t lf_halfHourSlotOf(const std::tm& tm) {
    // The second half-hour starts at hh:29:30: the slot follows the minute rounded to the nearest one.
    std::uint32_t s = 2 * static_cast<std::uint32_t>(tm.tm_hour);
    if (tm.tm_min >= 30 || (tm.tm_min == 29 && tm.tm_sec >= 30)) ++s;
    return s % 48;
}

// The reference time and whether it is the traffic time (for the "<<< " mark).
std::pair<std::time_t, bool> lf_referenceTime() {
    const auto clock = lf_slotClock();
    if (clock) {
        if (clock->trafficTimeInForce && clock->latestTrafficTime && clock->trafficTimeInForce()) {
            const std::time_t traffic = clock->latestTrafficTime();
            if (traffic != 0) return {traffic, true};
        }
        if (clock->now) return {clock->now(), false};
    }
    return {lf_systemNow(), false};
}

std::string lf_hhmmss(const std::string& stamp) { return stamp.size() >= 13 ? stamp.substr(stamp.size() - 13, 8) : stamp; }

}  // namespace

void gf_setSlotClock(SlotClock clock) {
    auto installed = std::make_shared<const SlotClock>(std::move(clock));
    std::lock_guard lock(g_slotClockMutex);
    g_slotClock = std::move(installed);
}

std::time_t gf_now() {
    const auto clock = lf_slotClock();
    return clock && clock->now ? clock->now() : lf_systemNow();
}

std::time_t gf_slotReferenceTime() { return lf_referenceTime().first; }

std::string lf_monthName(int month) {
    static constexpr std::array<const char*, 12> names{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                       "Jul", "Aug", "Sep", "Okt", "Nov", "Dec"};
    return month >= 1 && month <= 12 ? names[static_cast<std::size_t>(month - 1)] : "???";
}

std::string lf_weekdayName(int weekday) {
    static constexpr std::array<const char*, 7> names{"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    return weekday >= 1 && weekday <= 7 ? names[static_cast<std::size_t>(weekday - 1)] : "???";
}

std::string gf_utcTimeStamp(std::time_t t) {
    std::tm tm{};
    if (!lf_brokenDownUtc(t, tm)) {
        // Keeps the fixed layout that gf_clockTime and gf_dateText cut from.
        return "??? ??? 00 00:00:00 0000";
    }
    return fmt::format("{:3} {:3} {:02} {:02}:{:02}:{:02} {:4}", lf_weekdayName(lf_weekdayOf(tm)),
                       lf_monthName(tm.tm_mon + 1), tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                       tm.tm_year + 1900);
}

std::string gf_clockTime() { return lf_hhmmss(gf_utcTimeStamp(gf_now())); }

std::string gf_dateText() {
    const std::string stamp = gf_utcTimeStamp(gf_now());
    return fmt::format("{}, {}", stamp.substr(4, 6), stamp.substr(20, 4));
}

std::string gf_simClockMark() {
    const auto [t, traffic] = lf_referenceTime();
    const std::string clock = lf_hhmmss(gf_utcTimeStamp(t));
    return traffic ? fmt::format("<<< {}", clock) : clock;
}

std::uint32_t gf_halfHourSlotAt(std::time_t t) {
    std::tm tm{};
    if (!lf_brokenDownUtc(t, tm)) return 0;
    return lf_halfHourSlotOf(tm);
}

WeekSlot gf_weekSlotAt(std::time_t t) {
    std::tm tm{};
    if (!lf_brokenDownUtc(t, tm)) return gf_makeWeekSlot(0, 1);
    return gf_makeWeekSlot(lf_halfHourSlotOf(tm), static_cast<std::uint32_t>(lf_weekdayOf(tm)));
}

std::uint32_t gf_halfHourSlot() { return gf_halfHourSlotAt(gf_slotReferenceTime()); }

WeekSlot gf_weekSlot() { return gf_weekSlotAt(gf_slotReferenceTime()); }

std::int64_t gf_weekSlotDiff(WeekSlot a, WeekSlot b) {
    // The week wraps between Sunday and Monday only: a Monday is later than a Sunday.
    const auto isLater = [](WeekSlot x, WeekSlot y) {
        const auto wx = gf_weekdayOf(x), wy = gf_weekdayOf(y);
        if (wx == 1 && wy == 7) return true;
        if (wx == 7 && wy == 1) return false;
        if (wx != wy) return wx > wy;
        return gf_slotOf(x) >= gf_slotOf(y);
    };
    if (!isLater(a, b)) std::swap(a, b);
    const std::int64_t wa = gf_weekdayOf(a), wb = gf_weekdayOf(b);
    std::int64_t diff = (wa - wb) * 48 + static_cast<std::int64_t>(gf_slotOf(a)) - gf_slotOf(b);
    if (wa == 1 && wb == 7) diff += 336;
    return diff;
}
