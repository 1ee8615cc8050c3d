// Airport stand files read from text: any input is read without a crash; every stand of the input (and in a
// learned file every option) is in the text written from it, read or carried; and what is read, written and
// read again stays the same when written and read once more.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <set>
#include <string_view>

#include "airports/stand_file.h"
#include "support/stand_entries.h"

namespace {

bool sameReal(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    if (a == b) return true;
    return std::fabs(a - b) <= 1e-9 * std::fmax(std::fabs(a), std::fabs(b));
}

bool sameOption(const ParkPosOption& a, const ParkPosOption& b) {
    return a.airline == b.airline && a.type == b.type && a.registration == b.registration &&
           a.callsign1 == b.callsign1 && a.callsign2 == b.callsign2 && a.halfHours == b.halfHours && a.id == b.id &&
           a.day == b.day && a.fromFile == b.fromFile && a.real == b.real;
}

bool sameStand(const ParkPos& a, const ParkPos& b) {
    if (a.id != b.id || a.manual != b.manual || a.radiusChanged != b.radiusChanged ||
        a.cargoChanged != b.cargoChanged || a.cargo != b.cargo || a.ramp != b.ramp || a.heli != b.heli)
        return false;
    if (!sameReal(a.latitude, b.latitude) || !sameReal(a.longitude, b.longitude) ||
        !sameReal(a.heading, b.heading) || !sameReal(a.radius, b.radius))
        return false;
    if (a.options.size() != b.options.size()) return false;
    for (std::size_t i = 0; i < a.options.size(); ++i)
        if (!sameOption(a.options[i], b.options[i])) return false;
    return true;
}

bool sameFile(const StandFile& a, const StandFile& b) {
    if (a.mode != b.mode || a.metaComplete != b.metaComplete || a.airportName != b.airportName ||
        a.publisher != b.publisher || a.handmade != b.handmade || a.altitude != b.altitude || a.qfReal != b.qfReal ||
        a.qfSoft != b.qfSoft || a.bglPath != b.bglPath || a.rtTrafficWeek != b.rtTrafficWeek ||
        !(a.settings == b.settings) || a.stands.size() != b.stands.size())
        return false;
    for (std::size_t i = 0; i < a.stands.size(); ++i)
        if (!sameStand(a.stands[i], b.stands[i])) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    StandFile first;
    std::string error;
    if (!gf_readStandFileText(text, 1, first, error)) return 0;

    const std::string written = gf_writeStandFileText(first);
    StandFile second;
    if (written.empty() || !gf_readStandFileText(written, 1, second, error)) std::abort();
    // Options go only into learned files.
    const bool options = first.mode == StandFileMode::learned;
    std::set<std::string> had, kept;
    pugi::xml_document input;
    input.load_buffer(text.data(), text.size());
    fuzz::addStandEntries(input, false, options, had);
    fuzz::addTextEntries(written, kept);
    for (const std::string& entry : had)
        if (!kept.contains(entry)) std::abort();
    const std::string rewritten = gf_writeStandFileText(second);
    StandFile third;
    if (rewritten.empty() || !gf_readStandFileText(rewritten, 1, third, error)) std::abort();
    if (!sameFile(second, third)) std::abort();
    return 0;
}
