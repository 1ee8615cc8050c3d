// Text files in any encoding, string helpers and the UTF-8/UTF-16 conversions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace pugi {
class xml_document;
}

namespace win32 {

// A failed UTF-8/UTF-16 conversion, with the system error code of the original platform
// (1113: no mapping for the character in the target code page).
class Utf8ConversionException : public std::runtime_error {
public:
    Utf8ConversionException(const std::string& message, std::uint32_t errorCode);
    std::uint32_t errorCode() const noexcept { return m_errorCode; }

private:
    std::uint32_t m_errorCode;
};

inline constexpr std::uint32_t kErrorNoUnicodeTranslation = 1113;

std::string Utf16ToUtf8(std::u16string_view wide);

}  // namespace win32

std::u16string utf8ToUtf16(std::string_view utf8);

// Encoding codes of a text file, from its first two bytes.
enum TextEncoding : int {
    kEncodingPlain = 0,    // no byte-order mark, read unchanged
    kEncodingUtf16Le = 1,  // FF FE
    kEncodingUtf16Be = 2,  // FE FF
    kEncodingUtf8Bom = 3,  // EF BB
    kEncodingNoFile = 5,   // cannot be opened
};

int gf_detectEncoding(const std::filesystem::path& path);
// Both append the file's lines as UTF-8 to `lines`, each without its line end (LF or CR LF). Plain files
// keep their bytes; a UTF-8 mark is removed; UTF-16 lines are converted (a conversion error is shown on the
// status line and ends the reading at that line). True when the file could be opened. `complete`, when given,
// tells whether every line was read (false after a conversion error): a file to be rewritten needs all of them.
bool gf_readTextFileLines(int code, const std::filesystem::path& path, std::vector<std::string>& lines,
                          bool* complete = nullptr);
bool gf_readExtTextFileToStringVector(const std::filesystem::path& path, std::vector<std::string>& lines,
                                      bool* complete = nullptr);

std::optional<std::string> gf_readFile(const std::filesystem::path& path, std::size_t sizeHint = 0);
// Written to a temporary file beside the target and renamed over it. False when it could not be written.
bool gf_writeFile(std::string_view text, const std::filesystem::path& path, bool addLineEnd);
// The same; `reason` receives the system's reason when the file could not be written (none on success).
bool gf_writeFile(std::string_view text, const std::filesystem::path& path, bool addLineEnd, std::error_code& reason);
// Saves with pugixml's default output, atomically; logs "\"<path>\" saved" or "could not save to \"<path>\": "
// followed by the system's reason.
bool gf_saveXml(const pugi::xml_document& doc, const std::filesystem::path& path);
bool gf_saveXml(const pugi::xml_document& doc, const std::filesystem::path& path, std::error_code& reason);

// The roaming application-data folder, or an empty path (logged as a warning) when it cannot be found.
std::optional<std::filesystem::path> lf_getAppDataFolder();
std::filesystem::path gf_getAppDataPath();

std::string gf_pluralSuffix(std::uint64_t count);
std::string gf_pluralSuffix(std::int32_t count);
// The splits cut like std::getline: an empty text gives no part, a final delimiter no empty last part.
std::vector<std::string> gf_split(std::string_view text, char delimiter);  // each part trimmed
std::vector<std::string> gf_splitComma(std::string_view text);
std::list<std::string> gf_splitCommaToList(std::string_view text);
void gf_normaliseCommaList(std::string& text);
std::string gf_trim(std::string_view text);
bool gf_equalsUpper(std::string_view text, std::string_view other);
bool gf_matchUpToStar(std::string_view text, std::string_view other);
std::string gf_extractPath(std::string_view text);  // empty when either marker is missing
// Every `from` in the text by `to`, left to right; what a replacement put in is not searched again.
void gf_replaceAll(std::string& text, std::string_view from, std::string_view to);
std::string gf_banner(std::size_t count1, std::size_t count2, bool leadingLineEnd, bool trailingLineEnd,
                      std::string_view text);
std::string gf_formatNumber(float value);
double gf_randomPercent(double value, double percent);
void gf_shuffle(std::vector<std::string>& list);

// The thread's own 32-bit Mersenne Twister, seeded once per thread from the system's random source.
std::uint32_t gf_random32();
// Seeds the calling thread's generator, so that a test knows what it draws next (the names of temporary files
// among them).
void gf_seedRandom(std::uint32_t seed);
