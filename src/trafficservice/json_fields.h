// Reading the service's JSON the forgiving way its replies need: a field beyond the end of an array is null,
// a text field that is no string is empty, a number field takes integers and floating-point numbers and
// reads anything else as 0. Used by the record readers and the replies of every request. The traffic replies
// are read in the order of their text (OrderedValue), which JSON objects forget.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// A "status" value as an integer; 100 when missing, not a number or beyond an i32.
inline std::int32_t statusValue(const nlohmann::json& s) {
    if (!s.is_number()) return 100;
    const double v = s.get<double>();
    if (!std::isfinite(v) || v < INT32_MIN || v > INT32_MAX) return 100;
    return static_cast<std::int32_t>(v);
}

// "status" of a reply as an integer; 100 when missing, not a number or beyond an i32.
inline std::int32_t status(const nlohmann::json& reply) { return statusValue(member(reply, "status")); }

// A reply read with the members of its objects in the order of the text, duplicate names included, down to
// the object depth the reader asks for; arrays and whatever lies deeper are plain JSON. The service lists the
// aircraft in an order that decides which of two records wins, and JSON objects sort their keys; an
// order-keeping JSON object would look each key up member by member, which a reply of a thousand aircraft
// cannot afford. Here the aircraft are only walked, and the few named members of a reply looked up.
class OrderedValue {
public:
    using Member = std::pair<std::string, OrderedValue>;

    OrderedValue() = default;
    explicit OrderedValue(nlohmann::json value) : m_value(std::move(value)) {}

    // An object kept in order (its members in members(), its plain() null).
    bool isObject() const { return m_object; }
    const nlohmann::json& plain() const { return m_value; }
    const std::vector<Member>& members() const { return m_members; }

    // The member of that name; of two, the later, as a JSON object keeps it. A null value when there is none
    // or this is no object kept in order. Linear: for the few names of a reply, not for its aircraft.
    const OrderedValue& member(std::string_view key) const;
    // Present and, for texts, arrays and objects, not empty.
    bool filled() const { return m_object ? !m_members.empty() : svcjson::filled(m_value); }
    // Each value of an object or array in order (an object below the kept depth in the order of its keys).
    template <class F>
    void forEachValue(F&& f) const {
        if (m_object) {
            for (const Member& m : m_members) f(m.second.plain());
        } else if (m_value.is_structured()) {
            for (const nlohmann::json& v : m_value) f(v);
        }
    }
    // Each name and value; an array's names are its indexes, as the JSON library gives them.
    template <class F>
    void forEachMember(F&& f) const {
        if (m_object) {
            for (const Member& m : m_members) f(m.first, m.second.plain());
        } else if (m_value.is_structured()) {
            for (const auto& item : m_value.items()) f(item.key(), item.value());
        }
    }

private:
    friend class OrderedReader;
    nlohmann::json m_value;
    std::vector<Member> m_members;
    bool m_object = false;
};

// The object depths of the traffic replies kept in order: the reply and its "data" (live and parked), and in
// the buffered reply also each snapshot in "data".
inline constexpr int kLiveReplyDepth = 2;
inline constexpr int kParkedReplyDepth = 2;
inline constexpr int kBufferedReplyDepth = 3;

// Parses a reply text, the objects of the first `depth` levels (1: the reply itself) kept in order. Text that
// is no JSON throws the JSON library's parse error, word for word that of nlohmann::json::parse.
OrderedValue parseInOrder(std::string_view text, int depth);

// "status" of a reply read in order.
inline std::int32_t status(const OrderedValue& reply) { return statusValue(reply.member("status").plain()); }

}  // namespace svcjson
