#include "airports/bgl_decoder.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <array>
#include <stdexcept>

#include <fmt/format.h>

#include "airports/scan_log.h"
#include "airports/stand_file.h"
#include "airports/stand_save.h"
#include "airports/stand_sources.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/text.h"
#include "injection/geodesy.h"
#include "liveries/database.h"
#include "liveries/publishers.h"

namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::uint32_t kHeaderSize = 56;
constexpr std::uint32_t kAirportSection = 3;
constexpr std::uint32_t kWideSubsectionHeaders = 0x10000;  // 20-byte subsection headers, not read
constexpr std::uint16_t kAirport = 0x003C, kAirportLater = 0x00AB;
constexpr std::uint16_t kNameRecord = 0x0019, kHelipadRecord = 0x0026;
constexpr std::uint16_t kParkingList = 0x003D, kParkingListLater = 0x00AD;
constexpr std::uint32_t kHelipadBytes = 36;
constexpr const char* kWarn = "===> ";

// The archive lookup reads the database tables and writes pointer files for tasks that run at once.
std::mutex g_apfArchiveMutex;

// The file's words. Every read is checked: the walks test their bounds first, so this only catches a slip of
// the decoder itself, as std::out_of_range, and never reads outside the words.
class BglWords {
public:
    explicit BglWords(std::span<const std::uint32_t> words) : m_words(words) {}
    std::uint64_t size() const { return m_words.size(); }
    std::uint32_t at(std::uint64_t i) const {
        if (i >= m_words.size()) throw std::out_of_range("BGL word index beyond the file");
        return m_words[i];
    }
    std::uint16_t low(std::uint64_t i) const { return static_cast<std::uint16_t>(at(i)); }
    std::uint16_t high(std::uint64_t i) const { return static_cast<std::uint16_t>(at(i) >> 16); }
    float f32(std::uint64_t i) const { return std::bit_cast<float>(at(i)); }
    // The byte `offset` bytes from the start of word i.
    char byte(std::uint64_t i, std::uint64_t offset) const {
        return static_cast<char>(at(i + offset / 4) >> (8 * (offset % 4)));
    }
    // A record or subrecord header at word i: a u16 id, then a u32 size in bytes across the two words.
    std::uint16_t headerId(std::uint64_t i) const { return low(i); }
    std::uint32_t headerSize(std::uint64_t i) const {
        return high(i) | static_cast<std::uint32_t>(low(i + 1)) << 16;
    }

private:
    std::span<const std::uint32_t> m_words;
};

double lf_latitude(std::uint32_t packed) { return 90.0 - packed * 3.3527612686157227e-7; }
double lf_longitude(std::uint32_t packed) { return packed * 4.470348358154297e-7 - 180.0; }

std::string lf_positionText(double lat, double lon) { return fmt::format("{:.6f},{:.6f}", lat, lon); }

// On the globe, and not in the small box at 0, 0 where unset positions of scenery tools end up.
bool lf_usablePosition(double lat, double lon) {
    if (lat < -90.0 || lat > 90.0 || lon < -180.0 || lon > 180.0) return false;
    return !(lat >= 0.0 && lat <= 0.0009 && lon >= 0.0 && lon <= 0.05);
}

// North is stored as 0 and written as 360. Scenery compilers write 0 to 360; a heading a turn or two outside
// is brought into that range, anything else (no number, 1e26) is no heading and the stand is dropped (false).
// Inlined into the test of each spot.
[[gnu::always_inline]] inline bool lf_headingRadians(float degrees, double& radians) {
    double h = degrees;
    if (!(std::fabs(h) <= 720.0)) return false;
    while (h < 0.0) h += 360.0;
    while (h > 360.0) h -= 360.0;
    radians = h == 0.0 ? 2.0 * kPi : h * kPi / 180.0;
    return true;
}

// The spot's stand id: its name code's text, its number in decimal and the suffix letter ("a" to "f" for 1
// to 6, none for 0), written into `text`; returns its length. Fixed-size copies only: a list can hold 65,535
// spots.
std::size_t lf_spotIdText(std::uint32_t nameCode, std::uint32_t number, std::uint32_t suffix,
                          std::array<char, 16>& text) {
    struct NameText {
        std::array<char, 4> text{};
        std::size_t length = 0;
    };
    static const std::array<NameText, 64> kTexts = [] {
        std::array<NameText, 64> texts;
        for (std::uint32_t c = 0; c < 64; ++c) {
            const std::string name = lf_parkingNameText(c);
            std::copy(name.begin(), name.end(), texts[c].text.begin());
            texts[c].length = name.size();
        }
        return texts;
    }();
    const NameText& name = kTexts[nameCode & 0x3F];
    std::copy(name.text.begin(), name.text.end(), text.begin());
    char* end = std::to_chars(text.data() + name.length, text.data() + text.size() - 1, number).ptr;
    if (suffix != 0) *end++ = static_cast<char>('a' + suffix - 1);
    return static_cast<std::size_t>(end - text.data());
}

