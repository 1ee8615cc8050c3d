// What the map tests look at: the colour a picture has at a point given relative to an aircraft drawn there
// (along its heading and to its right), and PNG files read back with libpng.
#pragma once

#include <cmath>
#include <filesystem>
#include <optional>

#include <png.h>

#include "map.h"

namespace map_test {

inline standin::Rgb8 lf_pixelNear(const standin::RgbImage& img, standin::MapPixel at, double headingDeg,
                                  double forward, double right) {
    const double h = headingDeg * 3.14159265358979323846 / 180;
    const double x = at.x + forward * std::sin(h) + right * std::cos(h);
    const double y = at.y - forward * std::cos(h) + right * std::sin(h);
    return img.at(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)));
}

// The aircraft of the given colour stands at the point with its nose along the heading: its centre and both
// wings behind it are of its colour, the space where the wings would be if it flew the other way is not.
inline bool lf_aircraftDrawn(const standin::RgbImage& img, standin::MapPixel at, double headingDeg,
                             standin::Rgb8 colour) {
    for (double side : {-8.0, 8.0}) {
        if (lf_pixelNear(img, at, headingDeg, -3, side) != colour) return false;
        if (lf_pixelNear(img, at, headingDeg, 3, side) == colour) return false;
    }
    return lf_pixelNear(img, at, headingDeg, 0, 0) == colour;
}

inline std::optional<standin::RgbImage> lf_readPng(const std::filesystem::path& file) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, file.c_str())) return std::nullopt;
    png.format = PNG_FORMAT_RGB;
    standin::RgbImage img(static_cast<int>(png.width), static_cast<int>(png.height), {});
    if (!png_image_finish_read(&png, nullptr, img.rgb.data(), img.width * 3, nullptr)) {
        png_image_free(&png);
        return std::nullopt;
    }
    return img;
}

}  // namespace map_test
