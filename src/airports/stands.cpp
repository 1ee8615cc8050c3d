#include "airports/stands.h"

#include <algorithm>
#include <stdexcept>

#include <fmt/format.h>

#include "frame/log.h"
#include "platform/ui.h"
#include "window/main_window.h"
#include "injection/aircraft_lists.h"
#include "liveries/registrations.h"

std::vector<ParkPos> g_parkPositions;
std::vector<ParkingEntry> g_parkingList;
std::uint32_t g_apfUpdates = 0;

namespace {

constexpr std::uint32_t kLastHalfHour = 47;
constexpr std::int64_t kHalfHoursPerWeek = 7 * 48;
// Two observations further apart than this are not joined up: the aircraft may have left in between.
constexpr std::uint32_t kMaxFillGap = 5;

std::vector<ParkPosOption>::iterator lf_optionWithId(std::vector<ParkPosOption>& options, std::uint32_t id) {
    if (id == 0) return options.end();
    return std::find_if(options.begin(), options.end(), [id](const ParkPosOption& o) { return o.id == id; });
}

std::string lf_withoutTrailingUnderscore(std::string callsign) {
    if (!callsign.empty() && callsign.back() == '_') callsign.pop_back();
    return callsign;
}

// One piece of a half-hour text: an optional '-', at least one digit, anything after the digits ignored.
bool lf_readHalfHour(const std::string& piece, std::uint32_t& halfHour) {
    std::size_t i = 0;
    const bool negative = !piece.empty() && piece[0] == '-';
    if (negative) ++i;
    const std::size_t firstDigit = i;
    std::uint32_t value = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        // Anything past 47 is refused anyway; stopping to grow keeps long digit runs from overflowing.
        if (value <= kLastHalfHour) value = value * 10 + static_cast<std::uint32_t>(piece[i] - '0');
    }
    if (i == firstDigit || value > kLastHalfHour || (negative && value != 0)) return false;
    halfHour = value;
    return true;
}

}  // namespace

// ---- Week slots ----

WeekSlot gf_previousWeekSlot(WeekSlot slot) {
    const std::uint32_t halfHour = gf_slotOf(slot), weekday = gf_weekdayOf(slot);
    if (halfHour > 0) return gf_makeWeekSlot(halfHour - 1, weekday);
    return gf_makeWeekSlot(kLastHalfHour, weekday <= 1 ? 7 : weekday - 1);
}

WeekSlot gf_nextWeekSlot(WeekSlot slot) {
    const std::uint32_t halfHour = gf_slotOf(slot), weekday = gf_weekdayOf(slot);
    if (halfHour < kLastHalfHour) return gf_makeWeekSlot(halfHour + 1, weekday);
    return gf_makeWeekSlot(0, weekday >= 7 ? 1 : weekday + 1);
}

std::uint32_t gf_weekSlotsForward(WeekSlot from, WeekSlot to) {
    const auto place = [](WeekSlot s) {
        return (static_cast<std::int64_t>(gf_weekdayOf(s)) - 1) * 48 + static_cast<std::int64_t>(gf_slotOf(s));
    };
    const std::int64_t diff = (place(to) - place(from)) % kHalfHoursPerWeek;
    return static_cast<std::uint32_t>(diff < 0 ? diff + kHalfHoursPerWeek : diff);
}

std::vector<WeekSlot> gf_weekSlotsBack(std::uint32_t count, WeekSlot slot) {
    std::vector<WeekSlot> slots;
    slots.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        slots.push_back(slot);
        slot = gf_previousWeekSlot(slot);
    }
    return slots;
}

// ---- Records ----

ParkPos::ParkPos(std::string id, std::vector<ParkPosOption> options, double latitude, double longitude,
                 double headingRad, double radiusMetres, bool cargo, bool ramp, bool heli)
    : options(std::move(options)),
      id(std::move(id)),
      latitude(latitude),
      longitude(longitude),
      heading(headingRad),
      radius(radiusMetres * 0.0005399568034557236),
      cargo(cargo),
      ramp(ramp),
      heli(heli) {
    excluded.reserve(8);
}

// ---- Options ----

bool gf_optionMatchesAc(const std::string& callsign, const AiAc& ac, const ParkPosOption& option) {
    if (option.id == 0 || option.real != 1) return false;
    return callsign == option.callsign1 || callsign == option.callsign2 ||
           (option.airline == ac.airline && option.type == ac.type);
}

