// How much an airport's stand statistics are worth: a factor 0..100 for the real options (aircraft seen parked)
// and one for the soft options (aircraft expected), packed into one quality word. Work thread, like the stands.
#pragma once

#include <cstdint>
#include <string>

// Low 32 bits the real factor, high 32 bits the soft factor, each signed: 0..100, -1 for none. All bits set: no
// stand has any option.
using QualityWord = std::uint64_t;
inline constexpr QualityWord kNoStandOptions = ~QualityWord{0};

inline std::int32_t gf_realFactor(QualityWord q) { return static_cast<std::int32_t>(q & 0xffffffffu); }
inline std::int32_t gf_softFactor(QualityWord q) { return static_cast<std::int32_t>(q >> 32); }

// The quality word of g_parkPositions now.
QualityWord gf_qualityFactor();
// "  " when both are negative; "{:2}/{:2}" while the real factor is below 45; else "{:2}" of the real factor.
std::string lf_formatQualityFactor(std::int32_t real, std::int32_t soft);
