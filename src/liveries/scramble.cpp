#include "liveries/scramble.h"

#include <array>
#include <cstdint>
#include <stdexcept>

namespace {

// The characters that are substituted, and the key table they are substituted into (same characters, shuffled).
constexpr std::string_view kPlain = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-";
constexpr std::string_view kKey = "GR37820Z5CH1ONEWBLSAMFVJTY-Q4DKPXI69U";
constexpr unsigned kSize = kPlain.size();
static_assert(kKey.size() == kSize);

constexpr unsigned kTypeShift = 26;
constexpr std::array<unsigned, kScrambledRegistrationMax> kRegistrationShifts = {
    10, 14, 11, 19, 32, 31, 24, 28, 25, 31, 14, 26, 22, 5, 34, 20, 31, 16, 16, 31, 22, 18, 6, 19};
// Two shifts per airline character; the two stored characters of a pair differ.
constexpr std::array<unsigned, 6> kAirlineShifts = {23, 14, 1, 15, 30, 20};

// Index of each byte in a table, -1 for bytes that are not in it: one look-up per character, which counts when
// a database of a hundred thousand registrations is read.
constexpr std::array<std::int8_t, 256> lf_indexOf(std::string_view table) {
    std::array<std::int8_t, 256> index{};
    for (auto& i : index) i = -1;
    for (unsigned i = 0; i < table.size(); ++i)
        index[static_cast<unsigned char>(table[i])] = static_cast<std::int8_t>(i);
    return index;
}

constexpr auto kPlainIndex = lf_indexOf(kPlain);
constexpr auto kKeyIndex = lf_indexOf(kKey);

}  // namespace

char lf_scrambleChar(char plain, unsigned shift) {
    const int i = kPlainIndex[static_cast<unsigned char>(plain)];
    if (i < 0) return plain;
    return kKey[(static_cast<unsigned>(i) + shift) % kSize];
}

char lf_unscrambleChar(char stored, unsigned shift) {
    const int i = kKeyIndex[static_cast<unsigned char>(stored)];
    if (i < 0) return stored;
    return kPlain[(static_cast<unsigned>(i) + kSize - shift % kSize) % kSize];
}

std::string gf_scrambleType(std::string_view type) {
    std::string out(type);
    for (char& c : out) c = lf_scrambleChar(c, kTypeShift);
    return out;
}

std::string gf_unscrambleType(std::string_view stored) {
    std::string out(stored);
    for (char& c : out) c = lf_unscrambleChar(c, kTypeShift);
    return out;
}

std::string gf_scrambleRegistration(std::string_view registration) {
    if (registration.size() > kScrambledRegistrationMax) {
        throw std::invalid_argument("registration longer than " + std::to_string(kScrambledRegistrationMax) + ": " +
                                    std::string(registration));
    }
    std::string out(registration);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = lf_scrambleChar(out[i], kRegistrationShifts[i]);
    return out;
}

std::string gf_unscrambleRegistration(std::string_view stored) {
    std::string out(stored.substr(0, kScrambledRegistrationMax));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = lf_unscrambleChar(out[i], kRegistrationShifts[i]);
    return out;
}

std::string gf_scrambleAirline(std::string_view code) {
    if (code.empty()) return {};
    if (code.size() != 3) throw std::invalid_argument("airline code of other than 3 characters: " + std::string(code));
    std::string out(6, ' ');
    for (std::size_t i = 0; i < 3; ++i) {
        out[2 * i] = lf_scrambleChar(code[i], kAirlineShifts[2 * i]);
        out[2 * i + 1] = lf_scrambleChar(code[i], kAirlineShifts[2 * i + 1]);
    }
    return out;
}

std::optional<std::string> gf_unscrambleAirline(std::string_view stored) {
    if (stored.size() != 6) return std::nullopt;
    std::string code(3, ' ');
    for (std::size_t i = 0; i < 3; ++i) {
        const char first = lf_unscrambleChar(stored[2 * i], kAirlineShifts[2 * i]);
        const char second = lf_unscrambleChar(stored[2 * i + 1], kAirlineShifts[2 * i + 1]);
        if (first != second) return std::nullopt;
        code[i] = first;
    }
    return code;
}
