#include "frame/text.h"

#include <fmt/format.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "frame/display.h"
#include "frame/log.h"
#include "platform/folders.h"

namespace fs = std::filesystem;

namespace win32 {

Utf8ConversionException::Utf8ConversionException(const std::string& message, std::uint32_t errorCode)
    : std::runtime_error(message), m_errorCode(errorCode) {}

namespace {

void lf_checkLength(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX))
        throw Utf8ConversionException("Input string too long: size_t-length doesn't fit into int.", 0);
}

[[noreturn]] void lf_invalidUtf16() {
    throw Utf8ConversionException("Invalid UTF-16 sequence found in input string.", kErrorNoUnicodeTranslation);
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view wide) {
    std::string out;
    if (wide.empty()) return out;
    lf_checkLength(wide.size());
    out.reserve(wide.size() + wide.size() / 2);
    const std::size_t n = wide.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t c = wide[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0xD800 || c > 0xDFFF) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            // A surrogate must be a high one followed by a low one; anything else has no UTF-8 form.
            if (c > 0xDBFF || i + 1 >= n) lf_invalidUtf16();
            const std::uint32_t low = wide[i + 1];
            if (low < 0xDC00 || low > 0xDFFF) lf_invalidUtf16();
            ++i;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace win32

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    if (utf8.empty()) return out;
    win32::lf_checkLength(utf8.size());
    out.reserve(utf8.size());
    const auto invalid = [] {
        throw win32::Utf8ConversionException("Invalid UTF-8 sequence found in input string.",
                                             win32::kErrorNoUnicodeTranslation);
    };
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    const auto cont = [&](const unsigned char* q, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        if (q >= end || *q < lo || *q > hi) invalid();
        return static_cast<std::uint32_t>(*q & 0x3F);
    };
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            out.push_back(b);
            ++p;
        } else if (b >= 0xC2 && b <= 0xDF) {
            out.push_back(static_cast<char16_t>(((b & 0x1F) << 6) | cont(p + 1)));
            p += 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            // E0 would allow overlongs, ED the surrogates D800..DFFF: their second byte is narrowed.
            const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;
            const unsigned char hi = b == 0xED ? 0x9F : 0xBF;
            const std::uint32_t c1 = cont(p + 1, lo, hi);
            const std::uint32_t c2 = cont(p + 2);
            out.push_back(static_cast<char16_t>(((b & 0x0F) << 12) | (c1 << 6) | c2));
            p += 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            // F0 would allow overlongs, F4 code points above U+10FFFF.
            const unsigned char lo = b == 0xF0 ? 0x90 : 0x80;
            const unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;
            const std::uint32_t c1 = cont(p + 1, lo, hi);
            const std::uint32_t c2 = cont(p + 2);
            const std::uint32_t c3 = cont(p + 3);
            const std::uint32_t c = (((b & 0x07u) << 18) | (c1 << 12) | (c2 << 6) | c3) - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
            p += 4;
        } else {
            // A stray continuation byte, C0/C1 (always overlong) or F5..FF (beyond Unicode).
            invalid();
        }
    }
    return out;
}

