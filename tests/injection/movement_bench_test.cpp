// The movement bench on tracks made here, one flight situation each, and on the recorded traffic of Zurich.
// The made tracks must pass every check that applies to them; the recording's numbers go to the report
// (stdout and movement_bench_*.txt in the build tree).
#include "movement_bench.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <iostream>
#include <mutex>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "../liveries/livery_index_test_env.h"
#include "airports/parking.h"
#include "airports/services.h"
#include "airports/stand_choice.h"
#include "airports/stand_file.h"
#include "airports/stands.h"
#include "frame/timeutil.h"
#include "injection/geodesy.h"
#include "injection/stand_hooks.h"
#include "frame/settings.h"
#include "injection/services.h"
#include "liveries/selection.h"
#include "simlink/link.h"
#include "support/test_support.h"
#include "window/requests.h"

using movement_bench::BenchOptions;
using movement_bench::BenchTrack;
using movement_bench::MovementBench;
using movement_bench::TrackBuilder;

namespace {

constexpr double kFieldLat = 47.4582, kFieldLon = 8.5481, kField = 1416.0;
constexpr double kRunway = 280.0;  // degrees

// A point `north` and `east` nautical miles from the field's reference point.
std::pair<double, double> at(double north, double east) {
    return {kFieldLat + north / 60.0, kFieldLon + east / (60.0 * std::cos(kFieldLat * std::numbers::pi / 180.0))};
}

TrackBuilder builder(std::uint32_t hexId, const char* callsign, const char* type, double north, double east,
                     double track) {
    const auto [lat, lon] = at(north, east);
    return TrackBuilder(hexId, callsign, type, lat, lon, track);
}

// A runway from here along the track for `metres`, starting 100 m behind.
movement_bench::Runway runwayAhead(const TrackBuilder& b, double trackDeg, double metres) {
    constexpr double kFeetPerMetre = 3.280839895;
    const StandPlace here = b.standHere();
    const double axis = trackDeg * std::numbers::pi / 180.0;
    const GeoPosition from = gf_destinationPoint(here.lat, here.lon, axis + std::numbers::pi, 100.0 * kFeetPerMetre);
    const GeoPosition to = gf_destinationPoint(here.lat, here.lon, axis, metres * kFeetPerMetre);
    return {from.latitude, from.longitude, to.latitude, to.longitude};
}

// Zurich's runways 10/28, 14/32 and 16/34 along the rolls of the recording, beyond their ends.
const std::vector<movement_bench::Runway> kZurichRunways = {
    {47.45663, 8.57010, 47.45892, 8.53700, 45.0},
    {47.48353, 8.53600, 47.45667, 8.56600, 45.0},
    {47.47700, 8.53507, 47.44500, 8.55704, 45.0},
};

// A made track, the checks that must have had something to check on it and those that must not (a take-off
// where there is none).
struct Case {
    BenchTrack track;
    std::vector<std::string> mustRun;
    std::vector<std::string> mustNotRun = {};
    // The user stands on the ground (the automatic range at its minimum: airborne data is not predicted).
    bool userOnGround = false;
    // A stand where the records end (none where it stands in the open).
    bool standAtEnd = true;
};

// Reports with the noise of real ones in flight: a bank beyond the category's, an on-ground flag and
// altitudes off their neighbours on an approach, the date line, and arrivals whose reports end near the
// ground.
void addFlightNoiseTracks(std::vector<Case>& tracks) {
    const auto approach = [](std::uint32_t hexId, const char* callsign) {
        TrackBuilder b = builder(hexId, callsign, "A320", -1.74, 9.85, kRunway);
        b.altitude(kField + 3000).every(2).air(1, 150, 0, -750).air(235, 140, 0, -750);
        b.ground(2, 130).ground(38, 20).ground(12, 15, 60).ground(60, 15).ground(8, 0).every(4).ground(40, 0);
        return b;
    };
    const auto heightOver = [](const TrafficRecord& r) { return r.alt - kField; };
    {
        // A Heavy at 6000 ft whose reports give 120 degrees of bank through a turn.
        TrackBuilder b = builder(0x4b0021, "SWR121", "B77W", 5.0, -5.0, 90);
        b.altitude(6000).every(2).air(2, 250, 0, 0).air(30, 250, 0, 0).bank(120).air(20, 250, 60, 0);
        b.bank(0).air(40, 250, 0, 0);
        tracks.push_back({b.track("reported bank", "heavy reporting 120 degrees of bank in a turn"),
                          {"attitude limits applied to reported values"}});
    }
    {
        // One report on the approach, at 1100 ft over the field, flagged on the ground.
        TrackBuilder b = approach(0x4b0022, "SWR122");
        auto& rs = b.records();
        const auto it = std::find_if(rs.begin(), rs.end(), [&](const TrafficRecord& r) {
            return r.airborne && heightOver(r) < 1100.0;
        });
        it->airborne = false;
        it->alt = it->vs = 0.0;
        tracks.push_back({b.track("ground flag on approach", "one report at 1100 ft flagged on the ground"),
                          {"descent below 1000 ft", "arrivals follow the reported descent", "flare before touchdown"}});
    }
    {
        // Reports on the approach 500 ft off their neighbours: low at 1800 ft, high at 1200 ft. Each lasts
        // three reports (6 s), of which the intake takes one: a steady flight is taken every 450 m.
        TrackBuilder b = approach(0x4b0023, "SWR123");
        auto& rs = b.records();
        for (const auto& spike : std::vector<std::pair<double, double>>{{1800.0, -500.0}, {1200.0, 500.0}}) {
            const double below = spike.first;
            const auto it = std::find_if(rs.begin(), rs.end(), [&](const TrafficRecord& r) {
                return r.airborne && heightOver(r) < below;
            });
            for (auto q = it; q != it + 3; ++q) q->alt += spike.second;
        }
        tracks.push_back({b.track("altitude spikes", "approach with one report 500 ft low and one 500 ft high"),
                          {"arrivals follow the reported descent", "flare before touchdown"}});
    }
    {
        // An approach whose reports from the third to the fifth (6 s, of which the intake takes one) lie
        // 400 ft above their neighbours while saying -750 ft/min like them.
        TrackBuilder b = approach(0x4b0028, "SWR128");
        for (std::size_t i = 2; i < 5; ++i) b.records()[i].alt += 400.0;
        tracks.push_back({b.track("altitude outlier at the creation", "approach whose third report is 400 ft high"),
                          {"no climb while the reports descend", "arrivals follow the reported descent"}});
    }
    {
        // Cruise east across the date line.
        TrackBuilder b(0x4b0024, "SWR124", "B789", -16.5, 179.93, 90);
        b.altitude(35000).every(2).air(2, 480, 0, 0).air(118, 480, 0, 0);
        tracks.push_back({b.track("date line", "cruise at 480 kt from 179.93 E across the date line"),
                          {"position jump", "heading rate"}});
        // And a taxi across it reported every 16 s, speeding up (a midpoint between two reports).
        TrackBuilder t(0x4b0027, "SWR127", "A320", -16.5, 179.9975, 90);
        t.every(2).ground(2, 10).every(16).ground(32, 30).ground(16, 30).every(2).ground(10, 0).every(4).ground(40, 0);
        tracks.push_back({t.track("date line taxi", "taxi from 179.9975 E across the date line, faster"),
                          {"position jump", "stand arrival"}});
    }
    {
        // An arrival at another airport 30 nm east: its ground reports are not taken, and those of its roll
        // read 50 ft over the runway (the reader's ground band is the park airport's); they end at 40 kt.
        TrackBuilder b = builder(0x4b0025, "SWR125", "A320", 1.0, 35.0, 270);
        b.altitude(kField + 1500).every(2).air(1, 140, 0, -700).air(124, 135, 0, -700);
        b.altitude(kField + 50).air(20, 40, 0, 0);
        tracks.push_back({b.track("arrival elsewhere", "arrival 30 nm away whose reports end on the runway"),
                          {"arrival lands before removal", "level above the runway", "flare before touchdown"}});
    }
    {
        // An arrival at the park airport whose reports end at 300 ft on short final, seen from the ground.
        TrackBuilder b = builder(0x4b0026, "SWR126", "A320", -1.74, 9.85, kRunway);
        b.altitude(kField + 3000).every(2).air(1, 150, 0, -750).air(215, 140, 0, -750);
        Case c{b.track("short final", "reports end at 300 ft on short final; the user on the ground"),
               {"arrival lands before removal", "flare before touchdown"}};
        c.userOnGround = true;
        tracks.push_back(c);
    }
}

std::vector<Case> syntheticTracks() {
    std::vector<Case> tracks;
    {
        // 10 nm out on the runway's line at 3000 ft over the field, 150 kt down to 140 at 750 ft/min; the
        // wheels touch at about 130 kt, the roll-out brakes to 20 kt, a right turn off the runway, a taxi with
        // a left corner and a stop.
        TrackBuilder b = builder(0x4b0001, "SWR101", "A320", -1.74, 9.85, kRunway);
        b.altitude(kField + 3000).every(2).air(1, 150, 0, -750).air(235, 140, 0, -750);
        b.ground(2, 130).ground(38, 20).ground(12, 15, 60).ground(60, 15).ground(15, 15, -90).ground(30, 15);
        b.ground(8, 0).every(4).ground(60, 0);
        tracks.push_back({b.track("landing", "approach, touchdown, roll-out, runway exit, taxi, stop"),
                          {"descent below 1000 ft", "flare heights", "flare before touchdown", "touchdown sink",
                           "stand arrival"}});
    }
    {
        // Taxi at 15 kt with two right-angle corners and a 45-degree one, then a stop.
        TrackBuilder b = builder(0x4b0002, "SWR102", "A320", 0.3, 0.2, 90);
        b.every(2).ground(10, 15).ground(40, 15).ground(12, 15, 90).ground(40, 15).ground(12, 15, -90);
        b.ground(30, 15).ground(6, 15, 45).ground(30, 15).ground(8, 0).every(4).ground(40, 0);
        tracks.push_back({b.track("taxi corners", "taxi at 15 kt, corners of 90, -90 and 45 degrees, stop"),
                          {"heading rate", "position jump"}});
    }
    {
        // A corner its reports, every 4 s, turn at 15 degrees a second (90 degrees in 6 s at 5 kt): the aircraft
        // follows their path and turns no faster than they do.
        TrackBuilder b = builder(0x4b0060, "SWR160", "A320", 0.6, -0.4, 0);
        b.every(4).ground(10, 5).ground(30, 5).ground(6, 5, 90).ground(30, 5).ground(8, 0).every(4).ground(40, 0);
        BenchTrack t = b.track("quick corner", "taxi at 5 kt, a corner its reports turn at 15 degrees a second");
        t.turnsAsReported = true;
        tracks.push_back({t, {"turn rate as reported"}});
    }
    {
        // A corner its positions, every 4 s without track or speed, turn at 7.5 degrees a second (90 degrees in
        // 12 s at 5 kt; the reports are taken only every 16 s or so, the corner cut short between them): the
        // aircraft turns no faster than the path of its positions does.
        TrackBuilder b = builder(0x4b0061, "SWR161", "A320", -0.6, 0.4, 0);
        b.every(4).ground(10, 5).ground(30, 5).ground(12, 5, 90).ground(30, 5).ground(8, 0).every(4).ground(40, 0);
        BenchTrack t = b.track("corner by positions", "taxi at 5 kt, a corner its positions alone turn at 7.5 deg/s");
        for (TrafficRecord& r : t.records) {
            r.speed = r.tas = r.track = 0.0;
            r.speedGiven = r.trackGiven = false;
        }
        t.turnsAsReported = true;
        tracks.push_back({t, {"turn rate as reported"}});
    }
    {
        // Taxi, a 20 s stop, on again, an 8 s stop, on again, and a long stop at the end.
        TrackBuilder b = builder(0x4b0003, "SWR103", "A320", -0.3, 0.5, 180);
        b.every(2).ground(8, 12).ground(30, 12).ground(6, 0).ground(20, 0).ground(6, 12).ground(30, 12);
        b.ground(4, 0).ground(8, 0).ground(4, 12).ground(30, 12).ground(6, 0).every(4).ground(60, 0);
        tracks.push_back({b.track("stop and go", "taxi with a 20 s and an 8 s stop, then a stop at the end"),
                          {"position jump"}});
    }
    {
        // A 777 lined up: standing 20 s, the roll to 165 kt in 45 s, lift-off, climb at 2000 then 2500 ft/min.
        TrackBuilder b = builder(0x4b0004, "SWR104", "B77W", -0.05, 0.8, kRunway);
        const movement_bench::Runway runway = runwayAhead(b, kRunway, 3000);
        b.every(2).ground(20, 0).ground(45, 165).altitude(kField + 30).air(4, 170, 0, 1500);
        b.air(120, 180, 0, 2000).air(120, 210, 20, 2500);
        BenchTrack t = b.track("take-off", "heavy: line-up, take-off roll, rotation, climb");
        t.runways = {runway};
        tracks.push_back({t, {"rotation speed", "gear up after rotation", "pitch rate", "take-off from a runway"}});
    }
    {
        // Level at 8000 ft and 250 kt; the data stops for 60 s and comes back on the same line.
        TrackBuilder b = builder(0x4b0005, "SWR105", "A320", 4.0, -6.0, 60);
        b.altitude(8000).every(2).air(2, 250, 0, 0).air(60, 250, 0, 0).gap(60, 250, 0);
        b.air(60, 250, 30, 0).air(60, 250, 0, 0);
        tracks.push_back({b.track("data gap", "cruise at 8000 ft with 60 s without data"), {"position jump", "bank rate"}});
    }
    {
        // An approach down to 200 ft over the field, then a climb at 1500 ft/min turning left.
        TrackBuilder b = builder(0x4b0006, "SWR106", "A320", -1.0, 5.7, kRunway);
        b.altitude(kField + 1900).every(2).air(2, 140, 0, -700).air(144, 140, 0, -700);
        b.air(60, 150, 0, 1500).air(60, 160, -90, 1500).air(60, 180, 0, 1500);
        tracks.push_back({b.track("go-around", "approach to 200 ft over the field, go-around and left turn"),
                          {"descent below 1000 ft", "vertical speed"}});
    }
    {
        // A helicopter at 1000 ft over the field, slowing and coming down to land and stand.
        TrackBuilder b = builder(0x4b0007, "REGA1", "EC35", 3.0, 2.0, 200);
        b.altitude(kField + 1000).every(2).air(2, 90, 0, 0).air(60, 90, 0, 0).air(100, 40, 0, -500);
        b.air(30, 10, 0, -300).ground(10, 0).every(4).ground(40, 0);
        tracks.push_back({b.track("helicopter", "rotorcraft: level, descent, landing, standing"),
                          {"descent below 1000 ft", "touchdown sink"}});
    }
    {
        // Cruise at 4000 ft and 200 kt, one record a second, with faults: duplicates, records older than the
        // last one, jittered positions, one report at ten times the speed and one position ten steps ahead.
        TrackBuilder b = builder(0x4b0008, "SWR108", "A320", 6.0, 0.0, 270);
        b.altitude(kField + 4000).every(1).air(1, 200, 0, 0).air(180, 200, 0, 0);
        std::vector<TrafficRecord> clean = b.records();
        std::vector<TrafficRecord> faulty;
        for (std::size_t i = 0; i < clean.size(); ++i) {
            TrafficRecord r = clean[i];
            if (i % 29 == 11) r.lat += 0.0003;
            if (i == 60) r.speed *= 10;
            if (i == 90 && i + 10 < clean.size()) {
                r.lat = clean[i + 10].lat;
                r.lon = clean[i + 10].lon;
            }
            faulty.push_back(r);
            if (i % 17 == 5) faulty.push_back(r);
            if (i % 23 == 7 && i >= 6) {
                TrafficRecord old = clean[i - 6];
                faulty.push_back(old);
            }
        }
        BenchTrack t = b.track("glitches", "duplicates, old records, jitter, 10x speed, a position 10 s ahead");
        t.records = faulty;
        tracks.push_back({t, {"position jump", "vertical speed"}});
    }
    {
        // Taxi in and stop by a stand. Three minutes later it is pushed back (the data shows the nose swinging
        // clockwise) and taxis away to the east.
        TrackBuilder b = builder(0x4b0009, "SWR109", "A320", 0.6, -0.6, 0);
        b.every(2).ground(8, 10).ground(40, 10).ground(6, 0);
        const StandPlace stand = b.standHere();
        b.every(5).ground(180, 0);
        b.face(180).heading(20).every(2).ground(4, 3).ground(20, 3).ground(10, 2, 90).ground(4, 0).heading({});
        b.face(90).ground(6, 10).ground(40, 10).ground(6, 0).every(4).ground(40, 0);
        BenchTrack t = b.track("stand and push-back", "taxi in, park on the stand, push-back, taxi out");
        t.pushbackTurnSign = 1;
        t.stands = {stand};
        tracks.push_back({t, {"stand arrival", "push-back backwards", "push-back turn side"}});
    }
    addFlightNoiseTracks(tracks);
    // Noise of real surface reports. Each track is flown clean and then spoilt record by record.
    const auto spoilt = [](const TrackBuilder& b, const char* name, const char* description, auto&& spoil) {
        BenchTrack t = b.track(name, description);
        for (std::size_t i = 0; i < t.records.size(); ++i)
            if (!t.records[i].airborne) spoil(t.records[i], i);
        return t;
    };
    {
        // A taxi at 15 kt with corners whose every fifth report says 99 to 174 kt.
        TrackBuilder b = builder(0x4b000a, "SWR110", "A320", 0.4, 0.3, 90);
        b.every(2).ground(10, 15).ground(40, 15).ground(12, 15, 90).ground(40, 15).ground(12, 15, -90);
        b.ground(30, 15).ground(8, 0).every(4).ground(40, 0);
        tracks.push_back({spoilt(b, "speed spikes", "taxi at 15 kt, every fifth report at 99 to 174 kt",
                                 [](TrafficRecord& r, std::size_t i) {
                                     if (i % 5 == 3) r.speed = r.tas = 99.0 + static_cast<double>(i % 4) * 25.0;
                                 }),
                          {"heading against motion", "backwards speed"},
                          {"rotation speed"}});
    }
    {
        // A landing seen from 60 ft on, whose ground reports keep the approach speed of 140 kt; they end
        // while it taxis.
        TrackBuilder b = builder(0x4b000b, "SWR111", "A320", -0.033, 0.187, kRunway);
        b.altitude(kField + 60).every(2).air(1, 140, 0, -750).air(4, 140, 0, -750);
        b.ground(2, 130).ground(38, 20).ground(12, 15, 60).ground(60, 15).ground(15, 15, -90).ground(30, 15);
        tracks.push_back({spoilt(b, "stale speed", "landing whose ground reports keep saying 140 kt",
                                 [](TrafficRecord& r, std::size_t) { r.speed = r.tas = 140.0; }),
                          {"heading against motion"},
                          {"rotation speed"}});
    }
    {
        // The same landing from 600 ft, whose reports after the touchdown keep the approach's height (380 ft
        // over the field) and speed, flagged airborne: only the positions show the roll.
        TrackBuilder b = builder(0x4b0014, "SWR117", "A320", -0.33, 1.87, kRunway);
        b.altitude(kField + 600).every(1).air(48, 140, 0, -750);
        b.ground(2, 130).ground(38, 20).ground(12, 15, 60).ground(60, 15).ground(8, 0).every(4).ground(40, 0);
        tracks.push_back({spoilt(b, "approach height kept", "landing whose ground reports keep 380 ft and 140 kt",
                                 [](TrafficRecord& r, std::size_t) {
                                     r.airborne = true;
                                     r.alt = r.reportedAlt = kField + 380.0;
                                     r.speed = r.tas = 140.0;
                                 }),
                          {"touchdown sink", "heading against motion"},
                          {"rotation speed"}});
    }
    {
        // A taxi north that stops, then goes on 110 degrees to the right, stops again and goes on 130 degrees
        // to the left: no report tells the way round.
        TrackBuilder b = builder(0x4b0015, "SWR118", "A320", 0.55, -0.3, 0);
        b.every(2).ground(8, 12).ground(30, 12).ground(6, 0).ground(20, 0).face(110).ground(6, 12).ground(30, 12);
        b.ground(6, 0).ground(10, 0).face(340).ground(6, 12).ground(30, 12).ground(6, 0).every(4).ground(40, 0);
        tracks.push_back({b.track("turns from a stop", "taxi with stops, going on 110 and 130 degrees off the nose"),
                          {"heading against motion", "backwards speed"},
                          {"rotation speed"}});
    }
    {
        // The heavy's take-off: lined up (the reports there say which way it points), the reports of its
        // roll carry neither speed nor track.
        TrackBuilder b = builder(0x4b000c, "SWR112", "B77W", -0.05, 0.8, kRunway);
        const movement_bench::Runway runway = runwayAhead(b, kRunway, 3000);
        b.every(2).ground(20, 0);
        const std::size_t lined = b.records().size();
        b.ground(45, 165).altitude(kField + 30).air(4, 170, 0, 1500);
        b.air(120, 180, 0, 2000);
        BenchTrack t = spoilt(b, "no ground speed", "take-off whose rolling reports carry no speed or track",
                              [lined](TrafficRecord& r, std::size_t i) {
                                  if (i < lined) return;
                                  r.speed = r.tas = r.track = 0.0;
                                  r.speedGiven = r.trackGiven = false;
                              });
        t.runways = {runway};
        tracks.push_back({t, {"rotation speed", "take-off from a runway", "gear up after rotation"}});
    }
    {
        // The same take-off whose reports carry no speed in the air either.
        TrackBuilder b = builder(0x4b000e, "SWR114", "B77W", -0.05, 0.8, kRunway);
        const movement_bench::Runway runway = runwayAhead(b, kRunway, 3000);
        b.every(2).ground(20, 0).ground(45, 165).altitude(kField + 30).air(4, 170, 0, 1500).air(120, 180, 0, 2000);
        BenchTrack t = b.track("no speed at all", "take-off whose reports carry no speed from the roll on");
        for (TrafficRecord& r : t.records) {
            if (r.speed == 0.0) continue;
            r.speed = r.tas = 0.0;
            r.speedGiven = false;
            // Without a speed the reader puts the climb on the ground, as slow reports.
            r.reportedAlt = r.alt;
            if (gf_groundReport(r.alt, kField, r.speed)) r.alt = r.vs = 0.0;
            r.airborne = r.alt > 0.0;
        }
        t.runways = {runway};
        tracks.push_back({t, {"position jump", "rotation speed", "take-off from a runway"}});
    }
    {
        // A landing roll whose positions are renewed every third report only, the speed every time.
        TrackBuilder b = builder(0x4b000f, "SWR115", "A320", -0.033, 0.187, kRunway);
        b.altitude(kField + 60).every(1).air(1, 140, 0, -750).air(4, 140, 0, -750);
        b.ground(2, 130).ground(30, 40).ground(20, 15).ground(8, 0).every(4).ground(40, 0);
        tracks.push_back({spoilt(b, "stale positions", "landing roll whose positions repeat twice at speed",
                                 [&b](TrafficRecord& r, std::size_t i) {
                                     if (i % 3 == 0) return;
                                     r.lat = b.records()[i - i % 3].lat;
                                     r.lon = b.records()[i - i % 3].lon;
                                 }),
                          {"position jump"},
                          {"rotation speed"}});
    }
    {
        // Taxi in and stop by a stand; parked there, its reports scatter 10 to 60 m for four minutes.
        TrackBuilder b = builder(0x4b000d, "SWR113", "A320", -0.6, -0.6, 0);
        b.every(2).ground(8, 10).ground(40, 10).ground(6, 0);
        const StandPlace stand = b.standHere();
        b.every(3).ground(60, 0);
        const std::size_t standing = b.records().size();
        b.ground(240, 0);
        std::mt19937 random(7);
        std::uniform_real_distribution<double> metres(10.0, 60.0), bearing(0.0, 2.0 * std::numbers::pi);
        for (std::size_t i = standing; i < b.records().size(); ++i) {
            TrafficRecord& r = b.records()[i];
            // One draw after the other: in one call's arguments the compilers draw them in different orders.
            const double feet = metres(random) * 3.28084;
            const GeoPosition q = gf_destinationPoint(stand.lat, stand.lon, bearing(random), feet);
            r.lat = q.latitude;
            r.lon = q.longitude;
            r.speed = r.tas = r.track = 0.0;
            r.speedGiven = r.trackGiven = false;
        }
        BenchTrack t = b.track("noise at a stand", "parked, reports scattering 10 to 60 m around the stand");
        t.stands = {stand};
        tracks.push_back({t, {"stand arrival", "parked still"}, {"rotation speed"}});
    }
    {
        // Standing away from any stand for four minutes, its reports stuck at 180 kt: they scatter 10 to 120 m
        // around it, every tenth 300 m off.
        TrackBuilder b = builder(0x4b0010, "SWR116", "A333", 0.7, 0.5, 30);
        b.every(2).ground(8, 10).ground(40, 10).ground(6, 0);
        const StandPlace here = b.standHere();
        const std::size_t standing = b.records().size();
        b.every(3).ground(240, 0);
        std::mt19937 random(11);
        std::uniform_real_distribution<double> metres(10.0, 120.0), bearing(0.0, 2.0 * std::numbers::pi);
        for (std::size_t i = standing; i < b.records().size(); ++i) {
            TrafficRecord& r = b.records()[i];
            const double m = i % 10 == 5 ? 300.0 : metres(random);
            const GeoPosition q = gf_destinationPoint(here.lat, here.lon, bearing(random), m * 3.28084);
            r.lat = q.latitude;
            r.lon = q.longitude;
            r.speed = r.tas = 180.0;
        }
        tracks.push_back({b.track("stuck speed and scatter", "standing in the open, 180 kt, scattering up to 300 m"),
                          {"backwards speed", "heading against motion", "re-creations"},
                          {"rotation speed"}});
    }
    {
        // Standing in the open for four minutes, its reports without speed or track: they scatter 10 to 150 m
        // around it, and once six in a row lie together 2 km away.
        TrackBuilder b = builder(0x4b0016, "SWR119", "A321", -0.7, -0.2, 200);
        b.every(2).ground(8, 10).ground(40, 10).ground(6, 0);
        const StandPlace here = b.standHere();
        const std::size_t standing = b.records().size();
        b.ground(240, 0);
        std::mt19937 random(13);
        std::uniform_real_distribution<double> metres(10.0, 150.0), bearing(0.0, 2.0 * std::numbers::pi);
        const std::size_t far = standing + 80;
        for (std::size_t i = standing; i < b.records().size(); ++i) {
            TrafficRecord& r = b.records()[i];
            const bool away = i >= far && i < far + 6;
            const double m = away ? 2000.0 : metres(random);
            const double towards = bearing(random);
            const GeoPosition q = gf_destinationPoint(here.lat, here.lon, away ? 1.0 : towards, m * 3.28084);
            r.lat = q.latitude;
            r.lon = q.longitude;
            r.speed = r.tas = r.track = 0.0;
            r.speedGiven = r.trackGiven = false;
        }
        tracks.push_back({b.track("scatter without speed", "standing, no speed, scatter up to 150 m, six 2 km off"),
                          {"backwards speed", "heading against motion", "re-creations"},
                          {"rotation speed"}});
    }
    {
        // A take-off whose rolling reports carry no speed and come bunched: every third repeats the place of the
        // one before, and every third comes 0.8 s late, with the next.
        TrackBuilder b = builder(0x4b0017, "SWR120", "A320", -0.05, 0.8, kRunway);
        const movement_bench::Runway runway = runwayAhead(b, kRunway, 3000);
        b.every(2).ground(20, 0);
        const std::size_t lined = b.records().size();
        b.every(1).ground(40, 160).altitude(kField + 30).air(4, 165, 0, 1500).every(2).air(90, 180, 0, 2000);
        BenchTrack t = b.track("bunched take-off", "roll without speed, its reports repeated, late and bunched");
        for (std::size_t i = lined; i < t.records.size() && !t.records[i].airborne; ++i) {
            TrafficRecord& r = t.records[i];
            r.speed = r.tas = r.track = 0.0;
            r.speedGiven = r.trackGiven = false;
            if ((i - lined) % 3 == 1) {
                r.lat = t.records[i - 1].lat;
                r.lon = t.records[i - 1].lon;
            } else if ((i - lined) % 3 == 2) {
                r.time += 0.8;
            }
        }
        t.runways = {runway};
        tracks.push_back({t, {"rotation speed", "take-off from a runway", "lift-off speed", "take-off roll speed"}});
    }
    {
        // An arrival whose reports end at 200 ft on short final: it lands and rolls out as predicted.
        TrackBuilder b = builder(0x4b0018, "SWR128", "A320", -1.74, 9.85, kRunway);
        b.altitude(kField + 3000).every(2).air(1, 150, 0, -750).air(223, 140, 0, -750);
        tracks.push_back({b.track("predicted roll-out", "reports end at 200 ft on short final"),
                          {"roll-out deceleration", "arrival lands before removal", "ground speed change"}});
    }
    {
        // A landing whose reports freeze at the touch-down (60 ft over the field, flagged airborne, 130 kt) while
        // their positions roll out to 30 kt: the roll-out lags its positions rather than brake harder than tyres.
        TrackBuilder b = builder(0x4b001b, "SWR139", "A320", -1.74, 9.85, kRunway);
        b.altitude(kField + 3000).every(2).air(1, 150, 0, -750).air(235, 140, 0, -750);
        b.ground(2, 130).ground(30, 30).ground(12, 15, 60).ground(30, 15).ground(8, 0).every(4).ground(40, 0);
        tracks.push_back({spoilt(b, "frozen after touch-down", "roll-out reports keep the touch-down's height, speed",
                                 [](TrafficRecord& r, std::size_t) {
                                     if (r.speed <= 30.0) return;
                                     r.airborne = true;
                                     r.alt = r.reportedAlt = kField + 60.0;
                                     r.speed = r.tas = 130.0;
                                 }),
                          {"ground braking", "touchdown sink"},
                          {"rotation speed"}});
    }
    {
        // Lined up, the reports of its roll (positions only, every 3 s) reach 175 kt before they leave the
        // runway, and none in the air gives a vertical rate. The roll gains evenly to its lift-off speed and lifts
        // off there rather than hold it for its data; in the air it flies on over the rest of their roll.
        TrackBuilder b = builder(0x4b001c, "SWR140", "A320", -0.05, 0.8, kRunway);
        const movement_bench::Runway runway = runwayAhead(b, kRunway, 3000);
        b.every(2).ground(20, 0);
        const std::size_t lined = b.records().size();
        b.every(3).ground(51, 175).altitude(kField + 30).every(2).air(4, 180, 0, 1500).air(90, 190, 0, 2000);
        BenchTrack t = spoilt(b, "late lift-off", "roll every 3 s, positions only, to 175 kt; climb without a rate",
                              [lined](TrafficRecord& r, std::size_t i) {
                                  if (i < lined) return;
                                  r.speed = r.tas = r.track = 0.0;
                                  r.speedGiven = r.trackGiven = false;
                              });
        for (TrafficRecord& r : t.records) r.vs = 0.0;
        t.runways = {runway};
        tracks.push_back(
            {t, {"take-off roll gain", "take-off roll easing", "lift-off speed", "take-off from a runway"}});
    }
    {
        // Lined up, its roll reported with speeds, from 100 kt on with a climb rate (the barometric trend of its
        // lift-off while the reports are still on the runway): it lifts off with its data, not 4 s before them
        // once past its rotation speed.
        TrackBuilder b = builder(0x4b001d, "SWR141", "A320", -0.05, 0.8, kRunway);
        const movement_bench::Runway runway = runwayAhead(b, kRunway, 3000);
        b.every(2).ground(20, 0).ground(30, 130).ground(10, 152).altitude(kField + 30).air(4, 155, 0, 1500);
        b.air(90, 180, 0, 2000);
        BenchTrack t = spoilt(b, "climb rate on the runway", "roll reports from 100 kt on carry a climb rate",
                              [](TrafficRecord& r, std::size_t) {
                                  if (r.speed > 100.0) r.vs = 700.0;
                              });
        t.runways = {runway};
        t.liftsOffWithItsData = true;
        tracks.push_back({t, {"lift-off with its data", "lift-off speed"}});
    }
    {
        // Standing in the open for 30 minutes after a taxi, its reports without speed or track scattering 100 to
        // 600 m around it.
        TrackBuilder b = builder(0x4b0019, "SWR129", "A321", 0.2, -0.8, 120);
        b.every(2).ground(8, 10).ground(40, 10).ground(6, 0);
        const StandPlace here = b.standHere();
        const std::size_t standing = b.records().size();
        b.every(5).ground(1800, 0);
        std::mt19937 random(17);
        std::uniform_real_distribution<double> metres(100.0, 600.0), bearing(0.0, 2.0 * std::numbers::pi);
        for (std::size_t i = standing; i < b.records().size(); ++i) {
            TrafficRecord& r = b.records()[i];
            const double m = metres(random);
            const GeoPosition q = gf_destinationPoint(here.lat, here.lon, bearing(random), m * 3.28084);
            r.lat = q.latitude;
            r.lon = q.longitude;
            r.speed = r.tas = r.track = 0.0;
            r.speedGiven = r.trackGiven = false;
        }
        BenchTrack t = b.track("wide scatter", "standing 30 minutes, no speed, scatter of 100 to 600 m");
        t.standsInScatter = true;
        Case c{t,
               {"ground speed off a runway roll", "ground speed change", "re-creations", "standing still in scatter"},
               {"rotation speed"}};
        c.standAtEnd = false;
        tracks.push_back(c);
    }
    return tracks;
}

class MovementBenchRun : public testing_support::LiveryWorld {
protected:
    void SetUp() override {
        LiveryWorld::SetUp();
        lf_clearAiLists();
        gf_resetLinkState();
        g_liveryByHexid.clear();
        gf_seedWorkRandom(1);
        g_largeModels = {"A320", "A321", "B738", "BCS3"};
        g_heavyModels = {"B77W", "B789", "A333"};
        g_buzjetModels = {"CL35"};
        g_rotorcraftModels = {"EC35"};
        m_savedKnown = g_knownModels;
        m_savedSpans = g_wingspans;
        // Half spans in nm.
        g_wingspans = {{"A320", 0.0097}, {"A321", 0.0097}, {"B738", 0.0097}, {"BCS3", 0.0095}, {"B77W", 0.0175},
                       {"B789", 0.0163}, {"A333", 0.0163}, {"CL35", 0.0057}, {"EC35", 0.0028}};
        for (const auto* set : {&g_largeModels, &g_heavyModels, &g_buzjetModels, &g_rotorcraftModels})
            g_knownModels.insert(set->begin(), set->end());
        g_HELICOPTERS.set(true);
        g_LIGHT_AIRCRAFT.set(true);
        g_COLLISION_USER_AIR.set(false);
        g_COLLISION_USER_GND.set(false);
        // The user flies high over the field: near enough for every aircraft to be predicted over a gap,
        // far above anything that could make a creation wait.
        {
            std::lock_guard lock(g_userAcMutex);
            g_userAcFromSim = {};
            g_userAcFromSim.latitude = kFieldLat;
            g_userAcFromSim.longitude = kFieldLon;
            g_userAcFromSim.altitude = 30000;
            g_userAcFromSim.altAboveGround = 30000 - kField;
        }
        g_userPos = g_userAcFromSim;
        g_userOnGround = false;
    }
    void TearDown() override {
        {
            std::lock_guard lock(g_userAcMutex);
            g_userAcFromSim = {};
        }
        g_knownModels = m_savedKnown;
        g_wingspans = m_savedSpans;
        lf_clearAiLists();
        gf_resetLinkState();
        g_liveryByHexid.clear();
        LiveryWorld::TearDown();
    }

