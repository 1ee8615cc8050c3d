// What the learned folder holds, as the user would look for it: every stand id and every option (as
// "id/registration") of every stand file below the folder, in every "parkpositions" block, copies beside the
// learned files included.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <pugixml.hpp>

namespace airports_test {

inline std::vector<std::string> learnedFolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> entries;
    std::error_code ec;
    for (const auto& file : std::filesystem::recursive_directory_iterator(folder, ec)) {
        if (!file.is_regular_file() || file.path().extension() != ".xml") continue;
        pugi::xml_document doc;
        if (!doc.load_file(file.path().c_str())) continue;
        for (const pugi::xml_node block : doc.children("parkpositions")) {
            for (const pugi::xml_node p : block.children("parkpos")) {
                const std::string id = p.attribute("id").value();
                entries.push_back(id);
                for (const pugi::xml_node o : p.children("opt"))
                    entries.push_back(id + "/" + o.attribute("reg").value());
            }
        }
    }
    return entries;
}

inline bool contains(const std::vector<std::string>& entries, const std::string& entry) {
    return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

}  // namespace airports_test