namespace {

// The thread's generator: scan workers draw at the same time, each from its own.
std::mt19937& lf_generator() {
    thread_local std::mt19937 gen{std::random_device{}()};
    return gen;
}

// Opens a file for reading; a folder counts as a file that cannot be opened, as it does on Windows.
int lf_openForReading(const fs::path& path, struct stat& st) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// Reads up to `want` more bytes (or to the end when want is 0) onto out; false on a read error.
bool lf_readInto(int fd, std::string& out, std::size_t want) {
    char buffer[65536];
    for (;;) {
        const std::size_t chunk = want ? std::min(want, sizeof buffer) : sizeof buffer;
        const ssize_t n = ::read(fd, buffer, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        out.append(buffer, static_cast<std::size_t>(n));
        if (want) {
            want -= static_cast<std::size_t>(n);
            if (want == 0) return true;
        }
    }
}

// The whole file; false when it cannot be opened or read.
bool lf_readAllBytes(const fs::path& path, std::string& out, std::size_t sizeHint = 0) {
    struct stat st {};
    const int fd = lf_openForReading(path, st);
    if (fd < 0) return false;
    const auto size = static_cast<std::size_t>(std::max<off_t>(st.st_size, 0));
    out.clear();
    out.reserve(std::max(size, sizeHint) + 1);
    bool ok = true;
    if (size > 0) {
        // One read for the common case; a file that grew meanwhile is read on to its end.
        out.resize(size);
        std::size_t got = 0;
        while (got < size) {
            const ssize_t n = ::read(fd, out.data() + got, size - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        out.resize(got);
        if (ok && got == size) ok = lf_readInto(fd, out, 0);
    } else {
        ok = lf_readInto(fd, out, 0);
    }
    ::close(fd);
    return ok;
}

// Lines as std::getline gives them (no empty line after a final line end), each without a trailing CR:
// files from Windows end their lines with CR LF.
template <typename Char, typename OnLine>
void lf_forEachLine(std::basic_string_view<Char> data, OnLine onLine) {
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t nl = data.find(Char('\n'), start);
        const std::size_t stop = nl == std::basic_string_view<Char>::npos ? data.size() : nl;
        std::basic_string_view<Char> line = data.substr(start, stop - start);
        if (!line.empty() && line.back() == Char('\r')) line.remove_suffix(1);
        onLine(line);
        if (nl == std::basic_string_view<Char>::npos) break;
        start = nl + 1;
    }
}

void lf_appendNarrowLines(std::string_view data, std::vector<std::string>& lines) {
    lf_forEachLine<char>(data, [&](std::string_view line) { lines.emplace_back(line); });
}

// The bytes of a UTF-16 file as code units. The byte-order mark decides the order; without one the
// caller's code does. An odd last byte is no whole code unit and is dropped.
std::u16string lf_decodeUtf16Bytes(std::string_view bytes, bool littleEndian) {
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 == 0xFF && b1 == 0xFE) {
            littleEndian = true;
            bytes.remove_prefix(2);
        } else if (b0 == 0xFE && b1 == 0xFF) {
            littleEndian = false;
            bytes.remove_prefix(2);
        }
    }
    std::u16string units(bytes.size() / 2, u'\0');
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t i = 0; i < units.size(); ++i, p += 2)
        units[i] = littleEndian ? static_cast<char16_t>(p[0] | (p[1] << 8)) : static_cast<char16_t>((p[0] << 8) | p[1]);
    return units;
}

// Unique per writer, so that two threads saving the same file never share a temporary file.
fs::path lf_tempPathBeside(const fs::path& target) {
    fs::path tmp = target;
    tmp += fmt::format(".{:08x}.tmp", lf_generator()());
    return tmp;
}

// 0, or the errno of the write that failed.
int lf_writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// Written to a temporary file beside the target, synced and renamed over it: a crash or a full disk
// leaves the old file as it was, never a truncated one. The result is the system's reason of the first step
// that failed (read-only, no space, no permission, ...), none when the file was written.
std::error_code lf_writeAtomically(const fs::path& path, std::string_view a, std::string_view b = {}) {
    // The temporary name is one that no file holds: made exclusively, another one when it is taken. A file of
    // that name is not ours to write through (nor a link there to follow) and rename over the target.
    fs::path tmp = lf_tempPathBeside(path);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    for (int tries = 1; fd < 0 && errno == EEXIST && tries < 100; ++tries) {
        tmp = lf_tempPathBeside(path);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd < 0) return {errno, std::generic_category()};
    int error = lf_writeAll(fd, a);
    if (error == 0) error = lf_writeAll(fd, b);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    // A full disk may show itself only when the file is closed.
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) ::unlink(tmp.c_str());
    return {error, std::generic_category()};
}

}  // namespace

namespace {

// Each line is converted on its own: a bad line stops the reading there and keeps the lines before it.
void lf_utf16LinesToUtf8(std::u16string_view text, std::vector<std::string>& lines) {
    lf_forEachLine<char16_t>(text, [&](std::u16string_view line) { lines.push_back(win32::Utf16ToUtf8(line)); });
}

}  // namespace