std::uint32_t gf_addOption(std::vector<ParkPosOption>& options, const AiAc& ac, bool real, WeekSlot slot,
                           const std::string& callsign, const std::string& registration) {
    std::string cs = lf_withoutTrailingUnderscore(callsign);
    HalfHourSet hours;
    hours.set(gf_slotOf(slot));  // throws for a half-hour above 47

    // After a withdrawal or a renumbering the last option need not hold the largest id; only one above
    // every id in use is sure to be free.
    std::uint32_t id = 1;
    for (const ParkPosOption& o : options) id = std::max(id, o.id + 1);

    std::string airline = ac.airline, type = ac.type;
    if (!registration.empty()) {
        if (const auto record = gf_regcodeLookup(registration)) {
            airline = record->operatorCode.empty() ? record->airline : record->operatorCode;
            type = record->type;
        }
    }

    const std::uint32_t day = gf_weekdayOf(slot);
    const bool exists = std::any_of(options.begin(), options.end(), [&](const ParkPosOption& o) {
        return o.registration == registration && o.day == day && o.halfHours == hours && o.callsign1 == cs;
    });
    if (exists) return 0;

    options.push_back(ParkPosOption{.airline = std::move(airline),
                                    .type = std::move(type),
                                    .registration = registration,
                                    .callsign1 = std::move(cs),
                                    .callsign2 = {},
                                    .halfHours = hours,
                                    .id = id,
                                    .day = day,
                                    .fromFile = 0,
                                    .real = real ? 1u : 0u});
    return id;
}

void updateOption(ParkPosOption& option, std::uint32_t halfHour) {
    try {
        option.halfHours.set(halfHour);
    } catch (const std::out_of_range& e) {
        gf_logWarning(fmt::format("{} \"{}\" \"{}\" bit:{} exception:{}", "updateOption", option.callsign1,
                                  option.callsign2, halfHour, e.what()));
    }
}

void gf_addOptionCallsign(std::vector<ParkPosOption>& options, std::uint32_t optionId, std::string callsign) {
    callsign = lf_withoutTrailingUnderscore(std::move(callsign));
    if (callsign.empty()) return;
    const auto it = lf_optionWithId(options, optionId);
    if (it == options.end()) return;
    if (it->callsign1.empty()) {
        it->callsign1 = std::move(callsign);
    } else if (callsign != it->callsign1 && callsign != it->callsign2) {
        // The first callsign stays; the second is always the latest other one.
        it->callsign2 = std::move(callsign);
    }
}

void gf_fillOptionSlots(std::vector<ParkPosOption>& options, WeekSlot now, const std::string& callsign,
                        std::uint32_t count, std::uint32_t optionId) {
    const auto it = lf_optionWithId(options, optionId);
    if (it == options.end()) return;
    for (const WeekSlot s : gf_weekSlotsBack(count, now)) it->halfHours.set(gf_slotOf(s));
    gf_addOptionCallsign(options, optionId, callsign);
}

void gf_fillOptionSlotsOverMidnight(std::vector<ParkPosOption>& options, WeekSlot now, const std::string& callsign,
                                    std::uint32_t count, std::uint32_t oldOptionId, std::uint32_t newOptionId) {
    const std::vector<WeekSlot> slots = gf_weekSlotsBack(count, now);
    // Oldest first; now itself (index 0) was set when the new option was added.
    for (std::size_t i = slots.size(); i-- > 1;) {
        const bool today = gf_weekdayOf(slots[i]) == gf_weekdayOf(now);
        const auto it = lf_optionWithId(options, today ? newOptionId : oldOptionId);
        if (it != options.end()) it->halfHours.set(gf_slotOf(slots[i]));
    }
    gf_addOptionCallsign(options, oldOptionId, callsign);
    gf_addOptionCallsign(options, newOptionId, callsign);
}