std::string lf_spotId(std::uint32_t nameCode, std::uint32_t number) {
    std::array<char, 16> text{};
    return std::string(text.data(), lf_spotIdText(nameCode, number, 0, text));
}

// A stand id as a number, for the duplicate test: its text is the name code's text and the number in
// decimal. Name codes of the same text (0 and 11 are both empty, 61 is "r" like 1) count as one, so that equal
// keys are exactly equal ids.
std::uint32_t lf_idKey(std::uint32_t nameCode, std::uint32_t number) {
    static const std::array<std::uint32_t, 64> kSameText = [] {
        std::array<std::uint32_t, 64> first{};
        for (std::uint32_t c = 0; c < 64; ++c) {
            first[c] = c;
            for (std::uint32_t d = 0; d < c; ++d) {
                if (lf_parkingNameText(d) == lf_parkingNameText(c)) {
                    first[c] = d;
                    break;
                }
            }
        }
        return first;
    }();
    return kSameText[nameCode & 0x3F] << 12 | (number & 0xFFF);
}

// The parking stands of one record grouped by their plain id, in list order: the first of a group keeps the
// plain id, the next ones get "a" to "f", an eighth gets none. A flat hash table by key: one look-up a spot.
class StandIds {
public:
    static constexpr std::uint32_t kNone = 7;  // no suffix is left
    struct Group {
        std::uint32_t key = 0;
        std::uint32_t count = 0;
        std::array<std::uint32_t, 7> members{};  // positions in the record's spots
    };

    void reserve(std::size_t count) {
        m_groups.reserve(count);
        if (m_slots.size() < 2 * count) lf_rehash(std::bit_ceil(2 * count));
    }
    // The suffix the spot at `position` gets, 0 for the plain id; kNone when all seven are taken.
    std::uint32_t take(std::uint32_t key, std::size_t position) {
        if (2 * (m_groups.size() + 1) > m_slots.size()) lf_rehash(std::max<std::size_t>(16, 2 * m_slots.size()));
        std::size_t i = lf_slot(key);
        while (m_slots[i] != 0 && m_groups[m_slots[i] - 1].key != key) i = (i + 1) & (m_slots.size() - 1);
        if (m_slots[i] == 0) {
            m_groups.push_back(Group{key, 0, {}});
            m_slots[i] = static_cast<std::uint32_t>(m_groups.size());
        }
        Group& group = m_groups[m_slots[i] - 1];
        if (group.count == kNone) return kNone;
        group.members[group.count] = static_cast<std::uint32_t>(position);
        return group.count++;
    }
    const std::vector<Group>& groups() const { return m_groups; }

private:
    // The numbers of one name code lie side by side, in the order scenery lists them, and each name code
    // starts elsewhere. The key space is 64 x 4096 and the table at least twice the list, so at most 2^17 / list
    // keys share a slot: whatever its keys, a list costs at most 2^17 probes beyond one a spot.
    std::size_t lf_slot(std::uint32_t key) const {
        return ((key & 0xFFF) + (key >> 12) * 0x9E3779B1u) & (m_slots.size() - 1);
    }
    void lf_rehash(std::size_t size) {
        m_slots.assign(size, 0);
        for (std::size_t g = 0; g < m_groups.size(); ++g) {
            std::size_t i = lf_slot(m_groups[g].key);
            while (m_slots[i] != 0) i = (i + 1) & (size - 1);
            m_slots[i] = static_cast<std::uint32_t>(g + 1);
        }
    }
    std::vector<std::uint32_t> m_slots;  // 1 + the group's position in m_groups, 0 for a free slot
    std::vector<Group> m_groups;
};

// A parking spot that passed its tests, kept until its group of equal ids is complete: its stand is made
// once, with its final id.
struct Spot {
    double lat = 0.0, lon = 0.0;
    double heading = 0.0;      // radians
    float radius = 0.0f;       // metres
    std::uint32_t head = 0;    // the entry's first word: name code, type and number
    std::uint32_t suffix = 0;  // 0: the plain id; 1 to 6: "a" to "f"
};

