#include "platform/registry.h"

#include "platform/names.h"

#include <fmt/format.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace winreg {

namespace {

// The texts Windows gives these codes; the host's own would call a corrupt registry file "Unknown error".
class RegistryCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "registry"; }
    std::string message(int code) const override {
        switch (code) {
            case kErrorFileNotFound: return "The system cannot find the file specified.";
            case kErrorMoreData: return "More data is available.";
            case kErrorBadDb: return "The configuration registry database is corrupt.";
            default: return std::system_category().message(code);
        }
    }
};

const std::error_category& lf_registryCategory() {
    static const RegistryCategory category;
    return category;
}

}  // namespace

RegException::RegException(int errorCode, const std::string& message)
    : std::system_error(errorCode, lf_registryCategory(), message) {}

namespace {

constexpr const char* kOpenFailed = "RegOpenKeyExW failed.";
constexpr const char* kValueFailed = "Cannot get size of string value: RegGetValueW failed.";

struct Value {
    enum class Kind { String, Dword, Other } kind = Kind::Other;
    std::string text;
    std::uint32_t dword = 0;
};

struct Key {
    std::unordered_map<std::string, Value> values;  // by case-folded value name; "" is the default value
};

struct HiveData {
    // By case-folded path below the hive's root; "" is the root. Only the keys the file names are stored: a
    // key's parents exist because a stored path starts with them (lf_keyExists), so that memory follows the
    // size of the file however deep its keys are. Ordered, so that a key's subtree is one run of entries.
    std::map<std::string, Key, std::less<>> keys;
    // Why the file was refused; empty when it was read.
    std::string error;
};

// Windows' own limits: a key name holds at most 255 characters, a key lies at most 512 levels deep, and
// a path goes through a counted string of at most 32767 characters. regedit never writes a key beyond
// them, so a file that does is damaged or made to harm; it is refused as a whole, with an error that says
// where, rather than read in part. Characters are counted as code points of the decoded text.
constexpr std::size_t kMaxKeyNameChars = 255;
constexpr std::size_t kMaxKeyDepth = 512;
constexpr std::size_t kMaxKeyPathChars = 32767;

// ---- decoding -------------------------------------------------------------------------------------------

void lf_appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Unpaired surrogates become U+FFFD: a damaged file should still give us its readable parts.
std::string lf_utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    const std::size_t n = bytes.size() & ~std::size_t{1};
    for (std::size_t i = 0; i < n; i += 2) {
        std::uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                lf_appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
        lf_appendUtf8(out, u);
    }
    return out;
}

// regedit 5 writes UTF-16 LE with a BOM; REGEDIT4 files and hand-made ones are taken as UTF-8.
std::string lf_decode(const std::string& raw) {
    std::string_view v(raw);
    if (v.size() >= 2 && v[0] == '\xFF' && v[1] == '\xFE') return lf_utf16ToUtf8(v.substr(2), false);
    if (v.size() >= 2 && v[0] == '\xFE' && v[1] == '\xFF') return lf_utf16ToUtf8(v.substr(2), true);
    if (v.size() >= 3 && v.substr(0, 3) == "\xEF\xBB\xBF") return std::string(v.substr(3));
    // A UTF-16 LE file that lost its BOM still starts with an ASCII letter followed by a zero byte.
    if (v.size() >= 2 && v[0] != '\0' && v[1] == '\0') return lf_utf16ToUtf8(v, false);
    return raw;
}

// One line at a time, without its line end: a vector of every line would cost more than the text itself
// for a file of empty lines. Counts the lines, so that an error can say where.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) : m_text(text) {}

    bool next(std::string_view& line) {
        if (m_start > m_text.size()) return false;
        std::size_t end = m_text.find('\n', m_start);
        if (end == std::string_view::npos) end = m_text.size();
        line = m_text.substr(m_start, end - m_start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        m_start = end + 1;
        ++m_number;
        return true;
    }
    std::size_t number() const { return m_number; }

private:
    std::string_view m_text;
    std::size_t m_start = 0;
    std::size_t m_number = 0;
};

// ---- parsing --------------------------------------------------------------------------------------------

std::string_view lf_trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Folded key path without surrounding backslashes, so that "A\B\" and "a\b" name the same key.
std::string lf_keyPath(std::string_view path) {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return platform::asciiLowerCopy(path);
}

// A quoted string starting at s[pos] == '"'. regedit escapes only backslash and double quote; any other
// backslash is kept as written, which keeps hand-typed single-backslash paths intact. Returns false when
// the closing quote is missing.
bool lf_quoted(std::string_view s, std::size_t& pos, std::string& out) {
    out.clear();
    ++pos;
    while (pos < s.size()) {
        const char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) {
            out += s[pos + 1];
            pos += 2;
            continue;
        }
        out += c;
        ++pos;
    }
    return false;
}

