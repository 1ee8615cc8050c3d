// zntv-dbgen: the aircraft database from the plain tables in testbed/fixtures/database, written as the program
// downloads it: "temp2.xml" with the code fields scrambled, packed alone into "dbase.zip".
//
//   zntv-dbgen --tables FOLDER [--xml FILE] [--zip FILE] [--limit N]
//
// --limit keeps the first N rows of every table, and of every category of types (small files for seeds and
// tests), after the whole tables were checked against each other (every type, airline and similar-type member known, no
// repeated key), so a slip in them stops the build instead of reaching the program as a log line.
#include <zip.h>

#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "liveries/scramble.h"

namespace fs = std::filesystem;

namespace {

using Row = std::vector<std::string>;

struct TableError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::vector<std::string> lf_split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string piece;
    std::istringstream in(text);
    while (std::getline(in, piece, separator)) pieces.push_back(piece);
    if (!text.empty() && text.back() == separator) pieces.emplace_back();
    return pieces;
}

// The rows of a table: comments ("#") and blank lines skipped, the header line of a .csv skipped, each row split
// at commas.
std::vector<Row> lf_readTable(const fs::path& path) {
    std::ifstream in(path);
    if (!in) throw TableError("cannot read " + path.string());
    const bool csv = path.extension() == ".csv";
    bool header = csv;
    std::vector<Row> rows;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line.front() == '#') continue;
        if (header) {
            header = false;
            continue;
        }
        rows.push_back(lf_split(line, ','));
    }
    return rows;
}

std::string lf_field(const Row& row, std::size_t i) { return i < row.size() ? row[i] : std::string(); }

std::string lf_join(const std::vector<std::string>& items, std::string_view separator = ",") {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty()) out += separator;
        out += item;
    }
    return out;
}

struct Tables {
    struct Type {
        std::string code, category, span;
        bool cargo = false;
    };
    std::vector<Type> types;
    std::vector<std::vector<std::string>> similar;
    std::vector<std::string> airlines, cargoOperators;
    std::vector<std::vector<std::string>> publishers;
    std::vector<std::pair<std::string, std::string>> fixes;
    std::vector<std::string> simAddons;
    std::vector<std::pair<std::string, std::vector<std::string>>> thirdParties;
    std::vector<Row> registrations;
};

Tables lf_readTables(const fs::path& folder) {
    Tables t;
    std::set<std::string> types, airlines;
    const std::set<std::string> categories = {"light", "buzjet", "large", "heavy", "highperf", "rotorcraft"};
    for (const Row& row : lf_readTable(folder / "types.csv")) {
        Tables::Type type{lf_field(row, 0), lf_field(row, 1), lf_field(row, 2), lf_field(row, 3) == "yes"};
        if (type.code.empty() || !types.insert(type.code).second)
            throw TableError("type repeated or empty: " + type.code);
        if (!categories.contains(type.category))
            throw TableError("unknown category of " + type.code + ": " + type.category);
        if (!type.span.empty()) {
            std::size_t used = 0;
            const double metres = std::stod(type.span, &used);
            if (used != type.span.size() || metres <= 0)
                throw TableError("bad span of " + type.code + ": " + type.span);
        }
        t.types.push_back(type);
    }
    for (const Row& row : lf_readTable(folder / "similar.txt")) {
        for (const auto& member : row) {
            if (!types.contains(member)) throw TableError("similar type not in the types: " + member);
        }
        t.similar.push_back(row);
    }
    for (const Row& row : lf_readTable(folder / "airlines.csv")) {
        const std::string code = lf_field(row, 0);
        if (code.size() != 3 || !airlines.insert(code).second)
            throw TableError("airline code repeated or not 3 long: " + code);
        t.airlines.push_back(code);
        if (lf_field(row, 2) == "yes") t.cargoOperators.push_back(code);
    }
    for (const Row& row : lf_readTable(folder / "publishers.txt")) t.publishers.push_back(row);
    for (const Row& row : lf_readTable(folder / "fixes.csv")) {
        const std::string wrong = lf_field(row, 0), correct = lf_field(row, 1);
        if (!types.contains(correct)) throw TableError("fix to an unknown type: " + wrong + "->" + correct);
        t.fixes.emplace_back(wrong, correct);
    }
    for (const Row& row : lf_readTable(folder / "simaddons.txt")) t.simAddons.push_back(lf_field(row, 0));
    for (const Row& row : lf_readTable(folder / "thirdparty.csv")) {
        if (row.size() < 2) throw TableError("publisher without airports: " + lf_field(row, 0));
        t.thirdParties.emplace_back(row[0], std::vector<std::string>(row.begin() + 1, row.end()));
    }
    std::set<std::string> registrations;
    for (const Row& row : lf_readTable(folder / "registrations.csv")) {
        const std::string reg = lf_field(row, 0), airline = lf_field(row, 1), type = lf_field(row, 2),
                          op = lf_field(row, 3);
        if (!registrations.insert(reg).second) throw TableError("registration repeated: " + reg);
        if (airline != "PVT" && !airlines.contains(airline))
            throw TableError("unknown airline of " + reg + ": " + airline);
        if (!types.contains(type)) throw TableError("unknown type of " + reg + ": " + type);
        if (!op.empty() && !airlines.contains(op)) throw TableError("unknown operator of " + reg + ": " + op);
        t.registrations.push_back(row);
    }
    return t;
}