void lf_updateOptionSlots(WeekSlot now, ParkPos& stand, std::uint32_t /*optionId*/, StandKey& key, const AiAc& ac,
                          bool real) {
    // Counted forward from the key to now, over midnight and over the week's end; a slot of another day
    // with the same half-hour is days away, not a gap to fill.
    const std::uint32_t gap = gf_weekSlotsForward(key.slot, now);
    if (gap < 1 || gap > kMaxFillGap) return;
    if (gf_weekdayOf(key.slot) == gf_weekdayOf(now)) {
        gf_fillOptionSlots(stand.options, now, ac.callsign, gap, key.optionId);
    } else {
        const std::uint32_t newId = gf_addOption(stand.options, ac, real, now, ac.callsign, ac.registration);
        if (newId > 0) {
            gf_fillOptionSlotsOverMidnight(stand.options, now, ac.callsign, gap, key.optionId, newId);
            key.optionId = newId;
        }
    }
    key.slot = now;
}

bool testRange(const ParkPosOption& option, std::int32_t start, std::int32_t offset, std::int32_t& previousDayCount) {
    previousDayCount = -1;
    try {
        const std::int32_t low = std::max(start - offset, 0);
        for (std::int32_t h = start; h >= low; --h) {
            if (option.halfHours.test(static_cast<std::size_t>(h))) return true;
        }
    } catch (const std::out_of_range& e) {
        gf_logLine(fmt::format("{}exception {} in testRange, start: {}, offset: {}", "===> ", e.what(), start, offset));
        return false;
    }
    if (start - offset < 0) previousDayCount = std::min(offset - start, 46);
    return false;
}

// ---- Text form of a half-hour set ----

HalfHourSet gf_hours2bitset(const std::string& text) {
    HalfHourSet hours;
    if (text.empty()) return hours;
    std::size_t begin = 0;
    while (true) {
        const std::size_t comma = text.find(',', begin);
        const std::string piece = text.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin);
        std::uint32_t halfHour = 0;
        if (lf_readHalfHour(piece, halfHour)) {
            hours.set(halfHour);
        } else if (gf_logIsOpen()) {  // the line repeats the whole text: not built for nothing
            gf_logLine(fmt::format("{} invalid hour \"{}\" in {}", "gf_hours2bitset", piece, text));
        }
        if (comma == std::string::npos) break;
        begin = comma + 1;
    }
    return hours;
}

std::string gf_bitset2hours(const HalfHourSet& hours) {
    std::string text;
    for (std::size_t h = 0; h < hours.size(); ++h) {
        if (!hours.test(h)) continue;
        if (!text.empty()) text += ',';
        text += std::to_string(h);
    }
    return text;
}

// ---- Is the option's aircraft placed already ----

// Two texts name the same aircraft only when they say something: an option without a registration or second
// callsign is not placed already just because some aircraft has none either.
namespace {
bool lf_sameGiven(const std::string& a, const std::string& b) { return !a.empty() && a == b; }
}  // namespace

std::vector<AiAc>::iterator lf_findStaticForOption(const ParkPosOption& option) {
    return std::find_if(g_staticAc.begin(), g_staticAc.end(), [&](const AiAc& ac) {
        return lf_sameGiven(ac.callsignCopy, option.callsign1) || lf_sameGiven(ac.callsignCopy, option.callsign2) ||
               lf_sameGiven(ac.registration, option.registration);
    });
}

std::vector<ParkingEntry>::iterator lf_findParkingEntryForOption(const ParkPosOption& option) {
    return std::find_if(g_parkingList.begin(), g_parkingList.end(), [&](const ParkingEntry& e) {
        return lf_sameGiven(e.callsign1, option.callsign1) || lf_sameGiven(e.callsign1, option.callsign2) ||
               lf_sameGiven(e.registration, option.registration);
    });
}

void lf_pushStandKey(std::vector<std::pair<std::uint32_t, std::uint64_t>>& list, std::uint32_t key,
                     std::uint64_t value) {
    list.emplace_back(key, value);
}

ParkPos* gf_standByIndex(std::uint32_t index) {
    if (index == 0) return nullptr;
    if (index <= g_parkPositions.size() && g_parkPositions[index - 1].index == index) return &g_parkPositions[index - 1];
    const auto it = std::find_if(g_parkPositions.begin(), g_parkPositions.end(),
                                 [index](const ParkPos& p) { return p.index == index; });
    return it != g_parkPositions.end() ? &*it : nullptr;
}

void gf_countStandChange() {
    ++g_apfUpdates;
    const auto shown = static_cast<std::int32_t>(g_apfUpdates);
    if (g_mainWindow.updateCount.exchange(shown) != shown) ui::backend().invalidate(kParkingBand);
}