// What one airport record keeps while its subrecords are read.
struct RecordState {
    BglAirport& out;
    const std::string& path;
    StandIds ids;          // parking stands only
    bool suffixed = false;  // some id got a suffix
    std::vector<Spot> spots;
    std::vector<std::pair<double, double>> helipads;

    void scanLog(std::string line) { out.scanLog.push_back(std::move(line)); }

    // Whether the position lies within kMaxStandDistanceNm of the airport's reference point; `distance` is
    // measured only when it matters (infinite for an airport without a usable reference point). A position
    // well inside is not measured: along its meridian and then along a parallel is never shorter than the
    // great circle, and 60 nm a degree is the most either leg can be.
    bool nearAirport(double lat, double lon, double& distance) const {
        distance = std::numeric_limits<double>::infinity();
        if (!lf_usablePosition(out.latitude, out.longitude)) return false;
        if (60.0 * (std::fabs(lat - out.latitude) + std::fabs(lon - out.longitude)) < kMaxStandDistanceNm - 1e-6)
            return true;
        distance = gf_distanceNM(out.latitude, out.longitude, lat, lon);
        return distance <= kMaxStandDistanceNm;
    }

    // A stand the airport can have: near its reference point (an airport without a usable one can have
    // none), with a heading that is a bearing, which goes to `heading` in radians. Otherwise the scan log says
    // why and the result is false. `what` gives the stand's name for that line ("helipad", "position g12"):
    // the test runs once a spot, the lines are written apart from it.
    template <class What>
    bool headingOfStand(const What& what, double lat, double lon, float degrees, double& heading) {
        double distance = 0.0;
        if (!nearAirport(lat, lon, distance)) {
            skipStand(what(), lat, lon, true, distance, degrees);
            return false;
        }
        if (!lf_headingRadians(degrees, heading)) {
            skipStand(what(), lat, lon, false, distance, degrees);
            return false;
        }
        return true;
    }

    // The scan-log line of a stand that headingOfStand refuses: too far from the airport, or its heading.
    [[gnu::noinline, gnu::cold]] void skipStand(const std::string& what, double lat, double lon, bool far,
                                                double distance, float degrees) {
        if (far) {
            scanLog(fmt::format("{} at {} lies {:.1f} nm from the airport (skipped), in {}", what,
                                lf_positionText(lat, lon), distance, path));
        } else {
            scanLog(fmt::format("{} at {} has heading {} degrees (skipped), in {}", what, lf_positionText(lat, lon),
                                degrees, path));
        }
    }
};

// Bytes 6 on; at most 44 characters, trailing NULs dropped. Only bytes inside the subrecord are read: a size
// below 8 gives only what lies inside it.
std::string lf_decodeAirportNAME(const BglWords& words, std::uint64_t q, std::uint32_t size) {
    std::int64_t length = static_cast<std::int64_t>(size & 0xFFFF) - 6;
    length = std::min<std::int64_t>(length, 45);
    std::int64_t count = std::max<std::int64_t>(length, 0);
    if (length >= 2) {
        // The first two bytes share a word with the header, then whole words, then at most two bytes more.
        const std::int64_t whole = (length - 2) / 4;
        const std::int64_t rest = length - 2 - 4 * whole;
        count = 2 + 4 * whole + std::min<std::int64_t>(rest, 2);
    }
    std::string name;
    name.reserve(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) name.push_back(words.byte(q, 6 + static_cast<std::uint64_t>(i)));
    while (!name.empty() && name.back() == '\0') name.pop_back();
    return name;
}

void lf_toHelipads(RecordState& state, const BglWords& words, std::uint64_t q) {
    const double lat = lf_latitude(words.at(q + 4));
    const double lon = lf_longitude(words.at(q + 3));
    if (!lf_usablePosition(lat, lon)) {
        state.scanLog("lat/lon helipad incorrect (skipped): " + lf_positionText(lat, lon));
        return;
    }
    double heading = 0.0;
    if (!state.headingOfStand([] { return std::string("helipad"); }, lat, lon, words.f32(q + 8), heading)) return;
    const float width = words.f32(q + 7);
    // A helipad is no wider than the largest parking spot; a width that is not positive gives no size.
    if (!(width * 0.5 < kMaxStandRadiusMetres)) {
        state.scanLog(fmt::format("helipad at {} has width {} meters (skipped), in {}", lf_positionText(lat, lon),
                                  width, state.path));
        return;
    }
    const std::pair<double, double> position{lat, lon};
    if (std::find(state.helipads.begin(), state.helipads.end(), position) != state.helipads.end()) {
        state.scanLog("double helipad " + state.out.airport.name + " (skipped) " + lf_positionText(lat, lon));
        return;
    }
    state.helipads.push_back(position);
    const double radiusMetres = width > 0.0f ? width * 0.5 : 0.0;
    state.out.airport.stands.emplace_back(fmt::format("helipad{}", state.out.helipadCounter),
                                          std::vector<ParkPosOption>{}, lat, lon, heading, radiusMetres, false,
                                          false, true);
    ++state.out.helipadCounter;
}