template <class T>
void lf_cut(std::vector<T>& rows, std::size_t limit) {
    if (rows.size() > limit) rows.resize(limit);
}

void lf_cut(Tables& t, std::size_t limit) {
    // Types by category, and the cargo types apart: every required list of a small database keeps members.
    std::map<std::string, std::size_t> perCategory;
    std::size_t cargo = 0;
    std::vector<Tables::Type> kept;
    for (const auto& type : t.types) {
        const bool room = perCategory[type.category] < limit || (type.cargo && cargo < limit);
        if (!room) continue;
        ++perCategory[type.category];
        cargo += type.cargo;
        kept.push_back(type);
    }
    t.types = std::move(kept);
    lf_cut(t.similar, limit);
    lf_cut(t.airlines, limit);
    lf_cut(t.cargoOperators, limit);
    lf_cut(t.publishers, limit);
    lf_cut(t.fixes, limit);
    lf_cut(t.simAddons, limit);
    lf_cut(t.thirdParties, limit);
    lf_cut(t.registrations, limit);
}

std::vector<std::string> lf_scrambledTypes(const std::vector<std::string>& types) {
    std::vector<std::string> out;
    for (const auto& type : types) out.push_back(gf_scrambleType(type));
    return out;
}

// A list section: the codes in elements of at most 20 codes each.
void lf_listSection(pugi::xml_document& doc, const char* section, const char* element, const char* attribute,
                    const std::vector<std::string>& codes) {
    pugi::xml_node node = doc.append_child(section);
    for (std::size_t i = 0; i < codes.size(); i += 20) {
        const std::vector<std::string> chunk(
            codes.begin() + static_cast<std::ptrdiff_t>(i),
            codes.begin() + static_cast<std::ptrdiff_t>(std::min(codes.size(), i + 20)));
        node.append_child(element).append_attribute(attribute) = lf_join(chunk).c_str();
    }
}

