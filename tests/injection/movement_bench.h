// The movement bench: plays received tracks through the real AI tick (intake, spawn, livery choice, movement)
// against a simulator stand-in with a flat field, and checks every object on every tick: no jumps, turn,
// bank and pitch rates of its category, vertical speeds near the ground, no ground penetration, rotation,
// gear, flare, touchdown, push-back, stand arrival and parked spacing. Everything runs in this process and on
// this thread, tick by tick, without waiting: the same tracks give the same numbers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "injection/records.h"
#include "injection/sim_messages.h"
#include "injection/sim_sink.h"
#include "trafficservice/records.h"

namespace movement_bench {

// One named check: how often it held and failed, and the sample that missed its limit by most (or came
// closest to it while all held).
struct Counter {
    long pass = 0;
    long fail = 0;
    double worstValue = 0.0;
    double worstLimit = 0.0;
    double worstExcess = -std::numeric_limits<double>::infinity();  // relative to the limit
    std::int32_t worstTick = 0;

    // `excess` > 0 is a failure; the sample with the largest excess relative to its limit is kept.
    void add(double value, double limit, double excess, std::int32_t tick);
    long total() const { return pass + fail; }
};

// The checks in the order of the reports.
inline const std::vector<std::string> kCheckNames = {
    "position jump",         "heading rate",           "bank rate",           "bank",
    "pitch rate",            "pitch",                  "vertical speed",      "descent below 1000 ft",
    "touchdown sink",        "ground penetration",     "rotation speed",      "gear up after rotation",
    "flare heights",         "flare before touchdown", "push-back backwards", "push-back turn side",
    "stand arrival",         "stand arrival heading",  "parked spacing",
    // Flight on noisy reports: the reported bank and pitch within the category's limits, an approach that
    // never climbs while its reports descend, an arrival down and rolled out before it leaves, and no
    // aeroplane that hangs over the runway instead of landing; from the creation on, nothing climbs while its
    // reports descend.
    "attitude limits applied to reported values", "arrivals follow the reported descent",
    "no climb while the reports descend",
    "arrival lands before removal", "level above the runway",
    // On the ground: the way it moves against its nose, and where its take-offs start; parked, it stays, and
    // an arrival stays a minute at least.
    "heading against motion", "backwards speed",       "take-off from a runway", "re-creations",
    "parked still", "stand kept after arrival",
    // Ground speed as its positions show it, each second: changing no faster than 0.5 g over 2 s, above 60 kt
    // only on a take-off or landing roll, a take-off roll that never slows by more than 5 kt and lifts off
    // within 20 kt above the rotation speed, and a roll-out that no report shows braking at 0.3 g at most.
    "ground speed change", "ground speed off a runway roll", "take-off roll speed", "lift-off speed",
    "roll-out deceleration", "standing still in scatter",
    // A take-off roll gains 5 kt in every 5 s and 1 kt in every second from 30 kt to the lift-off (no plateau
    // waiting for its data, none at a cap in its last seconds), and evenly: no second gains more than 1 kt less
    // than the one before (it does not ease off where it runs ahead of its data to surge where it falls behind).
    "take-off roll gain", "take-off roll easing",
    // From one second to the next nothing on the ground brakes harder than tyres and brakes do (0.4 g).
    "ground braking",
    // An arrival brakes evenly from its touchdown down to taxi speed (30 kt) or off the runway: no second loses
    // more than half again the roll-out's mean loss a second.
    "roll-out braking evenness",
    // Tracks that ask for them: created standing where its first record stands (within 30 m) and within 5 s of
    // its play time; first seen at a roll's speed, not created standing there; never faster than 1.5 times what
    // its records or their positions show within 10 s (10 kt at least); lifting off no more than 3 s before its
    // first record in the air, but at its lift-off speed (rotation + 15 kt); turning on the ground, over every 3 s,
    // no faster than 1.1 times its records' fastest turn over 3 s (by their positions' path where they carry no
    // track; 3 degrees a second at least).
    "created where first reported", "created when first reported", "not created standing on a roll",
    "speed as reported", "lift-off with its data", "turn rate as reported",
    // With the paths kept: the five rules of ../shared/tools/trace_rules.py on them, each second.
    "trace: took off again after landing", "trace: moved backwards faster than 10 kt", "trace: turned on the spot",
    "trace: raced on the ground above 60 kt", "trace: changed speed on the ground faster than 0.5 g",
};

// A runway of the field: its two ends and half its width (m).
struct Runway {
    double lat1 = 0.0, lon1 = 0.0, lat2 = 0.0, lon2 = 0.0;
    double halfWidthM = 30.0;
};

// A track to play: every record of one aircraft (one hex id) in the order they arrive, times in seconds.
struct BenchTrack {
    std::string name;
    std::string description;
    std::vector<TrafficRecord> records;
    // The way the push-back's quarter turn is to swing the heading: +1 clockwise (heading grows), -1
    // anticlockwise; nothing when the data does not say.
    std::optional<int> pushbackTurnSign;
    // Stands of the field this track needs (one it parks at and leaves again, say).
    std::vector<StandPlace> stands;
    // Runways of the field this track needs: its take-offs are checked against them (none: not checked).
    std::vector<Runway> runways;
    // It stands in the open among scatter: checked to stay where it stopped while its records show no motion.
    bool standsInScatter = false;
    // Its first record is the first the traffic reader takes, on the ground: it is created there, standing.
    bool createdWhereFirstReported = false;
    // Its first record reports a roll's speed: it is not created standing on the ground there.
    bool firstReportedRolling = false;
    // Checked never to move faster than its records or their positions show (see the check's name).
    bool speedAsReported = false;
    // Checked never to turn on the ground faster than its records do where they turn (see the check's name).
    bool turnsAsReported = false;
    // Checked to lift off with its records (see the check's name).
    bool liftsOffWithItsData = false;
};

// One position the simulator was sent for a track's aircraft.
struct PathSample {
    std::int32_t tick = 0;
    double lat = 0.0, lon = 0.0, alt = 0.0, heading = 0.0;
    bool onGround = false;  // as the program holds it
};

struct TrackResult {
    std::string name;
    std::uint32_t hexId = 0;
    std::string callsign;
    std::size_t records = 0;
    int creations = 0;
    int removals = 0;
    long positions = 0;
    std::map<std::string, Counter> counters;
    // The stands (indices) it arrived at, in order.
    std::vector<std::uint32_t> standsReached;
    // Every position sent, when the options keep paths.
    std::vector<PathSample> path;
};

struct BenchOptions {
    // The flat field: its reference point and elevation; the stand-in's ground everywhere.
    double fieldLat = 47.4582;
    double fieldLon = 8.5481;
    double fieldElevationFt = 1416.0;
    // What the stand-in answers for every model: static CG height (ft) and static pitch (rad).
    double staticCgFt = 8.0;
    double staticPitchRad = 0.01;
    // A batch of the records that became due is handed over this often (the service's cadence).
    std::int32_t deliveryTicks = 200;
    // Ticks played after the last record was handed over.
    std::int32_t tailTicks = 60000;
    // Besides the stands the tracks name, one stand where each track ends standing on the ground.
    bool standsWhereTracksEnd = true;
    // The program's own stands instead of the bench's: g_parkPositions as the caller filled it, with the
    // airports' stand hooks and stand search (the stands above are then not made).
    bool realStands = false;
    // One line a tick of this aircraft (tick, state, on ground, flare stage, position, height of the wheels
    // over the field, heading, pitch, bank, speed, track size) into `traceFile`; 0 = none.
    std::uint32_t traceHexId = 0;
    std::filesystem::path traceFile;
    // Every position of every track goes into its result's path.
    bool keepPaths = false;
    // The simulator reports an aircraft's ground contact only this many ticks after its creation (it settles).
    std::int32_t groundContactAfterTicks = 0;
    // The park airport's elevation is known only this many ticks after the first record is due (the
    // airport comes after the first reports). A record with a reported height is read as the traffic reader
    // reads it when it arrives: against the field once its elevation is known, against -1000 ft before.
    std::int32_t parkElevationAfterTicks = 0;
    // The program's first poll is the traffic reader's buffered request, this many ticks after the first record
    // is due (0: none, the first poll is a live one): five snapshots 6 s apart up to the poll, handed over oldest
    // first with 0, 6, ... 24 s of delay as the reader hands them. Live replies up to `bufferedLiveGapTicks` after
    // it are dropped, as the program's loop does not run yet.
    std::int32_t bufferedPollTicks = 0;
    std::int32_t bufferedLiveGapTicks = 0;
    // A real machine's clock: with a seed other than 0, each reply of the service is handed over up to
    // `lateReplyTicks` after its poll (its records are the poll's), and now and then (once in 500 ticks on average)
    // a tick of the program comes up to `lateTickTicks` late, the loop catching up with back-to-back
    // ticks. The same seed plays the same lateness.
    std::uint32_t lateSeed = 0;
    std::int32_t lateReplyTicks = 0;
    std::int32_t lateTickTicks = 0;
};

// The simulator: creates objects and answers with their object id and static data, removes them, and reports
// every object's ground contact and height over the flat field when asked for the aircraft in range. It keeps
// the lines of what was sent, like the recording sink, with the tick.
class SimStandIn final : public SimSink {
public:
    struct Object {
        std::uint32_t objectId = 0;
        std::uint32_t hexId = 0;
        std::string callsign;
        double lat = 0.0, lon = 0.0, alt = 0.0;
        bool onGround = false;
        std::int32_t createdTick = 0;
    };
    struct Event {
        std::int32_t tick;
        std::uint32_t eventId;
        std::uint32_t data;
    };