// One parking entry at word e, wholly inside its list.
void lf_toParkingSpot(RecordState& state, const BglWords& words, std::uint64_t e) {
    const std::uint32_t head = words.at(e);
    const float radius = words.f32(e + 1);
    // Also a radius that is no number: such a spot has no size that a stand could take.
    if (!(radius > 1.0f && radius < kMaxStandRadiusMetres)) {
        state.scanLog(fmt::format("skipped position with radius {:.1F} meters, in {}", radius, state.path));
        return;
    }
    const std::uint32_t type = (head >> 8) & 0xF;
    const std::uint32_t nameCode = head & 0x3F, number = (head >> 12) & 0xFFF;
    if (type < 1 || type > 11) return;
    const double lat = lf_latitude(words.at(e + 8));
    const double lon = lf_longitude(words.at(e + 7));
    if (!lf_usablePosition(lat, lon)) {
        state.scanLog(fmt::format("lat/lon: {}, incorrect (skipped) ", lf_positionText(lat, lon)));
        return;
    }
    const auto what = [&] { return "position " + lf_spotId(nameCode, number); };
    double heading = 0.0;
    if (!state.headingOfStand(what, lat, lon, words.f32(e + 2), heading)) return;
    const std::uint32_t suffix = state.ids.take(lf_idKey(nameCode, number), state.spots.size());
    if (suffix == StandIds::kNone) {
        state.scanLog(fmt::format("{}Warning more then 6 the same ids {}, in {}", kWarn, lf_spotId(nameCode, number),
                                  state.path));
        return;
    }
    if (suffix != 0) state.suffixed = true;
    state.spots.push_back(Spot{lat, lon, heading, radius, head, suffix});
}

// The spots of one group of equal ids with their radii in metres, in list order.
void lf_collectDuplicateStand(const std::vector<Spot>& spots, const StandIds::Group& group,
                              std::vector<std::pair<std::uint32_t, double>>& notes) {
    notes.clear();
    for (std::uint32_t k = 0; k < group.count; ++k)
        notes.emplace_back(group.members[k], static_cast<double>(spots[group.members[k]].radius));
}

// The plain id goes to the largest spot of each group of equal ids, the suffixes to the others by size. Only
// the groups are visited, never the whole list once per group.
void lf_resuffixDuplicateStands(std::vector<Spot>& spots, const StandIds& ids, std::uint64_t& steps) {
    std::vector<std::pair<std::uint32_t, double>> notes;
    for (const StandIds::Group& group : ids.groups()) {
        ++steps;
        if (group.count < 2) continue;
        lf_collectDuplicateStand(spots, group, notes);
        // Largest first, equal radii in list order: an insertion sort of at most seven, no buffer.
        for (std::size_t k = 1; k < notes.size(); ++k) {
            for (std::size_t j = k; j > 0 && notes[j].second > notes[j - 1].second; --j) std::swap(notes[j], notes[j - 1]);
        }
        for (std::size_t k = 0; k < notes.size(); ++k) spots[notes[k].first].suffix = static_cast<std::uint32_t>(k);
        steps += notes.size();
    }
}

// The list at word q, `size` bytes long. An entry (or its airline codes) that would reach past the list ends it.
// Its stands are made once their ids are final, each built in place.
void lf_toParkingSpots(RecordState& state, const BglWords& words, std::uint64_t q, std::uint32_t size,
                       bool later) {
    if (size < 8) return;
    const std::uint32_t count = words.high(q + 1);
    const std::uint64_t listEnd = q + size / 4;
    const std::uint64_t fixedWords = later ? 10 : 9;
    state.spots.reserve(std::min<std::uint64_t>(count, (listEnd - q) / fixedWords));
    state.ids.reserve(std::min<std::uint64_t>(count, (listEnd - q) / fixedWords));
    std::uint64_t e = q + 2;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (e + fixedWords > listEnd) break;
        ++state.out.steps;
        const std::uint64_t next = e + fixedWords + (words.at(e) >> 24);
        if (next > listEnd) break;
        lf_toParkingSpot(state, words, e);
        e = next;
    }
    if (state.suffixed) lf_resuffixDuplicateStands(state.spots, state.ids, state.out.steps);
    std::vector<ParkPos>& stands = state.out.airport.stands;
    stands.reserve(stands.size() + state.spots.size());
    std::array<char, 16> text{};
    for (const Spot& spot : state.spots) {
        const std::uint32_t type = (spot.head >> 8) & 0xF;
        ParkPos& stand = stands.emplace_back(std::string(), std::vector<ParkPosOption>{}, spot.lat, spot.lon,
                                             spot.heading, static_cast<double>(spot.radius), type == 5, type < 8,
                                             false);
        stand.id.assign(text.data(), lf_spotIdText(spot.head & 0x3F, (spot.head >> 12) & 0xFFF, spot.suffix, text));
    }
}

