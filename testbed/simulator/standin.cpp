#include "standin.h"

#include <asio.hpp>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "platform/pipes.h"

namespace standin {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// The stand-in reads requests with its own offsets rather than the client's headers, so that a
// misunderstanding of the layout on one side does not hide on the other.
constexpr std::uint32_t kMsgException = 1, kMsgOpen = 2, kMsgQuit = 3, kMsgEvent = 4, kMsgAddRemove = 5,
                        kMsgFileName = 6, kMsgFrame = 7, kMsgObjectData = 8, kMsgObjectDataByType = 9;
constexpr std::uint32_t kServerProtocolWord = 5;
constexpr std::uint32_t kMaxRequestSize = 0x100000;
constexpr double kPi = 3.14159265358979323846;
// "STATIC CG TO GROUND" of every AI model, feet.
constexpr double kAiStaticCgToGroundFt = 6.5;

std::uint32_t get32(const Bytes& b, std::size_t off) {
    if (off + 4 > b.size()) return 0;
    std::uint32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
double getF64(const std::uint8_t* p) {
    double v;
    std::memcpy(&v, p, 8);
    return v;
}
std::string getText(const Bytes& b, std::size_t off, std::size_t width) {
    std::string s;
    for (std::size_t i = off; i < b.size() && i < off + width && b[i] != 0; ++i) s += static_cast<char>(b[i]);
    return s;
}
std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

struct Writer {
    Bytes b;
    void u32(std::uint32_t v) { append(&v, 4); }
    void f32(float v) { append(&v, 4); }
    void f64(double v) { append(&v, 8); }
    void i64(std::int64_t v) { append(&v, 8); }
    void text(const std::string& s, std::size_t width) {
        std::size_t n = std::min(s.size(), width - 1);
        b.insert(b.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
        b.insert(b.end(), width - n, 0);
    }
    void textV(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
    }
    void append(const void* p, std::size_t n) {
        auto c = static_cast<const std::uint8_t*>(p);
        b.insert(b.end(), c, c + n);
    }
    // Header with the size filled in at the end.
    static Writer message(std::uint32_t id) {
        Writer w;
        w.u32(0);
        w.u32(kServerProtocolWord);
        w.u32(id);
        return w;
    }
    Bytes done() {
        std::uint32_t size = static_cast<std::uint32_t>(b.size());
        std::memcpy(b.data(), &size, 4);
        return std::move(b);
    }
};

std::size_t datumSize(std::uint32_t type) {
    switch (type) {
        case 1: case 3: return 4;     // INT32, FLOAT32
        case 2: case 4: return 8;     // INT64, FLOAT64
        case 5: return 8;             // STRING8
        case 6: return 32;
        case 7: return 64;
        case 8: return 128;
        case 9: return 256;
        case 10: return 260;
        default: return 0;            // STRINGV and unknown: variable
    }
}

double haversineMeters(double lat1, double lon1, double lat2, double lon2) {
    double r = kPi / 180;
    double dlat = (lat2 - lat1) * r, dlon = (lon2 - lon1) * r;
    double a = std::sin(dlat / 2) * std::sin(dlat / 2) +
               std::cos(lat1 * r) * std::cos(lat2 * r) * std::sin(dlon / 2) * std::sin(dlon / 2);
    return 2 * 6371000.0 * std::atan2(std::sqrt(a), std::sqrt(1 - a));
}

}  // namespace

Options defaultOptions() {
    Options o;
    o.user.id = kUserObjectId;
    o.user.title = "Zentavo Test Aircraft";
    o.user.model = "B738";
    o.user.atcId = "D-ZNTV";
    o.user.latitude = 47.4582;   // a stand at Zurich
    o.user.longitude = 8.5555;
    o.user.altitude = 1416;
    o.user.groundAltitude = 1416;
    o.user.heading = 280;
    o.user.onGround = true;
    return o;
}

struct Session {
    int index = 0;
    asio::generic::stream_protocol::socket socket;
    Bytes readBuf = Bytes(65536);
    Bytes pending;  // received, not yet a whole request
    struct Chunk {
        Bytes bytes;
        std::chrono::milliseconds delayBefore{0};
    };
    std::deque<Chunk> writeQueue;
    bool writing = false;
    Bytes batch;  // coalesced messages waiting for their one write
    bool batchPosted = false;
    asio::steady_timer delayTimer;
    SessionView view;
    struct Periodic {
        std::uint32_t requestId, defineId, objectId, period;
    };
    std::vector<Periodic> periodic;
    bool closed = false;

    Session(asio::io_context& io, asio::generic::stream_protocol::socket s)
        : socket(std::move(s)), delayTimer(io) {}
};

struct SimulatorStandIn::Impl {
    explicit Impl(Options o) : options(std::move(o)), frameTimer(io), secondTimer(io) {
        if (options.user.id == 0) options.user.id = kUserObjectId;
        nextAiId = std::max(options.firstAiObjectId, options.user.id + 1);
    }

    Options options;
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::thread thread;
    std::unique_ptr<asio::ip::tcp::acceptor> acceptor4, acceptor6;
    std::unique_ptr<asio::local::stream_protocol::acceptor> acceptorPipe;
    std::filesystem::path pipeFile;
    std::uint16_t port4 = 0, port6 = 0;
    asio::steady_timer frameTimer, secondTimer;
    Clock::time_point started = Clock::now();

    mutable std::mutex mutex;  // everything below
    std::vector<std::shared_ptr<Session>> sessions;
    std::map<std::uint32_t, ObjectState> objects;  // AI objects
    std::uint32_t nextAiId = 100;
    std::vector<Bytes> requests;
    std::size_t requestTotal = 0;
    bool split = false, coalesce = false;
    bool stopping = false;
    std::size_t padding = 0;
    std::ofstream trace, record;

    // ---------- sending (I/O thread, mutex held) ----------

    void queueChunk(const std::shared_ptr<Session>& s, Bytes bytes, std::chrono::milliseconds delay) {
        if (s->closed) return;
        s->writeQueue.push_back({std::move(bytes), delay});
        if (!s->writing) writeNext(s);
    }

    void writeNext(const std::shared_ptr<Session>& s) {
        if (s->writeQueue.empty() || s->closed) {
            s->writing = false;
            return;
        }
        s->writing = true;
        auto chunk = std::make_shared<Session::Chunk>(std::move(s->writeQueue.front()));
        s->writeQueue.pop_front();
        auto doWrite = [this, s, chunk] {
            asio::async_write(s->socket, asio::buffer(chunk->bytes), [this, s, chunk](const asio::error_code& ec, std::size_t) {
                std::lock_guard lock(mutex);
                if (ec) {
                    closeSession(s);
                    return;
                }
                writeNext(s);
            });
        };
        if (chunk->delayBefore.count() > 0) {
            s->delayTimer.expires_after(chunk->delayBefore);
            s->delayTimer.async_wait([this, s, doWrite](const asio::error_code& ec) {
                std::lock_guard lock(mutex);
                if (ec || s->closed) return;
                doWrite();
            });
        } else {
            doWrite();
        }
    }

    void send(const std::shared_ptr<Session>& s, Bytes message) {
        if (padding > 0) message.insert(message.begin(), padding, 0);
        if (coalesce) {
            s->batch.insert(s->batch.end(), message.begin(), message.end());
            if (!s->batchPosted) {
                s->batchPosted = true;
                asio::post(io, [this, s] {
                    std::lock_guard lock(mutex);
                    s->batchPosted = false;
                    queueChunk(s, std::move(s->batch), std::chrono::milliseconds(0));
                    s->batch.clear();
                });
            }
            return;
        }
        if (split && message.size() > 1) {
            std::size_t half = message.size() / 2;
            queueChunk(s, Bytes(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(half)), std::chrono::milliseconds(0));
            queueChunk(s, Bytes(message.begin() + static_cast<std::ptrdiff_t>(half), message.end()), std::chrono::milliseconds(5));
            return;
        }
        queueChunk(s, std::move(message), std::chrono::milliseconds(0));
    }

    void closeSession(const std::shared_ptr<Session>& s) {
        if (s->closed) return;
        s->closed = true;
        s->view.connected = false;
        asio::error_code ignored;
        s->socket.shutdown(asio::socket_base::shutdown_both, ignored);
        s->socket.close(ignored);
        s->delayTimer.cancel();
        s->writeQueue.clear();
        if (!stopping) removeObjectsOf(s);
    }

    // The simulator takes every AI object a client created with the client: a client that ends (or loses its
    // connection) before it has removed its aircraft, or before their ids have even come back, leaves none.
    // When the stand-in itself stops, the world ends with it and nothing is removed.
    void removeObjectsOf(const std::shared_ptr<Session>& s) {
        for (auto it = objects.begin(); it != objects.end();) {
            const ObjectState& o = it->second;
            if (o.foreign || o.createdBySession != s->index) {
                ++it;
                continue;
            }
            const std::uint32_t id = o.id;
            writeTrace("remove", o);
            s->view.removedAtClose.push_back(id);
            it = objects.erase(it);
            announce(id, false);
        }
    }

    void sendEvent(const std::shared_ptr<Session>& s, std::uint32_t eventId, std::uint32_t data) {
        Writer w = Writer::message(kMsgEvent);
        w.u32(0xFFFFFFFFu);  // no group
        w.u32(eventId);
        w.u32(data);
        send(s, w.done());
    }

    void sendException(const std::shared_ptr<Session>& s, std::uint32_t code, std::uint32_t sendId, std::uint32_t index) {
        Writer w = Writer::message(kMsgException);
        w.u32(code);
        w.u32(sendId);
        w.u32(index);
        send(s, w.done());
    }

    // The subscription of a system event by its name, if the client made one.
    std::optional<std::uint32_t> subscribed(const std::shared_ptr<Session>& s, const char* name) {
        auto it = s->view.subscriptions.find(name);
        if (it == s->view.subscriptions.end()) return std::nullopt;
        return it->second;
    }

    void announce(std::uint32_t objectId, bool added) {
        for (auto& s : sessions) {
            if (s->closed || !s->view.open) continue;
            if (auto ev = subscribed(s, added ? "objectadded" : "objectremoved")) {
                Writer w = Writer::message(kMsgAddRemove);
                w.u32(0xFFFFFFFFu);
                w.u32(*ev);
                w.u32(objectId);
                w.u32(2);  // aircraft
                send(s, w.done());
            }
        }
    }

    // ---------- object data ----------

    ObjectState* object(std::uint32_t id) {
        if (id == 0 || id == options.user.id) return &options.user;
        auto it = objects.find(id);
        return it == objects.end() ? nullptr : &it->second;
    }

    void zulu(std::int64_t& seconds, std::int64_t& day, std::int64_t& year) {
        if (options.zuluYear != 0) {
            year = options.zuluYear;
            day = options.zuluDayOfYear;
            seconds = options.zuluSeconds;
            return;
        }
        std::time_t t = std::time(nullptr);
        std::tm tm{};
        gmtime_r(&t, &tm);
        year = tm.tm_year + 1900;
        day = tm.tm_yday + 1;
        seconds = tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
    }

    bool numericValue(const ObjectState& o, const std::string& name, const std::string& units, double& v) {
        bool radians = lower(units).find("radian") != std::string::npos;
        auto angle = [&](double deg) { return radians ? deg * kPi / 180 : deg; };
        std::int64_t zs, zd, zy;
        if (name == "plane latitude") v = angle(o.latitude);
        else if (name == "plane longitude") v = angle(o.longitude);
        else if (name == "plane altitude") v = o.altitude;
        else if (name == "plane pitch degrees") v = angle(o.pitch);
        else if (name == "plane bank degrees") v = angle(o.bank);
        else if (name == "plane heading degrees true") v = angle(o.heading);
        else if (name == "plane alt above ground") v = o.altitude - o.groundAltitude;
        else if (name == "ground altitude") v = o.groundAltitude;
        else if (name == "ground velocity") v = o.groundSpeed;
        else if (name == "airspeed true") v = o.airspeed;
        else if (name == "vertical speed") v = o.verticalSpeed;
        else if (name == "sim on ground") v = o.onGround ? 1 : 0;
        else if (name == "light states" || name == "light on states") v = static_cast<double>(o.lights);
        else if (name == "static cg to ground") v = kAiStaticCgToGroundFt;
        else if (name == "static pitch") v = angle(0.5);
        else if (name == "spoilers handle position") v = o.spoilers;
        else if (name == "general eng throttle lever position:1") v = o.throttle1;
        else if (name == "general eng throttle lever position:2") v = o.throttle2;
        else if (name == "zulu time") { zulu(zs, zd, zy); v = static_cast<double>(zs); }
        else if (name == "zulu day of year") { zulu(zs, zd, zy); v = static_cast<double>(zd); }
        else if (name == "zulu year") { zulu(zs, zd, zy); v = static_cast<double>(zy); }
        else return false;
        return true;
    }

    std::string textValue(const ObjectState& o, const std::string& name) {
        if (name == "title") return o.title;
        if (name == "atc model") return o.model;
        if (name == "atc id") return o.atcId;
        return {};
    }

    Bytes serialise(const ObjectState& o, const std::vector<Datum>& datums) {
        Writer w;
        for (const auto& d : datums) {
            std::string name = lower(d.name);
            double v = 0;
            numericValue(o, name, d.units, v);
            switch (d.type) {
                case 1: w.u32(static_cast<std::uint32_t>(static_cast<std::int32_t>(v))); break;
                case 2: w.i64(static_cast<std::int64_t>(v)); break;
                case 3: w.f32(static_cast<float>(v)); break;
                case 4: w.f64(v); break;
                case 11: w.textV(textValue(o, name)); break;
                default:
                    if (std::size_t n = datumSize(d.type)) w.text(textValue(o, name), n);
                    break;
            }
        }
        return std::move(w.b);
    }

    void applySetData(ObjectState& o, const std::vector<Datum>& datums, const std::uint8_t* p, std::size_t size) {
        std::size_t off = 0;
        for (const auto& d : datums) {
            std::string name = lower(d.name);
            bool radians = lower(d.units).find("radian") != std::string::npos;
            std::size_t n = datumSize(d.type);
            if (d.type == 11) {
                std::size_t e = off;
                while (e < size && p[e] != 0) ++e;
                off = std::min(size, e + 1);
                continue;
            }
            if (n == 0 || off + n > size) return;
            double v = 0;
            if (d.type == 4) v = getF64(p + off);
            else if (d.type == 2) { std::int64_t i; std::memcpy(&i, p + off, 8); v = static_cast<double>(i); }
            else if (d.type == 3) { float f; std::memcpy(&f, p + off, 4); v = f; }
            else if (d.type == 1) { std::int32_t i; std::memcpy(&i, p + off, 4); v = i; }
            off += n;
            double deg = radians ? v * 180 / kPi : v;
            if (name == "plane latitude") o.latitude = deg;
            else if (name == "plane longitude") o.longitude = deg;
            else if (name == "plane altitude") o.altitude = v;
            else if (name == "plane pitch degrees") o.pitch = deg;
            else if (name == "plane bank degrees") o.bank = deg;
            else if (name == "plane heading degrees true") o.heading = deg;
            else if (name == "vertical speed") o.verticalSpeed = v;
            else if (name == "airspeed true") o.airspeed = v;
            else if (name == "spoilers handle position") o.spoilers = v;
            else if (name == "general eng throttle lever position:1") o.throttle1 = v;
            else if (name == "general eng throttle lever position:2") o.throttle2 = v;
        }
    }

    // A moved AI object stands on the user's field (one flat elevation for every AI object) and is on the
    // ground when its centre of gravity is no higher than its static height above the wheels, plus a little:
    // a landing aircraft touches down, a departing one lifts off.
    void settleOnGround(ObjectState& o) {
        constexpr double kGroundContactMarginFt = 0.5;
        o.groundAltitude = options.user.groundAltitude;
        o.onGround = o.altitude <= o.groundAltitude + kAiStaticCgToGroundFt + kGroundContactMarginFt;
    }

    void sendObjectData(const std::shared_ptr<Session>& s, std::uint32_t msgId, std::uint32_t requestId,
                        std::uint32_t defineId, const ObjectState& o, std::uint32_t entry, std::uint32_t outOf) {
        auto def = s->view.definitions.find(defineId);
        if (def == s->view.definitions.end()) return;
        Writer w = Writer::message(msgId);
        w.u32(requestId);
        w.u32(o.id);
        w.u32(defineId);
        w.u32(0);  // flags
        w.u32(entry);
        w.u32(outOf);
        w.u32(static_cast<std::uint32_t>(def->second.size()));
        Bytes data = serialise(o, def->second);
        w.append(data.data(), data.size());
        send(s, w.done());
    }

    // One line per creation, position update and removal of an AI object: "t" is seconds since the stand-in
    // started, "time" the same moment as UTC wall-clock time; angles in degrees, altitude in feet.
    void writeTrace(const char* what, const ObjectState& o) {
        if (!trace.is_open()) return;
        double t = std::chrono::duration<double>(Clock::now() - started).count();
        const auto wall = std::chrono::system_clock::now();
        const std::time_t seconds = std::chrono::system_clock::to_time_t(wall);
        const auto millis =
            std::chrono::duration_cast<std::chrono::milliseconds>(wall.time_since_epoch()).count() % 1000;
        std::tm utc{};
        gmtime_r(&seconds, &utc);
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                      utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
        nlohmann::json j = {{"t", std::round(t * 1000) / 1000}, {"time", stamp}, {"event", what}, {"id", o.id},
                            {"title", o.title}, {"atcId", o.atcId}, {"lat", o.latitude}, {"lon", o.longitude},
                            {"alt", o.altitude}, {"pitch", o.pitch}, {"bank", o.bank}, {"heading", o.heading},
                            {"onGround", o.onGround}};
        trace << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        trace.flush();
    }

    // ---------- requests (I/O thread, mutex held) ----------

    void handleRequest(const std::shared_ptr<Session>& s, const Bytes& r) {
        if (options.keepRequests) requests.push_back(r);
        ++requestTotal;
        s->view.requestCount++;
        if (record.is_open()) {
            static const char* hex = "0123456789abcdef";
            std::string line;
            for (std::uint8_t b : r) {
                line += hex[b >> 4];
                line += hex[b & 15];
            }
            record << line << '\n';
            record.flush();
        }
        std::uint32_t number = get32(r, 8) & 0x0FFFFFFFu;
        std::uint32_t sendId = get32(r, 12);
        switch (number) {
            case 0x01: {
                s->view.clientName = getText(r, 16, 256);
                s->view.open = true;
                Writer w = Writer::message(kMsgOpen);
                w.text(options.simName, 256);
                for (std::uint32_t v : options.version) w.u32(v);
                w.u32(5); w.u32(0); w.u32(0); w.u32(0);  // SimConnect version
                w.u32(0); w.u32(0);                      // reserved
                send(s, w.done());
                break;
            }
            case 0x04:
                s->view.mappedEvents[get32(r, 16)] = getText(r, 20, 256);
                break;
            case 0x05:
                s->view.clientEvents.push_back({get32(r, 16), get32(r, 20), get32(r, 24), get32(r, 28), get32(r, 32)});
                break;
            case 0x07:
                s->view.groups[get32(r, 16)].push_back(get32(r, 20));
                break;
            case 0x09:
                s->view.groupPriorities[get32(r, 16)] = get32(r, 20);
                break;
            case 0x0C:
                s->view.definitions[get32(r, 16)].push_back({getText(r, 20, 256), getText(r, 276, 256), get32(r, 532)});
                break;
            case 0x0E: {
                std::uint32_t requestId = get32(r, 16), defineId = get32(r, 20), objectId = get32(r, 24),
                              period = get32(r, 28);
                std::erase_if(s->periodic, [&](const Session::Periodic& p) { return p.requestId == requestId; });
                if (!s->view.definitions.count(defineId)) {
                    sendException(s, kExceptionUnrecognizedId, sendId, 2);
                    break;
                }
                ObjectState* o = object(objectId);
                if (!o) {
                    sendException(s, kExceptionUnrecognizedId, sendId, 3);
                    break;
                }
                if (period == 1)
                    sendObjectData(s, kMsgObjectData, requestId, defineId, *o, 0, 0);
                else if (period >= 2)
                    s->periodic.push_back({requestId, defineId, objectId, period});
                break;
            }
            case 0x0F: {
                std::uint32_t requestId = get32(r, 16), defineId = get32(r, 20), radius = get32(r, 24);
                if (!s->view.definitions.count(defineId)) {
                    sendException(s, kExceptionUnrecognizedId, sendId, 2);
                    break;
                }
                std::vector<const ObjectState*> found{&options.user};
                for (const auto& [id, o] : objects)
                    if (haversineMeters(options.user.latitude, options.user.longitude, o.latitude, o.longitude) <= radius)
                        found.push_back(&o);
                for (std::size_t i = 0; i < found.size(); ++i)
                    sendObjectData(s, kMsgObjectDataByType, requestId, defineId, *found[i],
                                   static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(found.size()));
                break;
            }
            case 0x10: {
                SetDataRecord rec{get32(r, 16), get32(r, 20), get32(r, 24), get32(r, 28), get32(r, 32), {}};
                if (r.size() > 36) rec.data.assign(r.begin() + 36, r.end());
                ObjectState* o = object(rec.objectId);
                if (!o) {
                    sendException(s, kExceptionUnrecognizedId, sendId, 2);
                } else {
                    auto def = s->view.definitions.find(rec.defineId);
                    if (def != s->view.definitions.end()) {
                        applySetData(*o, def->second, rec.data.data(), rec.data.size());
                        if (o != &options.user) {
                            settleOnGround(*o);
                            writeTrace("update", *o);
                        }
                    }
                }
                // A long run moves its objects many times a second: their updates are kept only on request.
                if (options.keepRequests) s->view.setData.push_back(std::move(rec));
                break;
            }
            case 0x17: {
                std::string name = lower(getText(r, 20, 256));
                s->view.subscriptions[name] = get32(r, 16);
                if (name == "sim") sendEvent(s, get32(r, 16), options.flightRunning ? 1 : 0);
                break;
            }
            case 0x29: {
                std::string title = getText(r, 16, 256);
                std::string tail = getText(r, 272, 12);
                s->view.creationSendIds.push_back(sendId);
                bool refused = title.empty();
                for (const auto& t : options.refusedTitles)
                    if (lower(t) == lower(title)) refused = true;
                if (refused) {
                    sendException(s, kExceptionCreateFailed, sendId, 1);
                    break;
                }
                ObjectState o;
                o.id = nextAiId++;
                o.title = title;
                o.atcId = tail;
                o.model = "AI";
                o.latitude = getF64(&r[284]);
                o.longitude = getF64(&r[292]);
                o.altitude = getF64(&r[300]);
                o.pitch = getF64(&r[308]);
                o.bank = getF64(&r[316]);
                o.heading = getF64(&r[324]);
                o.onGround = get32(r, 332) != 0;
                o.airspeed = get32(r, 336);
                o.groundAltitude = o.onGround ? o.altitude : options.user.groundAltitude;
                o.createdBySession = s->index;
                objects[o.id] = o;
                writeTrace("create", o);
                announce(o.id, true);
                break;
            }
            case 0x2B:
                s->view.releases.push_back({get32(r, 16), get32(r, 20), {}});
                break;
            case 0x2C: {
                std::uint32_t id = get32(r, 16);
                s->view.removals.push_back({id, get32(r, 20), {}});
                auto it = objects.find(id);
                if (it == objects.end()) {
                    sendException(s, kExceptionUnrecognizedId, sendId, 1);
                    break;
                }
                writeTrace("remove", it->second);
                objects.erase(it);
                announce(id, false);
                break;
            }
            case 0x2D:
                s->view.flightPlans.push_back({get32(r, 16), get32(r, 280), getText(r, 20, 260)});
                break;
            default:
                break;  // recorded only
        }
    }

    void startRead(const std::shared_ptr<Session>& s) {
        s->socket.async_read_some(asio::buffer(s->readBuf), [this, s](const asio::error_code& ec, std::size_t n) {
            std::lock_guard lock(mutex);
            if (ec || s->closed) {
                closeSession(s);
                return;
            }
            s->pending.insert(s->pending.end(), s->readBuf.begin(), s->readBuf.begin() + static_cast<std::ptrdiff_t>(n));
            std::size_t off = 0;
            while (s->pending.size() - off >= 4) {
                std::uint32_t size;
                std::memcpy(&size, s->pending.data() + off, 4);
                if (size < 16 || size > kMaxRequestSize) {
                    closeSession(s);  // not a request stream
                    return;
                }
                if (s->pending.size() - off < size) break;
                Bytes request(s->pending.begin() + static_cast<std::ptrdiff_t>(off),
                              s->pending.begin() + static_cast<std::ptrdiff_t>(off + size));
                off += size;
                handleRequest(s, request);
                if (s->closed) return;
            }
            s->pending.erase(s->pending.begin(), s->pending.begin() + static_cast<std::ptrdiff_t>(off));
            startRead(s);
        });
    }

    // ---------- accepting ----------

    void adopt(asio::generic::stream_protocol::socket socket) {
        std::lock_guard lock(mutex);
        if (options.refuseConnections) {
            asio::error_code ignored;
            socket.close(ignored);
            return;
        }
        auto s = std::make_shared<Session>(io, std::move(socket));
        s->index = static_cast<int>(sessions.size());
        s->view.index = s->index;
        s->view.connected = true;
        sessions.push_back(s);
        if (options.acceptDelay.count() > 0) {
            // Accepted late: nothing is read or answered until the delay has passed.
            s->delayTimer.expires_after(options.acceptDelay);
            s->delayTimer.async_wait([this, s](const asio::error_code& ec) {
                std::lock_guard lock(mutex);
                if (!ec && !s->closed) startRead(s);
            });
        } else {
            startRead(s);
        }
    }

    template <typename Acceptor>
    void acceptLoop(Acceptor& acceptor) {
        acceptor.async_accept([this, &acceptor](const asio::error_code& ec, typename Acceptor::protocol_type::socket socket) {
            if (ec) {
                if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
            } else {
                adopt(asio::generic::stream_protocol::socket(std::move(socket)));
            }
            acceptLoop(acceptor);
        });
    }

    // ---------- clocks ----------

    void scheduleFrame() {
        if (options.frameRate <= 0) return;
        frameTimer.expires_after(std::chrono::microseconds(static_cast<long long>(1e6 / options.frameRate)));
        frameTimer.async_wait([this](const asio::error_code& ec) {
            if (ec) return;
            {
                std::lock_guard lock(mutex);
                for (auto& s : sessions) {
                    if (s->closed || !s->view.open) continue;
                    if (auto ev = subscribed(s, "frame")) {
                        Writer w = Writer::message(kMsgFrame);
                        w.u32(0xFFFFFFFFu);
                        w.u32(*ev);
                        w.u32(0);
                        w.f32(static_cast<float>(options.frameRate));
                        w.f32(1.0f);  // simulation speed
                        send(s, w.done());
                    }
                    for (const auto& p : s->periodic)
                        if (p.period == 2 || p.period == 3)
                            if (ObjectState* o = object(p.objectId))
                                sendObjectData(s, kMsgObjectData, p.requestId, p.defineId, *o, 0, 0);
                }
            }
            scheduleFrame();
        });
    }

    void scheduleSecond() {
        secondTimer.expires_after(options.secondInterval);
        secondTimer.async_wait([this](const asio::error_code& ec) {
            if (ec) return;
            {
                std::lock_guard lock(mutex);
                ObjectState& u = options.user;
                if (u.groundSpeed > 0) {  // the scripted user aircraft moves along its heading
                    double nm = u.groundSpeed / 3600.0;
                    u.latitude += nm / 60.0 * std::cos(u.heading * kPi / 180);
                    u.longitude += nm / 60.0 * std::sin(u.heading * kPi / 180) / std::max(0.01, std::cos(u.latitude * kPi / 180));
                }
                for (auto& s : sessions) {
                    if (s->closed || !s->view.open) continue;
                    for (const auto& p : s->periodic)
                        if (p.period == 4)
                            if (ObjectState* o = object(p.objectId))
                                sendObjectData(s, kMsgObjectData, p.requestId, p.defineId, *o, 0, 0);
                }
            }
            scheduleSecond();
        });
    }

    template <typename F>
    void onIo(F&& f) {
        asio::post(io, [this, f = std::forward<F>(f)]() mutable {
            std::lock_guard lock(mutex);
            f();
        });
    }
};

SimulatorStandIn::SimulatorStandIn(Options options) : m_impl(std::make_unique<Impl>(std::move(options))) {}

SimulatorStandIn::~SimulatorStandIn() { stop(); }

bool SimulatorStandIn::start() {
    Impl& m = *m_impl;
    if (m.thread.joinable()) return true;
    if (!m.options.tracePath.empty()) m.trace.open(m.options.tracePath, std::ios::app);
    if (!m.options.recordPath.empty()) m.record.open(m.options.recordPath, std::ios::trunc);
    bool any = false;
    asio::error_code ec;
    if (m.options.listenIPv4) {
        auto a = std::make_unique<asio::ip::tcp::acceptor>(m.io);
        asio::ip::tcp::endpoint ep(asio::ip::make_address("127.0.0.1"), m.options.tcpPort);
        a->open(ep.protocol(), ec);
        if (!ec) a->set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec) a->bind(ep, ec);
        if (!ec) a->listen(asio::socket_base::max_listen_connections, ec);
        if (!ec) {
            m.port4 = a->local_endpoint().port();
            m.acceptor4 = std::move(a);
            any = true;
        }
    }
    if (m.options.listenIPv6) {
        auto a = std::make_unique<asio::ip::tcp::acceptor>(m.io);
        std::uint16_t port = m.options.tcpPort != 0 ? m.options.tcpPort : m.port4;
        for (int attempt = 0; attempt < 2; ++attempt) {
            asio::ip::tcp::endpoint ep(asio::ip::make_address("::1"), port);
            ec.clear();
            a->open(ep.protocol(), ec);
            if (!ec) a->set_option(asio::ip::v6_only(true), ec);
            if (!ec) a->set_option(asio::socket_base::reuse_address(true), ec);
            if (!ec) a->bind(ep, ec);
            if (!ec) a->listen(asio::socket_base::max_listen_connections, ec);
            if (!ec) break;
            a->close();
            if (m.options.tcpPort != 0) break;
            port = 0;  // the IPv4 port is taken on ::1: any free one
        }
        if (!ec) {
            m.port6 = a->local_endpoint().port();
            m.acceptor6 = std::move(a);
            any = true;
        }
    }
    if (m.options.listenPipe) {
        if (auto path = platform::pipeSocketPath(m.options.pipeName)) {
            std::error_code fec;
            std::filesystem::create_directories(path->parent_path(), fec);
            std::filesystem::remove(*path, fec);
            auto a = std::make_unique<asio::local::stream_protocol::acceptor>(m.io);
            asio::local::stream_protocol::endpoint ep(path->string());
            ec.clear();
            a->open(ep.protocol(), ec);
            if (!ec) a->bind(ep, ec);
            if (!ec) a->listen(asio::socket_base::max_listen_connections, ec);
            if (!ec) {
                m.pipeFile = *path;
                m.acceptorPipe = std::move(a);
                any = true;
            }
        }
    }
    if (!any) return false;
    if (m.acceptor4) m.acceptLoop(*m.acceptor4);
    if (m.acceptor6) m.acceptLoop(*m.acceptor6);
    if (m.acceptorPipe) m.acceptLoop(*m.acceptorPipe);
    m.started = Clock::now();
    m.work.emplace(m.io.get_executor());
    m.scheduleFrame();
    m.scheduleSecond();
    m.thread = std::thread([&m] { m.io.run(); });
    return true;
}

void SimulatorStandIn::stop() {
    Impl& m = *m_impl;
    if (!m.thread.joinable()) return;
    asio::post(m.io, [&m] {
        asio::error_code ignored;
        if (m.acceptor4) m.acceptor4->close(ignored);
        if (m.acceptor6) m.acceptor6->close(ignored);
        if (m.acceptorPipe) m.acceptorPipe->close(ignored);
        m.frameTimer.cancel();
        m.secondTimer.cancel();
        std::lock_guard lock(m.mutex);
        m.stopping = true;
        for (auto& s : m.sessions) m.closeSession(s);
        m.work.reset();
        m.io.stop();
    });
    m.thread.join();
    if (!m.pipeFile.empty()) {
        std::error_code ec;
        std::filesystem::remove(m.pipeFile, ec);
    }
}

std::uint16_t SimulatorStandIn::portIPv4() const { return m_impl->port4; }
std::uint16_t SimulatorStandIn::portIPv6() const { return m_impl->port6; }
std::filesystem::path SimulatorStandIn::pipePath() const { return m_impl->pipeFile; }

std::vector<SessionView> SimulatorStandIn::sessions() const {
    std::lock_guard lock(m_impl->mutex);
    std::vector<SessionView> out;
    for (const auto& s : m_impl->sessions) out.push_back(s->view);
    return out;
}

std::optional<SessionView> SimulatorStandIn::lastSession() const {
    std::lock_guard lock(m_impl->mutex);
    if (m_impl->sessions.empty()) return std::nullopt;
    return m_impl->sessions.back()->view;
}

std::vector<ObjectState> SimulatorStandIn::aiObjects() const {
    std::lock_guard lock(m_impl->mutex);
    std::vector<ObjectState> out;
    for (const auto& [id, o] : m_impl->objects) out.push_back(o);
    return out;
}

ObjectState SimulatorStandIn::user() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->options.user;
}

