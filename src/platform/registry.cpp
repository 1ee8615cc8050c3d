#include "platform/registry.h"

#include "platform/names.h"

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
#include <vector>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace winreg {

RegException::RegException(int errorCode, const std::string& message)
    : std::system_error(errorCode, std::system_category(), message) {}

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
    std::unordered_map<std::string, Key> keys;  // by case-folded path below the hive's root; "" is the root
};

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

std::vector<std::string_view> lf_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

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

void lf_addKeyWithParents(HiveData& data, const std::string& path) {
    data.keys[""];
    for (std::size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1))
        data.keys[path.substr(0, pos)];
    data.keys[path];
}

void lf_deleteKeyTree(HiveData& data, const std::string& path) {
    const std::string prefix = path + '\\';
    for (auto it = data.keys.begin(); it != data.keys.end();) {
        if (it->first == path || it->first.compare(0, prefix.size(), prefix) == 0)
            it = data.keys.erase(it);
        else
            ++it;
    }
}

// Only the keys below the hive's own root are taken; a file may hold other roots, which we ignore.
HiveData lf_parse(const std::string& text, Hive hive) {
    HiveData data;
    data.keys[""];
    const auto lines = lf_lines(text);
    Key* current = nullptr;

    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lf_trim(lines[i]);
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
            if (!lf_rootIs(root, hive)) continue;
            const std::string path =
                lf_keyPath(slash == std::string_view::npos ? std::string_view{} : inner.substr(slash + 1));
            if (remove) {
                if (path.empty()) {
                    data.keys.clear();
                    data.keys[""];
                } else {
                    lf_deleteKeyTree(data, path);
                }
                continue;
            }
            lf_addKeyWithParents(data, path);
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
            while (!tail.empty() && tail.back() == '\\' && i + 1 < lines.size()) tail = lf_trim(lines[++i]);
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
    auto data = std::make_shared<const HiveData>(lf_parse(lf_decode(raw), hive));
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
    if (data->keys.find(path) == data->keys.end()) throw RegException(kErrorFileNotFound, kOpenFailed);
    return RegKey(hive, path);
}

std::string RegKey::GetStringValue(const std::string& valueName) const {
    const auto data = lf_load(m_hive);
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