    void liveriesFor(const std::vector<BenchTrack>& tracks) {
        std::vector<LiveryData> liveries;
        for (const auto& [airline, type] : movement_bench::gf_airlinesAndTypes(tracks))
            liveries.push_back(testing_support::livery(airline, type, "Bench " + airline + " " + type));
        build(liveries);
    }

    static void publish(const std::string& text, const std::string& fileName) {
        std::cout << text;
        std::ofstream(std::filesystem::path(ZNTV_BINARY_DIR) / fileName) << text;
    }

    // ZNTV_BENCH_TRACE=<hex id> writes that aircraft's ticks to movement_bench_trace.txt in the build tree (with
    // ZNTV_BENCH_TRACK=1 its track's points every second as well).
    static BenchOptions traced() {
        BenchOptions options;
        if (const char* hex = std::getenv("ZNTV_BENCH_TRACE")) {
            options.traceHexId = gf_parseHexId(hex).value_or(0);
            options.traceFile = std::filesystem::path(ZNTV_BINARY_DIR) / "movement_bench_trace.txt";
        }
        return options;
    }

    // Plays `tracks` with `stands` as the park airport's, through the program's own stand search, the paths kept.
    std::unique_ptr<MovementBench> playOnStands(const std::vector<ParkPos>& stands, const std::vector<BenchTrack>& tracks,
                                                BenchOptions options) {
        liveriesFor(tracks);
        gf_seedWorkRandom(1);
        g_parkPositions = stands;
        g_reservedStand.clear();
        gf_forgetUserStand();
        options.realStands = true;
        options.standsWhereTracksEnd = false;
        options.keepPaths = true;
        auto bench = std::make_unique<MovementBench>(options);
        for (const BenchTrack& t : tracks) bench->add(t);
        bench->run();
        g_parkPositions.clear();
        gf_forgetUserStand();
        return bench;
    }

