// The scrambling of the aircraft database's code fields, both ways: the database tool scrambles, the reader
// unscrambles. Digits, upper-case letters and "-" are substituted through one key table with a shift; every
// other character (lower case, "+", blanks) is kept as it is, so a field that holds such characters still
// comes back unchanged.
//
// Stored forms: a type code keeps its length and is substituted character by character with one shift; a
// registration is substituted position by position, each position with its own shift, for at most 24
// positions; an airline code of 3 characters is stored in 6, each character twice with two shifts, so that a
// damaged field can be told from a good one.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The longest registration field that is unscrambled; characters beyond it are dropped.
inline constexpr std::size_t kScrambledRegistrationMax = 24;

// One character through the key table with the given shift, and back.
char lf_scrambleChar(char plain, unsigned shift);
char lf_unscrambleChar(char stored, unsigned shift);

std::string gf_scrambleType(std::string_view type);
std::string gf_unscrambleType(std::string_view stored);

// Throws std::invalid_argument for a registration longer than kScrambledRegistrationMax.
std::string gf_scrambleRegistration(std::string_view registration);
std::string gf_unscrambleRegistration(std::string_view stored);

// An empty code stays empty; any length but 0 or 3 throws std::invalid_argument.
std::string gf_scrambleAirline(std::string_view code);
// The code of a 6-character stored field; nothing when the field is not 6 characters or its pairs disagree.
std::optional<std::string> gf_unscrambleAirline(std::string_view stored);
