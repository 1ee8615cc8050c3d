#include "service/scenario.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

namespace standin {

namespace {

using nlohmann::json;

std::string lf_text(const json& obj, const char* key, std::string fallback = {}) {
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return fallback;
    if (!it->is_string()) throw std::runtime_error(std::string("\"") + key + "\" must be a text");
    return it->get<std::string>();
}

double lf_number(const json& obj, const char* key, const std::string& where) {
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_number()) throw std::runtime_error(where + ": \"" + key + "\" must be a number");
    return it->get<double>();
}

std::optional<double> lf_optionalNumber(const json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_number()) return std::nullopt;
    return it->get<double>();
}

ScenarioPoint lf_point(const json& p, const std::string& where) {
    if (!p.is_object()) throw std::runtime_error(where + ": a track point must be an object");
    ScenarioPoint pt;
    pt.t = lf_number(p, "t", where);
    pt.lat = lf_number(p, "lat", where);
    pt.lon = lf_number(p, "lon", where);
    if (pt.lat < -90 || pt.lat > 90 || pt.lon < -180 || pt.lon > 180)
        throw std::runtime_error(where + ": position out of range");
    pt.alt = lf_optionalNumber(p, "alt");
    pt.gs = lf_optionalNumber(p, "gs").value_or(0);
    pt.track = lf_optionalNumber(p, "trk").value_or(0);
    pt.vs = lf_optionalNumber(p, "vs").value_or(0);
    pt.heading = lf_optionalNumber(p, "hdg");
    if (auto g = p.find("gnd"); g != p.end()) {
        if (!g->is_boolean()) throw std::runtime_error(where + ": \"gnd\" must be true or false");
        pt.onGround = g->get<bool>();
    }
    return pt;
}

ScenarioAircraft lf_aircraft(const json& a, std::size_t index) {
    if (!a.is_object()) throw std::runtime_error("aircraft " + std::to_string(index) + " must be an object");
    ScenarioAircraft ac;
    ac.hex = lf_text(a, "hex");
    if (ac.hex.empty()) throw std::runtime_error("aircraft " + std::to_string(index) + " has no \"hex\"");
    const std::string where = "aircraft " + ac.hex;
    ac.callsign = lf_text(a, "callsign");
    ac.registration = lf_text(a, "registration");
    ac.type = lf_text(a, "type");
    ac.airline = lf_text(a, "airline");
    ac.origin = lf_text(a, "origin");
    ac.destination = lf_text(a, "destination");
    ac.flight = lf_text(a, "flight");
    ac.category = lf_text(a, "category", ac.category);
    ac.squawk = lf_text(a, "squawk", ac.squawk);
    ac.source = lf_text(a, "source", ac.source);
    if (auto n = lf_optionalNumber(a, "fieldCount")) {
        if (*n < 0 || *n > 1000) throw std::runtime_error(where + ": \"fieldCount\" out of range");
        ac.fieldCount = static_cast<int>(*n);
    }
    if (auto f = a.find("fields"); f != a.end()) {
        if (!f->is_object()) throw std::runtime_error(where + ": \"fields\" must be an object");
        for (const auto& [key, value] : f->items()) {
            std::size_t used = 0;
            int index = -1;
            try {
                index = std::stoi(key, &used);
            } catch (const std::exception&) {
            }
            if (used != key.size() || index < 0 || index > 1000)
                throw std::runtime_error(where + ": field index \"" + key + "\" is not a number");
            ac.fields[index] = value;
        }
    }
    auto track = a.find("track");
    if (track == a.end() || !track->is_array() || track->empty())
        throw std::runtime_error(where + ": \"track\" must be a list of points");
    for (const auto& p : *track) ac.track.push_back(lf_point(p, where));
    // A hand-written file may list points out of order; playing them needs them sorted.
    std::stable_sort(ac.track.begin(), ac.track.end(), [](const auto& x, const auto& y) { return x.t < y.t; });
    return ac;
}

ParkedAircraft lf_parked(const json& p, std::size_t index) {
    if (!p.is_object()) throw std::runtime_error("parked aircraft " + std::to_string(index) + " must be an object");
    ParkedAircraft pa;
    pa.hex = lf_text(p, "hex");
    if (pa.hex.empty()) throw std::runtime_error("parked aircraft " + std::to_string(index) + " has no \"hex\"");
    const std::string where = "parked aircraft " + pa.hex;
    pa.lat = lf_number(p, "lat", where);
    pa.lon = lf_number(p, "lon", where);
    pa.stand = lf_text(p, "stand");
    pa.type = lf_text(p, "type");
    pa.registration = lf_text(p, "registration");
    pa.callsign = lf_text(p, "callsign");
    if (auto t = p.find("time"); t != p.end()) pa.time = *t;
    if (auto s = lf_optionalNumber(p, "slot")) {
        if (*s < 0 || *s > 47) throw std::runtime_error(where + ": \"slot\" must lie in 0..47");
        pa.slot = static_cast<int>(*s);
    }
    if (auto g = lf_optionalNumber(p, "age")) {
        if (*g < 0) throw std::runtime_error(where + ": \"age\" must not be negative");
        pa.age = static_cast<int>(*g);
    }
    return pa;
}

