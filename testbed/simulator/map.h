// A map of the stand-in's world: every AI object at its position with its heading, callsign, state and recent
// trail, the user aircraft at the centre and the stands of an airport. Drawn into an RGB picture of our own
// (no display needed), written as PNG, and shown by the map window (map_window.h) from the same picture.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin.h"

namespace standin {

struct Rgb8 {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb8&) const = default;
};

// 3 bytes a pixel, rows top to bottom.
struct RgbImage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;

    RgbImage() = default;
    RgbImage(int w, int h, Rgb8 fill);
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    Rgb8 at(int x, int y) const;
    void set(int x, int y, Rgb8 c);
};

enum class MapState { air, ground, parked };

// The colours the map draws with, for the legend and for anyone who looks at a picture.
struct MapColours {
    static constexpr Rgb8 background{236, 239, 233};
    static constexpr Rgb8 air{25, 95, 215};
    static constexpr Rgb8 ground{235, 125, 10};
    static constexpr Rgb8 parked{30, 150, 60};
    static constexpr Rgb8 user{215, 25, 35};
    static constexpr Rgb8 stand{120, 130, 150};
    static constexpr Rgb8 text{20, 20, 24};
};
Rgb8 gf_stateColour(MapState state);
const char* gf_stateName(MapState state);  // "airborne", "ground", "parked"

struct MapStand {
    std::string id;
    double latitude = 0, longitude = 0;
    double radiusM = 0;
};

struct MapPosition {
    double latitude = 0, longitude = 0;
};

struct MapObject {
    std::uint32_t id = 0;
    std::string label;  // the callsign, else the title
    double latitude = 0, longitude = 0, heading = 0;
    double altitudeFt = 0;
    MapState state = MapState::ground;
    std::vector<MapPosition> trail;  // oldest first, ending at the object
};

struct MapScene {
    double centreLatitude = 0, centreLongitude = 0;
    double widthM = 3000;  // ground distance across the picture
    MapObject user;
    std::vector<MapObject> objects;
    std::vector<MapStand> stands;
    std::string caption;  // top line of the legend; empty: none
};

// Where a position falls in a picture of the given size, in pixels (x right, y down); a flat projection about
// the centre, true enough over the few kilometres a map shows.
struct MapPixel {
    double x = 0, y = 0;
};
MapPixel gf_project(const MapScene& scene, int width, int height, double latitude, double longitude);

RgbImage renderMap(const MapScene& scene, int width, int height);

// Writes the picture as PNG through a temporary file beside the target, renamed over it; false (with the
// reason in `error`) when it could not be written, leaving any earlier picture in place.
bool gf_writePng(const RgbImage& image, const std::filesystem::path& file, std::string* error = nullptr);

// The stands of a stand file (id, latitude, longitude, radius of each "parkpos"); nothing when it cannot be
// read as XML. Stands without a position are left out.
std::optional<std::vector<MapStand>> gf_parseStands(std::string_view xml);
std::optional<std::vector<MapStand>> gf_readStands(const std::filesystem::path& file);

// Keeps what the map shows between samples of the stand-in: each object's recent positions and how long it
// has stood still, from which its state is told. Used from one thread (the map's), never the stand-in's.
class MapRecorder {
public:
    using Clock = std::chrono::steady_clock;
    struct Settings {
        std::chrono::milliseconds trailLength{std::chrono::minutes(2)};
        // An object on the ground counts as parked once it has stood still this long in a stand's circle,
        // or the longer time anywhere else (a hold short of the runway is not parking).
        std::chrono::milliseconds parkedAtStandAfter{std::chrono::seconds(3)};
        std::chrono::milliseconds parkedElsewhereAfter{std::chrono::seconds(60)};
        double stillWithinM = 1.5;
        double trailStepM = 3;  // a new trail point once the object has moved this far
    };

    MapRecorder() = default;
    explicit MapRecorder(Settings settings) : m_settings(settings) {}

    void setStands(std::vector<MapStand> stands) { m_stands = std::move(stands); }
    void setWidthM(double widthM);  // kept within 100 m and 200 km
    double widthM() const { return m_widthM; }
    void zoom(double factor);  // < 1 zooms in

    void sample(const std::vector<ObjectState>& ai, const ObjectState& user, Clock::time_point now);
    void sample(const SimulatorStandIn& sim) { sample(sim.aiObjects(), sim.user(), Clock::now()); }

    // The scene centred on the user aircraft.
    MapScene scene() const;

private:
    struct Track {
        ObjectState last;
        std::deque<std::pair<Clock::time_point, MapPosition>> trail;
        MapPosition stillAt;
        Clock::time_point stillSince;
        MapState state = MapState::ground;
    };
    void update(Track& t, const ObjectState& o, Clock::time_point now, bool isNew) const;
    bool inStand(double latitude, double longitude) const;

    Settings m_settings;
    double m_widthM = 3000;
    std::vector<MapStand> m_stands;
    std::map<std::uint32_t, Track> m_tracks;
    Track m_user;
    bool m_haveUser = false;
};

}  // namespace standin