bool lf_startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && platform::equalsNoCase(s.substr(0, prefix.size()), prefix);
}

bool lf_rootIs(std::string_view root, Hive hive) {
    if (hive == Hive::LocalMachine)
        return platform::equalsNoCase(root, "HKEY_LOCAL_MACHINE") || platform::equalsNoCase(root, "HKLM");
    return platform::equalsNoCase(root, "HKEY_CURRENT_USER") || platform::equalsNoCase(root, "HKCU");
}

// What makes a key path (below the hive's root) break the limits above; empty when it keeps them.
std::string lf_keyPathProblem(std::string_view path) {
    std::size_t chars = 0;
    std::size_t nameChars = 0;
    std::size_t levels = path.empty() ? 0 : 1;
    for (const char c : path) {
        if ((static_cast<unsigned char>(c) & 0xC0) == 0x80) continue;  // inside a character
        if (++chars > kMaxKeyPathChars)
            return fmt::format("a key path longer than {} characters", kMaxKeyPathChars);
        if (c == '\\') {
            nameChars = 0;
            if (++levels > kMaxKeyDepth) return fmt::format("a key more than {} levels deep", kMaxKeyDepth);
        } else if (++nameChars > kMaxKeyNameChars) {
            return fmt::format("a key name longer than {} characters", kMaxKeyNameChars);
        }
    }
    return {};
}

bool lf_keyExists(const HiveData& data, std::string_view path) {
    if (data.keys.find(path) != data.keys.end()) return true;
    const std::string prefix = std::string(path) + '\\';
    const auto below = data.keys.lower_bound(prefix);
    return below != data.keys.end() && below->first.starts_with(prefix);
}

// The key and everything below it. Its parent stays, as regedit leaves it, even when it existed only
// through the deleted key.
void lf_deleteKeyTree(HiveData& data, const std::string& path) {
    const auto slash = path.rfind('\\');
    const std::string parent = slash == std::string::npos ? std::string() : path.substr(0, slash);
    const bool parentExisted = lf_keyExists(data, parent);
    data.keys.erase(path);
    const std::string prefix = path + '\\';
    const auto first = data.keys.lower_bound(prefix);
    auto last = first;
    while (last != data.keys.end() && last->first.starts_with(prefix)) ++last;
    data.keys.erase(first, last);
    if (parentExisted) data.keys.try_emplace(parent);
}

// Only the keys below the hive's own root are taken; a file may hold other roots, which we ignore.
HiveData lf_parse(const std::string& text, Hive hive) {
    HiveData data;
    data.keys[""];
    LineCursor cursor(text);
    Key* current = nullptr;

    for (std::string_view raw; cursor.next(raw);) {
        const std::string_view line = lf_trim(raw);
        if (line.empty() || line.front() == ';') continue;

        if (line.front() == '[') {
            current = nullptr;
            const auto close = line.rfind(']');
            if (close == std::string_view::npos) continue;
            std::string_view inner = line.substr(1, close - 1);
            const bool remove = !inner.empty() && inner.front() == '-';
            if (remove) inner.remove_prefix(1);
            const auto slash = inner.find('\\');
            const std::string_view root = inner.substr(0, slash);
            const std::string path =
                lf_keyPath(slash == std::string_view::npos ? std::string_view{} : inner.substr(slash + 1));
            // Checked for every root: a file with such a line is damaged wherever the line points.
            if (std::string problem = lf_keyPathProblem(path); !problem.empty()) {
                HiveData refused;
                refused.keys[""];
                refused.error = fmt::format("line {}: {}", cursor.number(), problem);
                return refused;
            }
            if (!lf_rootIs(root, hive)) continue;
            if (remove) {
                if (path.empty()) {
                    data.keys.clear();
                    data.keys[""];
                } else {
                    lf_deleteKeyTree(data, path);
                }
                continue;
            }
            current = &data.keys[path];
            continue;
        }

        if (line.front() != '"' && line.front() != '@') continue;  // the header line or something unknown

        std::size_t pos = 0;
        std::string name;
        if (line.front() == '@') {
            pos = 1;
        } else if (!lf_quoted(line, pos, name)) {
            continue;
        }
        std::string_view rest = lf_trim(line.substr(pos));
        if (rest.empty() || rest.front() != '=') continue;
        rest = lf_trim(rest.substr(1));

        Value value;
        bool remove = false;
        if (!rest.empty() && rest.front() == '"') {
            std::size_t p = 0;
            if (!lf_quoted(rest, p, value.text)) continue;
            value.kind = Value::Kind::String;
        } else if (lf_startsWithNoCase(rest, "dword:")) {
            const std::string_view digits = rest.substr(6);
            if (digits.empty() || digits.size() > 8) continue;
            std::uint32_t n = 0;
            bool ok = true;
            for (char c : digits) {
                const char l = platform::asciiLower(c);
                if (l >= '0' && l <= '9')
                    n = n * 16 + static_cast<std::uint32_t>(l - '0');
                else if (l >= 'a' && l <= 'f')
                    n = n * 16 + static_cast<std::uint32_t>(l - 'a' + 10);
                else
                    ok = false;
            }
            if (!ok) continue;
            value.kind = Value::Kind::Dword;
            value.dword = n;
        } else if (lf_startsWithNoCase(rest, "hex")) {
            // Binary and the other typed values are not needed; step over their continuation lines.
            std::string_view tail = rest;
            while (!tail.empty() && tail.back() == '\\' && cursor.next(tail)) tail = lf_trim(tail);
            value.kind = Value::Kind::Other;
        } else if (rest == "-") {
            remove = true;
        } else {
            continue;
        }

        if (current == nullptr) continue;
        const std::string folded = platform::asciiLowerCopy(name);
        if (remove)
            current->values.erase(folded);
        else
            current->values[folded] = std::move(value);
    }
    return data;
}

