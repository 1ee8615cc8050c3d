#include "frame/settings_file.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "frame/timeutil.h"
#include "frame/version.h"

namespace fs = std::filesystem;

namespace {

// One load-change-write at a time: the UI thread and the work thread both save, and two overlapping
// writes would each drop the other's change.
std::mutex g_parametersFileMutex;

enum class FileState { Read, Missing, Unreadable };

// What the settings fault tells, under the file's lock: each value read in place of a stored text that is no
// number in its key's range ("KEY "text" by value"), and each folder element without a value, until its key is
// saved; and where an unreadable file was kept, for the rest of the run: the start-up after it may end on an
// error (no install path), and the one after that must still say where the user's settings went.
std::vector<std::pair<std::string, std::string>> g_replacedValues;
std::vector<std::string> g_foldersWithoutValue;
std::string g_unreadableFileNotice;
// The unreadable file could not be kept: nothing is saved over it until a start reads it.
bool g_unreadableFileLeft = false;

std::string lf_settingsFaultLocked() {
    std::vector<std::string> parts;
    if (!g_unreadableFileNotice.empty()) parts.push_back(g_unreadableFileNotice);
    std::string replaced;
    for (const auto& [key, told] : g_replacedValues) replaced += (replaced.empty() ? "" : ", ") + told;
    if (!replaced.empty()) parts.push_back("Bad values in parameters.xml replaced: " + replaced);
    // A folder typed under another attribute name ("valeu") reads as none: the user is to look at that element.
    for (const std::string& key : g_foldersWithoutValue)
        parts.push_back(
            fmt::format("{} element in parameters.xml has no \"value\" attribute: taken as no folder", key));
    std::string line;
    for (const std::string& part : parts) line += (line.empty() ? "" : "; ") + part;
    return line;
}

void lf_showSettingsFault(const std::string& line) {
    if (line.empty()) {
        gf_clearStandingFault(StandingFault::Settings);
    } else {
        gf_showStandingFault(StandingFault::Settings, line);
    }
}

// The number the whole text is, as the XML library reads numbers (blanks around it, a sign, decimal or "0x"
// hexadecimal); nothing when anything else is in it, or when it is beyond 64 bits.
std::optional<std::int64_t> lf_wholeNumber(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) text.remove_prefix(1);
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error != std::errc{} || end != text.data() + text.size() ||
        magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return std::nullopt;
    return negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
}

const char* lf_boolText(bool v) { return v ? "true" : "false"; }

FileState lf_loadFile(pugi::xml_document& doc) {
    const pugi::xml_parse_result result = doc.load_file(g_parametersPath.c_str());
    // A document without "parameters" at its top cannot take our elements; it is no settings file.
    if (result && doc.child("parameters")) return FileState::Read;
    doc.reset();
    std::error_code ec;
    const fs::file_status st = fs::status(g_parametersPath, ec);
    return st.type() == fs::file_type::not_found ? FileState::Missing : FileState::Unreadable;
}

// The user's settings in a file we cannot read are still worth having: keep them beside the new file. Moved, not
// copied: a rename needs no right to read the file (another user's, say), only to write the folder, as the new
// file needs anyway. True when they are kept; else the file must not be written over, and stays as it is until a
// start reads it.
bool lf_keepUnreadableFile() {
    // gf_backupFile's naming: "parameters.xml" is kept as "parameters0.xml" (and an older one of those as
    // "parameters00.xml").
    const fs::path backup = g_parametersPath.parent_path() /
                            (g_parametersPath.stem().string() + "0" + g_parametersPath.extension().string());
    try {
        gf_backupFile(g_parametersPath, BackupBy::move);
        gf_logWarning(fmt::format("\"{}\" could not be read, kept as \"{}\"", g_parametersPath.string(),
                                  backup.string()));
        g_unreadableFileNotice =
            fmt::format("parameters.xml could not be read: kept as \"{}\", defaults taken", backup.string());
        g_unreadableFileLeft = false;
    } catch (const std::exception& e) {
        gf_logWarning(fmt::format("\"{}\" could not be read nor kept ({}): left as it is, settings not saved until "
                                  "the program starts again and reads it",
                                  g_parametersPath.string(), e.what()));
        g_unreadableFileNotice = fmt::format(
            "parameters.xml could not be read nor kept ({}), defaults taken; settings are not saved until the program "
            "starts again and reads it",
            e.what());
        g_unreadableFileLeft = true;
    }
    return !g_unreadableFileLeft;
}