    // Zurich's field, a minute played on after the last record, traced as ZNTV_BENCH_TRACE asks.
    static BenchOptions zurichOptions() {
        BenchOptions options = traced();
        options.fieldLat = kFieldLat;
        options.fieldLon = kFieldLon;
        options.fieldElevationFt = kField;
        options.tailTicks = 6000;
        return options;
    }

    // Plays each case alone, with the options and the world `prepare` sets up for it (`undo` takes the world down
    // again): it is created once, every check of it holds, those it must run ran and those it must not did not,
    // and it lifts off once where it must lift off. The reports go to `fileName`.
    void playEach(const std::vector<Case>& cases, const std::function<void(const Case&, BenchOptions&)>& prepare,
                  const std::function<void()>& undo, const std::string& fileName) {
        std::vector<BenchTrack> tracks;
        for (const Case& c : cases) tracks.push_back(c.track);
        liveriesFor(tracks);
        std::string text;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.track.name);
            gf_seedWorkRandom(1);
            BenchOptions options = traced();
            options.standsWhereTracksEnd = c.standAtEnd;
            prepare(c, options);
            MovementBench bench(options);
            bench.add(c.track);
            bench.run();
            undo();
            text += bench.report(c.track.name + ": " + c.track.description);
            ASSERT_EQ(bench.results().size(), 1u);
            const movement_bench::TrackResult& r = bench.results().front();
            // Created once: neither a gap nor a glitch in the data takes it out of the simulator before its end.
            EXPECT_EQ(r.creations, 1);
            EXPECT_EQ(bench.lostTicks(), 0);
            for (const auto& [name, counter] : r.counters) {
                EXPECT_EQ(counter.fail, 0) << name << ", worst " << counter.worstValue << " (limit "
                                           << counter.worstLimit << ") at tick " << counter.worstTick;
            }
            for (const std::string& name : c.mustRun) {
                const auto it = r.counters.find(name);
                EXPECT_TRUE(it != r.counters.end() && it->second.total() > 0) << name << " never checked";
            }
            for (const std::string& name : c.mustNotRun) EXPECT_FALSE(r.counters.contains(name)) << name;
            if (std::find(c.mustRun.begin(), c.mustRun.end(), "lift-off speed") != c.mustRun.end()) {
                const auto it = r.counters.find("lift-off speed");
                EXPECT_EQ(it == r.counters.end() ? 0 : it->second.total(), 1);
            }
        }
        publish(text, fileName);
    }

    std::set<std::string> m_savedKnown;
    std::map<std::string, double> m_savedSpans;
};