    explicit SimStandIn(const BenchOptions& options);
    ~SimStandIn() override;
    SimStandIn(const SimStandIn&) = delete;
    SimStandIn& operator=(const SimStandIn&) = delete;

    // The answers to what was sent in the last tick reach the program now.
    void postAnswers();

    void position(const AircraftUpdate& update) override;
    void clientEvents(std::span<const ClientEventRequest> events) override;
    SimResult clientEventNow(const ClientEventRequest& event) override;
    SimResult flightPlan(std::uint32_t objectId, const std::string& path) override;
    SimResult staticData(std::uint32_t objectId) override;
    SimResult aircraftInRange(std::uint32_t radiusMeters) override;
    SimResult engineControls(std::uint32_t objectId, double spoilers, double throttle1, double throttle2) override;
    void create(const CreateAircraftRequest& request) override;
    void remove(std::uint32_t objectId) override;

    bool onGround(double altitudeFt) const;

    std::map<std::uint32_t, Object> objects;
    // The positions of the tick being played.
    std::vector<AircraftUpdate> tickPositions;
    // Client events per object.
    std::map<std::uint32_t, std::vector<Event>> events;
    std::vector<std::string> lines;
    // Creations and removals per hex id.
    std::map<std::uint32_t, int> created, removed;
    // The first creation of each hex id: when, where, and whether on the ground.
    struct Creation {
        std::int32_t tick = 0;
        double lat = 0.0, lon = 0.0;
        bool onGround = false;
    };
    std::map<std::uint32_t, Creation> firstCreation;

private:
    BenchOptions m_options;
    std::uint32_t m_nextObjectId = 101;
    std::vector<SimMessage> m_pending;
};

class MovementBench {
public:
    explicit MovementBench(BenchOptions options = {});
    ~MovementBench();
    MovementBench(const MovementBench&) = delete;
    MovementBench& operator=(const MovementBench&) = delete;

