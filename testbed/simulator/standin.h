// A simulator stand-in that speaks SimConnect on the server side: it listens on TCP (127.0.0.1 and ::1)
// and on the local socket of a pipe name, answers the requests the program sends with the messages and
// sizes of the simulator, keeps what each client registers, runs a scripted user aircraft and the AI
// objects that clients create (removed with their client when it closes), and injects faults on request. Used
// in-process by tests and as the zntv-simulator program.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace standin {

// The default name carries the registered-trademark sign (0xAE in the simulator's code page), as the
// simulator's own name does.
inline constexpr const char* kDefaultSimName = "Lockheed Martin\xAE Prepar3D\xAE v5";
inline constexpr const char* kDefaultPipeName = "\\\\.\\pipe\\Lockheed Martin Prepar3D v5\\SimConnect";
inline constexpr std::uint32_t kUserObjectId = 1;

inline constexpr std::uint32_t kExceptionUnrecognizedId = 3;
inline constexpr std::uint32_t kExceptionCreateFailed = 22;

// Position and attitude of an object; angles in degrees, altitudes in feet.
struct ObjectState {
    std::uint32_t id = 0;
    std::string title;
    std::string atcId;   // tail number of an AI aircraft
    std::string model;   // "ATC MODEL"
    double latitude = 0, longitude = 0, altitude = 0;
    double pitch = 0, bank = 0, heading = 0;
    double groundAltitude = 0;
    double groundSpeed = 0, airspeed = 0, verticalSpeed = 0;
    bool onGround = false;
    std::int64_t lights = 0;
    double spoilers = 0, throttle1 = 0, throttle2 = 0;
    bool foreign = false;  // created by the stand-in, not by a client
    int createdBySession = -1;
};

struct Options {
    std::string simName = kDefaultSimName;
    std::uint32_t version[4] = {5, 4, 9, 28482};
    std::uint16_t tcpPort = 0;  // 0: a free port (the IPv6 listener tries the same one)
    bool listenIPv4 = true;
    bool listenIPv6 = true;
    bool listenPipe = true;
    std::string pipeName = kDefaultPipeName;
    double frameRate = 30;  // Frame events per second; 0 sends none
    std::chrono::milliseconds secondInterval{1000};  // the simulator's second, shortened in tests
    bool flightRunning = true;
    ObjectState user;        // the scripted user aircraft (id, title and model filled by default)
    std::uint32_t firstAiObjectId = 100;
    std::filesystem::path tracePath;   // JSON lines of AI object positions; empty: none
    std::filesystem::path recordPath;  // hex of every received request, one a line; empty: none
    std::vector<std::string> refusedTitles;  // a creation with one of these titles fails with exception 22
    std::chrono::milliseconds acceptDelay{0};
    bool refuseConnections = false;    // accept and close at once
    bool keepRequests = true;          // keep every received request (requests(), setData); off for long runs
    int zuluYear = 0;                  // 0: the clock's time; else a fixed zulu date
    int zuluDayOfYear = 1;
    int zuluSeconds = 0;
};

Options defaultOptions();

// What one client registered.
struct Datum {
    std::string name;
    std::string units;
    std::uint32_t type = 0;
};

struct ClientEvent {
    std::uint32_t objectId = 0, eventId = 0, data = 0, groupId = 0, flags = 0;
};

struct SetDataRecord {
    std::uint32_t defineId = 0, objectId = 0, flags = 0, count = 0, unitSize = 0;
    std::vector<std::uint8_t> data;
};

struct ObjectRequest {  // release control, removal, flight plan
    std::uint32_t objectId = 0, requestId = 0;
    std::string path;
};

struct SessionView {
    int index = 0;
    bool open = false;
    bool connected = false;
    std::string clientName;
    std::map<std::string, std::uint32_t> subscriptions;  // lower-case system event name -> client event id
    std::map<std::uint32_t, std::string> mappedEvents;   // client event id -> simulator event name
    std::map<std::uint32_t, std::vector<std::uint32_t>> groups;
    std::map<std::uint32_t, std::uint32_t> groupPriorities;
    std::map<std::uint32_t, std::vector<Datum>> definitions;
    std::vector<ClientEvent> clientEvents;
    std::vector<SetDataRecord> setData;
    std::vector<ObjectRequest> releases;
    std::vector<ObjectRequest> removals;
    std::vector<ObjectRequest> flightPlans;
    std::vector<std::uint32_t> creationSendIds;
    std::vector<std::uint32_t> removedAtClose;  // AI objects of this client that its close took with it
    std::size_t requestCount = 0;
};

class SimulatorStandIn {
public:
    explicit SimulatorStandIn(Options options = defaultOptions());
    ~SimulatorStandIn();
    SimulatorStandIn(const SimulatorStandIn&) = delete;
    SimulatorStandIn& operator=(const SimulatorStandIn&) = delete;

    // Binds the listeners and starts the I/O thread; false when no listener could be bound.
    bool start();
    void stop();

    std::uint16_t portIPv4() const;
    std::uint16_t portIPv6() const;
    std::filesystem::path pipePath() const;

    // ---- Looking in ----
    std::vector<SessionView> sessions() const;
    std::optional<SessionView> lastSession() const;
    std::vector<ObjectState> aiObjects() const;
    ObjectState user() const;
    std::vector<std::vector<std::uint8_t>> requests() const;  // every request received, in order
    std::size_t requestCount() const;

    // ---- Steering ----
    void setFlightRunning(bool running);   // sends the "Sim" event to its subscribers
    void setUser(const ObjectState& user);
    void setAcceptDelay(std::chrono::milliseconds delay);
    void setRefuseConnections(bool refuse);
    void refuseTitle(const std::string& title);
    void dropConnections();
    void sendQuit();
    void sendException(std::uint32_t code, std::uint32_t sendId, std::uint32_t index);
    // A system event ("PositionChanged", "FlightLoaded", ...) as an event message with the given data, to
    // the clients that subscribed to it.
    void sendSystemEvent(const std::string& name, std::uint32_t data = 0);
    // A file-name event (a flight file was loaded or saved) to the subscribers of the system event.
    void sendFileNameEvent(const std::string& name, const std::string& fileName);
    // An aircraft that some other program created: announced with ObjectAdded to the subscribers.
    std::uint32_t addForeignAircraft(const std::string& title, const std::string& atcId, double latitude,
                                     double longitude, double altitude, bool onGround);

    // ---- Faults on the stream ----
    void setSplitMessages(bool on);     // each message goes out in two writes
    void setCoalesceMessages(bool on);  // the messages of one step go out in one write
    void setZeroPadding(std::size_t bytes);  // zero bytes before each message
    // Raw bytes to every connected client, written in pieces cut at the given offsets.
    void injectRaw(std::vector<std::uint8_t> bytes, std::vector<std::size_t> splitAt = {});
    // A message header that announces the given length, with nothing behind it.
    void announceLength(std::uint32_t length);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace standin
