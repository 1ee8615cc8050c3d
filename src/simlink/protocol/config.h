// Where the client connects: the settings of "SimConnect.cfg" and the fallback order over named pipe,
// IPv6 and IPv4 that opening a connection follows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "simlink/protocol/transport.h"

enum class SimProtocol { Pipe, IPv4, IPv6 };

struct ConnectionSettings {
    SimProtocol protocol = SimProtocol::Pipe;
    std::string address;
    std::string port;  // TCP port, or the pipe name
    std::uint32_t maxReceiveSize = kSimDefaultMaxReceiveSize;
    bool disableNagle = false;
    bool explicitProtocol = false;  // "Protocol" named IPv4 or IPv6
    // The configuration files that held the section, in the order read (a later one overrides).
    std::vector<std::filesystem::path> files;
};

inline constexpr std::uint32_t kSkipConfigFiles = 0xFFFFFFFFu;

// The folders searched for "SimConnect.cfg", in order: Public Documents, Documents, the working folder.
std::vector<std::filesystem::path> simConnectConfigFolders();

// The port the simulator publishes for a family (HKCU "SOFTWARE\Lockheed Martin\Prepar3D v5",
// "SimConnect_Port_IPv6" / "SimConnect_Port_IPv4"); empty when missing.
std::string simRegistryPort(AddressFamily family);

using RegistryPortFn = std::function<std::string(AddressFamily)>;

// Reads the section of the configuration index from every "SimConnect.cfg" found; a later file overrides
// the keys it sets. nullopt when the index is not 0 and no file has its section.
std::optional<ConnectionSettings> readSimConnectConfig(std::uint32_t configIndex,
                                                       const std::vector<std::filesystem::path>& folders,
                                                       const RegistryPortFn& registryPort);

// One place a connection is tried: a pipe (address = host, port = pipe name) or a socket.
struct ConnectTarget {
    TransportKind kind = TransportKind::Pipe;
    AddressFamily family = AddressFamily::IPv4;
    std::string address;
    std::string port;
    bool operator==(const ConnectTarget&) const = default;
};

// The places the fallback chain tries, in order: pipe, IPv6 on ::1, IPv4 on 127.0.0.1, the default pipe;
// only a local target falls back, and a socket without a port is skipped.
std::vector<ConnectTarget> connectionPlan(const ConnectionSettings& settings, const RegistryPortFn& registryPort);

// A target as a user writes it: "127.0.0.1:500", "[::1]:500", or the pipe's name "\\.\pipe\NAME".
std::string describeTarget(const ConnectTarget& target);

// One connection attempt: kind, family (sockets only), address and port; true when it connected.
using ConnectAttemptFn =
    std::function<bool(TransportKind kind, AddressFamily family, const std::string& address, const std::string& port)>;

// Walks the fallback chain from the settings' protocol: pipe, IPv6 on ::1, IPv4 on 127.0.0.1, the default
// pipe; only a local target falls back. True when an attempt connected.
bool connectWithFallback(const ConnectionSettings& settings, const RegistryPortFn& registryPort,
                         const ConnectAttemptFn& attempt);
