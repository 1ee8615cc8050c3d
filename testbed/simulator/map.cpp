#include "map.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include <png.h>
#include <pugixml.hpp>

namespace standin {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegree = 6371000.0 * kPi / 180.0;

double lf_distanceM(const MapPosition& a, const MapPosition& b) {
    const double north = (b.latitude - a.latitude) * kMetresPerDegree;
    const double east = (b.longitude - a.longitude) * kMetresPerDegree * std::cos(a.latitude * kPi / 180);
    return std::hypot(north, east);
}

Rgb8 lf_mix(Rgb8 a, Rgb8 b, double t) {  // t = 0: a, 1: b
    auto m = [t](int x, int y) { return static_cast<std::uint8_t>(std::lround(x + (y - x) * t)); };
    return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

// ---- The glyphs: 5 x 7 pixels, one byte a row, the leftmost pixel in bit 4 ----

struct Glyph {
    char c;
    std::array<std::uint8_t, 7> rows;
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},                      {'-', {0, 0, 0, 0x1F, 0, 0, 0}},
    {'.', {0, 0, 0, 0, 0, 0x0C, 0x0C}},                {'_', {0, 0, 0, 0, 0, 0, 0x1F}},
    {':', {0, 0x0C, 0x0C, 0, 0x0C, 0x0C, 0}},          {'/', {0, 0x01, 0x02, 0x04, 0x08, 0x10, 0}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}}, {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'+', {0, 0x04, 0x04, 0x1F, 0x04, 0x04, 0}},       {',', {0, 0, 0, 0, 0x0C, 0x04, 0x08}},
    {'\'', {0x0C, 0x04, 0x08, 0, 0, 0, 0}},            {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'=', {0, 0, 0x1F, 0, 0x1F, 0, 0}},                {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {'*', {0, 0x04, 0x15, 0x0E, 0x15, 0x04, 0}},       {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0, 0x04}},
    {'!', {0x04, 0x04, 0x04, 0x04, 0x04, 0, 0x04}},    {'<', {0x02, 0x04, 0x08, 0x10, 0x08, 0x04, 0x02}},
    {'>', {0x08, 0x04, 0x02, 0x01, 0x02, 0x04, 0x08}}, {'[', {0x0E, 0x08, 0x08, 0x08, 0x08, 0x08, 0x0E}},
    {']', {0x0E, 0x02, 0x02, 0x02, 0x02, 0x02, 0x0E}}, {'&', {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}},
    {'"', {0x0A, 0x0A, 0, 0, 0, 0, 0}},
};
constexpr std::array<std::uint8_t, 7> kUnknownGlyph{0x1F, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1F};
constexpr int kGlyphAdvance = 6;  // 5 pixels and a gap
constexpr int kLineHeight = 9;

const std::array<std::uint8_t, 7>& lf_glyph(char c) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');  // the font has capitals only
    for (const Glyph& g : kGlyphs)
        if (g.c == c) return g.rows;
    return kUnknownGlyph;
}

// ---- The rasteriser ----

class Painter {
public:
    explicit Painter(RgbImage& image) : m_img(image) {}

    void pixel(int x, int y, Rgb8 c) {
        if (m_img.contains(x, y)) m_img.set(x, y, c);
    }
    void fillRect(int x, int y, int w, int h, Rgb8 c) {
        const int x0 = std::max(0, x), y0 = std::max(0, y);
        const int x1 = std::min(m_img.width, x + w), y1 = std::min(m_img.height, y + h);
        for (int yy = y0; yy < y1; ++yy)
            for (int xx = x0; xx < x1; ++xx) m_img.set(xx, yy, c);
    }
    void frameRect(int x, int y, int w, int h, Rgb8 c) {
        fillRect(x, y, w, 1, c);
        fillRect(x, y + h - 1, w, 1, c);
        fillRect(x, y, 1, h, c);
        fillRect(x + w - 1, y, 1, h, c);
    }

