// The test that tells, when the last scan left no list, whether a file of the scan's folders is the scan's: it
// is only when the scan writes the same now. Any bytes under either name are judged without a crash, and a
// file taken for the scan's (which the scan then writes over) says nothing that the scan's own text does not:
// the same text from the end of its meta block, read as a stand file the same stands and parameters, and
// none of the marks of a file the user made (hand-made, learned, options, manual stands).
// Input: a flag byte (bit 0: the pointer of my_ORBX, bit 1: a pointer file, bit 2: the scan writes a fixed
// generated file, else the generated file that it would write of the stands the input holds), then the file's
// bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "airports/scan_log.h"
#include "airports/stand_file.h"

namespace {

// The generated file of the airport, as the scan writes it (full mode), with the meta block of now.
std::string lf_generated(const StandFile& read) {
    StandFile file;
    file.mode = StandFileMode::full;
    file.airportName = read.airportName;
    file.publisher = read.publisher;
    file.altitude = read.altitude;
    file.bglPath = read.bglPath;
    for (const ParkPos& stand : read.stands)
        if (stand.latitude != 0.0 || stand.longitude != 0.0) file.stands.push_back(stand);
    for (ParkPos& stand : file.stands) stand.manual = 0;
    return gf_writeStandFileText(file);
}

StandFile lf_fixed() {
    StandFile file;
    file.airportName = "Generated Field";
    file.publisher = "unknown";
    file.altitude = -11;
    file.bglPath = "scenery/AP_EHXX.bgl";
    file.stands.emplace_back("A1", std::vector<ParkPosOption>{}, 52.308056, 4.763889, 359.9 * 0.017453292519943295,
                             30.0, false, true, false);
    file.stands.emplace_back("H1", std::vector<ParkPosOption>{}, 52.31, 4.77, 0.0, 12.3, false, false, true);
    return file;
}

std::string_view lf_pastMeta(std::string_view text) {
    const std::size_t at = text.find("</meta>");
    return at == std::string_view::npos ? std::string_view() : text.substr(at);
}

// The stand file as the program reads it, written again: what it says.
std::string lf_says(std::string_view text) {
    StandFile file;
    std::string error;
    if (!gf_readStandFileText(text, 1, file, error)) std::abort();
    return std::string(lf_pastMeta(gf_writeStandFileText(file)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool orbx = (data[0] & 1) != 0;
    const bool pointer = (data[0] & 2) != 0;
    const std::filesystem::path name = pointer ? "EHAM.txt" : "EHAM.xml";
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::optional<std::string> written;
    if (pointer) {
        written = orbx ? "archive/simaddon/EHAM.xml" : "archive/thirdparty/Some%20Pub/EHAM.xml";
    } else if ((data[0] & 4) != 0) {
        written = gf_writeStandFileText(lf_fixed());
    } else {
        StandFile read;
        std::string error;
        if (gf_readStandFileText(text, 1, read, error)) written = lf_generated(read);
    }
    // Nothing to compare with: never the scan's.
    if (gf_isWhatTheScanWrites(text, name, std::nullopt)) std::abort();
    if (!gf_isWhatTheScanWrites(text, name, written)) return 0;
    if (pointer) {
        if (text != *written + "\n" && text != *written + "\r\n") std::abort();
        return 0;
    }
    if (lf_pastMeta(text).empty() || lf_pastMeta(text) != lf_pastMeta(*written)) std::abort();
    if (lf_says(text) != lf_says(*written)) std::abort();
    // Marks that no attribute value can hold: its quotes and angle brackets are written as entities.
    const std::string_view body = lf_pastMeta(text);
    for (const char* mark : {"name=\"handmade\"", "name=\"LATERAL_RANGE\"", "name=\"Qf_real\"", "<opt",
                             " manual=\"", " radius_change=\""})
        if (body.find(mark) != std::string_view::npos) std::abort();
    return 0;
}
