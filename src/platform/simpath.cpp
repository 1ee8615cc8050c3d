#include "platform/simpath.h"

#include "platform/names.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {
namespace {

bool lf_isSep(char c) { return c == '\\' || c == '/'; }
bool lf_isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Wine keeps one link per drive, "dosdevices/c:"; ZNTV_DOSDEVICES names the folder that holds
// "dosdevices" (the Wine prefix). Pointing it at the dosdevices folder itself works too, since that is an
// easy mistake to make with a variable of that name.
std::optional<fs::path> lf_driveRoot(char letter) {
    const char* env = std::getenv("ZNTV_DOSDEVICES");
    if (env == nullptr || *env == '\0') return std::nullopt;
    const std::string link{asciiLower(letter), ':'};
    const fs::path folder(env);
    for (const fs::path& candidate : {folder / "dosdevices" / link, folder / link}) {
        std::error_code ec;
        fs::path root = fs::canonical(candidate, ec);
        if (!ec && fs::is_directory(root, ec)) return root;
    }
    return std::nullopt;
}

// The entry of dir named like comp: the exact name when it exists, else the one that differs only in
// ASCII case (the smallest such name, so that the choice does not depend on directory order), else comp as
// written. Once an entry is missing, nothing below it can be found, so searching stops.
fs::path lf_step(const fs::path& dir, const std::string& comp, bool& searching) {
    fs::path exact = dir / comp;
    if (!searching) return exact;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(exact, ec))) return exact;

    std::string best;
    const fs::path scan = dir.empty() ? fs::path(".") : dir;
    for (fs::directory_iterator it(scan, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (equalsNoCase(name, comp) && (best.empty() || name < best)) best = std::move(name);
    }
    if (best.empty()) {
        searching = false;
        return exact;
    }
    return dir / best;
}

}  // namespace

std::optional<fs::path> mapSimPath(std::string_view windowsPath, const fs::path& base) {
    std::string_view p = windowsPath;

    // "\\?\C:\..." and "\\.\C:\..." are plain drive paths in disguise; every other path that starts with
    // two separators names a server or a device, which we cannot reach.
    if (p.size() >= 2 && lf_isSep(p[0]) && lf_isSep(p[1])) {
        if (p.size() >= 4 && (p[2] == '?' || p[2] == '.') && lf_isSep(p[3])) {
            p.remove_prefix(4);
            if (!(p.size() >= 2 && lf_isLetter(p[0]) && p[1] == ':')) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }

    fs::path cur;
    fs::path floor;  // ".." never climbs above this (a drive root, as on Windows)
    if (p.size() >= 2 && lf_isLetter(p[0]) && p[1] == ':') {
        auto root = lf_driveRoot(p[0]);
        if (!root) return std::nullopt;
        cur = floor = *root;
        // "C:foo" would be relative to that drive's current folder, which we do not have; its root is the
        // closest we can get.
        p.remove_prefix(2);
    } else if (!p.empty() && lf_isSep(p[0])) {
        // Rooted without a drive: this is how a path typed on this machine looks ("/opt/p3d").
        cur = floor = fs::path("/");
    } else {
        cur = base;
        if (!cur.empty() && !cur.has_filename() && cur != cur.root_path()) cur = cur.parent_path();
        floor = cur.root_path();
    }

    bool searching = true;
    std::size_t pos = 0;
    while (pos < p.size()) {
        std::size_t end = pos;
        while (end < p.size() && !lf_isSep(p[end])) ++end;
        const std::string comp(p.substr(pos, end - pos));
        pos = end + 1;
        if (comp.empty() || comp == ".") continue;
        if (comp == "..") {
            if (cur.empty() || cur.filename() == "..")
                cur /= "..";
            else if (cur != floor)
                cur = cur.parent_path();
            // Windows resolves ".." by text, so a missing folder followed by ".." is no dead end.
            searching = true;
            continue;
        }
        cur = lf_step(cur, comp, searching);
    }
    return cur;
}

}  // namespace platform