    void add(BenchTrack track);
    // Plays every track to its end; the program's lists are emptied afterwards.
    void run();

    const std::vector<TrackResult>& results() const { return m_results; }
    const TrackResult* result(const std::string& name) const;
    // One check summed over every track.
    Counter total(const std::string& check) const;
    // The per-track report: name, hex id and callsign, then every check that ran with its counts and worst.
    std::string report(const std::string& title) const;
    const SimStandIn& sim() const { return *m_sim; }
    std::int32_t ticksPlayed() const { return m_ticksPlayed; }
    // Ticks that ended in an exception (the program's tick count stood still).
    std::int32_t lostTicks() const { return m_lostTicks; }

private:
    struct ObjectWatch;
    struct SourcePoint {
        std::int32_t tick;
        double speed;
        double vs;
        bool airborne;
        double lat, lon;
        double reportedKt;  // 0 without a reported speed
        double positionKt;  // from the record before (0 for the first, or less than half a second after it)
        std::optional<double> trackDeg;  // the reported track over ground
    };
    // The fastest the records turn (degrees a second) over spans of 3 s or more: by their reported tracks, and
    // where they carry none by the path of their positions.
    double sourceTurnRate(std::uint32_t hexId) const;
    void checkTick(std::int32_t tick);
    void checkObject(const AircraftUpdate& u, std::int32_t tick);
    void checkParkedSpacing(std::int32_t tick);
    void finishWatch(ObjectWatch& w, std::int32_t tick);
    double sourceSpeed(std::uint32_t hexId, std::int32_t tick) const;
    // Every airborne record within 25 s of the tick reports a descent.
    bool sourceDescends(std::uint32_t hexId, std::int32_t tick) const;
    // The records from 50 s before the tick to 25 s after it show motion: a reported speed above 5 kt, or five
    // distinct places in a row (2 m apart at least), each farther from the first than the one before, their
    // way at least 80 % of their path.
    bool sourceMoves(std::uint32_t hexId, std::int32_t tick) const;
    void checkArrivalRemoved(const ObjectWatch& w, std::int32_t tick);
    // The fastest its records or their positions show within `spanTicks` of the tick; nothing without records there.
    std::optional<double> sourceFastestKt(std::uint32_t hexId, std::int32_t tick, std::int32_t spanTicks) const;
    // The checks of the creation the tracks ask for, once the run is over.
    void checkCreations(std::int32_t tick);
    void checkGroundMotion(ObjectWatch& w, const AircraftUpdate& u, const LiveAc& a, std::int32_t tick);
    // One second's ground speed `kt` as the positions show it.
    void checkGroundSpeed(ObjectWatch& w, const LiveAc& a, double kt, std::int32_t tick);
    TrackResult& resultOf(std::uint32_t hexId);