BglAirport lf_processAirportRecord(const BglWords& words, std::uint64_t p, std::uint64_t s, bool later,
                                   const std::string& ident, const std::string& path) {
    BglAirport result;
    result.airport.ident = ident;
    result.longitude = lf_longitude(words.at(p + 3));
    result.latitude = lf_latitude(words.at(p + 4));
    const auto millimetres = static_cast<std::int32_t>(words.at(p + 5));
    const double feet = std::round(millimetres * 3.2808399 / 1000.0);
    result.airport.altitude = feet < -20.0 || feet > 10000.0 ? 0 : static_cast<std::int32_t>(feet);

    RecordState state{result, path, {}, false, {}, {}};
    const std::uint16_t listId = later ? kParkingListLater : kParkingList;
    const std::uint64_t end = p + s;
    std::uint64_t q = p + (later ? 15 : 14);
    // Each subrecord lies wholly inside the record: a header beyond it, a size below 4 or one that reaches past
    // the record ends the walk.
    while (q + 2 <= end) {
        const std::uint16_t id = words.headerId(q);
        const std::uint32_t size = words.headerSize(q);
        if (size < 4 || size > (end - q) * 4) break;
        ++result.steps;
        if (id == kNameRecord) {
            const std::string name = lf_decodeAirportNAME(words, q, size);
            if (result.airport.name.empty())
                result.airport.name = name;
            else if (result.airport.name != name)
                result.airport.name.clear();
        } else if (id == kHelipadRecord) {
            if (size >= kHelipadBytes) lf_toHelipads(state, words, q);
        } else if (id == listId) {
            lf_toParkingSpots(state, words, q, size, later);
            break;  // the first parking list is the airport's
        }
        q += size / 4;
    }
    return result;
}

// The airport records decoded so far, as word ranges [begin, end) by begin; they never overlap.
class DecodedRecords {
public:
    // Takes the range unless it overlaps one taken before.
    bool take(std::uint64_t begin, std::uint64_t end) {
        const auto next = m_ranges.lower_bound(begin);
        if (next != m_ranges.end() && next->first < end) return false;
        if (next != m_ranges.begin() && std::prev(next)->second > begin) return false;
        m_ranges.emplace_hint(next, begin, end);
        return true;
    }

private:
    std::map<std::uint64_t, std::uint64_t> m_ranges;
};

// What one file's walks share: `seen` marks record starts (bit 0) and subsection headers (bit 1) walked
// already, so that sections or subsections of a corrupt file that point at the same records walk them once;
// `decoded` keeps an airport record that overlaps one decoded already (reached through another subsection
// at another start) from decoding the same subrecords again. Each word is decoded at most once.
struct FileWalk {
    const BglWords& words;
    const std::string& path;
    const std::function<void(BglAirport&)>& take;
    std::vector<std::uint8_t> seen;
    DecodedRecords decoded;
};

// The records of one subsection, words [begin, end).
void lf_walkAirportRecords(FileWalk& walk, std::uint64_t begin, std::uint64_t end) {
    const BglWords& words = walk.words;
    std::uint64_t p = begin;
    while (p + 2 <= end) {
        if (walk.seen[p] & 1) return;
        walk.seen[p] |= 1;
        const std::uint16_t id = words.headerId(p);
        const std::uint32_t size = words.headerSize(p);
        if (size < 4 || size > (end - p) * 4) return;  // no progress, or a record beyond its subsection
        const std::uint64_t s = size / 4;
        if ((id == kAirport || id == kAirportLater) && s > 10) {
            auto [ident, valid] = lf_decodeIdentifierOrRegionCode(words.at(p + 10));
            if (valid && walk.decoded.take(p, p + s)) {
                BglAirport airport = lf_processAirportRecord(words, p, s, id == kAirportLater, ident, walk.path);
                walk.take(airport);
            }
        }
        p += s;
    }
}