// ---- files and cache ------------------------------------------------------------------------------------

fs::path lf_hiveFile(Hive hive) {
    const char* dir = std::getenv("ZNTV_REGISTRY_DIR");
    const fs::path folder = (dir != nullptr && *dir != '\0') ? fs::path(dir) : fs::path("registry");
    fs::path file = folder / (hive == Hive::LocalMachine ? "machine.reg" : "user.reg");
    std::error_code ec;
    fs::path abs = fs::absolute(file, ec);
    return ec ? file : abs;
}

struct FileStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

FileStamp lf_stamp(const fs::path& p) {
    struct stat st {};
    FileStamp s;
    if (::stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
    s.ctimeNs = std::int64_t{st.st_ctim.tv_sec} * 1'000'000'000 + st.st_ctim.tv_nsec;
    return s;
}

struct CacheEntry {
    FileStamp stamp;
    std::shared_ptr<const HiveData> data;
};

// Function-local, not namespace-scope: the simulator detection runs while the program's globals are being
// built, possibly before this file's own globals would be.
struct Cache {
    std::mutex mutex;
    std::map<std::string, CacheEntry> entries;
};

Cache& lf_cache() {
    static Cache cache;
    return cache;
}

// Parsed again only when the file changed (inode, size, change or modification time).
std::shared_ptr<const HiveData> lf_load(Hive hive) {
    const fs::path file = lf_hiveFile(hive);
    const FileStamp stamp = lf_stamp(file);
    Cache& cache = lf_cache();
    std::lock_guard lock(cache.mutex);
    const std::string cacheKey = file.string() + (hive == Hive::LocalMachine ? "|m" : "|u");
    auto it = cache.entries.find(cacheKey);
    if (it != cache.entries.end() && it->second.stamp == stamp) return it->second.data;

    std::string raw;
    if (stamp.exists) {
        std::ifstream in(file, std::ios::binary);
        raw.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    HiveData parsed = lf_parse(lf_decode(raw), hive);
    if (!parsed.error.empty()) parsed.error = fmt::format("{} {}; the file is not read", file.string(), parsed.error);
    auto data = std::make_shared<const HiveData>(std::move(parsed));
    cache.entries[cacheKey] = CacheEntry{stamp, data};
    return data;
}

const Value* lf_findValue(const HiveData& data, const std::string& keyPath, const std::string& valueName) {
    const auto key = data.keys.find(keyPath);
    if (key == data.keys.end()) return nullptr;
    const auto value = key->second.values.find(platform::asciiLowerCopy(valueName));
    return value == key->second.values.end() ? nullptr : &value->second;
}

}  // namespace

RegKey RegKey::Open(Hive hive, const std::string& subKey) {
    const std::string path = lf_keyPath(subKey);
    const auto data = lf_load(hive);
    if (!data->error.empty()) throw RegException(kErrorBadDb, fmt::format("{} {}", kOpenFailed, data->error));
    if (!lf_keyExists(*data, path)) throw RegException(kErrorFileNotFound, kOpenFailed);
    return RegKey(hive, path);
}

std::string RegKey::GetStringValue(const std::string& valueName) const {
    const auto data = lf_load(m_hive);
    if (!data->error.empty()) throw RegException(kErrorBadDb, fmt::format("{} {}", kValueFailed, data->error));
    const Value* v = lf_findValue(*data, m_path, valueName);
    if (v == nullptr || v->kind != Value::Kind::String) throw RegException(kErrorFileNotFound, kValueFailed);
    return v->text;
}

std::optional<unsigned long> RegKey::GetDwordValue(const std::string& valueName) const {
    const auto data = lf_load(m_hive);
    const Value* v = lf_findValue(*data, m_path, valueName);
    if (v == nullptr || v->kind != Value::Kind::Dword) return std::nullopt;
    return v->dword;
}

}  // namespace winreg