std::string lf_document(const Tables& t) {
    pugi::xml_document doc;
    auto declaration = doc.append_child(pugi::node_declaration);
    declaration.append_attribute("version") = "1.0";
    declaration.append_attribute("encoding") = "UTF-8";

    std::vector<std::string> all;
    std::map<std::string, std::vector<std::string>> byCategory;
    std::vector<std::string> cargo;
    for (const auto& type : t.types) {
        all.push_back(type.code);
        byCategory[type.category].push_back(type.code);
        if (type.cargo) cargo.push_back(type.code);
    }
    lf_listSection(doc, "aircrafts", "aircraft", "types", lf_scrambledTypes(all));
    lf_listSection(doc, "high_performance", "hpf", "types", lf_scrambledTypes(byCategory["highperf"]));
    lf_listSection(doc, "heavy", "hvy", "types", lf_scrambledTypes(byCategory["heavy"]));
    lf_listSection(doc, "large", "lar", "types", lf_scrambledTypes(byCategory["large"]));
    lf_listSection(doc, "buzjet", "bzj", "types", lf_scrambledTypes(byCategory["buzjet"]));
    lf_listSection(doc, "rotorcraft", "rot", "types", lf_scrambledTypes(byCategory["rotorcraft"]));
    lf_listSection(doc, "cargo_types", "cargo_type", "types", lf_scrambledTypes(cargo));

    pugi::xml_node similar = doc.append_child("similar_types");
    for (const auto& group : t.similar)
        similar.append_child("similar").append_attribute("types") = lf_join(lf_scrambledTypes(group)).c_str();

    std::vector<std::string> airlines, cargoOperators;
    for (const auto& code : t.airlines) airlines.push_back(gf_scrambleAirline(code));
    for (const auto& code : t.cargoOperators) cargoOperators.push_back(gf_scrambleAirline(code));
    lf_listSection(doc, "ICAO_airlines", "ICAO", "codes", airlines);
    lf_listSection(doc, "cargo_operators", "ICAO", "codes", cargoOperators);

    pugi::xml_node publishers = doc.append_child("publishers");
    for (const auto& group : t.publishers)
        publishers.append_child("pub").append_attribute("names") = lf_join(group).c_str();

    pugi::xml_node wingspans = doc.append_child("wingspans");
    for (const auto& type : t.types) {
        if (type.span.empty()) continue;
        pugi::xml_node w = wingspans.append_child("wingspan");
        w.append_attribute("type") = gf_scrambleType(type.code).c_str();
        w.append_attribute("meters") = type.span.c_str();
    }

    pugi::xml_node fixes = doc.append_child("fixes");
    for (const auto& [wrong, correct] : t.fixes) {
        pugi::xml_node fx = fixes.append_child("fx");
        fx.append_attribute("wro") = wrong.c_str();
        fx.append_attribute("cor") = correct.c_str();
    }

    lf_listSection(doc, "simaddonsP3D", "simaddonP3D", "arpts", t.simAddons);
    pugi::xml_node thirdParties = doc.append_child("thirdpartiesP3D");
    for (const auto& [publisher, airports] : t.thirdParties) {
        pugi::xml_node p = thirdParties.append_child("thirdpartieP3D");
        p.append_attribute("pub") = publisher.c_str();
        p.append_attribute("arpts") = lf_join(airports).c_str();
    }

    pugi::xml_node dbase = doc.append_child("dbase");
    for (const Row& row : t.registrations) {
        pugi::xml_node db = dbase.append_child("db");
        db.append_attribute("reg") = gf_scrambleRegistration(lf_field(row, 0)).c_str();
        db.append_attribute("airl") = gf_scrambleAirline(lf_field(row, 1)).c_str();
        db.append_attribute("type") = gf_scrambleType(lf_field(row, 2)).c_str();
        db.append_attribute("opr") = gf_scrambleAirline(lf_field(row, 3)).c_str();
        db.append_attribute("cargo") = lf_field(row, 4) == "yes" ? "1" : "0";
    }

    std::ostringstream out;
    doc.save(out, " ", pugi::format_indent, pugi::encoding_utf8);
    return out.str();
}

void lf_writeFile(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    const fs::path temp = path.string() + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + temp.string());
    }
    fs::rename(temp, path);
}

void lf_writeZip(const fs::path& path, const std::string& xml) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    const fs::path temp = path.string() + ".part";
    int code = 0;
    zip_t* archive = zip_open(temp.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr) throw std::runtime_error("cannot create " + temp.string());
    zip_source_t* source = zip_source_buffer(archive, xml.data(), xml.size(), 0);
    if (source == nullptr || zip_file_add(archive, "temp2.xml", source, ZIP_FL_ENC_UTF_8) < 0) {
        if (source != nullptr) zip_source_free(source);
        const std::string reason = zip_strerror(archive);
        zip_discard(archive);
        throw std::runtime_error("cannot pack temp2.xml: " + reason);
    }
    if (zip_close(archive) != 0) {
        const std::string reason = zip_strerror(archive);
        zip_discard(archive);
        throw std::runtime_error("cannot write " + temp.string() + ": " + reason);
    }
    fs::rename(temp, path);
}

int lf_usage(const char* program) {
    std::cerr << "usage: " << program << " --tables FOLDER [--xml FILE] [--zip FILE] [--limit N]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path tables, xmlPath, zipPath;
    std::size_t limit = static_cast<std::size_t>(-1);
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 >= argc) return lf_usage(argv[0]);
        if (arg == "--tables")
            tables = argv[++i];
        else if (arg == "--xml")
            xmlPath = argv[++i];
        else if (arg == "--zip")
            zipPath = argv[++i];
        else if (arg == "--limit")
            limit = std::stoul(argv[++i]);
        else
            return lf_usage(argv[0]);
    }
    if (tables.empty() || (xmlPath.empty() && zipPath.empty())) return lf_usage(argv[0]);
    try {
        Tables t = lf_readTables(tables);
        lf_cut(t, limit);
        const std::string xml = lf_document(t);
        if (!xmlPath.empty()) lf_writeFile(xmlPath, xml);
        if (!zipPath.empty()) lf_writeZip(zipPath, xml);
        std::cout << "zntv-dbgen: " << t.types.size() << " types, " << t.similar.size() << " similar groups, "
                  << t.airlines.size() << " airlines, " << t.registrations.size() << " registrations\n";
    } catch (const std::exception& e) {
        std::cerr << "zntv-dbgen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