    BenchOptions m_options;
    std::vector<BenchTrack> m_tracks;
    std::vector<TrackResult> m_results;
    std::map<std::uint32_t, std::size_t> m_resultIndex;
    std::map<std::uint32_t, std::vector<SourcePoint>> m_source;
    std::map<std::uint32_t, std::optional<int>> m_pushbackSide;
    std::set<std::uint32_t> m_standsInScatter;
    std::set<std::uint32_t> m_speedAsReported;
    std::set<std::uint32_t> m_turnsAsReported;
    std::set<std::uint32_t> m_liftsOffWithItsData;
    // Tracks whose records end in the air low over the ground, descending or at runway height: arrivals.
    std::set<std::uint32_t> m_arrivals;
    std::vector<Runway> m_runways;
    std::map<std::uint32_t, ObjectWatch>* m_watches = nullptr;
    SimStandIn* m_sim = nullptr;
    std::int32_t m_ticksPlayed = 0;
    std::int32_t m_lostTicks = 0;
    std::FILE* m_trace = nullptr;
};

// ---- Tracks made in code ----

// Builds the records of one aircraft leg by leg, integrating position, speed, track and altitude each second
// and writing a record every `every` seconds (and at the end of each leg).
class TrackBuilder {
public:
    TrackBuilder(std::uint32_t hexId, std::string callsign, std::string type, double lat, double lon,
                 double trackDeg, double startTime = 1.0e9);

