#include "simlink/protocol/config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/folders.h"
#include "platform/registry.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxAddressChars = 1023;
constexpr std::size_t kMaxValueChars = 2047;

std::string lf_lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string lf_trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

// The file's text as UTF-8: the profile functions of the original platform read UTF-16 files with a
// byte-order mark as well as plain ones.
std::string lf_readIniText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    std::string raw = ss.str();
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
        std::string out;
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2) {
            unsigned c = static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8);
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += static_cast<char>(0xC0 | (c >> 6));
                out += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (c >> 12));
                out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return out;
    }
    if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
    return raw;
}

// The keys of one section (lower-case names), in file order; nullopt when the section has no entries.
std::optional<std::vector<std::pair<std::string, std::string>>> lf_readSection(const fs::path& path,
                                                                              const std::string& section) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return std::nullopt;
    std::istringstream in(lf_readIniText(path));
    std::string line;
    bool inside = false;
    std::vector<std::pair<std::string, std::string>> keys;
    std::string wanted = lf_lower(section);
    while (std::getline(in, line)) {
        std::string t = lf_trim(line);
        if (t.empty() || t[0] == ';') continue;
        if (t.front() == '[') {
            auto close = t.find(']');
            inside = close != std::string::npos && lf_lower(lf_trim(t.substr(1, close - 1))) == wanted;
            continue;
        }
        if (!inside) continue;
        auto eq = t.find('=');
        if (eq == std::string::npos) continue;
        std::string key = lf_lower(lf_trim(t.substr(0, eq)));
        std::string value = lf_trim(t.substr(eq + 1));
        if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                                  (value.front() == '\'' && value.back() == '\'')))
            value = value.substr(1, value.size() - 2);
        if (value.size() > kMaxValueChars) value.resize(kMaxValueChars);
        keys.emplace_back(std::move(key), std::move(value));
    }
    if (keys.empty()) return std::nullopt;
    return keys;
}

std::optional<std::string> lf_value(const std::vector<std::pair<std::string, std::string>>& keys,
                                    const std::string& name) {
    std::optional<std::string> found;
    for (const auto& [k, v] : keys)
        if (k == name) {
            found = v;
            break;  // the first entry of a key counts, as the profile functions read it
        }
    if (found && found->empty()) return std::nullopt;  // an empty value means absent
    return found;
}

long long lf_parseInt(const std::string& text) {
    long long v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(*b))) ++b;
    bool neg = false;
    if (b < e && (*b == '-' || *b == '+')) {
        neg = *b == '-';
        ++b;
    }
    std::from_chars(b, e, v);
    return neg ? -v : v;
}

void lf_applySection(ConnectionSettings& s, const std::vector<std::pair<std::string, std::string>>& keys,
                     const RegistryPortFn& registryPort) {
    if (auto protocol = lf_value(keys, "protocol")) {
        std::string p = lf_lower(*protocol);
        if (p == "auto" || p == "pipe") {
            s.protocol = SimProtocol::Pipe;
            s.explicitProtocol = false;
        } else if (p == "ipv4" || p == "ipv6") {
            s.protocol = p == "ipv4" ? SimProtocol::IPv4 : SimProtocol::IPv6;
            s.explicitProtocol = true;
            // A port that an earlier file set belongs to another protocol: take the simulator's own port of
            // this family instead; the section's "Port", read below, still decides.
            if (!s.port.empty() && registryPort)
                s.port = registryPort(p == "ipv4" ? AddressFamily::IPv4 : AddressFamily::IPv6);
        }
    }
    if (auto address = lf_value(keys, "address")) s.address = address->substr(0, kMaxAddressChars);
    if (auto port = lf_value(keys, "port")) s.port = port->substr(0, kMaxAddressChars);
    if (auto size = lf_value(keys, "maxreceivesize")) {
        long long v = lf_parseInt(*size);
        if (v > 0 && v <= 0xFFFFFFFFLL && static_cast<std::uint32_t>(v) > s.maxReceiveSize)
            s.maxReceiveSize = static_cast<std::uint32_t>(v);
    }
    if (auto nagle = lf_value(keys, "disablenagle")) s.disableNagle = lf_parseInt(*nagle) != 0;
}

}  // namespace