TEST_F(MovementBenchRun, SyntheticTracksPassEveryCheck) {
    playEach(
        syntheticTracks(), [](const Case& c, BenchOptions&) { g_autoRangeAtMinimum = c.userOnGround; },
        [] { g_autoRangeAtMinimum = false; }, "movement_bench_synthetic.txt");
}

// Reports that keep the airborne flag at the field's height while the park airport is not yet known: the
// aircraft is created flying, the simulator finds it on the ground a while later, and its data end there
// (a stop where it is). It brakes to the stop as any aircraft on the ground does.
TEST_F(MovementBenchRun, AnAircraftFoundOnTheGroundWhileFlyingBrakesToItsStop) {
    TrackBuilder b = builder(0x4b001a, "SWR130", "A320", -0.3, 0.5, kRunway);
    b.altitude(kField + 8).every(2).air(0, 50, 0, 0).air(40, 45, 0, 0);
    const BenchTrack t = b.track("touchdown in the air", "created flying at the field's height, data end on the ground");
    liveriesFor({t});
    BenchOptions options = traced();
    options.groundContactAfterTicks = 4000;
    options.parkElevationAfterTicks = 4000;
    MovementBench bench(options);
    bench.add(t);
    bench.run();
    ASSERT_EQ(bench.results().size(), 1u);
    const auto& counters = bench.results().front().counters;
    for (const char* check : {"ground speed change", "ground speed off a runway roll"}) {
        const auto it = counters.find(check);
        ASSERT_TRUE(it != counters.end() && it->second.total() > 0) << check << " never checked";
        EXPECT_EQ(it->second.fail, 0) << check;
    }
}

