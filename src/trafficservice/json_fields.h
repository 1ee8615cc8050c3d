// Reading the service's JSON the forgiving way its replies need: a field beyond the end of an array is null,
// a text field that is no string is empty, a number field takes integers and floating-point numbers and
// reads anything else as 0. Used by the record readers and the replies of every request.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace svcjson {

inline const nlohmann::json& nullValue() {
    static const nlohmann::json null;
    return null;
}

// Element i of an array; null beyond its end. Anything but an array makes the JSON library throw its type
// error, which the record readers log.
inline const nlohmann::json& field(const nlohmann::json& array, std::size_t i) {
    if (!array.is_array()) return array.at(i);
    return i < array.size() ? array[i] : nullValue();
}

// Member of an object; null when missing or when the value is no object.
inline const nlohmann::json& member(const nlohmann::json& object, std::string_view key) {
    if (!object.is_object()) return nullValue();
    const auto it = object.find(key);
    return it == object.end() ? nullValue() : *it;
}

inline const std::string& text(const nlohmann::json& value) {
    static const std::string empty;
    return value.is_string() ? value.get_ref<const std::string&>() : empty;
}

inline double number(const nlohmann::json& value) {
    return value.is_number() ? value.get<double>() : 0.0;
}

// Only a floating-point number; an integer reads 0 like any other kind.
inline double floatOnly(const nlohmann::json& value) {
    return value.is_number_float() ? value.get<double>() : 0.0;
}

// A member that counts as there: present and, for texts, arrays and objects, not empty.
inline bool filled(const nlohmann::json& value) { return !value.is_null() && !value.empty(); }

// "status" of a reply as an integer; 100 when missing, not a number or beyond an i32.
inline std::int32_t status(const nlohmann::json& reply) {
    const nlohmann::json& s = member(reply, "status");
    if (!s.is_number()) return 100;
    const double v = s.get<double>();
    if (!std::isfinite(v) || v < INT32_MIN || v > INT32_MAX) return 100;
    return static_cast<std::int32_t>(v);
}

}  // namespace svcjson
