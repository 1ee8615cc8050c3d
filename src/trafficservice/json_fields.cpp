#include "trafficservice/json_fields.h"

namespace svcjson {

using nlohmann::json;

const OrderedValue& OrderedValue::member(std::string_view key) const {
    static const OrderedValue none;
    for (auto it = m_members.rbegin(); it != m_members.rend(); ++it) {
        if (it->first == key) return it->second;
    }
    return none;
}

// The event handler of the JSON library's parser that builds an OrderedValue: objects kept in order while
// every object above them is one, the rest as the library's own reader builds it (the later of two equal
// names wins inside a plain object, as there).
class OrderedReader {
public:
    explicit OrderedReader(int depth) : m_depth(depth) {}

    OrderedValue result;

    bool null() { return put(nullptr); }
    bool boolean(bool v) { return put(v); }
    bool number_integer(json::number_integer_t v) { return put(v); }
    bool number_unsigned(json::number_unsigned_t v) { return put(v); }
    bool number_float(json::number_float_t v, const json::string_t&) { return put(v); }
    bool string(json::string_t& v) { return put(std::move(v)); }
    bool binary(json::binary_t& v) { return put(std::move(v)); }

    bool start_object(std::size_t) {
        if (m_plain.empty() && static_cast<int>(m_kept.size()) < m_depth) {
            OrderedValue& object = m_kept.empty() ? result : keptSlot();
            object.m_object = true;
            m_kept.push_back(&object);
        } else {
            m_plain.push_back(putValue(json::value_t::object));
        }
        return true;
    }
    bool key(json::string_t& name) {
        if (m_plain.empty()) {
            m_key = std::move(name);
        } else {
            m_plainMember = &(*m_plain.back())[std::move(name)];
        }
        return true;
    }
    bool end_object() {
        if (m_plain.empty()) {
            m_kept.pop_back();
        } else {
            m_plain.pop_back();
        }
        return true;
    }
    bool start_array(std::size_t) {
        m_plain.push_back(putValue(json::value_t::array));
        return true;
    }
    bool end_array() {
        m_plain.pop_back();
        return true;
    }

    // The parser's own exception, thrown as nlohmann::json::parse throws it.
    template <class Exception>
    bool parse_error(std::size_t, const std::string&, const Exception& e) {
        throw e;
    }

private:
    // A new member of the innermost kept object, under the last name read.
    OrderedValue& keptSlot() { return m_kept.back()->m_members.emplace_back(std::move(m_key), OrderedValue{}).second; }

    // Puts the next plain value where it belongs and returns it. Built in place, as the library's own reader
    // builds it: a reply is mostly small values in arrays.
    template <class Value>
    json* putValue(Value&& value) {
        if (!m_plain.empty()) {
            json& parent = *m_plain.back();
            if (parent.is_array()) {
                json::array_t& items = parent.get_ref<json::array_t&>();
                items.emplace_back(std::forward<Value>(value));
                return &items.back();
            }
            *m_plainMember = json(std::forward<Value>(value));
            return m_plainMember;
        }
        OrderedValue& slot = m_kept.empty() ? result : keptSlot();
        slot.m_value = json(std::forward<Value>(value));
        return &slot.m_value;
    }
    template <class Value>
    bool put(Value&& value) {
        putValue(std::forward<Value>(value));
        return true;
    }

    const int m_depth;
    std::vector<OrderedValue*> m_kept;  // the kept objects open, outermost first
    std::vector<json*> m_plain;         // the plain arrays and objects open inside them
    std::string m_key;                  // the name of the next member of the innermost kept object
    json* m_plainMember = nullptr;      // the slot of the next member of the innermost plain object
};

OrderedValue parseInOrder(std::string_view text, int depth) {
    OrderedReader reader(depth);
    json::sax_parse(text.begin(), text.end(), &reader);
    return std::move(reader.result);
}

}  // namespace svcjson