// Arrivals whose barometric heights, in 25 ft steps, reach the field's 15 s before the touchdown: the reader
// puts those last reports on the ground. The aircraft is created in the air where its reports first show it
// (200 ft up, or 100 ft) and lands on the runway once, rather than appearing only after its landing.
TEST_F(MovementBenchRun, AnArrivalWhoseLastReportsReadAsGroundIsCreatedInTheAirAndLands) {
    struct Row {
        const char* name;
        double firstSeenFt;
        double airS;  // seconds of reports above the field's height after the first
    };
    const Row rows[] = {{"first seen 200 ft up", 200.0, 8.0}, {"first seen 100 ft up", 100.0, 3.0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TrackBuilder b = builder(0x4b0030, "SWR130", "A320", -0.3, 1.2, kRunway);
        b.altitude(kField + row.firstSeenFt + 12.0).every(1).air(1, 140, 0, -700).air(row.airS, 138, 0, -700);
        const std::size_t floorFrom = b.records().size();
        b.air(15, 132, 0, -300).every(2).ground(2, 125).ground(30, 20).ground(12, 15, 60).ground(30, 15).ground(8, 0);
        b.every(4).ground(40, 0);
        for (std::size_t i = 0; i < b.records().size(); ++i) {
            TrafficRecord& r = b.records()[i];
            if (!r.airborne) break;
            r.speedGiven = r.trackGiven = true;
            r.reportedAlt = i < floorFrom ? kField + std::floor((r.alt - kField) / 25.0) * 25.0 : kField;
            r.alt = gf_groundReport(r.reportedAlt, kField, r.speed) ? 0.0 : r.reportedAlt;
            r.airborne = r.alt > 0.0;
            if (!r.airborne) r.vs = 0.0;
        }
        const BenchTrack t = b.track(row.name, "last 15 s before the touchdown at the field's height");
        liveriesFor({t});
        gf_seedWorkRandom(1);
        MovementBench bench(traced());
        bench.add(t);
        bench.run();
        ASSERT_EQ(bench.results().size(), 1u);
        const movement_bench::TrackResult& r = bench.results().front();
        EXPECT_EQ(r.creations, 1);
        for (const auto& [name, counter] : r.counters) EXPECT_EQ(counter.fail, 0) << name;
        // Flared from the air and touched down once.
        for (const char* check : {"touchdown sink", "flare before touchdown"}) {
            const auto it = r.counters.find(check);
            EXPECT_TRUE(it != r.counters.end() && it->second.total() == 1) << check;
        }
    }
}

// The program's own stands and stand search instead of the bench's: a small park airport around the places
// where the made tracks stop. A landing A320 stops 15 m short of a fitting stand that lies 45 degrees off its
// way and points 90 degrees off it; nearer lie a helicopter pad and a stand another live aircraft holds. Two
// business jets taxiing side by side stop together where one stand is the nearest for both: the first gets
// it, the second the other stand within reach.
TEST_F(MovementBenchRun, LandedAndTaxiingAircraftParkOnTheAirportsStands) {
    constexpr double kFeetPerMetre = 3.280839895;
    const auto place = [](const StandPlace& from, double bearingDeg, double metres) {
        const double b = from.heading + bearingDeg * std::numbers::pi / 180.0;
        return gf_destinationPoint(from.lat, from.lon, b, metres * kFeetPerMetre);
    };
    const auto turned = [](const StandPlace& from, double deg) {
        return std::fmod(from.heading + deg * std::numbers::pi / 180.0 + 4.0 * std::numbers::pi,
                         2.0 * std::numbers::pi);
    };

    TrackBuilder landing = builder(0x4b0011, "SWR111", "A320", -1.74, 9.85, kRunway);
    landing.altitude(kField + 3000).every(2).air(1, 150, 0, -750).air(235, 140, 0, -750);
    landing.ground(2, 130).ground(38, 20).ground(12, 15, 60).ground(60, 15).ground(15, 15, -90).ground(30, 15);
    landing.ground(8, 0);
    const StandPlace stop = landing.standHere();
    landing.every(4).ground(60, 0);
    for (TrafficRecord& r : landing.records()) r.registration = "HB-JLT";  // learning goes by registration

    // The two jets taxi north side by side, 12 m apart, and stop a second apart.
    const std::pair<double, double> q = at(0.3, 0.2);
    const GeoPosition beside = gf_destinationPoint(q.first, q.second, std::numbers::pi / 2.0, 12.0 * kFeetPerMetre);
    const auto taxiAndStop = [&](std::uint32_t hexId, const char* callsign, double lat, double lon, double start) {
        TrackBuilder b(hexId, callsign, "CL35", lat, lon, 0, start);
        b.every(2).ground(8, 12).ground(40, 12).ground(6, 0).every(4).ground(60, 0);
        return b;
    };
    const TrackBuilder first = taxiAndStop(0x4b0012, "SWR112", q.first, q.second, 1.0e9);
    const TrackBuilder second = taxiAndStop(0x4b0013, "SWR113", beside.latitude, beside.longitude, 1.0e9 + 1);
    const StandPlace spot = first.standHere();

    std::vector<ParkPos> stands;
    const auto stand = [&](const char* id, const GeoPosition& p, double heading, double radiusM, bool heli) {
        stands.emplace_back(id, std::vector<ParkPosOption>{}, p.latitude, p.longitude, heading, radiusM, false, false,
                            heli);
    };
    stand("A1", place(stop, 45, 15), turned(stop, 90), 20, false);  // the A320's
    stand("H1", place(stop, -90, 6), stop.heading, 12, true);       // a pad
    stand("A2", place(stop, 180, 8), stop.heading, 20, false);      // held by another live aircraft
    stand("A3", place(stop, -60, 30), stop.heading, 20, false);     // beyond the search
    // 12 m ahead of the first, 17 m from the second; the other 27 m east of it, 19 m from the second.
    const GeoPosition b1 = place(spot, 0, 12);
    stand("B1", b1, spot.heading, 12, false);
    stand("B2", place({b1.latitude, b1.longitude, spot.heading}, 90, 27), spot.heading, 12, false);
    for (std::size_t i = 0; i < stands.size(); ++i) stands[i].index = static_cast<std::uint32_t>(i + 1);
    stands[2].occupiedByLive = 0x4bffff;
    for (ParkPos& a : stands)
        for (const ParkPos& b : stands)
            if (&a != &b && a.radius + b.radius > 1.1 * gf_distanceNM(a.latitude, a.longitude, b.latitude, b.longitude))
                a.excluded.push_back(b.index);

    const std::vector<BenchTrack> tracks = {landing.track("landing to a stand", "landing, taxi, stop near the stands"),
                                            first.track("first of two", "taxi and stop by two stands"),
                                            second.track("second of two", "the same 12 m to its right, a second later")};
    liveriesFor(tracks);
    // Whether the stand use is learned, as the airports' hooks have it now.
    const StandHooks savedHooks = g_standHooks;
    gf_installStandHooks();
    const bool learns = static_cast<bool>(g_standHooks.addRealParkPosOption);
    g_standHooks = savedHooks;
    g_parkPositions = stands;
    g_reservedStand.clear();
    gf_forgetUserStand();

    BenchOptions options = traced();
    options.realStands = true;
    options.standsWhereTracksEnd = false;
    options.tailTicks = 6000;
    MovementBench bench(options);
    for (const BenchTrack& t : tracks) bench.add(t);
    bench.run();
    publish(bench.report("the airport's own stands"), "movement_bench_stands.txt");
    const std::vector<ParkPos> after = g_parkPositions;
    g_parkPositions.clear();
    gf_forgetUserStand();

    EXPECT_EQ(bench.lostTicks(), 0);
    ASSERT_EQ(bench.results().size(), 3u);
    const std::vector<std::pair<const char*, std::uint32_t>> expected = {
        {"landing to a stand", 1}, {"first of two", 5}, {"second of two", 6}};
    for (const auto& [name, index] : expected) {
        SCOPED_TRACE(name);
        const movement_bench::TrackResult* r = bench.result(name);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->creations, 1);
        EXPECT_EQ(r->standsReached, std::vector<std::uint32_t>{index});
        for (const char* check : {"stand arrival", "stand arrival heading"}) {
            const auto it = r->counters.find(check);
            ASSERT_TRUE(it != r->counters.end()) << check << " never checked";
            EXPECT_EQ(it->second.fail, 0) << check << ": " << it->second.worstValue;
        }
        for (const auto& [check, counter] : r->counters) EXPECT_EQ(counter.fail, 0) << check;
    }
    if (learns) {
        // The landed aircraft's stand use was learned for the weekday and half-hour it parked in.
        const ParkPos& a1 = after[0];
        const WeekSlot now = g_weekSlotNow.load();
        EXPECT_TRUE(std::any_of(a1.options.begin(), a1.options.end(), [&](const ParkPosOption& o) {
            return o.id != 0 && o.day == gf_weekdayOf(now) && o.halfHours.test(gf_slotOf(now));
        }));
    }
}

// The live service's reports of a few scenario points: interpolated linearly, one report every 2 s, the
// on-ground flag from the nearer point.
struct ScenarioPoint {
    double t, lat, lon, alt, gs, trk, vs;
    bool gnd;
};

std::vector<TrafficRecord> serviceReports(const std::vector<ScenarioPoint>& points, double from) {
    std::vector<TrafficRecord> records;
    for (double t = from; t <= points.back().t; t += 2.0) {
        auto b = std::find_if(points.begin(), points.end(), [t](const ScenarioPoint& p) { return p.t >= t; });
        const ScenarioPoint& q = *b;
        const ScenarioPoint& p = b == points.begin() ? q : *(b - 1);
        const double f = q.t > p.t ? (t - p.t) / (q.t - p.t) : 0.0;
        const auto mix = [f](double x, double y) { return x + (y - x) * f; };
        TrafficRecord r;
        r.hexId = 0x48c201;
        r.callsign = "KLM201";
        r.type = "B738";
        r.time = 1.0e9 + t;
        r.lat = mix(p.lat, q.lat);
        r.lon = mix(p.lon, q.lon);
        r.airborne = !(f < 0.5 ? p.gnd : q.gnd);
        r.alt = r.airborne ? kField + mix(p.alt, q.alt) : 0.0;
        r.speed = r.tas = mix(p.gs, q.gs);
        r.track = std::fmod(p.trk + std::remainder(q.trk - p.trk, 360.0) * f + 360.0, 360.0);
        r.vs = r.airborne ? mix(p.vs, q.vs) : 0.0;
        records.push_back(r);
    }
    return records;
}

// An arrival reported every 2 s on a runway running east: the touchdown at 130 kt, 75 kt 10 s later, 20 kt at
// the end of the roll 6 s after that, then a turn off to the north at taxi speed and a stop. The roll slows
// along the centreline and leaves it only at its end; so too when the reports of the roll were lost and the
// ground reports start only at the turn off the runway (the traffic reader takes ground reports only once the
// park airport is active).
TEST_F(MovementBenchRun, TheLandingRollSlowsAlongTheRunwayAndTurnsOffAtItsEnd) {
    const double lonNm = 1.0 / 60.0 / std::cos(kFieldLat * std::numbers::pi / 180.0);
    const double fpm = 140.0 * 6076.12 / 60.0 * std::tan(3.0 * std::numbers::pi / 180.0);
    const double T = 60, rollEnd = kFieldLon + 0.3639 * lonNm, slowed = kFieldLon + 0.2847 * lonNm;
    std::vector<ScenarioPoint> points;
    for (const double t : {20.0, 40.0, 52.0, 58.0})
        points.push_back({t, kFieldLat, kFieldLon - (T - t) * 140.0 / 3600.0 * lonNm, (T - t) * fpm / 60.0, 140, 90,
                          -fpm, false});
    points.push_back({T, kFieldLat, kFieldLon, 0, 130, 90, 0, true});
    points.push_back({T + 10, kFieldLat, slowed, 0, 75, 90, 0, true});
    points.push_back({T + 16, kFieldLat, rollEnd, 0, 20, 90, 0, true});
    points.push_back({T + 21, kFieldLat + 0.0003, rollEnd + 0.0006, 0, 15, 30, 0, true});
    points.push_back({T + 28, kFieldLat + 0.0008, rollEnd + 0.0012, 0, 10, 0, 0, true});
    points.push_back({T + 30, kFieldLat + 0.0008, rollEnd + 0.0012, 0, 0, 0, 0, true});
    points.push_back({T + 90, kFieldLat + 0.0008, rollEnd + 0.0012, 0, 0, 0, 0, true});
    const std::vector<TrafficRecord> reports = serviceReports(points, 20);

    for (const double groundFrom : {0.0, 23.0}) {
        SCOPED_TRACE(testing::Message() << "ground reports from " << groundFrom << " s after the touchdown");
        BenchTrack track;
        track.name = "landing roll";
        track.records = reports;
        std::erase_if(track.records,
                      [&](const TrafficRecord& r) { return !r.airborne && r.time < 1.0e9 + T + groundFrom; });
        liveriesFor({track});
        BenchOptions options = traced();
        options.keepPaths = true;
        options.tailTicks = 3000;
        MovementBench bench(options);
        bench.add(track);
        bench.run();
        ASSERT_EQ(bench.results().size(), 1u);
        EXPECT_EQ(bench.results().front().creations, 1);
        const std::vector<movement_bench::PathSample>& path = bench.results().front().path;
        const auto touchdown = std::find_if(path.begin(), path.end(), [](const auto& s) { return s.onGround; });
        ASSERT_NE(touchdown, path.end());
        // Knots over the next second.
        const auto speedAt = [&](auto it) {
            const auto to = std::min(it + 100, path.end() - 1);
            return to->tick > it->tick
                       ? gf_distanceNM(it->lat, it->lon, to->lat, to->lon) * 360000.0 / (to->tick - it->tick)
                       : 0.0;
        };
        EXPECT_GT(speedAt(touchdown), 100.0);
        for (auto it = touchdown; it != path.end(); ++it) {
            const double kt = speedAt(it);
            // Off the centreline (11 m) only slow and at the end of the roll.
            if (std::abs(it->lat - kFieldLat) > 0.0001) {
                ASSERT_LT(kt, 35.0) << "off the centreline at " << it->lat << " " << it->lon << ", tick " << it->tick;
                ASSERT_GT(it->lon, rollEnd - 0.03 * lonNm) << it->lat << " " << it->lon << ", tick " << it->tick;
            }
            // Past the report at 75 kt it is well below its landing speed.
            if (it->lon > slowed + 0.01 * lonNm) {
                ASSERT_LT(kt, 95.0) << it->lat << " " << it->lon << ", tick " << it->tick;
            }
        }
        EXPECT_GT(path.back().lat, kFieldLat + 0.0006);
        for (const auto& [name, counter] : bench.results().front().counters) EXPECT_EQ(counter.fail, 0) << name;
    }
}

