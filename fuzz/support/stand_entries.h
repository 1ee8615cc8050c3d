// The stands and options of stand files as a user would look for them: "id" for a stand, "id/registration"
// for an option, over every "parkpositions" block of a document.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "airports/stand_file.h"

namespace fuzz {

// With `withContentOnly`, a stand counts only when it says something a learned file keeps: manual, a changed
// radius or cargo flag, or options; a bare id says nothing.
inline void addStandEntries(const pugi::xml_document& doc, bool withContentOnly, bool withOptions,
                            std::set<std::string>& entries) {
    for (const pugi::xml_node block : doc.children("parkpositions")) {
        for (const pugi::xml_node stand : block.children("parkpos")) {
            const bool content = gf_isTrueText(stand.attribute("manual").value()) ||
                                 gf_isTrueText(stand.attribute("radius_change").value()) ||
                                 gf_isTrueText(stand.attribute("cargo_change").value()) || stand.child("opt");
            if (withContentOnly && !content) continue;
            const std::string id = stand.attribute("id").value();
            entries.insert(id);
            if (!withOptions) continue;
            for (const pugi::xml_node opt : stand.children("opt")) entries.insert(id + "/" + opt.attribute("reg").value());
        }
    }
}

inline void addTextEntries(std::string_view text, std::set<std::string>& entries) {
    pugi::xml_document doc;
    if (doc.load_buffer(text.data(), text.size())) addStandEntries(doc, false, true, entries);
}

// Every stand file below the folder.
inline void addFolderEntries(const std::filesystem::path& folder, std::set<std::string>& entries) {
    std::error_code ec;
    for (const auto& file : std::filesystem::recursive_directory_iterator(folder, ec)) {
        pugi::xml_document doc;
        if (file.is_regular_file() && doc.load_file(file.path().c_str())) addStandEntries(doc, false, true, entries);
    }
}

}  // namespace fuzz
