#include "airports/stands.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>
#include <optional>
#include <stdexcept>

#include <fmt/format.h>

#include "frame/log.h"
#include "platform/ui.h"
#include "window/main_window.h"
#include "injection/aircraft_lists.h"
#include "injection/geodesy.h"
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
      heli(heli) {}

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

// ---- Numbering and overlaps ----

namespace {

// Stands are indexed by the point on the sphere (of the radius gf_distanceNM works on) that they stand on, as
// x, y, z in nautical miles: the straight line between two points is never longer than the great circle, so
// two stands that overlap lie less than (radius + radius) / 1.1 apart in each of x, y and z. Each stand goes
// into a grid whose cells are at least as wide as its own reach both ways; stands of very different sizes
// thus go into different grids (levels), and a stand looks for its partners in the 27 cells around it in
// its own grid and in each grid of larger stands. The stands of one pair are measured once.
constexpr double kSphereRadiusNm = 10800.0 / std::numbers::pi;
constexpr double kSmallestCellNm = 1e-4;
constexpr std::int32_t kEndlessLevel = INT_MAX;  // stands measured with every other stand
constexpr std::int32_t kPointLevel = -1;          // stands without a radius: they reach no other such stand

struct GridCell {
    std::int32_t level = 0;
    std::int64_t x = 0, y = 0, z = 0;
    bool operator==(const GridCell&) const = default;
};

struct GridCellHash {
    std::size_t operator()(const GridCell& c) const {
        std::uint64_t h = static_cast<std::uint64_t>(c.level) * 0x9E3779B97F4A7C15ull;
        for (const std::int64_t v : {c.x, c.y, c.z}) h = (h ^ static_cast<std::uint64_t>(v)) * 0xBF58476D1CE4E5B9ull;
        return static_cast<std::size_t>(h ^ (h >> 31));
    }
};

double lf_cellSize(std::int32_t level) { return std::ldexp(kSmallestCellNm, level); }

// The grid a stand of this radius (nm) goes into; a stand that can overlap nothing gets none.
std::optional<std::int32_t> lf_standLevel(const ParkPos& stand) {
    const double r = stand.radius;
    if (std::isnan(r) || r == -HUGE_VAL) return std::nullopt;
    // A position off the globe (no number: gf_distanceNM then says half the globe) is measured with every
    // stand rather than trusted to the index.
    if (!(std::fabs(stand.latitude) <= 90.0 && std::fabs(stand.longitude) <= 360.0)) return kEndlessLevel;
    // The reach both ways, with room for the rounding of the distance and of the position. A stand that
    // reaches round the globe anyway is measured with every other.
    if (!(r > 0.0)) return kPointLevel;
    const double reach = 2.0 * r / 1.1 * (1.0 + 1e-9) + 1e-9;
    if (!(reach < 4.0 * kSphereRadiusNm)) return kEndlessLevel;
    std::int32_t level = 0;
    if (reach > kSmallestCellNm) {
        level = std::ilogb(reach / kSmallestCellNm) + 1;
        while (level > 0 && lf_cellSize(level - 1) >= reach) --level;
        while (lf_cellSize(level) < reach) ++level;
    }
    return level;
}

// Two stands on one point are 0 apart, as gf_distanceNM would say, without its trigonometry: a pile is mostly such
// pairs.
bool lf_samePoint(const ParkPos& a, const ParkPos& b) {
    return a.latitude == b.latitude && a.longitude == b.longitude && std::isfinite(a.latitude) &&
           std::isfinite(a.longitude);
}

// The stands of one grid cell in list order, and how many of them are full.
struct CellMembers {
    std::vector<std::uint32_t> stands;
    std::size_t full = 0;
};

struct IndexedStand {
    std::int32_t level = 0;
    double x = 0, y = 0, z = 0;
};

GridCell lf_cellOf(const IndexedStand& s, std::int32_t level) {
    if (level == kEndlessLevel) return {level, 0, 0, 0};
    const double size = lf_cellSize(level);
    return {level, static_cast<std::int64_t>(std::floor(s.x / size)), static_cast<std::int64_t>(std::floor(s.y / size)),
            static_cast<std::int64_t>(std::floor(s.z / size))};
}

}  // namespace