// ---- Archive lookup and generation ----

fs::path lf_generatedFolder(const std::string& publisher) {
    return publisher == "simaddon" ? g_myOrbxFolder : g_myThirdpartyFolder;
}

// Whether the scan may write the stand file or pointer file of `ident` at `target`: its folder is there (a
// first scan makes "airports" too) and the user has no file of that airport there. `writes`: what the scan
// writes of the airport, which a file that was there before a scan without a list must be to be the scan's.
bool lf_readyToWrite(const fs::path& target, const std::string& ident, const ScanWrites& writes) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
        gf_addScanLogLine(fmt::format("{}{} could not be made ({}), the scan's stands of {} not written", kWarn,
                                      target.parent_path().string(), ec.message(), ident));
        return false;
    }
    if (const std::optional<fs::path> user = gf_claimScanFile(target, writes)) {
        gf_addScanLogLine(fmt::format("{} is the user's, the scan's stands of {} not written", user->string(), ident));
        return false;
    }
    return true;
}

std::string lf_simaddonArchiveRef(const std::string& ident) {
    return std::string("archive/") + "simaddon" + "/" + lf_apfFileName(ident);
}

std::string lf_thirdPartyArchiveRef(const std::string& publisher, const std::string& ident) {
    std::string escaped = publisher;
    gf_replaceAll(escaped, " ", "%20");
    return "archive/thirdparty/" + escaped + "/" + lf_apfFileName(ident);
}

// What the archive says of an airport: whether it covers it (the reference its pointer file names), its
// archived stand count, and the scan-log line of an airport it does not have.
struct ArchiveLink {
    bool covered = false;
    std::int32_t archived = 0;
    std::string reference;
    std::string missing;
};

ArchiveLink lf_lookUpArchive(const ApfAirport& airport) {
    std::lock_guard lock(g_apfArchiveMutex);
    ArchiveLink link;
    const std::string& ident = airport.ident;
    const std::string& publisher = airport.publisher;
    if (publisher == "simaddon") {
        link.reference = lf_simaddonArchiveRef(ident);
        link.covered = g_simAddonAirports.contains(ident);
        if (!link.covered) link.missing = fmt::format("{} does not exist as simaddon", ident);
    } else if (publisher != "unknown") {
        link.reference = lf_thirdPartyArchiveRef(publisher, ident);
        for (const ThirdPartyAirports& entry : g_thirdPartyAirports) {
            if (entry.publisher != publisher) continue;
            const auto it = std::find_if(entry.airports.begin(), entry.airports.end(), [&](const std::string& text) {
                return gf_matchPrefixedNumber(publisher, ident, link.archived, text);
            });
            if (it != entry.airports.end()) {
                link.covered = true;
                break;
            }
        }
        if (!link.covered) link.missing = fmt::format("thirdparty {} {} does not exist", publisher, ident);
    }
    return link;
}

// Writes the pointer file of an airport the archive covers; true when it was written.
bool lf_linkArchivedAirport(const ApfAirport& airport, const ArchiveLink& link, const ScanWrites& writes) {
    if (!link.missing.empty()) gf_addScanLogLine(link.missing);
    if (!link.covered) return false;
    std::lock_guard lock(g_apfArchiveMutex);
    const bool orbx = airport.publisher == "simaddon";
    const fs::path target = (orbx ? g_myOrbxFolder : g_myThirdpartyFolder) / lf_apfPointerPath(airport.ident);
    if (!lf_readyToWrite(target, airport.ident, writes) || !gf_writeFile(link.reference, target, true)) return false;
    gf_addScanLogLine(orbx ? fmt::format("{} airport {} linked to {}", "simaddon", airport.ident, link.reference)
                           : fmt::format("thirdparty airport {} linked to {}", airport.ident, link.reference));
    g_addOnAirportFound.exchange(true);
    return true;
}

void lf_takePublisher(ApfAirport& airport, const std::string& path) {
    std::lock_guard lock(g_apfArchiveMutex);
    airport.bglPath = path;
    airport.publisher = gf_publisherFromFilename(path);
}

// The generated stand file of the airport, its stands in the order of their ids.
StandFile lf_generatedStandFile(const ApfAirport& airport) {
    StandFile file;
    file.mode = StandFileMode::full;
    file.airportName = airport.name;
    file.publisher = airport.publisher;
    file.altitude = airport.altitude;
    file.qfReal = airport.qfReal;
    file.qfSoft = airport.qfSoft;
    file.bglPath = airport.bglPath;
    file.stands = airport.stands;
    return file;
}

