// What the link learns about the user aircraft from its title and ATC model: the title shown in the window,
// its half wing span and its category, which the parking code uses to fit the user aircraft to stands and
// the collision checks to keep AI clear of it.
//
// Written by the link thread (the answers to the requests for title and model), read by the work thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>

// The last title received, at most 48 characters. Link thread; emptied with the link's state.
extern std::string g_userTitle;
inline constexpr std::size_t kMaxUserTitleLength = 48;

// The user aircraft's half wing span in nautical miles; below 0 while it is not known.
inline constexpr double kHalfWingSpanUnknown = -1.0;
extern std::atomic<double> g_userHalfWingSpan;
inline bool gf_userHalfWingSpanKnown() { return g_userHalfWingSpan.load() >= 0.0; }

// The user aircraft's category (0 Light .. 5 Rotorcraft); large (2) until known.
inline constexpr std::uint32_t kDefaultUserCategory = 2;
extern std::atomic<std::uint32_t> g_userCategory;

// The data block of the title request (define 407): shows and logs a new title.
void lf_onUserTitle(std::span<const std::uint8_t> data);
// The data block of the model request (define 408): the half wing span and the category from the model, or
// from the title when the model says nothing. Throws user error 71 for an empty model and 73 when the model
// cannot be used at all.
void lf_onUserModel(std::span<const std::uint8_t> data);

// Title, span and category back to "not known" (the link's reset).
void gf_resetUserAircraft();