    // A segment of the given width in pixels, clipped to the picture first so that far-off points cost nothing.
    void line(double x0, double y0, double x1, double y1, Rgb8 c, int width = 1) {
        const double margin = width + 1;
        if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
        if (!clip(x0, y0, x1, y1, -margin, -margin, m_img.width + margin, m_img.height + margin)) return;
        int ix0 = static_cast<int>(std::floor(x0)), iy0 = static_cast<int>(std::floor(y0));
        const int ix1 = static_cast<int>(std::floor(x1)), iy1 = static_cast<int>(std::floor(y1));
        const int dx = std::abs(ix1 - ix0), dy = -std::abs(iy1 - iy0);
        const int sx = ix0 < ix1 ? 1 : -1, sy = iy0 < iy1 ? 1 : -1;
        int err = dx + dy;
        const int lo = -(width - 1) / 2, hi = width / 2;
        for (;;) {
            for (int oy = lo; oy <= hi; ++oy)
                for (int ox = lo; ox <= hi; ++ox) pixel(ix0 + ox, iy0 + oy, c);
            if (ix0 == ix1 && iy0 == iy1) break;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                ix0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                iy0 += sy;
            }
        }
    }

    // The pixels whose centres lie between the two radii (inner 0: a disc).
    void ring(double cx, double cy, double outer, double inner, Rgb8 c) {
        const int y0 = std::max(0, static_cast<int>(std::floor(cy - outer)));
        const int y1 = std::min(m_img.height - 1, static_cast<int>(std::ceil(cy + outer)));
        for (int y = y0; y <= y1; ++y) {
            const double dy = y + 0.5 - cy;
            if (std::abs(dy) > outer) continue;
            const double xo = std::sqrt(outer * outer - dy * dy);
            const double xi = std::abs(dy) < inner ? std::sqrt(inner * inner - dy * dy) : -1;
            span(y, cx - xo, xi < 0 ? cx + xo : cx - xi, c);
            if (xi >= 0) span(y, cx + xi, cx + xo, c);
        }
    }

    // The pixels whose centres lie inside the triangle (either winding).
    void triangle(MapPixel a, MapPixel b, MapPixel c, Rgb8 colour) {
        const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
        if (area == 0) return;
        const int x0 = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
        const int x1 = std::min(m_img.width - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
        const int y0 = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
        const int y1 = std::min(m_img.height - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
        auto edge = [](MapPixel p, MapPixel q, double x, double y) {
            return (q.x - p.x) * (y - p.y) - (q.y - p.y) * (x - p.x);
        };
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5, py = y + 0.5;
                const double e0 = edge(a, b, px, py), e1 = edge(b, c, px, py), e2 = edge(c, a, px, py);
                const bool inside = area > 0 ? (e0 >= 0 && e1 >= 0 && e2 >= 0) : (e0 <= 0 && e1 <= 0 && e2 <= 0);
                if (inside) m_img.set(x, y, colour);
            }
    }

    // Text hanging from its top-left point, each pixel `scale` pixels square; with a halo of the given colour
    // around the strokes so that it stays readable over trails and circles.
    // Heavy text doubles each stroke one pixel to the right, which small text needs to read well.
    void text(int x, int y, std::string_view s, Rgb8 c, int scale = 1, std::optional<Rgb8> halo = std::nullopt,
              bool heavy = false) {
        const int extra = heavy ? 1 : 0;
        if (halo) {
            for (int oy = -1; oy <= 1; ++oy)
                for (int ox = -1; ox <= 1 + extra; ++ox)
                    if (ox != 0 || oy != 0) strokes(x + ox, y + oy, s, *halo, scale);
        }
        for (int ox = 0; ox <= extra; ++ox) strokes(x + ox, y, s, c, scale);
    }
    static int textWidth(std::string_view s, int scale = 1) {
        return s.empty() ? 0 : (static_cast<int>(s.size()) * kGlyphAdvance - 1) * scale;
    }

private:
    void span(int y, double xa, double xb, Rgb8 c) {
        // Pixel centres in [xa, xb].
        const int from = std::max(0, static_cast<int>(std::ceil(xa - 0.5)));
        const int to = std::min(m_img.width - 1, static_cast<int>(std::floor(xb - 0.5)));
        for (int x = from; x <= to; ++x) m_img.set(x, y, c);
    }
    void strokes(int x, int y, std::string_view s, Rgb8 c, int scale) {
        for (char ch : s) {
            const auto& rows = lf_glyph(ch);
            for (int r = 0; r < 7; ++r)
                for (int col = 0; col < 5; ++col)
                    if (rows[r] & (0x10 >> col)) fillRect(x + col * scale, y + r * scale, scale, scale, c);
            x += kGlyphAdvance * scale;
        }
    }
    // Liang-Barsky: cuts the segment to the rectangle; false when nothing of it is inside.
    static bool clip(double& x0, double& y0, double& x1, double& y1, double left, double top, double right,
                     double bottom) {
        double t0 = 0, t1 = 1;
        const double dx = x1 - x0, dy = y1 - y0;
        const double p[4] = {-dx, dx, -dy, dy};
        const double q[4] = {x0 - left, right - x0, y0 - top, bottom - y0};
        for (int i = 0; i < 4; ++i) {
            if (p[i] == 0) {
                if (q[i] < 0) return false;
                continue;
            }
            const double t = q[i] / p[i];
            if (p[i] < 0) t0 = std::max(t0, t);
            else t1 = std::min(t1, t);
            if (t0 > t1) return false;
        }
        const double ox = x0, oy = y0;
        x0 = ox + t0 * dx;
        y0 = oy + t0 * dy;
        x1 = ox + t1 * dx;
        y1 = oy + t1 * dy;
        return true;
    }

    RgbImage& m_img;
};