// ---- Aircraft first seen standing away from the stands ----

// Ground reports as many transponders send them: positions only (no speed, no track), scattering by up to 1.5 m,
// their height the field's (the reader makes them ground reports) or missing.
void positionsOnly(BenchTrack& t, bool fieldHeight, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> metres(0.0, 1.5), bearing(0.0, 2.0 * std::numbers::pi);
    for (TrafficRecord& r : t.records) {
        if (r.airborne) continue;
        r.speed = r.tas = r.track = 0.0;
        r.speedGiven = r.trackGiven = false;
        r.reportedAlt = fieldHeight ? kField : 0.0;
        const double feet = metres(random) * 3.28084;
        const GeoPosition q = gf_destinationPoint(r.lat, r.lon, bearing(random), feet);
        r.lat = q.latitude;
        r.lon = q.longitude;
    }
}

// A departure whose reports stand lined up on the runway for 40 s (lining up first: 30 m at 4 kt through a
// quarter turn onto it), then roll, positions only, to 150 kt in 35 s, then climb with their speed.
BenchTrack departure(std::uint32_t hexId, const char* callsign, bool liningUp, const char* name,
                     const char* description) {
    TrackBuilder b = builder(hexId, callsign, "A320", -0.05, 0.8, liningUp ? kRunway - 90.0 : kRunway);
    b.every(2);
    if (liningUp) b.ground(2, 4).ground(13, 4, 90).ground(2, 0);
    const movement_bench::Runway runway = runwayAhead(b, kRunway, 3000);
    b.ground(40, 0).ground(35, 150).altitude(kField + 30).air(4, 155, 0, 1500).air(90, 180, 0, 2000);
    BenchTrack t = b.track(name, description);
    t.runways = {runway};
    return t;
}

// A small apron 1.3 km from the runway and the holding point: the park airport has stands, none of them near.
std::vector<ParkPos> farApron() {
    std::vector<ParkPos> stands;
    for (int i = 0; i < 3; ++i) {
        const auto [lat, lon] = at(0.6, -0.6 + 0.03 * i);
        stands.emplace_back(fmt::format("E{}", i + 1), std::vector<ParkPosOption>{}, lat, lon, std::numbers::pi, 30.0,
                            false, false, false);
        stands.back().index = static_cast<std::uint32_t>(i + 1);
    }
    return stands;
}

// Created where it stands, standing, when its first report the reader takes plays (ground reports before the park
// airport is active are not taken); a departure rolls when its reports roll, gaining speed all the way, and lifts
// off once; whatever it does keeps to what its reports show and to the trace rules. First seen at a roll's speed,
// it is not created standing there.
std::vector<Case> firstSeenStandingTracks() {
    std::vector<Case> cases;
    const std::vector<std::string> created = {"created where first reported", "created when first reported",
                                              "speed as reported", "trace: turned on the spot"};
    const std::vector<std::string> departs = {"created where first reported", "created when first reported",
                                              "speed as reported", "take-off roll gain", "lift-off speed",
                                              "take-off from a runway", "trace: turned on the spot"};
    {
        BenchTrack t = departure(0x4b0031, "SWR131", false, "lined up", "stands lined up 40 s, rolls, positions only");
        positionsOnly(t, true, 31);
        cases.push_back({t, departs});
    }
    {
        BenchTrack t = departure(0x4b0032, "SWR132", false, "lined up without a height",
                                 "stands lined up 40 s, rolls; positions only, no height on the ground");
        positionsOnly(t, false, 32);
        cases.push_back({t, departs});
    }
    {
        // The park airport becomes active 20 s into the line-up: the ground reports before are not taken.
        BenchTrack t = departure(0x4b0033, "SWR133", false, "lined up, airport known late",
                                 "first reports before the park airport is known, 20 s into the line-up");
        positionsOnly(t, true, 33);
        const double known = t.records.front().time + 20.0;
        std::erase_if(t.records, [known](const TrafficRecord& r) { return !r.airborne && r.time < known; });
        cases.push_back({t, departs});
    }
    {
        BenchTrack t = departure(0x4b0034, "SWR134", true, "lining up",
                                 "first seen lining up: 30 m at 4 kt onto the runway, 40 s lined up, rolls");
        positionsOnly(t, false, 34);
        cases.push_back({t, departs});
    }
    {
        // At a holding point away from the stands for 3 minutes, then taxiing (its reports with speed and track).
        TrackBuilder b = builder(0x4b0035, "SWR135", "A320", 0.15, 0.7, 190);
        b.every(2).ground(180, 0);
        const std::size_t standing = b.records().size();
        b.ground(10, 15).ground(30, 15).ground(12, 15, 90).ground(20, 15).ground(14, 0).every(4).ground(40, 0);
        BenchTrack t = b.track("holding point", "stands 3 minutes at a holding point, positions only, then taxis");
        BenchTrack stand = t;
        stand.records.resize(standing);
        positionsOnly(stand, true, 35);
        std::copy(stand.records.begin(), stand.records.end(), t.records.begin());
        Case c{t, created};
        c.standAtEnd = false;
        cases.push_back(c);
    }
    {
        // The guard: first seen rolling at 90 kt on the runway, to 150 kt in 14 s, then climbing.
        TrackBuilder b = builder(0x4b0036, "SWR136", "A320", -0.05, 0.8, kRunway);
        const movement_bench::Runway runway = runwayAhead(b, kRunway, 3000);
        b.gap(21, 90, 0).altitude(0).every(2).ground(14, 150).altitude(kField + 30).air(4, 155, 0, 1500);
        b.air(90, 180, 0, 2000);
        BenchTrack t = b.track("first seen rolling", "first seen at 90 kt on the runway, positions only");
        positionsOnly(t, true, 36);
        t.runways = {runway};
        cases.push_back({t, {"not created standing on a roll", "speed as reported", "trace: turned on the spot"}});
    }
    for (Case& c : cases) {
        c.track.createdWhereFirstReported = c.track.name != "first seen rolling";
        c.track.firstReportedRolling = !c.track.createdWhereFirstReported;
        c.track.speedAsReported = true;
    }
    return cases;
}

TEST_F(MovementBenchRun, AnAircraftFirstSeenStandingAppearsWhereItStands) {
    playEach(
        firstSeenStandingTracks(),
        [](const Case&, BenchOptions& options) {
            g_parkPositions = farApron();
            g_reservedStand.clear();
            gf_forgetUserStand();
            options.realStands = true;
            options.keepPaths = true;
            options.tailTicks = 6000;
        },
        [] {
            g_parkPositions.clear();
            gf_forgetUserStand();
        },
        "movement_bench_first_seen_standing.txt");
}

TEST_F(MovementBenchRun, ZurichRecordingPlaysThrough) {
    std::vector<BenchTrack> tracks = movement_bench::gf_readAdsbRecording(testing_support::zurichRecording(), kField);
    ASSERT_FALSE(tracks.empty());
    for (BenchTrack& t : tracks) {
        t.runways = kZurichRunways;
        // It stands 35 minutes away from any stand, its reports scattering 100 to 600 m without a speed.
        t.standsInScatter = !t.records.empty() && t.records.front().callsign == "SWR75C";
    }
    liveriesFor(tracks);
    BenchOptions options = zurichOptions();
    // ZNTV_BENCH_PATHS=<file> writes every position as the simulator stand-in's trace lines, for its judges.
    const char* pathsFile = std::getenv("ZNTV_BENCH_PATHS");
    options.keepPaths = pathsFile != nullptr;
    MovementBench bench(options);
    for (const BenchTrack& t : tracks) bench.add(t);
    bench.run();
    publish(bench.report("Zurich recording"), "movement_bench_zurich.txt");
    if (pathsFile) {
        std::ofstream out(pathsFile);
        for (const movement_bench::TrackResult& r : bench.results())
            for (const movement_bench::PathSample& p : r.path)
                out << fmt::format("{{\"event\":\"update\",\"id\":{},\"atcId\":\"{}\",\"t\":{:.2f},\"lat\":{:.7f},"
                                   "\"lon\":{:.7f},\"heading\":{:.2f},\"onGround\":{}}}\n",
                                   r.hexId, r.callsign, p.tick / 100.0, p.lat, p.lon,
                                   std::fmod(p.heading * 180.0 / std::numbers::pi + 360.0, 360.0),
                                   p.onGround ? "true" : "false");
    }
    EXPECT_GT(bench.ticksPlayed(), 0);
    EXPECT_EQ(bench.lostTicks(), 0);
    ASSERT_EQ(bench.results().size(), tracks.size());
    // Whatever the recording's reports hold, every aircraft keeps every check.
    for (const movement_bench::TrackResult& r : bench.results()) {
        for (const auto& [name, counter] : r.counters) {
            EXPECT_EQ(counter.fail, 0) << r.callsign << ": " << name << ", worst " << counter.worstValue << " (limit "
                                       << counter.worstLimit << ") at tick " << counter.worstTick;
        }
    }
    // SWR75C stood where it stopped among its scatter.
    const auto standing = std::find_if(bench.results().begin(), bench.results().end(),
                                       [](const movement_bench::TrackResult& x) { return x.callsign == "SWR75C"; });
    ASSERT_NE(standing, bench.results().end());
    const auto still = standing->counters.find("standing still in scatter");
    EXPECT_TRUE(still != standing->counters.end() && still->second.pass >= 1 && still->second.fail == 0);
    // The departures whose ground reports carry no speed roll and lift off, from a runway, at their rotation
    // speed, after a roll that never slowed.
    for (const char* callsign : {"SWR137H", "ACA879", "SWR5220", "AEE5ZH", "ENT57BW"}) {
        const auto r = std::find_if(bench.results().begin(), bench.results().end(),
                                    [&](const movement_bench::TrackResult& x) { return x.callsign == callsign; });
        ASSERT_NE(r, bench.results().end()) << callsign;
        for (const char* check :
             {"take-off from a runway", "lift-off speed", "take-off roll speed", "take-off roll gain"}) {
            const auto it = r->counters.find(check);
            EXPECT_TRUE(it != r->counters.end() && it->second.pass >= 1 && it->second.fail == 0) << callsign << ": "
                                                                                                  << check;
        }
    }
}

