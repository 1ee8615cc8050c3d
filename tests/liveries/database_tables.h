// Small hand-built aircraft databases: a "temp2.xml" with every required list filled, whose sections a test
// replaces or removes, written into the program folder's "input" and read there.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "liveries/scramble.h"

namespace database_test {

inline std::string scrambledTypes(std::initializer_list<const char*> types) {
    std::string out;
    for (const char* t : types) out += (out.empty() ? "" : ",") + gf_scrambleType(t);
    return out;
}

inline std::string scrambledAirlines(std::initializer_list<const char*> codes) {
    std::string out;
    for (const char* c : codes) out += (out.empty() ? "" : ",") + gf_scrambleAirline(c);
    return out;
}

// One "db" element; the cargo attribute is left out when `cargo` is null.
inline std::string registration(const char* reg, const char* airline, const char* type, const char* op = "",
                                const char* cargo = nullptr) {
    std::string e = "<db reg=\"" + gf_scrambleRegistration(reg) + "\" airl=\"" + gf_scrambleAirline(airline) +
                    "\" type=\"" + gf_scrambleType(type) + "\" opr=\"" + gf_scrambleAirline(op) + "\"";
    if (cargo != nullptr) e += std::string(" cargo=\"") + cargo + "\"";
    return e + "/>";
}

struct DbXml {
    // Section name -> its elements, written in name order (the reader does not care about the order).
    std::map<std::string, std::vector<std::string>> sections;

    DbXml() {
        sections["aircrafts"] = {"<aircraft types=\"" + scrambledTypes({"A320", "A321", "B744", "C25A"}) + "\"/>",
                                 "<aircraft types=\"" + scrambledTypes({"C172", "EC35", "F16"}) + "\"/>"};
        sections["high_performance"] = {"<hpf types=\"" + scrambledTypes({"F16"}) + "\"/>"};
        sections["heavy"] = {"<hvy types=\"" + scrambledTypes({"B744"}) + "\"/>"};
        sections["large"] = {"<lar types=\"" + scrambledTypes({"A320", "A321"}) + "\"/>"};
        sections["buzjet"] = {"<bzj types=\"" + scrambledTypes({"C25A"}) + "\"/>"};
        sections["rotorcraft"] = {"<rot types=\"" + scrambledTypes({"EC35"}) + "\"/>"};
        sections["cargo_types"] = {"<cargo_type types=\"" + scrambledTypes({"B744"}) + "\"/>"};
        sections["ICAO_airlines"] = {"<ICAO codes=\"" + scrambledAirlines({"DLH", "SWR", "GEC"}) + "\"/>"};
        sections["cargo_operators"] = {"<ICAO codes=\"" + scrambledAirlines({"GEC"}) + "\"/>"};
        sections["simaddonsP3D"] = {"<simaddonP3D arpts=\"YMML,YSSY\"/>"};
    }

    std::string text() const {
        std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        for (const auto& [name, elements] : sections) {
            out += "<" + name + ">\n";
            for (const auto& e : elements) out += "  " + e + "\n";
            out += "</" + name + ">\n";
        }
        return out;
    }
};

}  // namespace database_test