int gf_detectEncoding(const fs::path& path) {
    struct stat st {};
    const int fd = lf_openForReading(path, st);
    if (fd < 0) {
        const int err = errno;
        gf_logLine(fmt::format("cannot open file {} for character encoding, err: {}", path.string(), err));
        return kEncodingNoFile;
    }
    std::string head;
    lf_readInto(fd, head, 2);
    ::close(fd);
    if (head.size() < 2) return kEncodingPlain;
    const auto b0 = static_cast<unsigned char>(head[0]), b1 = static_cast<unsigned char>(head[1]);
    if (b0 == 0xFF && b1 == 0xFE) return kEncodingUtf16Le;
    if (b0 == 0xFE && b1 == 0xFF) return kEncodingUtf16Be;
    if (b0 == 0xEF && b1 == 0xBB) return kEncodingUtf8Bom;
    return kEncodingPlain;
}

bool gf_readTextFileLines(int code, const fs::path& path, std::vector<std::string>& lines, bool* complete) {
    if (complete) *complete = false;
    if (code == kEncodingNoFile) return false;
    std::string bytes;
    if (!lf_readAllBytes(path, bytes)) return false;
    bool readAll = true;
    switch (code) {
        case kEncodingUtf16Le:
        case kEncodingUtf16Be:
            try {
                lf_utf16LinesToUtf8(lf_decodeUtf16Bytes(bytes, code == kEncodingUtf16Le), lines);
            } catch (const win32::Utf8ConversionException& e) {
                readAll = false;
                gf_showMessage(fmt::format("conversion from error from utf16 to utf8, code: {}", e.errorCode()), true);
            } catch (const std::exception& e) {
                readAll = false;
                gf_showMessage(fmt::format("conversion from error from utf16 to utf8: {}", e.what()), true);
            }
            break;
        case kEncodingUtf8Bom: {
            const std::size_t first = lines.size();
            lf_appendNarrowLines(bytes, lines);
            // The mark is three bytes, but the detection saw only two: a short file holds fewer.
            if (lines.size() > first) lines[first].erase(0, std::min<std::size_t>(3, lines[first].size()));
            break;
        }
        default:
            lf_appendNarrowLines(bytes, lines);
            break;
    }
    if (complete) *complete = readAll;
    return true;
}

bool gf_readExtTextFileToStringVector(const fs::path& path, std::vector<std::string>& lines, bool* complete) {
    if (complete) *complete = false;
    try {
        const int code = gf_detectEncoding(path);
        if (code == kEncodingNoFile) return false;
        return gf_readTextFileLines(code, path, lines, complete);
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("gf_readExtTextFileToStringVector {}", e.what()));
        return false;
    }
}

std::optional<std::string> gf_readFile(const fs::path& path, std::size_t sizeHint) {
    std::string bytes;
    if (!lf_readAllBytes(path, bytes, sizeHint) || bytes.empty()) return std::nullopt;
    return bytes;
}

bool gf_writeFile(std::string_view text, const fs::path& path, bool addLineEnd) {
    std::error_code reason;
    return gf_writeFile(text, path, addLineEnd, reason);
}

bool gf_writeFile(std::string_view text, const fs::path& path, bool addLineEnd, std::error_code& reason) {
    reason = lf_writeAtomically(path, text, addLineEnd ? std::string_view("\n") : std::string_view());
    return !reason;
}

bool gf_saveXml(const pugi::xml_document& doc, const fs::path& path) {
    std::error_code reason;
    return gf_saveXml(doc, path, reason);
}

bool gf_saveXml(const pugi::xml_document& doc, const fs::path& path, std::error_code& reason) {
    std::ostringstream out;
    doc.save(out);
    reason = out.good() ? lf_writeAtomically(path, out.view()) : std::make_error_code(std::errc::not_enough_memory);
    if (!reason)
        gf_logLine(fmt::format("\"{}\" saved", path.string()));
    else
        gf_logLine(fmt::format("could not save to \"{}\": {}", path.string(), reason.message()));
    return !reason;
}

std::optional<fs::path> lf_getAppDataFolder() { return platform::roamingAppDataFolder(); }