// The stands of the stock Zurich stand file the build makes (the demo's), numbered as a load numbers them.
std::filesystem::path stockZurichStandFile() {
    return std::filesystem::path(ZNTV_BINARY_DIR) / "server" / "P3D" / "archive" / "stock" / "LSZH.xml";
}
std::vector<ParkPos> stockZurichStands() {
    std::ifstream in(stockZurichStandFile());
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    StandFile file;
    std::string error;
    if (!gf_readStandFileText(text, 1, file, error)) return {};
    gf_numberStands(file.stands);
    return file.stands;
}

// The demo's scenario as the live-traffic stand-in serves it to the program: a report every 2 s, interpolated
// between the scenario's points, read without a ground reference, with the stands of the stock Zurich stand file
// and the program's own stand search, as the demo has them. When the reports meet the points decides what the
// program sees of a stale place or a jump, so it is played at several phases. Its second arrival, VJT796, reaches
// stand A33 at each, on time or late (its reports jump 21 m past the stand, come back to it and later hop 26 m off
// and back): without turning on the spot or going out to where its reports left again, and it stays there.
// Each phase is a test of its own, so that the phases run side by side and each stays well within its time-out
// under the sanitizers on a busy machine.
class MovementBenchAsServed : public MovementBenchRun, public testing::WithParamInterface<double> {};