bool lf_generateAirportFile(const ApfAirport& airport, std::uint32_t helipadCounter, const ScanWrites& writes) {
    if (airport.stands.empty()) return false;
    const fs::path target = lf_generatedFolder(airport.publisher) / lf_apfPath(airport.ident);
    if (!lf_readyToWrite(target, airport.ident, writes)) return false;
    std::string line = fmt::format("Generated {}: {} position{}", lf_apfFileName(airport.ident),
                                   airport.stands.size(), gf_pluralSuffix(std::uint64_t{airport.stands.size()}));
    if (helipadCounter >= 2) {
        line += fmt::format(", of which {} helipad{}", helipadCounter - 1,
                            gf_pluralSuffix(std::uint64_t{helipadCounter - 1}));
    }
    gf_addScanLogLine(line);
    if (gf_writeApf(lf_generatedStandFile(airport), target)) {
        g_addOnAirportFound.exchange(true);
        return true;
    }
    gf_addScanLogLine(fmt::format("{}Generating {} did not succeed", kWarn, target.string()));
    return false;
}

// Archive lookup, the record's own scan-log lines, the count comparison and the stand file.
bool lf_publishAirport(BglAirport& record, const std::string& path) {
    ApfAirport& airport = record.airport;
    lf_takePublisher(airport, path);
    std::sort(airport.stands.begin(), airport.stands.end(),
              [](const ParkPos& a, const ParkPos& b) { return a.id < b.id; });
    const ArchiveLink link = lf_lookUpArchive(airport);
    const auto count = static_cast<std::int64_t>(airport.stands.size());
    const bool more = count > link.archived && airport.publisher != "simaddon";
    // What the scan writes of the airport, for files of it that were there before a scan without a list.
    const fs::path file = lf_generatedFolder(airport.publisher) / lf_apfPath(airport.ident);
    ScanWrites writes;
    if (gf_unprovenScanFileOf(file)) {
        if (link.covered) writes.pointer = link.reference;
        if (!airport.stands.empty() && (!link.covered || more))
            writes.standFile = gf_writeStandFileText(lf_generatedStandFile(airport));
    }
    // An airport the user keeps a file of is theirs: no pointer file and no stand file of the scan beside it.
    const bool theScans = lf_readyToWrite(file, airport.ident, writes);
    const bool covered = theScans && lf_linkArchivedAirport(airport, link, writes);
    for (const std::string& line : record.scanLog) gf_addScanLogLine(line);
    if (!theScans) return false;
    if (more) {
        gf_addScanLogLine(
            fmt::format("{}{} has {} parkpos while archived one has {}", kWarn, airport.ident, count, link.archived));
    }
    if (covered && !more) return false;
    return lf_generateAirportFile(airport, record.helipadCounter, writes);
}

}  // namespace

bool lf_isBglExtension(std::string_view extension) { return extension == ".BGL" || extension == ".bgl"; }

bool lf_bglHasAirportSection(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 15) return false;
    // Only the header and the section table are read, as words like the whole file is when decoded.
    const auto readWords = [&in](std::streamoff offset, std::size_t bytes) {
        std::vector<std::uint8_t> buffer(bytes, 0);
        in.clear();
        in.seekg(offset);
        in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(bytes));
        return gf_bglWords(buffer);
    };
    const std::uint64_t sections = readWords(0, kHeaderSize)[5];
    if (sections == 0 || size <= static_cast<std::streamoff>(kHeaderSize + 20 * sections)) return false;
    const std::vector<std::uint32_t> table = readWords(kHeaderSize, 20 * sections);
    for (std::uint64_t i = 0; i < sections; ++i)
        if (table[5 * i] == kAirportSection) return true;
    return false;
}

std::optional<std::vector<std::uint32_t>> gf_readBglWords(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    const std::streamoff size = in.tellg();
    if (size < 0) return std::nullopt;
    in.seekg(0);
    std::vector<std::uint32_t> words((static_cast<std::size_t>(size) + 3) / 4, 0u);
    in.read(reinterpret_cast<char*>(words.data()), size);
    if (in.gcount() != size) throw std::runtime_error("cannot read " + path.string());
    if constexpr (std::endian::native == std::endian::big) {
        for (std::uint32_t& w : words) w = __builtin_bswap32(w);
    }
    return words;
}

std::vector<std::uint32_t> gf_bglWords(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint32_t> words((bytes.size() + 3) / 4, 0u);
    for (std::size_t i = 0; i < bytes.size(); ++i) words[i / 4] |= std::uint32_t{bytes[i]} << (8 * (i % 4));
    return words;
}