std::uint64_t gf_numberStands(std::vector<ParkPos>& stands) {
    for (std::size_t i = 0; i < stands.size(); ++i) {
        stands[i].index = static_cast<std::uint32_t>(i + 1);
        // Room for a handful of overlaps where the lists are filled, not when a stand is made: the scenery
        // decoder makes stands by the hundred thousand that are written out and never numbered.
        stands[i].excluded.clear();
        stands[i].excluded.reserve(8);
    }
    std::vector<std::optional<IndexedStand>> indexed(stands.size());
    std::unordered_map<GridCell, CellMembers, GridCellHash> cells;
    cells.reserve(stands.size());  // a cell a stand at most: the map never grows (and rehashes) on the way
    std::vector<CellMembers*> home(stands.size(), nullptr);
    std::vector<std::int32_t> levels;
    for (std::size_t i = 0; i < stands.size(); ++i) {
        const std::optional<std::int32_t> level = lf_standLevel(stands[i]);
        if (!level) continue;
        const double lat = stands[i].latitude * std::numbers::pi / 180.0;
        const double lon = stands[i].longitude * std::numbers::pi / 180.0;
        IndexedStand& s = indexed[i].emplace(IndexedStand{*level, kSphereRadiusNm * std::cos(lat) * std::cos(lon),
                                                          kSphereRadiusNm * std::cos(lat) * std::sin(lon),
                                                          kSphereRadiusNm * std::sin(lat)});
        // A stand without reach overlaps none of its own kind: it only looks for larger ones, and nobody
        // looks for it.
        if (s.level == kPointLevel) continue;
        CellMembers& cell = cells[lf_cellOf(s, s.level)];
        cell.stands.push_back(static_cast<std::uint32_t>(i));
        home[i] = &cell;
        levels.push_back(s.level);
    }
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());

    // A pair goes into both lists or neither, so that the lists stay mutual when a pile fills them.
    const auto full = [&](std::size_t i) { return stands[i].excluded.size() >= kMaxExcludedStands; };
    const auto pair = [&](std::size_t i, std::uint32_t other) {
        stands[i].excluded.push_back(other);
        if (full(i) && home[i]) ++home[i]->full;
    };
    std::uint64_t measured = 0;
    const auto measureAround = [&](std::size_t a) {
        const IndexedStand& s = *indexed[a];
        for (auto level = std::lower_bound(levels.begin(), levels.end(), s.level); level != levels.end(); ++level) {
            const GridCell centre = lf_cellOf(s, *level);
            const std::int64_t span = *level == kEndlessLevel ? 0 : 1;
            for (std::int64_t dx = -span; dx <= span; ++dx)
                for (std::int64_t dy = -span; dy <= span; ++dy)
                    for (std::int64_t dz = -span; dz <= span; ++dz) {
                        const auto found = cells.find({*level, centre.x + dx, centre.y + dy, centre.z + dz});
                        if (found == cells.end()) continue;
                        CellMembers& cell = found->second;
                        // Full stands take no pair any more: once they are most of a cell they leave it, so
                        // that a pile is not walked again by every stand that comes after it.
                        if (cell.full * 2 > cell.stands.size()) {
                            std::erase_if(cell.stands, [&](std::uint32_t b) { return full(b); });
                            cell.full = 0;
                        }
                        // A pair of one grid is measured from its first stand; the members are in list order.
                        auto b = cell.stands.begin();
                        if (*level == s.level)
                            b = std::upper_bound(cell.stands.begin(), cell.stands.end(),
                                                 static_cast<std::uint32_t>(a));
                        for (; b != cell.stands.end(); ++b) {
                            if (full(*b)) continue;
                            ParkPos& first = stands[std::min<std::size_t>(a, *b)];
                            ParkPos& second = stands[std::max<std::size_t>(a, *b)];
                            ++measured;
                            const double d = lf_samePoint(first, second) ? 0.0
                                                                          : gf_distanceNM(first.latitude, first.longitude,
                                                                                          second.latitude,
                                                                                          second.longitude);
                            if (!(first.radius + second.radius > 1.1 * d)) continue;
                            pair(first.index - 1, second.index);
                            pair(second.index - 1, first.index);
                            if (full(a)) return;
                        }
                    }
        }
    };
    for (std::size_t a = 0; a < stands.size(); ++a) {
        if (indexed[a] && !full(a)) measureAround(a);
    }
    for (ParkPos& stand : stands) {
        std::sort(stand.excluded.begin(), stand.excluded.end());
        stand.excluded.shrink_to_fit();
    }
    return measured;
}