std::vector<fs::path> simConnectConfigFolders() {
    std::vector<fs::path> folders;
    if (auto p = platform::publicDocumentsFolder()) folders.push_back(*p);
    if (auto p = platform::documentsFolder()) folders.push_back(*p);
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    if (!ec) folders.push_back(cwd);
    return folders;
}

std::string simRegistryPort(AddressFamily family) {
    try {
        auto key = winreg::RegKey::Open(winreg::Hive::CurrentUser, "SOFTWARE\\Lockheed Martin\\Prepar3D v5");
        std::string value =
            key.GetStringValue(family == AddressFamily::IPv6 ? "SimConnect_Port_IPv6" : "SimConnect_Port_IPv4");
        if (value.size() >= 20) return {};  // read into 20 bytes: a longer value does not fit
        return value;
    } catch (...) {
        return {};
    }
}

std::optional<ConnectionSettings> readSimConnectConfig(std::uint32_t configIndex, const std::vector<fs::path>& folders,
                                                       const RegistryPortFn& registryPort) {
    ConnectionSettings settings;
    if (configIndex == kSkipConfigFiles) return settings;
    std::string section = configIndex == 0 ? std::string("SimConnect") : "SimConnect." + std::to_string(configIndex);
    bool found = false;
    for (const auto& folder : folders) {
        auto keys = lf_readSection(folder / "SimConnect.cfg", section);
        if (!keys) continue;
        found = true;
        settings.files.push_back(folder / "SimConnect.cfg");
        lf_applySection(settings, *keys, registryPort);
    }
    if (!found && configIndex != 0) return std::nullopt;
    return settings;
}

std::vector<ConnectTarget> connectionPlan(const ConnectionSettings& settings, const RegistryPortFn& registryPort) {
    std::vector<ConnectTarget> plan;
    std::string address = settings.address;
    std::string port = settings.port;
    SimProtocol step = settings.protocol;
    // An explicit IPv4 or IPv6 line without a port means the simulator's own port of that family.
    if (settings.explicitProtocol && port.empty() && registryPort)
        port = registryPort(step == SimProtocol::IPv6 ? AddressFamily::IPv6 : AddressFamily::IPv4);

    if (step == SimProtocol::Pipe) {
        plan.push_back({TransportKind::Pipe, AddressFamily::IPv4, address, port});
        if (!address.empty() && address != ".") return plan;
        address = "::1";
        port = registryPort ? registryPort(AddressFamily::IPv6) : std::string();
        step = SimProtocol::IPv6;
    }
    if (step == SimProtocol::IPv6) {
        if (!port.empty()) plan.push_back({TransportKind::Socket, AddressFamily::IPv6, address, port});
        if (address != "::1") return plan;
        address = "127.0.0.1";
        port = registryPort ? registryPort(AddressFamily::IPv4) : std::string();
    }
    if (!port.empty()) plan.push_back({TransportKind::Socket, AddressFamily::IPv4, address, port});
    if (address != "127.0.0.1") return plan;
    plan.push_back({TransportKind::Pipe, AddressFamily::IPv4, ".", ""});
    return plan;
}

std::string describeTarget(const ConnectTarget& target) {
    if (target.kind == TransportKind::Pipe) return simPipeName(target.address, target.port);
    // An empty address is the local host of the family, as the transport takes it.
    if (target.family == AddressFamily::IPv6) return "[" + (target.address.empty() ? "::1" : target.address) + "]:" + target.port;
    return (target.address.empty() ? "127.0.0.1" : target.address) + ":" + target.port;
}

bool connectWithFallback(const ConnectionSettings& settings, const RegistryPortFn& registryPort,
                         const ConnectAttemptFn& attempt) {
    for (const ConnectTarget& target : connectionPlan(settings, registryPort))
        if (attempt(target.kind, target.family, target.address, target.port)) return true;
    return false;
}
