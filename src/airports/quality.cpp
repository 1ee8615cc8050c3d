#include "airports/quality.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <fmt/format.h>

#include "airports/stands.h"

namespace {

// A stand with options of a kind is worth at least 10000 points of it; many options, weekdays and half-hours
// add up to 4000, 700 and 1200 more. The mean over the stands, over 160, is the factor.
constexpr double kBase = 10000.0;
constexpr double kPerOption = 20.0, kMaxOptions = 4000.0;
constexpr double kPerWeekday = 100.0;
constexpr double kPerHalfHour = 2.0, kMaxHalfHours = 600.0;
constexpr double kScale = 0.00625;

struct Tally {
    double options = 0.0;
    double halfHours = 0.0;
    std::array<bool, 8> weekdays{};  // by weekday 1..7

    double score() const {
        if (options == 0.0) return 0.0;
        const auto days = static_cast<double>(std::count(weekdays.begin(), weekdays.end(), true));
        return kBase + std::min(kPerOption * options, kMaxOptions) + kPerWeekday * days +
               kPerHalfHour * std::min(halfHours, kMaxHalfHours);
    }
};

std::int32_t lf_factor(double scoreSum, std::size_t stands) {
    const double mean = scoreSum / static_cast<double>(stands) * kScale;
    return static_cast<std::int32_t>(std::clamp(std::round(mean), 0.0, 100.0));
}

}  // namespace

QualityWord gf_qualityFactor() {
    const bool anyOption =
        std::any_of(g_parkPositions.begin(), g_parkPositions.end(), [](const ParkPos& s) { return !s.options.empty(); });
    if (!anyOption) return kNoStandOptions;
    double realSum = 0.0, softSum = 0.0;
    for (const ParkPos& stand : g_parkPositions) {
        Tally real, soft;
        for (const ParkPosOption& o : stand.options) {
            if (o.id == 0) continue;
            Tally& t = o.real != 0 ? real : soft;
            t.options += 1.0;
            t.halfHours += static_cast<double>(o.halfHours.count());
            if (o.day >= 1 && o.day <= 7) t.weekdays[o.day] = true;
        }
        realSum += real.score();
        softSum += soft.score();
    }
    const auto realFactor = static_cast<std::uint32_t>(lf_factor(realSum, g_parkPositions.size()));
    const auto softFactor = static_cast<std::uint32_t>(lf_factor(softSum, g_parkPositions.size()));
    return (QualityWord{softFactor} << 32) | realFactor;
}

std::string lf_formatQualityFactor(std::int32_t real, std::int32_t soft) {
    if (real < 0 && soft < 0) return "  ";
    if (real < 45) return fmt::format("{:2}/{:2}", real, soft);
    return fmt::format("{:2}", real);
}