// Whether a point is finite and near enough to the picture for its drawing to reach into it; far-off points
// are never turned into pixel numbers.
bool lf_nearView(MapPixel p, int width, int height, double margin) {
    return std::isfinite(p.x) && std::isfinite(p.y) && p.x > -margin && p.y > -margin && p.x < width + margin &&
           p.y < height + margin;
}

// An aircraft seen from above, nose along the heading, about 20 pixels long at size 1. Its centre (the
// object's position) always lies on the fuselage.
void lf_drawAircraft(Painter& p, MapPixel at, double headingDeg, double size, Rgb8 colour) {
    const double h = headingDeg * kPi / 180;
    const double fx = std::sin(h), fy = -std::cos(h);  // forward on the screen
    const double rx = -fy, ry = fx;                    // to the right
    auto pt = [&](double fwd, double right) {
        return MapPixel{at.x + size * (fwd * fx + right * rx), at.y + size * (fwd * fy + right * ry)};
    };
    auto quad = [&](MapPixel a, MapPixel b, MapPixel c, MapPixel d) {
        p.triangle(a, b, c, colour);
        p.triangle(a, c, d, colour);
    };
    // Fuselage with a pointed nose.
    p.triangle(pt(11, 0), pt(7, -1.8), pt(7, 1.8), colour);
    quad(pt(7, -1.8), pt(7, 1.8), pt(-9, 1.4), pt(-9, -1.4));
    // Wings, swept back.
    for (double side : {-1.0, 1.0}) {
        quad(pt(3, side * 1.5), pt(-3, side * 10.5), pt(-5.5, side * 10.5), pt(-2, side * 1.5));
        quad(pt(-6, side * 1), pt(-9.5, side * 5), pt(-11, side * 5), pt(-9, side * 1));
    }
}

std::string lf_metres(double m) {
    char buf[32];
    if (m >= 1000) std::snprintf(buf, sizeof buf, "%g KM", m / 1000);
    else std::snprintf(buf, sizeof buf, "%g M", m);
    return buf;
}

// A round length (1, 2 or 5 times a power of ten) near a fifth of the picture's width.
double lf_scaleBarM(double widthM) {
    const double target = widthM / 5;
    const double p = std::pow(10.0, std::floor(std::log10(target)));
    double best = p;
    for (double f : {1.0, 2.0, 5.0, 10.0})
        if (f * p <= target) best = f * p;
    return best;
}