std::vector<BglAirport> gf_decodeBglAirports(std::span<const std::uint32_t> words, const std::string& path) {
    std::vector<BglAirport> airports;
    gf_forEachBglAirport(words, path, [&airports](BglAirport& airport) { airports.push_back(std::move(airport)); });
    return airports;
}

void gf_forEachBglAirport(std::span<const std::uint32_t> span, const std::string& path,
                          const std::function<void(BglAirport&)>& take) {
    const BglWords words(span);
    if (words.size() < 15 || words.at(1) != kHeaderSize) return;
    FileWalk walk{words, path, take, std::vector<std::uint8_t>(words.size(), 0), {}};
    std::vector<std::uint8_t>& seen = walk.seen;
    const std::uint64_t sections = words.at(5);
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t entry = 14 + 5 * i;
        if (entry + 5 > words.size()) break;  // the table runs past the file
        if (words.at(entry) != kAirportSection || (words.at(entry + 1) & kWideSubsectionHeaders) != 0) continue;
        // Beyond where the first subsection's records start, the walk uses two more fields of the format to
        // stay inside the airport section's own records: the third word of the section entry is the number
        // of its subsections (whose 16-byte headers follow one another from the offset in the fourth word),
        // and the fourth word of a subsection header is the size in bytes of that subsection's records, which
        // start at the offset in its third word (in the simulator SDK's compiled files that size is exactly the
        // sum of the subsection's record sizes). Whatever follows in the file is never read as airports.
        const std::uint64_t subsections = words.at(entry + 2);
        const std::uint64_t headers = words.at(entry + 3) / 4;
        for (std::uint64_t k = 0; k < subsections; ++k) {
            const std::uint64_t h = headers + 4 * k;
            if (h + 4 > words.size() || (seen[h] & 2)) break;
            seen[h] |= 2;
            const std::uint64_t begin = words.at(h + 2) / 4;
            const std::uint64_t end =
                std::min<std::uint64_t>(words.size(), (std::uint64_t{words.at(h + 2)} + words.at(h + 3)) / 4);
            lf_walkAirportRecords(walk, begin, end);
        }
    }
}

std::pair<std::string, bool> lf_decodeIdentifierOrRegionCode(std::uint32_t packed) {
    std::string text;
    bool blank = false;
    const std::uint32_t value = packed >> 5;
    if (value < 38) return {text, false};
    try {
        for (std::uint32_t rest = value; rest > 0; rest /= 38) {
            const std::uint32_t digit = rest % 38;
            if (digit == 0) {
                blank = true;
                text.push_back(' ');
            } else if (digit >= 2 && digit <= 11) {
                text.push_back(static_cast<char>('0' + digit - 2));
            } else {
                text.push_back(static_cast<char>(digit + 53));
            }
        }
    } catch (const std::exception&) {
        gf_logLine(fmt::format("! Exception in {}", "lf_decodeIdentifierOrRegionCode"));
    }
    std::reverse(text.begin(), text.end());
    return {text, text.size() == 4 && !blank};
}

std::string lf_parkingNameText(std::uint32_t nameCode) {
    static constexpr const char* kTexts[] = {"", "r", "p", "np", "ep", "sep", "sp", "swp", "wp", "nwp", "g", ""};
    if (nameCode < 12) return kTexts[nameCode];
    return std::string(1, static_cast<char>(nameCode + 53));
}

bool gf_matchPrefixedNumber(const std::string& publisher, const std::string& ident, std::int32_t& count,
                            const std::string& airportText) {
    if (airportText.compare(0, ident.size(), ident) != 0) return false;
    try {
        count = std::stoi(airportText.substr(std::min<std::size_t>(4, airportText.size())));
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("{} {} {} {}", publisher, ident, airportText, e.what()));
    }
    return true;
}

std::uint64_t lf_toParkingPositions(const fs::path& path) {
    const std::string pathText = path.string();
    std::uint64_t generated = 0;
    try {
        std::optional<std::vector<std::uint32_t>> words = gf_readBglWords(path);
        if (words) {
            if (words->size() < 2) throw std::out_of_range("BGL file shorter than its header");
            // One airport at a time: a file's stands are never all held at once.
            gf_forEachBglAirport(*words, pathText, [&](BglAirport& record) {
                if (lf_publishAirport(record, pathText)) ++generated;
            });
        }
    } catch (...) {
        gf_leaveThrottle();
        gf_logWarning(fmt::format("Exception in lf_toParkingPositions: {}", pathText));
        return generated;
    }
    gf_leaveThrottle();
    return generated;
}