void lf_makeAppFolder() {
    std::error_code ec;
    if (g_parametersPath.has_parent_path()) fs::create_directories(g_parametersPath.parent_path(), ec);
}

pugi::xml_node lf_findNode(const pugi::xml_document& doc, std::string_view key) {
    return doc.select_node(gf_findParameterNode(key).c_str()).node();
}

void lf_logValue(const std::string& key, std::string_view value) { gf_logLine(fmt::format("{}={}", key, value)); }

void lf_logAddFailed(const std::string& key, std::string_view value) {
    gf_logLine(fmt::format("{}adding init xml parameter {} with {} failed!", "===> ", key, value));
}

std::int32_t lf_clamp(const IntParameter& p, std::int32_t v) { return std::clamp(v, p.minimum, p.maximum); }

// A document holding every stored setting as memory has it. Written for a new file and whenever the file
// on disk cannot be used, so that a save never shrinks the file to the one key being saved.
void lf_buildFromMemory(pugi::xml_document& doc, const ParameterLists& lists) {
    doc.reset();
    pugi::xml_node root = doc.append_child("parameters");
    for (const BoolParameter* p : lists.bools) gf_addBoolParameterNode(root, p->key, p->value());
    for (const CheckBoxParameter* p : lists.checkBoxes) gf_addBoolParameterNode(root, p->key, p->value());
    for (const IntParameter* p : lists.ints) gf_addIntParameterNode(root, p->key, p->value());
    for (const IntEditParameter* p : lists.intEdits) gf_addIntParameterNode(root, p->key, p->value());
    for (const StringParameter* p : lists.texts) {
        const std::string v = p->value();
        // an empty folder key has no element: the reading would remove it again
        if (gf_isFolderKey(p->key) && v.empty()) continue;
        gf_addStringParameterNode(root, p->key, v);
    }
    for (const StringEditParameter* p : lists.textEdits) gf_addStringParameterNode(root, p->key, p->value());
}

void lf_takeDefaults(pugi::xml_document& doc, const ParameterLists& lists) {
    pugi::xml_node root = doc.append_child("parameters");
    auto takeBool = [&](BoolParameter& p) {
        p.reset();
        if (!gf_addBoolParameterNode(root, p.key, p.value())) lf_logAddFailed(p.key, lf_boolText(p.value()));
        gf_logBoolParameter(p);
    };
    auto takeInt = [&](IntParameter& p) {
        p.reset();
        if (!gf_addIntParameterNode(root, p.key, p.value())) lf_logAddFailed(p.key, std::to_string(p.value()));
        gf_logIntParameter(p);
    };
    auto takeText = [&](StringParameter& p) {
        p.reset();
        if (!gf_addStringParameterNode(root, p.key, p.value())) lf_logAddFailed(p.key, p.value());
        gf_logStringParameter(p);
    };
    for (BoolParameter* p : lists.bools) takeBool(*p);
    for (CheckBoxParameter* p : lists.checkBoxes) {
        takeBool(*p);
        gf_showCheckState(*p);
    }
    for (IntParameter* p : lists.ints) takeInt(*p);
    for (IntEditParameter* p : lists.intEdits) {
        takeInt(*p);
        gf_showIntParameter(*p);
    }
    for (StringParameter* p : lists.texts) {
        if (!gf_isFolderKey(p->key)) takeText(*p);
    }
    for (StringEditParameter* p : lists.textEdits) {
        takeText(*p);
        gf_showStringParameter(*p);
    }
}