fs::path gf_getAppDataPath() {
    if (auto folder = lf_getAppDataFolder()) return *folder;
    gf_logWarning("Could not find the AppData path");
    return {};
}

std::string gf_pluralSuffix(std::uint64_t count) {
    // Counts from 2^63 on were negative numbers to the original signed test: no suffix for them either.
    return count == 1 || count >= (std::uint64_t{1} << 63) ? "" : "s";
}

std::string gf_pluralSuffix(std::int32_t count) { return count == 1 || count < 0 ? "" : "s"; }

namespace {

template <typename Out>
void lf_splitInto(std::string_view text, char delimiter, bool trim, Out& out) {
    // As std::getline splits: no part after a final delimiter, none at all for an empty text.
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t pos = text.find(delimiter, start);
        const std::size_t stop = pos == std::string_view::npos ? text.size() : pos;
        const std::string_view part = text.substr(start, stop - start);
        out.push_back(trim ? gf_trim(part) : std::string(part));
        if (pos == std::string_view::npos) break;
        start = pos + 1;
    }
}

}  // namespace

std::vector<std::string> gf_split(std::string_view text, char delimiter) {
    std::vector<std::string> parts;
    lf_splitInto(text, delimiter, true, parts);
    return parts;
}

std::vector<std::string> gf_splitComma(std::string_view text) {
    std::vector<std::string> parts;
    lf_splitInto(text, ',', false, parts);
    return parts;
}

std::list<std::string> gf_splitCommaToList(std::string_view text) {
    std::list<std::string> parts;
    lf_splitInto(text, ',', false, parts);
    return parts;
}

void gf_normaliseCommaList(std::string& text) {
    std::erase_if(text, [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}

std::string gf_trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\n\r";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

bool gf_equalsUpper(std::string_view text, std::string_view other) {
    return text.size() == other.size() &&
           std::equal(text.begin(), text.end(), other.begin(), [](char t, char o) {
               return t == static_cast<char>(std::toupper(static_cast<unsigned char>(o)));
           });
}

bool gf_matchUpToStar(std::string_view text, std::string_view other) {
    return text.substr(0, text.find('*')) == other;
}

void gf_replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) return;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::string gf_extractPath(std::string_view text) {
    constexpr std::string_view open = "<Path>", close = "</Path>";
    const std::size_t start = text.find(open);
    if (start == std::string_view::npos) return {};
    const std::size_t from = start + open.size();
    const std::size_t stop = text.find(close, from);
    if (stop == std::string_view::npos) return {};
    return std::string(text.substr(from, stop - from));
}

std::string gf_banner(std::size_t count1, std::size_t count2, bool leadingLineEnd, bool trailingLineEnd,
                      std::string_view text) {
    const std::size_t w = (count1 + count2 + 1) / 2 * 2;
    std::string result;
    if (text.empty()) {
        if (leadingLineEnd) result.push_back('\n');
        result.append(w, '*');
    } else if (text.size() + 2 < w) {
        // Written as text + 2 < w: with w below 2 the subtraction w - 2 would wrap around.
        const std::size_t stars = w / 2 - 1;
        if (leadingLineEnd) result.push_back('\n');
        result.append(stars, '*').append(" ").append(text).append(" ").append(stars, '*');
    } else {
        result.assign(text);
    }
    if (trailingLineEnd) result.push_back('\n');
    return result;
}

std::string gf_formatNumber(float value) {
    return value != std::trunc(value) ? fmt::format("{:.1F}", value) : fmt::format("{:.0f}", value);
}

double gf_randomPercent(double value, double percent) {
    if (percent <= 0) return value;
    const double delta = value * percent / 100.0;
    return gf_random32() % 2 == 0 ? value + delta : value - delta;
}

void gf_shuffle(std::vector<std::string>& list) {
    if (list.size() < 2) return;
    std::shuffle(list.begin(), list.end(), lf_generator());
}

std::uint32_t gf_random32() { return lf_generator()(); }

void gf_seedRandom(std::uint32_t seed) { lf_generator().seed(seed); }