    // Along the current track, the speed changing evenly to `speedKt`, turning by `turnDeg`, climbing or
    // descending at `vsFpm` (airborne) or on the ground (altitude 0).
    TrackBuilder& leg(double seconds, double speedKt, double turnDeg, double vsFpm, bool airborne);
    TrackBuilder& ground(double seconds, double speedKt, double turnDeg = 0.0) {
        return leg(seconds, speedKt, turnDeg, 0.0, false);
    }
    TrackBuilder& air(double seconds, double speedKt, double turnDeg, double vsFpm) {
        return leg(seconds, speedKt, turnDeg, vsFpm, true);
    }
    // The track over ground from here on (a push-back moves opposite to the nose).
    TrackBuilder& face(double trackDeg) {
        m_track = trackDeg;
        return *this;
    }
    TrackBuilder& altitude(double feet) {
        m_alt = feet;
        return *this;
    }
    // No records for this long (the aircraft flies on unseen).
    TrackBuilder& gap(double seconds, double speedKt, double vsFpm);
    // The heading the following records report (degrees); nothing: none reported.
    TrackBuilder& heading(std::optional<double> degrees) {
        m_heading = degrees;
        return *this;
    }
    // The bank the following records report (degrees, right wing down positive); nothing: none reported.
    TrackBuilder& bank(std::optional<double> degrees) {
        m_bank = degrees;
        return *this;
    }
    TrackBuilder& every(double seconds) {
        m_every = seconds;
        return *this;
    }
    std::vector<TrafficRecord>& records() { return m_records; }
    BenchTrack track(std::string name, std::string description) const;
    double alt() const { return m_alt; }
    // A stand where the builder is now, pointing along its track.
    StandPlace standHere() const;
    double time() const { return m_time; }

private:
    void emit(bool airborne);

    std::uint32_t m_hexId;
    std::string m_callsign, m_type;
    double m_lat, m_lon, m_track, m_time;
    double m_alt = 0.0, m_speed = 0.0, m_vs = 0.0;
    std::optional<double> m_heading;
    std::optional<double> m_bank;
    double m_every = 2.0;
    double m_lastEmit = -1.0e18;
    std::vector<TrafficRecord> m_records;
};

// ---- The recorded traffic ----

// Every aircraft of an ADS-B recording (a gzip JSON list of reports with timestamp in ms, icao24, callsign,
// latitude, longitude, altitude, groundspeed, track, vertical_rate, onground) as a track, each started
// `staggerS` seconds after the one before; heights within the ground band of `fieldElevationFt` are ground
// reports, as the traffic reader makes them.
std::vector<BenchTrack> gf_readAdsbRecording(const std::filesystem::path& file, double fieldElevationFt,
                                             double staggerS = 30.0);

// Every aircraft of a live-traffic stand-in scenario (testbed/service) as the program receives it from the
// stand-in: a report every `everyS` seconds from `phaseS` after its first point until its last or `untilS`,
// interpolated as the stand-in does it, its height corrected to `qnh` (the bench reads it against the ground
// reference in force when it arrives, as the traffic reader does).
std::vector<BenchTrack> gf_readScenarioAsServed(const std::filesystem::path& file, double qnh, double everyS,
                                                double phaseS, double untilS);

// The airline (from the callsign, as the spawn completes it; "PVT" without one) and type of each track: the
// liveries the livery database needs for every track to be created.
std::vector<std::pair<std::string, std::string>> gf_airlinesAndTypes(const std::vector<BenchTrack>& tracks);

}  // namespace movement_bench