double lf_round(double value, double scale) { return std::round(value * scale) / scale; }

// Shortest turn from a to b in degrees, in (-180, 180].
double lf_turn(double a, double b) {
    double d = std::fmod(b - a, 360.0);
    if (d > 180) d -= 360;
    if (d <= -180) d += 360;
    return d;
}

double lf_normalised(double deg) {
    double d = std::fmod(deg, 360.0);
    return d < 0 ? d + 360 : d;
}

}  // namespace

Scenario gf_scenarioFromJson(const json& doc) {
    if (!doc.is_object()) throw std::runtime_error("a scenario must be a JSON object");
    Scenario s;
    s.name = lf_text(doc, "name");
    if (auto l = doc.find("loop"); l != doc.end() && l->is_boolean()) s.loop = l->get<bool>();
    if (auto d = lf_optionalNumber(doc, "duration")) {
        if (*d <= 0) throw std::runtime_error("\"duration\" must be positive");
        s.duration = *d;
    }
    if (auto a = doc.find("aircraft"); a != doc.end()) {
        if (!a->is_array()) throw std::runtime_error("\"aircraft\" must be a list");
        for (std::size_t i = 0; i < a->size(); ++i) s.aircraft.push_back(lf_aircraft((*a)[i], i));
    }
    if (auto p = doc.find("parked"); p != doc.end()) {
        if (!p->is_array()) throw std::runtime_error("\"parked\" must be a list");
        for (std::size_t i = 0; i < p->size(); ++i) s.parked.push_back(lf_parked((*p)[i], i));
    }
    if (auto m = doc.find("metar"); m != doc.end()) {
        if (!m->is_array()) throw std::runtime_error("\"metar\" must be a list");
        for (const auto& st : *m) {
            if (!st.is_object()) throw std::runtime_error("a METAR station must be an object");
            MetarStation station;
            station.icao = lf_text(st, "icao");
            if (station.icao.empty()) throw std::runtime_error("a METAR station has no \"icao\"");
            station.lat = lf_number(st, "lat", "station " + station.icao);
            station.lon = lf_number(st, "lon", "station " + station.icao);
            if (auto q = st.find("qnh"); q != st.end()) station.qnh = *q;
            station.metar = lf_text(st, "metar");
            s.metar.push_back(std::move(station));
        }
    }
    return s;
}

Scenario gf_loadScenario(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open scenario " + file.string());
    json doc;
    try {
        doc = json::parse(in);
    } catch (const json::exception& e) {
        throw std::runtime_error("scenario " + file.string() + ": " + e.what());
    }
    try {
        return gf_scenarioFromJson(doc);
    } catch (const std::exception& e) {
        throw std::runtime_error("scenario " + file.string() + ": " + e.what());
    }
}

void gf_saveScenario(const Scenario& scenario, const std::filesystem::path& file) {
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
    const std::filesystem::path temp = file.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << gf_scenarioToJson(scenario).dump() << "\n";
        if (!out) throw std::runtime_error("cannot write " + temp.string());
    }
    std::filesystem::rename(temp, file);
}

json gf_scenarioToJson(const Scenario& s) {
    json doc = json::object();
    if (!s.name.empty()) doc["name"] = s.name;
    doc["loop"] = s.loop;
    if (s.duration) doc["duration"] = *s.duration;
    json aircraft = json::array();
    for (const auto& ac : s.aircraft) {
        json a = {{"hex", ac.hex},           {"callsign", ac.callsign}, {"registration", ac.registration},
                  {"type", ac.type},         {"airline", ac.airline},   {"origin", ac.origin},
                  {"destination", ac.destination}, {"flight", ac.flight}, {"category", ac.category},
                  {"squawk", ac.squawk},     {"source", ac.source}};
        if (ac.fieldCount != 48) a["fieldCount"] = ac.fieldCount;
        if (!ac.fields.empty()) {
            json f = json::object();
            for (const auto& [index, value] : ac.fields) f[std::to_string(index)] = value;
            a["fields"] = f;
        }
        json track = json::array();
        // Rounded to what a report carries (about 10 cm, a tenth of a knot or degree) to keep files small.
        for (const auto& p : ac.track) {
            json q = {{"t", lf_round(p.t, 1e3)},
                      {"lat", lf_round(p.lat, 1e6)},
                      {"lon", lf_round(p.lon, 1e6)},
                      {"alt", p.alt ? json(lf_round(*p.alt, 1)) : json(nullptr)},
                      {"gs", lf_round(p.gs, 10)},
                      {"trk", lf_round(p.track, 10)},
                      {"vs", lf_round(p.vs, 1)},
                      {"gnd", p.onGround}};
            if (p.heading) q["hdg"] = lf_round(*p.heading, 10);
            track.push_back(std::move(q));
        }
        a["track"] = std::move(track);
        aircraft.push_back(std::move(a));
    }
    doc["aircraft"] = std::move(aircraft);
    json parked = json::array();
    for (const auto& p : s.parked) {
        json q = {{"hex", p.hex},   {"lat", p.lat},   {"lon", p.lon},
                  {"stand", p.stand}, {"type", p.type}, {"registration", p.registration},
                  {"callsign", p.callsign}};
        if (p.time) q["time"] = *p.time;
        if (p.slot) q["slot"] = *p.slot;
        if (p.age) q["age"] = *p.age;
        parked.push_back(std::move(q));
    }
    doc["parked"] = std::move(parked);
    json metar = json::array();
    for (const auto& m : s.metar)
        metar.push_back({{"icao", m.icao}, {"lat", m.lat}, {"lon", m.lon}, {"qnh", m.qnh}, {"metar", m.metar}});
    doc["metar"] = std::move(metar);
    return doc;
}