std::vector<std::vector<std::uint8_t>> SimulatorStandIn::requests() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->requests;
}

std::size_t SimulatorStandIn::requestCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->requestTotal;
}

void SimulatorStandIn::setFlightRunning(bool running) {
    Impl& m = *m_impl;
    m.onIo([&m, running] {
        m.options.flightRunning = running;
        for (auto& s : m.sessions)
            if (!s->closed && s->view.open)
                if (auto ev = m.subscribed(s, "sim")) m.sendEvent(s, *ev, running ? 1 : 0);
    });
}

void SimulatorStandIn::setUser(const ObjectState& user) {
    std::lock_guard lock(m_impl->mutex);
    std::uint32_t id = m_impl->options.user.id;
    m_impl->options.user = user;
    m_impl->options.user.id = id;
}

void SimulatorStandIn::setAcceptDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->options.acceptDelay = delay;
}

void SimulatorStandIn::setRefuseConnections(bool refuse) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->options.refuseConnections = refuse;
}

void SimulatorStandIn::refuseTitle(const std::string& title) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->options.refusedTitles.push_back(title);
}

void SimulatorStandIn::dropConnections() {
    Impl& m = *m_impl;
    m.onIo([&m] {
        for (auto& s : m.sessions) m.closeSession(s);
    });
}