void lf_drawLegend(Painter& p, const MapScene& scene, int width, int height) {
    int counts[3] = {0, 0, 0};
    int outside = 0;
    for (const MapObject& o : scene.objects) {
        ++counts[static_cast<int>(o.state)];
        const MapPixel at = gf_project(scene, width, height, o.latitude, o.longitude);
        if (at.x < 0 || at.y < 0 || at.x >= width || at.y >= height) ++outside;
    }
    struct Row {
        Rgb8 colour;
        std::string text;
        enum { aircraft, ring, none } swatch;
    };
    std::vector<Row> rows;
    for (MapState s : {MapState::air, MapState::ground, MapState::parked})
        rows.push_back({gf_stateColour(s), std::string(gf_stateName(s)) + " " +
                                               std::to_string(counts[static_cast<int>(s)]), Row::aircraft});
    rows.push_back({MapColours::user, "user aircraft", Row::aircraft});
    if (!scene.stands.empty())
        rows.push_back({MapColours::stand, "stand (" + std::to_string(scene.stands.size()) + ")", Row::ring});
    if (outside > 0) rows.push_back({MapColours::background, std::to_string(outside) + " out of view", Row::none});

    constexpr int kScale = 2, kPad = 8, kRow = 2 * kLineHeight + 4;
    int w = scene.caption.empty() ? 0 : Painter::textWidth(scene.caption, kScale);
    for (const Row& r : rows) w = std::max(w, 30 + Painter::textWidth(r.text, kScale));
    const int h = static_cast<int>(rows.size() + (scene.caption.empty() ? 0 : 1)) * kRow;
    p.fillRect(6, 6, w + 2 * kPad, h + 2 * kPad - 4, {255, 255, 255});
    p.frameRect(6, 6, w + 2 * kPad, h + 2 * kPad - 4, {90, 90, 90});
    int y = 6 + kPad;
    const int x = 6 + kPad;
    if (!scene.caption.empty()) {
        p.text(x, y, scene.caption, MapColours::text, kScale);
        y += kRow;
    }
    for (const Row& r : rows) {
        if (r.swatch == Row::ring) p.ring(x + 10, y + 7, 8, 6.5, r.colour);
        else if (r.swatch == Row::aircraft) lf_drawAircraft(p, {x + 10.0, y + 7.0}, 90, 0.85, r.colour);
        p.text(x + 30, y, r.text, MapColours::text, kScale);
        y += kRow;
    }
}

void lf_drawScaleBar(Painter& p, const MapScene& scene, int width, int height) {
    const double metres = lf_scaleBarM(scene.widthM);
    const int len = static_cast<int>(std::lround(metres * width / scene.widthM));
    const int x = 16, y = height - 20;
    const std::string label = lf_metres(metres);
    p.fillRect(x - 6, y - 28, std::max(len, Painter::textWidth(label, 2)) + 12, 40, {255, 255, 255});
    p.fillRect(x, y, len, 3, MapColours::text);
    p.fillRect(x, y - 6, 2, 9, MapColours::text);
    p.fillRect(x + len - 2, y - 6, 2, 9, MapColours::text);
    p.text(x, y - 24, label, MapColours::text, 2);
    // North is up.
    const int nx = width - 24, ny = 14;
    p.triangle({nx + 0.0, ny + 0.0}, {nx - 7.0, ny + 18.0}, {nx + 7.0, ny + 18.0}, MapColours::text);
    p.text(nx - 5, ny + 22, "N", MapColours::text, 2);
}

// The callsign to the upper right of the aircraft (to its left near the right edge), in heavy strokes; the
// altitude of an airborne one below it.
void lf_drawLabel(Painter& p, MapPixel at, const MapObject& o, Rgb8 colour, int width) {
    const std::string_view label = std::string_view(o.label).substr(0, 24);  // a title may be long
    char alt[32] = "";
    if (o.state == MapState::air) std::snprintf(alt, sizeof alt, "%.0f FT", o.altitudeFt);
    const int textWidth = std::max(Painter::textWidth(label), Painter::textWidth(alt)) + 1;
    int x = static_cast<int>(std::lround(at.x)) + 12;
    if (x + textWidth > width - 2) x = static_cast<int>(std::lround(at.x)) - 12 - textWidth;
    const int y = static_cast<int>(std::lround(at.y)) - 16;
    p.text(x, y, label, MapColours::text, 1, MapColours::background, true);
    if (alt[0] != 0) p.text(x, y + kLineHeight, alt, colour, 1, MapColours::background, true);
}

}  // namespace

// ---- The picture ----

RgbImage::RgbImage(int w, int h, Rgb8 fill) : width(std::max(0, w)), height(std::max(0, h)) {
    rgb.resize(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = fill.r;
        rgb[i + 1] = fill.g;
        rgb[i + 2] = fill.b;
    }
}