void lf_readFile(pugi::xml_document& doc, const ParameterLists& lists) {
    pugi::xml_node root = doc.child("parameters");
    auto readBool = [&](BoolParameter& p) {
        if (pugi::xml_node node = lf_findNode(doc, p.key)) {
            p.set(node.attribute("value").as_bool());
        } else {
            p.reset();
            gf_addBoolParameterNode(root, p.key, p.value());
        }
        gf_logBoolParameter(p);
    };
    auto readInt = [&](IntParameter& p) {
        if (pugi::xml_node node = lf_findNode(doc, p.key)) {
            const pugi::xml_attribute stored = node.attribute("value");
            p.set(lf_clamp(p, stored.as_int()));
            if (lf_wholeNumber(stored.as_string()) != std::optional<std::int64_t>(p.value())) {
                g_replacedValues.emplace_back(p.key,
                                              fmt::format("{} \"{}\" by {}", p.key, stored.as_string(), p.value()));
            }
        } else {
            p.reset();
            gf_addIntParameterNode(root, p.key, p.value());
        }
        gf_logIntParameter(p);
    };
    auto readText = [&](StringParameter& p) {
        if (pugi::xml_node node = lf_findNode(doc, p.key)) {
            p.set(node.attribute("value").as_string());
        } else {
            p.reset();
            gf_addStringParameterNode(root, p.key, p.value());
        }
        gf_logStringParameter(p);
    };
    auto readFolder = [&](StringParameter& p) {
        pugi::xml_node node = lf_findNode(doc, p.key);
        const pugi::xml_attribute stored = node.attribute("value");
        p.set(node ? stored.as_string() : p.defaultValue);
        if (!p.value().empty()) {
            gf_logStringParameter(p);
        } else if (node && !stored) {
            // No "value": the folder was typed by hand under another name ("valeu"). The element stays for the
            // user to mend, and is told on the status line, as a number with the same slip is told.
            g_foldersWithoutValue.push_back(p.key);
        } else if (node) {
            node.parent().remove_child(node);
            gf_logLine(fmt::format("Parameter {} removed", p.key));
        }
    };
    for (BoolParameter* p : lists.bools) readBool(*p);
    for (CheckBoxParameter* p : lists.checkBoxes) {
        readBool(*p);
        gf_showCheckState(*p);
    }
    for (IntParameter* p : lists.ints) readInt(*p);
    for (IntEditParameter* p : lists.intEdits) {
        readInt(*p);
        gf_showIntParameter(*p);
    }
    for (StringParameter* p : lists.texts) {
        if (gf_isFolderKey(p->key))
            readFolder(*p);
        else
            readText(*p);
    }
    for (StringEditParameter* p : lists.textEdits) {
        readText(*p);
        gf_showStringParameter(*p);
    }
}

bool lf_saveOneLocked(const std::string& key, const std::string& valueText) {
    pugi::xml_document doc;
    // Until a start reads the file left alone, memory holds the defaults, not the user's settings: even once its
    // rights are mended, a save would put a default over what the user had.
    if (g_unreadableFileLeft || (lf_loadFile(doc) == FileState::Unreadable && !lf_keepUnreadableFile())) {
        gf_logLine(fmt::format("{}={} not saved: \"{}\" could not be read", key, valueText, g_parametersPath.string()));
        return false;
    }
    // Missing, or kept aside: every stored setting from memory.
    if (!doc.child("parameters")) lf_buildFromMemory(doc, gf_storedParameters());
    if (pugi::xml_node node = lf_findNode(doc, key)) {
        pugi::xml_attribute value = node.attribute("value");
        // An element without a value would read as false or 0 next time and the change would be lost.
        if (!value) value = node.append_attribute("value");
        value.set_value(valueText.c_str());
    } else {
        gf_addStringParameterNode(doc.child("parameters"), key, valueText);
    }
    lf_logValue(key, valueText);
    lf_makeAppFolder();
    if (!gf_saveXml(doc, g_parametersPath)) {
        gf_logLine("saving xml did not work?");
        return false;
    }
    return true;
}

bool lf_saveOne(const std::string& key, const std::string& valueText) {
    gf_ensureGlobalPaths();
    std::string before, after;
    bool saved = false;
    {
        std::lock_guard lock(g_parametersFileMutex);
        before = lf_settingsFaultLocked();
        saved = lf_saveOneLocked(key, valueText);
        // The file holds a right value for the key now.
        if (saved) {
            std::erase_if(g_replacedValues, [&](const auto& r) { return r.first == key; });
            std::erase(g_foldersWithoutValue, key);
        }
        after = lf_settingsFaultLocked();
    }
    // Only a change is shown: the exit sequence saves after it has withdrawn the faults.
    if (after != before) lf_showSettingsFault(after);
    return saved;
}

}  // namespace

void gf_forgetSettingsFault() {
    std::lock_guard lock(g_parametersFileMutex);
    g_replacedValues.clear();
    g_foldersWithoutValue.clear();
    g_unreadableFileNotice.clear();
    g_unreadableFileLeft = false;
}

void gf_readParameters() {
    gf_ensureGlobalPaths();
    gf_loadParameters(gf_storedParameters());
    gf_setDerivedTrafficRange(g_LATERAL_RANGE.value());
}