void SimulatorStandIn::sendQuit() {
    Impl& m = *m_impl;
    m.onIo([&m] {
        for (auto& s : m.sessions)
            if (!s->closed) m.send(s, Writer::message(kMsgQuit).done());
    });
}

void SimulatorStandIn::sendSystemEvent(const std::string& name, std::uint32_t data) {
    Impl& m = *m_impl;
    m.onIo([&m, key = lower(name), data] {
        for (auto& s : m.sessions)
            if (!s->closed && s->view.open)
                if (auto ev = m.subscribed(s, key.c_str())) m.sendEvent(s, *ev, data);
    });
}

void SimulatorStandIn::sendFileNameEvent(const std::string& name, const std::string& fileName) {
    Impl& m = *m_impl;
    m.onIo([&m, key = lower(name), fileName] {
        for (auto& s : m.sessions) {
            if (s->closed || !s->view.open) continue;
            if (auto ev = m.subscribed(s, key.c_str())) {
                Writer w = Writer::message(kMsgFileName);
                w.u32(0xFFFFFFFFu);  // no group
                w.u32(*ev);
                w.u32(0);
                w.text(fileName, 260);
                w.u32(0);  // flags
                m.send(s, w.done());
            }
        }
    });
}

void SimulatorStandIn::sendException(std::uint32_t code, std::uint32_t sendId, std::uint32_t index) {
    Impl& m = *m_impl;
    m.onIo([&m, code, sendId, index] {
        for (auto& s : m.sessions)
            if (!s->closed) m.sendException(s, code, sendId, index);
    });
}