Rgb8 RgbImage::at(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

void RgbImage::set(int x, int y, Rgb8 c) {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    rgb[i] = c.r;
    rgb[i + 1] = c.g;
    rgb[i + 2] = c.b;
}

Rgb8 gf_stateColour(MapState state) {
    switch (state) {
        case MapState::air: return MapColours::air;
        case MapState::parked: return MapColours::parked;
        case MapState::ground: break;
    }
    return MapColours::ground;
}

const char* gf_stateName(MapState state) {
    switch (state) {
        case MapState::air: return "airborne";
        case MapState::parked: return "parked";
        case MapState::ground: break;
    }
    return "ground";
}

MapPixel gf_project(const MapScene& scene, int width, int height, double latitude, double longitude) {
    const double pxPerM = width / std::max(1.0, scene.widthM);
    const double north = (latitude - scene.centreLatitude) * kMetresPerDegree;
    const double east = (longitude - scene.centreLongitude) * kMetresPerDegree *
                        std::cos(scene.centreLatitude * kPi / 180);
    return {width / 2.0 + east * pxPerM, height / 2.0 - north * pxPerM};
}

RgbImage renderMap(const MapScene& scene, int width, int height) {
    RgbImage img(width, height, MapColours::background);
    if (width <= 0 || height <= 0) return img;
    Painter p(img);
    auto at = [&](double lat, double lon) { return gf_project(scene, width, height, lat, lon); };
    const double pxPerM = width / std::max(1.0, scene.widthM);

    for (const MapStand& s : scene.stands) {
        const MapPixel c = at(s.latitude, s.longitude);
        const double r = std::max(2.0, s.radiusM * pxPerM);
        if (!lf_nearView(c, width, height, r + 1)) continue;
        p.ring(c.x, c.y, r, std::max(0.0, r - 1.5), MapColours::stand);
        if (r >= 14) {
            const int tw = Painter::textWidth(s.id);
            p.text(static_cast<int>(c.x) - tw / 2, static_cast<int>(c.y + r) - kLineHeight - 2, s.id,
                   MapColours::stand);
        }
    }

    auto trail = [&](const MapObject& o, Rgb8 colour) {
        const Rgb8 faded = lf_mix(colour, MapColours::background, 0.45);
        for (std::size_t i = 1; i < o.trail.size(); ++i) {
            const MapPixel a = at(o.trail[i - 1].latitude, o.trail[i - 1].longitude);
            const MapPixel b = at(o.trail[i].latitude, o.trail[i].longitude);
            p.line(a.x, a.y, b.x, b.y, faded, 2);
        }
    };
    for (const MapObject& o : scene.objects) trail(o, gf_stateColour(o.state));
    trail(scene.user, MapColours::user);

    // Labels after every aircraft, so that no aircraft hides a callsign; the aircraft themselves are drawn
    // again last so that no label hides an aircraft's centre either.
    constexpr double kReach = 200;  // pixels an aircraft with its label reaches from its position
    for (const MapObject& o : scene.objects) {
        const MapPixel a = at(o.latitude, o.longitude);
        if (lf_nearView(a, width, height, kReach)) lf_drawLabel(p, a, o, gf_stateColour(o.state), width);
    }
    for (const MapObject& o : scene.objects) {
        const MapPixel a = at(o.latitude, o.longitude);
        if (lf_nearView(a, width, height, kReach) && std::isfinite(o.heading))
            lf_drawAircraft(p, a, o.heading, 1, gf_stateColour(o.state));
    }

    const MapPixel u = at(scene.user.latitude, scene.user.longitude);
    if (lf_nearView(u, width, height, kReach) && std::isfinite(scene.user.heading)) {
        p.ring(u.x, u.y, 17, 15, MapColours::user);
        lf_drawAircraft(p, u, scene.user.heading, 1.2, MapColours::user);
    }

    lf_drawLegend(p, scene, width, height);
    lf_drawScaleBar(p, scene, width, height);
    return img;
}

// ---- PNG ----

bool gf_writePng(const RgbImage& image, const std::filesystem::path& file, std::string* error) {
    auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    if (image.width <= 0 || image.height <= 0) return fail("empty picture");
    std::filesystem::path temp = file;
    temp += ".tmp";
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, temp.c_str(), 0, image.rgb.data(), image.width * 3, nullptr)) {
        std::string why = png.message;
        png_image_free(&png);
        std::error_code ec;
        std::filesystem::remove(temp, ec);
        return fail(file.string() + ": " + why);
    }
    std::error_code ec;
    std::filesystem::rename(temp, file, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        return fail(file.string() + ": " + ec.message());
    }
    return true;
}