void gf_loadParameters(const ParameterLists& lists) {
    gf_ensureGlobalPaths();
    gf_logLine(gf_banner(35, 35, true, false, "parameters"));
    std::string fault;
    {
        std::lock_guard lock(g_parametersFileMutex);
        g_replacedValues.clear();
        g_foldersWithoutValue.clear();
        pugi::xml_document doc;
        const FileState state = lf_loadFile(doc);
        bool save = true;
        if (state == FileState::Read) {
            // A file left alone earlier in the run reads now: its settings are the ones saved again.
            if (std::exchange(g_unreadableFileLeft, false)) g_unreadableFileNotice.clear();
            gf_logLine(fmt::format("from \"{}\"", g_parametersPath.string()));
            lf_readFile(doc, lists);
        } else {
            // A file that could not be kept is left as it is: the run goes on with the defaults.
            save = state == FileState::Missing || lf_keepUnreadableFile();
            gf_logLine(fmt::format("{} not found, default values taken:", g_parametersPath.string()));
            lf_takeDefaults(doc, lists);
        }
        if (save) {
            lf_makeAppFolder();
            gf_saveXml(doc, g_parametersPath);
        }
        fault = lf_settingsFaultLocked();
    }
    lf_showSettingsFault(fault);
    gf_logLine(gf_banner(40, 40, false, true, ""));
}

bool gf_saveBoolParameter(const BoolParameter& p) { return lf_saveOne(p.key, lf_boolText(p.value())); }
bool lf_saveIntParameter(const IntParameter& p) { return lf_saveOne(p.key, std::to_string(p.value())); }
bool gf_saveStringParameter(const StringParameter& p) { return lf_saveOne(p.key, p.value()); }

bool gf_setStringParameterAndSave(StringParameter& p, const std::string& text) {
    p.set(text);
    return gf_saveStringParameter(p);
}

std::string gf_findParameterNode(std::string_view key) {
    return fmt::format("/parameters/parameter[@name='{}']", key);
}

namespace {
pugi::xml_node lf_appendParameter(pugi::xml_node node, const std::string& key) {
    // Only elements and the document itself take child elements; pugixml returns a null node otherwise.
    pugi::xml_node child = node.append_child("parameter");
    if (child) child.append_attribute("name").set_value(key.c_str());
    return child;
}
}  // namespace

bool gf_addBoolParameterNode(pugi::xml_node node, const std::string& key, bool value) {
    pugi::xml_node child = lf_appendParameter(node, key);
    if (!child) return false;
    child.append_attribute("value").set_value(lf_boolText(value));
    return true;
}

bool gf_addIntParameterNode(pugi::xml_node node, const std::string& key, std::int32_t value) {
    pugi::xml_node child = lf_appendParameter(node, key);
    if (!child) return false;
    child.append_attribute("value").set_value(std::to_string(value).c_str());
    return true;
}

bool gf_addStringParameterNode(pugi::xml_node node, const std::string& key, const std::string& value) {
    pugi::xml_node child = lf_appendParameter(node, key);
    if (!child) return false;
    child.append_attribute("value").set_value(value.c_str());
    return true;
}

bool gf_setIntAttribute(pugi::xml_node node, const char* name, std::int32_t value) {
    pugi::xml_attribute attr = node.attribute(name);
    if (!attr) return false;
    return attr.set_value(std::to_string(value).c_str());
}

std::string gf_getAttribute(pugi::xml_node node, const char* name) { return node.attribute(name).as_string(); }

void gf_logBoolParameter(const BoolParameter& p) { lf_logValue(p.key, lf_boolText(p.value())); }
void gf_logIntParameter(const IntParameter& p) { lf_logValue(p.key, std::to_string(p.value())); }
void gf_logStringParameter(const StringParameter& p) { lf_logValue(p.key, p.value()); }

bool gf_writeMetaInfo(pugi::xml_document& doc) {
    pugi::xml_node meta = doc.append_child("meta");
    if (!meta) return false;
    const std::pair<const StringParameter*, std::string> entries[] = {
        {&g_author, "ZNTV_P3D"},
        {&g_version, gf_versionText(g_programVersion)},
        {&g_date, gf_dateText()},
        {&g_copyright, kCopyrightNotice},
    };
    for (const auto& [p, value] : entries) {
        pugi::xml_node info = meta.append_child("info");
        if (!info) return false;
        info.append_attribute("name").set_value(p->key.c_str());
        info.append_attribute("value").set_value(value.c_str());
    }
    return true;
}

bool gf_checkMetaInfo(const pugi::xml_document& doc) {
    for (StringParameter* p : {&g_author, &g_date, &g_version}) {
        const pugi::xml_node info =
            doc.select_node(fmt::format("/meta/info[@name='{}']", p->key).c_str()).node();
        if (!info) {
            p->set("");
            gf_logWarning("meta data incorrect?");
            return false;
        }
        p->set(info.attribute("value").as_string());
    }
    return true;
}