TEST_P(MovementBenchAsServed, DemoScenarioPlaysThroughAsServed) {
    const std::filesystem::path scenario = std::filesystem::path(ZNTV_BINARY_DIR) / "scenarios" / "zurich.json";
    const std::vector<ParkPos> stands = stockZurichStands();
    ASSERT_TRUE(std::filesystem::exists(scenario) && !stands.empty()) << "the build makes the scenario and stand file";
    const auto a33 = std::find_if(stands.begin(), stands.end(), [](const ParkPos& p) { return p.id == "A33"; });
    ASSERT_NE(a33, stands.end());
    const double phase = GetParam();
    std::vector<BenchTrack> tracks = movement_bench::gf_readScenarioAsServed(scenario, 1018.0, 2.0, phase, 1000.0);
    ASSERT_FALSE(tracks.empty());
    for (BenchTrack& t : tracks) t.runways = kZurichRunways;
    const std::unique_ptr<MovementBench> played = playOnStands(stands, tracks, zurichOptions());
    const MovementBench& bench = *played;
    publish(bench.report(fmt::format("Zurich scenario as served, phase {} s", phase)),
            fmt::format("movement_bench_scenario_{}.txt", static_cast<int>(phase * 10)));
    EXPECT_EQ(bench.lostTicks(), 0);
    const auto vjt = std::find_if(bench.results().begin(), bench.results().end(),
                                  [](const movement_bench::TrackResult& r) { return r.callsign == "VJT796"; });
    ASSERT_NE(vjt, bench.results().end());
    EXPECT_EQ(vjt->standsReached, std::vector<std::uint32_t>{a33->index});
    for (const movement_bench::TrackResult& r : bench.results()) {
        for (const auto& [name, counter] : r.counters) {
            EXPECT_EQ(counter.fail, 0) << r.callsign << ": " << name << ", worst " << counter.worstValue
                                       << " (limit " << counter.worstLimit << ") at tick " << counter.worstTick;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Phases, MovementBenchAsServed, testing::Values(0.0, 0.3, 0.5, 0.9, 1.0, 1.5, 1.6, 1.8),
                         [](const testing::TestParamInfo<double>& info) {
                             return fmt::format("Phase{}ms", static_cast<int>(info.param * 1000));
                         });

// A business jet taxis onto stand A33 of the stock Zurich stands; a minute after it parked its reports hop 24 m
// out along the stand's axis in 6 s (the service smooths a jump of ADS-B positions into steady motion), lie there
// 73 s and come back. A hop that comes back is no departure: whatever the phase of the reports, the aircraft
// stays on its stand.
TEST_F(MovementBenchRun, AParkedAircraftStaysOnItsStandThroughAHopOfItsReports) {
    const std::vector<ParkPos> stands = stockZurichStands();
    const auto a33 = std::find_if(stands.begin(), stands.end(), [](const ParkPos& p) { return p.id == "A33"; });
    ASSERT_NE(a33, stands.end()) << "the build makes the stock Zurich stand file";
    const double trk = a33->heading * 180.0 / std::numbers::pi;
    const auto at = [&](double t, double metres, double kt) {
        const GeoPosition p = gf_destinationPoint(a33->latitude, a33->longitude, a33->heading, metres * 3.280839895);
        return ScenarioPoint{t, p.latitude, p.longitude, 0, kt, trk, 0, true};
    };
    const std::vector<ScenarioPoint> points = {at(0, -300, 15), at(40, -10, 5),  at(45, 0, 0),   at(105, 0, 0),
                                               at(111, 24, 8),  at(184, 24, 0), at(190, 0, 0), at(400, 0, 0)};
    for (const double phase : {0.0, 0.5, 1.0, 1.5}) {
        SCOPED_TRACE(fmt::format("phase {} s", phase));
        BenchTrack track;
        track.name = "parked through a hop";
        track.records = serviceReports(points, phase);
        BenchOptions options = traced();
        options.tailTicks = 3000;
        const std::unique_ptr<MovementBench> bench = playOnStands(stands, {track}, options);
        ASSERT_EQ(bench->results().size(), 1u);
        const movement_bench::TrackResult& r = bench->results().front();
        EXPECT_EQ(r.standsReached, std::vector<std::uint32_t>{a33->index});
        EXPECT_EQ(r.counters.count("stand kept after arrival"), 0u) << "left its stand";
        for (const auto& [name, counter] : r.counters)
            EXPECT_EQ(counter.fail, 0) << name << ", worst " << counter.worstValue << " at tick " << counter.worstTick;
    }
}

// When a departure's places show it set off and lift off (seconds of play), from the places alone. It lifts off
// at its first place in the air, or by its first place in the air that the next 10 s of places all keep there
// (a lone place in the air amid ground ones is no lift-off yet); it sets off where its places, second by second,
// end 10 s or more of standing (under 3 kt over every 5 s) before their lift-off: nothing where they do not.
struct RollTimes {
    std::optional<double> setOff;
    double liftOff = 0.0, liftOffLast = 0.0;
};
template <typename Sample, typename Time, typename Air>
std::optional<RollTimes> rollTimes(const std::vector<Sample>& samples, Time time, Air air) {
    const auto lift = std::find_if(samples.begin(), samples.end(), air);
    if (lift == samples.begin() || lift == samples.end()) return std::nullopt;
    RollTimes times{std::nullopt, time(*lift), time(*lift)};
    for (auto it = lift; it != samples.end(); ++it) {
        if (!air(*it)) continue;
        const auto ground = std::find_if(it, samples.end(), [&](const Sample& s) { return !air(s); });
        if (ground == samples.end() || time(*ground) > time(*it) + 10.0) {
            times.liftOffLast = time(*it);
            break;
        }
        it = ground;
    }
    // The place at each whole second: the newest one then.
    const double from = std::ceil(time(samples.front()));
    std::vector<std::pair<double, double>> at;
    auto s = samples.begin();
    for (double t = from; t <= times.liftOff; t += 1.0) {
        while (std::next(s) != samples.end() && time(*std::next(s)) <= t) ++s;
        at.emplace_back(s->lat, s->lon);
    }
    const auto slow = [&](std::size_t i) {
        return i + 5 < at.size() && gf_distanceNM(at[i].first, at[i].second, at[i + 5].first, at[i + 5].second) / 5.0 *
                                            3600.0 < 3.0;
    };
    std::size_t run = 0;
    for (std::size_t i = at.size() >= 6 ? at.size() - 6 : 0; i-- > 0;) {
        run = slow(i) ? run + 1 : 0;
        if (run > 10) {
            // The standing ends where its last slow second does.
            std::size_t end = i + 10;
            while (end + 1 < at.size() && slow(end + 1)) ++end;
            times.setOff = from + static_cast<double>(end) + 5.0;
            break;
        }
    }
    return times;
}

// A departure lined up on the runway whose ground reports carry neither speed nor track, as surface reports
// often do: standing, its places scatter 1 to 3 m; rolling, a new one every 1 or 2 s, some repeated, some 20 to
// 30 m behind the one before. The recording's five departures are played from their first report to a minute after
// their lift-off, their ground reports as they are (without speed or track). Read before the park airport is known
// and after it (12 rows, each counted), each sets off within 3 s of its places, gains 5 kt in every 5 s, lifts off
// within 2 s of its places and once, never above 50 ft over the field while its places are on the ground, and brakes
// nowhere harder than 0.4 g; the exceptions, and why, are told where they are made.
TEST_F(MovementBenchRun, ADepartureWhoseGroundReportsCarryNoSpeedSetsOffAndLiftsOffWithItsPlaces) {
    std::vector<BenchTrack> tracks;
    {
        TrackBuilder b = builder(0x4b0040, "SWR160", "A320", -0.05, 0.8, kRunway);
        const movement_bench::Runway runway = runwayAhead(b, kRunway, 3000);
        b.every(1).ground(37, 0).ground(40, 160).altitude(kField + 30).every(2).air(4, 165, 0, 1500);
        b.air(60, 180, 0, 2000);
        BenchTrack t = b.track("lined up, scattered", "lined up 37 s scattering 1-3 m, a roll without speed or track");
        std::mt19937 random(48);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        std::vector<TrafficRecord> spoiltRecords;
        for (TrafficRecord r : t.records) {
            if (r.airborne) {
                spoiltRecords.push_back(r);
                continue;
            }
            // Standing, its reports say which way it points; rolling, they carry neither speed nor track.
            const bool standing = r.speed == 0.0;
            r.speed = r.tas = 0.0;
            r.speedGiven = false;
            if (!standing) {
                r.track = 0.0;
                r.trackGiven = false;
            }
            const double draw = unit(random);
            if (standing) {
                const GeoPosition p = gf_destinationPoint(r.lat, r.lon, draw * 2.0 * std::numbers::pi,
                                                          (1.0 + 2.0 * unit(random)) * 3.280839895);
                r.lat = p.latitude;
                r.lon = p.longitude;
            } else if (draw < 0.3 && !spoiltRecords.empty() && spoiltRecords.back().time < r.time - 1.5) {
                // Every 1 or 2 s: this one is not sent.
                continue;
            } else if (draw < 0.45 && !spoiltRecords.empty()) {
                r.lat = spoiltRecords.back().lat;
                r.lon = spoiltRecords.back().lon;
            } else if (draw < 0.55 && !spoiltRecords.empty() && r.time - 1.0e9 > 47.0) {
                // Rolling at 40 kt or more, a stale place: 20 to 30 m behind the one before.
                const TrafficRecord& before = spoiltRecords.back();
                const GeoPosition p = gf_destinationPoint(before.lat, before.lon,
                                                          (kRunway + 180.0) * std::numbers::pi / 180.0,
                                                          (20.0 + 10.0 * unit(random)) * 3.280839895);
                r.lat = p.latitude;
                r.lon = p.longitude;
            }
            spoiltRecords.push_back(r);
        }
        t.records = spoiltRecords;
        t.runways = {runway};
        tracks.push_back(t);
    }
    // Each departure of the recording from its first report to a minute after its lift-off. The reader's heights
    // tell two of them wrong: ENT57BW's reports carry no speed, so none reads as in the air; ACA879's roll is
    // reported 360 ft above the field and reads as in the air from 96 kt, 20 s before it climbs. Their places lift
    // off where their reports climb: a vertical rate of 100 ft/min or more, or a height that it and the next
    // report keep 50 ft or more above the lowest of the 20 s before.
    const std::set<std::string> departures = {"SWR137H", "ACA879", "SWR5220", "AEE5ZH", "ENT57BW"};
    const std::set<std::string> liftOffByClimb = {"ACA879", "ENT57BW"};
    std::map<std::string, std::vector<TrafficRecord>> placesOf;
    for (BenchTrack& t : movement_bench::gf_readAdsbRecording(testing_support::zurichRecording(), kField)) {
        if (!departures.contains(t.records.front().callsign)) continue;
        t.name = t.records.front().callsign;
        std::vector<TrafficRecord> places = t.records;
        if (liftOffByClimb.contains(t.name)) {
            const auto above = [&](std::size_t i) {
                std::optional<double> lowest;
                for (std::size_t j = i; j-- > 0 && t.records[j].time >= t.records[i].time - 20.0;)
                    if (t.records[j].reportedAlt > 0.0)
                        lowest = std::min(lowest.value_or(t.records[j].reportedAlt), t.records[j].reportedAlt);
                return lowest && t.records[i].reportedAlt >= *lowest + 50.0;
            };
            for (std::size_t i = 0; i < places.size(); ++i)
                places[i].airborne =
                    t.records[i].vs >= 100.0 || (above(i) && i + 1 < places.size() && above(i + 1));
        }
        const auto lift =
            std::find_if(places.begin(), places.end(), [](const TrafficRecord& r) { return r.airborne; });
        ASSERT_NE(lift, places.end()) << t.name;
        const double until = lift->time + 60.0;
        std::erase_if(t.records, [&](const TrafficRecord& r) { return r.time > until; });
        std::erase_if(places, [&](const TrafficRecord& r) { return r.time > until; });
        placesOf[t.name] = places;
        t.runways = kZurichRunways;
        tracks.push_back(t);
    }
    ASSERT_EQ(tracks.size(), 1 + departures.size());
    int rowsChecked = 0;
    liveriesFor(tracks);
    for (const BenchTrack& track : tracks) {
        for (const std::int32_t elevationAfter : {0, 1000000}) {
            SCOPED_TRACE(fmt::format("{}, park airport {}", track.name, elevationAfter ? "after" : "before"));
            gf_seedWorkRandom(1);
            BenchOptions options = zurichOptions();
            options.keepPaths = true;
            options.standsWhereTracksEnd = false;
            options.parkElevationAfterTicks = elevationAfter;
            MovementBench bench(options);
            bench.add(track);
            bench.run();
            ASSERT_EQ(bench.results().size(), 1u);
            const movement_bench::TrackResult& r = bench.results().front();
            const double t0 = track.records.front().time;
            // A record plays 30 s after its time from the bench's start.
            const auto played = [&](const TrafficRecord& x) { return (x.time - t0) + 1030.0; };
            const auto it = placesOf.find(track.name);
            const auto places = rollTimes(it == placesOf.end() ? track.records : it->second, played,
                                          [](const TrafficRecord& x) { return x.airborne; });
            const auto moves = rollTimes(r.path, [](const movement_bench::PathSample& s) { return s.tick / 100.0; },
                                         [](const movement_bench::PathSample& s) { return !s.onGround; });
            ASSERT_TRUE(places && moves);
            // Two of the recording's departures stand, then their places jump away and go on from there: AEE5ZH's
            // 375 m onto the runway in a second, ENT57BW's 105 m, then creeping on in steps of 13 m. The program
            // reads the places after such a jump as the scatter of the aircraft standing (which reaches hundreds of
            // metres) until they show sustained motion, and the reports it takes meanwhile become stops where it
            // stood: AEE5ZH leaves 4 s after its jump, ENT57BW 14 s (9 and 19 s after its places' set-off, as a start
            // from standing measures). They are held not to leave before their places.
            const bool setsOffAfterAJump = track.name == "AEE5ZH" || track.name == "ENT57BW";
            if (places->setOff) {
                ASSERT_TRUE(moves->setOff);
                if (setsOffAfterAJump) {
                    EXPECT_GE(*moves->setOff, *places->setOff) << "set-off";
                } else {
                    EXPECT_NEAR(*moves->setOff, *places->setOff, 3.0) << "set-off";
                }
            }
            // Not before its first place in the air, nor after the one its places stay in the air from. AEE5ZH's
            // places, after their 146-degree turn onto the runway, gain 7 kt a second to their lift-off (0.37 g,
            // where its category gains 0.3 g at most): it lifts off later.
            EXPECT_GE(moves->liftOff, places->liftOff - 2.0) << "lift-off";
            if (track.name != "AEE5ZH") {
                EXPECT_LE(moves->liftOff, places->liftOffLast + 2.0) << "lift-off";
            }
            int liftOffs = 0;
            double highest = 0.0;
            for (std::size_t i = 1; i < r.path.size(); ++i) {
                liftOffs += r.path[i - 1].onGround && !r.path[i].onGround;
                if (r.path[i].tick / 100.0 < places->liftOff) highest = std::max(highest, r.path[i].alt - kField);
            }
            EXPECT_EQ(liftOffs, 1);
            EXPECT_LE(highest, 50.0);
            for (const char* check : {"take-off roll gain", "ground braking"}) {
                const auto it = r.counters.find(check);
                EXPECT_TRUE(it != r.counters.end() && it->second.total() > 0 && it->second.fail == 0)
                    << check << ", worst " << (it == r.counters.end() ? 0.0 : it->second.worstValue);
            }
            ++rowsChecked;
        }
    }
    // The made departure and the recording's five, each read before and after the park airport is known.
    EXPECT_EQ(rowsChecked, 12);
}

}  // namespace

// The demo's world and the recording as a real machine plays them: the service's replies come up to 0.4 s after
// their poll, and now and then a tick of the program comes up to 0.4 s late, by the row's seed. The demo's world
// starts as the program starts, 57 s into it, or from its first report, every aircraft coming in with the live
// replies. At the program's start the buffered request brings the last 24 s as snapshots 6 s apart, read before the
// park airport and its elevation are known (so the first arrival's last one, at the field's height, reads as in the
// air), and the live replies reach the running loop from 14 s later. Every aircraft keeps every check in every row:
// the first arrival rolls out along the runway, nowhere stopping dead or swinging off, and stands on its stand's
// heading.
struct LateClockRow {
    bool demo;  // else the recording
    std::uint32_t seed;
    double phase;
    bool buffered;  // the demo's world as the program starts on it, else as each aircraft comes into range
};

void PrintTo(const LateClockRow& r, std::ostream* os) {
    *os << (r.demo ? "demo's world" : "recording") << ", seed " << r.seed << ", phase " << r.phase
        << (r.buffered ? ", buffered start" : "");
}

// Each row is a test of its own, so that the rows run side by side and each stays well within its time-out under
// the sanitizers.
class MovementBenchLateClock : public MovementBenchRun, public testing::WithParamInterface<LateClockRow> {};

TEST_P(MovementBenchLateClock, TheDemosWorldAndTheRecordingKeepEveryCheckOnALateClock) {
    const std::filesystem::path scenario = std::filesystem::path(ZNTV_BINARY_DIR) / "scenarios" / "zurich.json";
    const std::vector<ParkPos> stands = stockZurichStands();
    ASSERT_TRUE(std::filesystem::exists(scenario) && !stands.empty()) << "the build makes the scenario and stand file";
    const LateClockRow& row = GetParam();
    const std::string name =
        fmt::format("{}, seed {}{}", row.demo ? fmt::format("demo's world at phase {} s", row.phase) : "recording",
                    row.seed, row.demo && !row.buffered ? ", without the buffered start" : "");
    BenchOptions options = zurichOptions();
    options.lateSeed = row.seed;
    options.lateReplyTicks = 40;
    options.lateTickTicks = 40;
    std::unique_ptr<MovementBench> played;
    if (row.demo) {
        std::vector<BenchTrack> tracks =
            movement_bench::gf_readScenarioAsServed(scenario, 1018.0, 2.0, row.phase, 1000.0);
        ASSERT_FALSE(tracks.empty());
        for (BenchTrack& t : tracks) t.runways = kZurichRunways;
        if (row.buffered) {
            options.bufferedPollTicks = 5700;
            options.bufferedLiveGapTicks = 1200;
            options.parkElevationAfterTicks = options.bufferedPollTicks + 200;
        }
        played = playOnStands(stands, tracks, options);
    } else {
        std::vector<BenchTrack> tracks =
            movement_bench::gf_readAdsbRecording(testing_support::zurichRecording(), kField);
        ASSERT_FALSE(tracks.empty());
        for (BenchTrack& t : tracks) t.runways = kZurichRunways;
        liveriesFor(tracks);
        gf_seedWorkRandom(1);
        played = std::make_unique<MovementBench>(options);
        for (const BenchTrack& t : tracks) played->add(t);
        played->run();
    }
    publish(played->report(name), fmt::format("movement_bench_late_{}{}.txt", row.seed, row.buffered ? "" : "_live"));
    EXPECT_EQ(played->lostTicks(), 0);
    for (const movement_bench::TrackResult& r : played->results()) {
        for (const auto& [check, counter] : r.counters) {
            EXPECT_EQ(counter.fail, 0) << r.callsign << ": " << check << ", worst " << counter.worstValue
                                       << " (limit " << counter.worstLimit << ") at tick " << counter.worstTick;
        }
    }
}

// The buffered rows pin the landing roll filled in behind the start's snapshots through their phases: zeroed,
// their lateness changes nothing of how they failed before that roll was mended. The rows without the buffered
// start pin what a late tick did to a stand arrival: a turn spread over the minutes that a leg's creeping speed
// gave it rather than the seconds its times allow, the nose still far off the stand's heading at the stand.
INSTANTIATE_TEST_SUITE_P(
    Rows, MovementBenchLateClock,
    testing::Values(LateClockRow{true, 1, 0.0, true}, LateClockRow{true, 2, 0.5, true},
                    LateClockRow{true, 3, 1.0, true}, LateClockRow{true, 4, 1.5, true},
                    LateClockRow{true, 5, 0.25, true}, LateClockRow{true, 6, 1.25, true},
                    LateClockRow{true, 1, 0.0, false}, LateClockRow{true, 24, 0.0, false},
                    LateClockRow{true, 40, 0.0, false}, LateClockRow{true, 9, 0.5, false},
                    LateClockRow{true, 17, 1.0, false}, LateClockRow{true, 33, 1.75, false},
                    LateClockRow{false, 7, 0, false}, LateClockRow{false, 8, 0, false}),
    [](const testing::TestParamInfo<LateClockRow>& info) {
        const LateClockRow& r = info.param;
        return r.demo ? fmt::format("Demo{}Seed{}Phase{}ms", r.buffered ? "Buffered" : "Live", r.seed,
                                    static_cast<int>(r.phase * 1000))
                      : fmt::format("RecordingSeed{}", r.seed);
    });