std::uint32_t SimulatorStandIn::addForeignAircraft(const std::string& title, const std::string& atcId, double latitude,
                                                   double longitude, double altitude, bool onGround) {
    Impl& m = *m_impl;
    std::uint32_t id;
    {
        std::lock_guard lock(m.mutex);
        ObjectState o;
        o.id = id = m.nextAiId++;
        o.title = title;
        o.atcId = atcId;
        o.latitude = latitude;
        o.longitude = longitude;
        o.altitude = altitude;
        o.groundAltitude = onGround ? altitude : m.options.user.groundAltitude;
        o.onGround = onGround;
        o.foreign = true;
        m.objects[id] = o;
        m.writeTrace("create", o);
    }
    m.onIo([&m, id] { m.announce(id, true); });
    return id;
}

void SimulatorStandIn::setSplitMessages(bool on) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->split = on;
}

void SimulatorStandIn::setCoalesceMessages(bool on) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->coalesce = on;
}

void SimulatorStandIn::setZeroPadding(std::size_t bytes) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->padding = bytes;
}

void SimulatorStandIn::injectRaw(std::vector<std::uint8_t> bytes, std::vector<std::size_t> splitAt) {
    Impl& m = *m_impl;
    m.onIo([&m, bytes = std::move(bytes), splitAt = std::move(splitAt)] {
        std::vector<std::size_t> cuts = splitAt;
        cuts.push_back(bytes.size());
        std::sort(cuts.begin(), cuts.end());
        for (auto& s : m.sessions) {
            if (s->closed) continue;
            std::size_t from = 0;
            for (std::size_t cut : cuts) {
                if (cut <= from || cut > bytes.size()) continue;
                m.queueChunk(s, Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(cut)),
                             std::chrono::milliseconds(from == 0 ? 0 : 20));
                from = cut;
            }
        }
    });
}

void SimulatorStandIn::announceLength(std::uint32_t length) {
    Writer w;
    w.u32(length);
    w.u32(kServerProtocolWord);
    w.u32(kMsgEvent);
    injectRaw(std::move(w.b));
}

}  // namespace standin