// ---- Stands ----

std::optional<std::vector<MapStand>> gf_parseStands(std::string_view xml) {
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) return std::nullopt;
    std::vector<MapStand> stands;
    for (pugi::xml_node pos : doc.child("parkpositions").children("parkpos")) {
        MapStand s;
        s.id = pos.attribute("id").as_string();
        s.latitude = pos.attribute("latitude").as_double();
        s.longitude = pos.attribute("longitude").as_double();
        s.radiusM = pos.attribute("radius").as_double();
        const bool placed = std::isfinite(s.latitude) && std::isfinite(s.longitude) &&
                            (s.latitude != 0 || s.longitude != 0) && std::abs(s.latitude) <= 90 &&
                            std::abs(s.longitude) <= 180;
        if (!placed) continue;
        if (!std::isfinite(s.radiusM) || s.radiusM < 0 || s.radiusM > 1000) s.radiusM = 0;
        stands.push_back(std::move(s));
    }
    return stands;
}

std::optional<std::vector<MapStand>> gf_readStands(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return gf_parseStands(text);
}

// ---- The recorder ----

void MapRecorder::setWidthM(double widthM) {
    if (std::isfinite(widthM)) m_widthM = std::clamp(widthM, 100.0, 200000.0);
}

void MapRecorder::zoom(double factor) { setWidthM(m_widthM * factor); }

bool MapRecorder::inStand(double latitude, double longitude) const {
    const MapPosition p{latitude, longitude};
    for (const MapStand& s : m_stands)
        if (lf_distanceM({s.latitude, s.longitude}, p) <= std::max(s.radiusM, m_settings.stillWithinM)) return true;
    return false;
}

void MapRecorder::update(Track& t, const ObjectState& o, Clock::time_point now, bool isNew) const {
    const MapPosition p{o.latitude, o.longitude};
    if (isNew || lf_distanceM(t.stillAt, p) > m_settings.stillWithinM) {
        t.stillAt = p;
        t.stillSince = now;
    }
    if (t.trail.empty() || lf_distanceM(t.trail.back().second, p) >= m_settings.trailStepM)
        t.trail.emplace_back(now, p);
    while (!t.trail.empty() && now - t.trail.front().first > m_settings.trailLength) t.trail.pop_front();
    t.last = o;
    if (!o.onGround) {
        t.state = MapState::air;
    } else {
        const auto still = now - t.stillSince;
        const auto needed = inStand(o.latitude, o.longitude) ? m_settings.parkedAtStandAfter
                                                              : m_settings.parkedElsewhereAfter;
        t.state = still >= needed ? MapState::parked : MapState::ground;
    }
}

void MapRecorder::sample(const std::vector<ObjectState>& ai, const ObjectState& user, Clock::time_point now) {
    std::set<std::uint32_t> seen;
    for (const ObjectState& o : ai) {
        seen.insert(o.id);
        auto [it, isNew] = m_tracks.try_emplace(o.id);
        update(it->second, o, now, isNew);
    }
    std::erase_if(m_tracks, [&seen](const auto& entry) { return !seen.count(entry.first); });
    update(m_user, user, now, !m_haveUser);
    m_haveUser = true;
}

MapScene MapRecorder::scene() const {
    auto object = [](const Track& t) {
        MapObject o;
        o.id = t.last.id;
        o.label = t.last.atcId.empty() ? t.last.title : t.last.atcId;
        o.latitude = t.last.latitude;
        o.longitude = t.last.longitude;
        o.heading = t.last.heading;
        o.altitudeFt = t.last.altitude;
        o.state = t.state;
        for (const auto& [when, p] : t.trail) o.trail.push_back(p);
        o.trail.push_back({t.last.latitude, t.last.longitude});
        return o;
    };
    MapScene s;
    s.widthM = m_widthM;
    s.stands = m_stands;
    if (m_haveUser) {
        s.user = object(m_user);
        s.centreLatitude = m_user.last.latitude;
        s.centreLongitude = m_user.last.longitude;
    }
    for (const auto& [id, t] : m_tracks) s.objects.push_back(object(t));
    s.caption = "zntv-simulator  " + std::to_string(s.objects.size()) + " AI";
    return s;
}

}  // namespace standin