std::optional<AircraftState> gf_aircraftAt(const ScenarioAircraft& aircraft, double t) {
    const auto& tr = aircraft.track;
    if (tr.empty() || t < tr.front().t || t > tr.back().t) return std::nullopt;
    AircraftState st;
    st.aircraft = &aircraft;
    auto next = std::upper_bound(tr.begin(), tr.end(), t, [](double v, const ScenarioPoint& p) { return v < p.t; });
    if (next == tr.end()) {
        // Exactly at the last point: nothing to interpolate; the leg that led here gives the turn rate.
        st.point = tr.back();
        if (tr.size() > 1) {
            const auto& a = tr[tr.size() - 2];
            const double dt = tr.back().t - a.t;
            if (dt > 0) st.trackRate = lf_turn(a.track, tr.back().track) / dt;
        }
        st.point.t = t;
        return st;
    }
    const ScenarioPoint& b = *next;
    const ScenarioPoint& a = *(next - 1);
    const double dt = b.t - a.t;
    const double f = dt > 0 ? (t - a.t) / dt : 0.0;
    const ScenarioPoint& nearer = f < 0.5 ? a : b;
    ScenarioPoint& p = st.point;
    p.t = t;
    p.lat = a.lat + (b.lat - a.lat) * f;
    p.lon = a.lon + lf_turn(a.lon, b.lon) * f;  // the short way across the date line
    if (p.lon > 180) p.lon -= 360;
    if (p.lon < -180) p.lon += 360;
    // A missing altitude is not zero: the report simply had none, so only the nearer report decides.
    p.alt = a.alt && b.alt ? std::optional<double>(*a.alt + (*b.alt - *a.alt) * f) : nearer.alt;
    p.gs = a.gs + (b.gs - a.gs) * f;
    p.vs = a.vs + (b.vs - a.vs) * f;
    p.track = lf_normalised(a.track + lf_turn(a.track, b.track) * f);
    // A heading apart from the track belongs to a leg, such as a push-back, only when both ends carry one.
    if (a.heading && b.heading) p.heading = lf_normalised(*a.heading + lf_turn(*a.heading, *b.heading) * f);
    p.onGround = nearer.onGround;
    st.trackRate = dt > 0 ? lf_turn(a.track, b.track) / dt : 0.0;
    return st;
}

double gf_scenarioDuration(const Scenario& scenario) {
    if (scenario.duration) return *scenario.duration;
    double last = 0;
    for (const auto& ac : scenario.aircraft)
        if (!ac.track.empty()) last = std::max(last, ac.track.back().t);
    return last + 60;
}

std::vector<AircraftState> gf_scenarioSnapshot(const Scenario& scenario, double t) {
    if (scenario.loop) {
        const double d = gf_scenarioDuration(scenario);
        if (d > 0) {
            t = std::fmod(t, d);
            if (t < 0) t += d;
        }
    }
    std::vector<AircraftState> out;
    for (const auto& ac : scenario.aircraft)
        if (auto st = gf_aircraftAt(ac, t)) out.push_back(*st);
    return out;
}

double gf_distanceNm(double lat1, double lon1, double lat2, double lon2) {
    constexpr double kRad = 3.14159265358979323846 / 180.0;
    const double dLat = (lat2 - lat1) * kRad;
    const double dLon = (lon2 - lon1) * kRad;
    const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                     std::cos(lat1 * kRad) * std::cos(lat2 * kRad) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 6875.493541569878 * std::atan2(std::sqrt(a), std::sqrt(1 - a));
}

}  // namespace standin
