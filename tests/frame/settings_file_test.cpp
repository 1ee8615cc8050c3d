#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <pugixml.hpp>

#include "frame/display.h"
#include "frame/parameters.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/timeutil.h"
#include "settings_test_env.h"

using namespace settings_test;

namespace {

// The stored keys of a new file, in the order users' files have them.
const std::vector<std::string> kNewFileKeys = {
    "SIM_TIME", "KEEP_SIM_TIME_PAR", "RT_PARKTRAFFIC_ONLY", "AFG_AUTOMATIC", "COLLISION_USER_AIR",
    "COLLISION_USER_GND", "COLLISION_LIVE_PARKED_GND", "SUPPRESS_STUB", "LOG", "ALWAYS_ON_TOP", "SCAN_LIVERIES",
    "LIG_AUTOMATIC", "LIG_PRIORITIZE", "SCAN_AIRPORTS", "LIGHT_AIRCRAFT", "HELICOPTERS", "HIGH_PERF_AIRCRAFT",
    "NAV_LIGHTS_WHILE_PARKED", "AUTO_RANGE", "LEARN_SOFT", "STRAIGHT_PBS_ONLY", "PARK_SOFT", "PARK_FAKE", "WEEK",
    "INITIAL_LOAD_ONLY", "GUID_CHANGES",
    "CUSTOM_PARKING_PERCENTAGE", "MAIN_WINDOW_X", "MAIN_WINDOW_Y", "LAST_EPOCH_TIME", "HOLDING_THRESHOLD_METERS",
    "MAX_HOLDING_MINUTES", "P3D_VERSION",
    "MATCHING_DEPTH", "LATERAL_RANGE", "MAX_FIT", "AUTO_RANGE_ABOVE_HEIGHT", "MAX_LIVE", "AIRPORT_RANGE",
    "AIRPORT_HEIGHT", "CUSTOM_MAX_PARK", "TIME_SHIFT_DAYS", "TIME_SHIFT_HOURS", "TIME_SHIFT_MINS",
    "PROGRAM_VERSION", "SIM_INSTALL_PATH", "PROGRAM_INSTALL_PATH", "DESTINATION",
    "BLOCK_CALLSIGN"};

const std::map<std::string, std::string> kDefaults = {
    {"SIM_TIME", "false"}, {"KEEP_SIM_TIME_PAR", "false"}, {"RT_PARKTRAFFIC_ONLY", "false"},
    {"AFG_AUTOMATIC", "true"}, {"COLLISION_USER_AIR", "true"}, {"COLLISION_USER_GND", "true"},
    {"COLLISION_LIVE_PARKED_GND", "false"}, {"SUPPRESS_STUB", "true"}, {"LOG", "true"},
    {"ALWAYS_ON_TOP", "false"}, {"SCAN_LIVERIES", "true"}, {"LIG_AUTOMATIC", "true"},
    {"LIG_PRIORITIZE", "false"}, {"SCAN_AIRPORTS", "true"}, {"LIGHT_AIRCRAFT", "true"},
    {"HELICOPTERS", "true"}, {"HIGH_PERF_AIRCRAFT", "true"}, {"NAV_LIGHTS_WHILE_PARKED", "true"},
    {"AUTO_RANGE", "true"}, {"LEARN_SOFT", "true"}, {"STRAIGHT_PBS_ONLY", "false"}, {"PARK_SOFT", "true"},
    {"PARK_FAKE", "false"}, {"WEEK", "false"}, {"INITIAL_LOAD_ONLY", "false"}, {"GUID_CHANGES", "true"},
    {"CUSTOM_PARKING_PERCENTAGE", "-1"}, {"MAIN_WINDOW_X", "400"}, {"MAIN_WINDOW_Y", "20"},
    {"LAST_EPOCH_TIME", "0"}, {"HOLDING_THRESHOLD_METERS", "250"}, {"MAX_HOLDING_MINUTES", "20"},
    {"P3D_VERSION", "5"}, {"MATCHING_DEPTH", "4"}, {"LATERAL_RANGE", "40"}, {"MAX_FIT", "47"},
    {"AUTO_RANGE_ABOVE_HEIGHT", "49000"}, {"MAX_LIVE", "-1"}, {"AIRPORT_RANGE", "20"},
    {"AIRPORT_HEIGHT", "18000"}, {"CUSTOM_MAX_PARK", "-1"}, {"TIME_SHIFT_DAYS", "0"},
    {"TIME_SHIFT_HOURS", "0"}, {"TIME_SHIFT_MINS", "0"}, {"PROGRAM_VERSION", ""}, {"SIM_INSTALL_PATH", ""},
    {"PROGRAM_INSTALL_PATH", ""}, {"DESTINATION", ""}, {"BLOCK_CALLSIGN", ""}};

struct Element {
    std::string name, value;
    bool hasValue;
};

std::vector<Element> lf_elements(const fs::path& file) {
    pugi::xml_document doc;
    EXPECT_TRUE(doc.load_file(file.c_str())) << file;
    std::vector<Element> out;
    for (pugi::xml_node n : doc.child("parameters").children()) {
        out.push_back({n.attribute("name").as_string(), n.attribute("value").as_string(),
                       static_cast<bool>(n.attribute("value"))});
    }
    return out;
}

std::vector<std::string> lf_names(const std::vector<Element>& elements) {
    std::vector<std::string> names;
    for (const auto& e : elements) names.push_back(e.name);
    return names;
}

std::map<std::string, std::string> lf_values(const fs::path& file) {
    std::map<std::string, std::string> m;
    for (const auto& e : lf_elements(file)) m[e.name] = e.value;
    return m;
}

std::string lf_element(const std::string& key, const std::string& value) {
    return "\t<parameter name=\"" + key + "\" value=\"" + value + "\" />\n";
}

// What the settings fault shows, as the window keeps it.
std::string g_settingsFault;

class SettingsFileTest : public SettingsEnv {
protected:
    void SetUp() override {
        SettingsEnv::SetUp();
        g_settingsFault.clear();
        gf_setStatusLineHooks({.showStandingFault =
                                   [](StandingFault which, std::string_view text, bool) {
                                       if (which == StandingFault::Settings) g_settingsFault = text;
                                   },
                               .clearStandingFault =
                                   [](StandingFault which) {
                                       if (which == StandingFault::Settings) g_settingsFault.clear();
                                   }});
    }
    void TearDown() override {
        gf_setStatusLineHooks({});
        SettingsEnv::TearDown();
    }
};

TEST_F(SettingsFileTest, MissingFileIsWrittenWithEveryStoredDefaultAndShown) {
    createWindow();
    ASSERT_TRUE(lf_createCheckBox(g_SCAN_LIVERIES, 10));
    ASSERT_TRUE(lf_createEditField(g_LATERAL_RANGE, 100, 40));
    ASSERT_TRUE(lf_createEditField(g_BLOCK_CALLSIGN, 100, 80));
    // values a previous run left in memory must not survive the defaults
    g_SCAN_LIVERIES.set(false);
    m_ui->setChecked(g_SCAN_LIVERIES.controlId, false);
    g_LATERAL_RANGE.set(77);
    g_BLOCK_CALLSIGN.set("DLH1");
    g_lfolder[2].set("kept");

    gf_readParameters();

    const auto elements = lf_elements(settingsFile());
    EXPECT_EQ(lf_names(elements), kNewFileKeys);
    for (const auto& e : elements) EXPECT_EQ(e.value, kDefaults.at(e.name)) << e.name;

    const auto lines = logLines();
    EXPECT_TRUE(logHas(settingsFile().string() + " not found, default values taken:"));
    EXPECT_TRUE(logHas(std::string(34, '*') + " parameters " + std::string(34, '*')));
    EXPECT_TRUE(logHas(std::string(80, '*')));
    for (const auto& key : kNewFileKeys) {
        const std::string line = key + "=" + kDefaults.at(key);
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
    }
    EXPECT_FALSE(logHas("lfolder2=kept"));

    EXPECT_TRUE(m_ui->isChecked(g_SCAN_LIVERIES.controlId));
    EXPECT_EQ(m_ui->text(g_LATERAL_RANGE.controlId), "40");
    EXPECT_EQ(m_ui->text(g_BLOCK_CALLSIGN.controlId), "");
    EXPECT_EQ(g_lfolder[2].value(), "kept");  // folder keys are not touched by the defaults
    EXPECT_EQ(g_trafficRangeNm.load(), 40.0);
    EXPECT_EQ(g_trafficRangeMeters.load(), 40 * 1852 + 10000);
}

TEST_F(SettingsFileTest, IntegersAreParsedLikeTheXmlLibraryAndClampedAndAReplacedTextIsTold) {
    struct Case {
        const char* key;
        const char* text;
        std::int32_t expected;
        IntParameter* p;
        bool told;  // the text is not the number read
    };
    const Case cases[] = {
        {"LATERAL_RANGE", "150", 100, &g_LATERAL_RANGE, true},
        {"LATERAL_RANGE", "abc", 2, &g_LATERAL_RANGE, true},
        {"LATERAL_RANGE", "0x10", 16, &g_LATERAL_RANGE, false},
        {"LATERAL_RANGE", "  25km", 25, &g_LATERAL_RANGE, true},
        {"MAX_LIVE", "-1", -1, &g_MAX_LIVE, false},
        {"CUSTOM_MAX_PARK", "-7", -1, &g_CUSTOM_MAX_PARK, true},
        {"LAST_EPOCH_TIME", "99999999999", 2147483647, &g_LAST_EPOCH_TIME, true},
        {"MAIN_WINDOW_X", "-40000", -30000, &g_MAIN_WINDOW_X, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.text);
        writeSettings(lf_element(c.key, c.text));
        gf_readParameters();
        EXPECT_EQ(c.p->value(), c.expected);
        EXPECT_EQ(g_settingsFault, c.told ? fmt::format("Bad values in parameters.xml replaced: {} \"{}\" by {}",
                                                        c.key, c.text, c.expected)
                                          : "");
        EXPECT_TRUE(logHas(std::string(c.key) + "=" + std::to_string(c.expected)));
        // the element keeps its text until the key is saved again
        EXPECT_EQ(lf_values(settingsFile()).at(c.key), c.text);
    }
    // the radius follows the clamped value
    writeSettings(lf_element("LATERAL_RANGE", "150"));
    gf_readParameters();
    EXPECT_EQ(g_trafficRangeNm.load(), 100.0);
    EXPECT_EQ(g_trafficRangeMeters.load(), 100 * 1852 + 10000);

    // an element without "value" reads 0 before clamping; a folder typed under another name is none, and kept
    writeSettings("\t<parameter name=\"MATCHING_DEPTH\" />\n\t<parameter name=\"TIME_SHIFT_HOURS\" />\n"
                  "\t<parameter name=\"lfolder0\" valeu=\"D:\\Liveries\" />\n");
    g_TIME_SHIFT_HOURS.set(5);
    gf_readParameters();
    EXPECT_EQ(g_MATCHING_DEPTH.value(), 1);
    EXPECT_EQ(g_TIME_SHIFT_HOURS.value(), 0);
    EXPECT_EQ(g_settingsFault,
              "Bad values in parameters.xml replaced: MATCHING_DEPTH \"\" by 1, TIME_SHIFT_HOURS \"\" by 0; "
              "lfolder0 element in parameters.xml has no \"value\" attribute: taken as no folder");
    EXPECT_NE(readWholeFile(settingsFile()).find("valeu=\"D:\\Liveries\""), std::string::npos);
    // a key saved holds a right value again
    ASSERT_TRUE(lf_saveIntParameter(g_MATCHING_DEPTH));
    EXPECT_EQ(g_settingsFault,
              "Bad values in parameters.xml replaced: TIME_SHIFT_HOURS \"\" by 0; "
              "lfolder0 element in parameters.xml has no \"value\" attribute: taken as no folder");
}

TEST_F(SettingsFileTest, BooleansAreTrueOnlyForTheXmlLibrarysTrueTexts) {
    const std::pair<const char*, bool> cases[] = {{"yes", true}, {"Yes", true}, {"1", true}, {"true", true},
                                                  {"T", true},   {"0", false},  {"no", false}, {"", false},
                                                  {"false", false}, {" true", false}};
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        writeSettings(lf_element("SCAN_LIVERIES", text) + lf_element("SIM_TIME", text));
        gf_readParameters();
        EXPECT_EQ(g_SCAN_LIVERIES.value(), expected);
        EXPECT_EQ(g_SIM_TIME.value(), expected);
    }
    writeSettings("\t<parameter name=\"SCAN_LIVERIES\" />\n");
    gf_readParameters();
    EXPECT_FALSE(g_SCAN_LIVERIES.value());
}

TEST_F(SettingsFileTest, ExistingFileKeepsUnknownElementsAndGetsMissingKeysAppended) {
    writeSettings(lf_element("FUTURE_KEY", "x") + "\t<comment>hand made</comment>\n" +
                  lf_element("LATERAL_RANGE", "60") + lf_element("lfolder4", "E:\\Liveries"));
    createWindow();
    ASSERT_TRUE(lf_createEditField(g_LATERAL_RANGE, 100, 40));

    gf_readParameters();

    EXPECT_TRUE(logHas("from \"" + settingsFile().string() + "\""));
    EXPECT_EQ(m_ui->text(g_LATERAL_RANGE.controlId), "60");
    EXPECT_TRUE(logHas("lfolder4=E:\\Liveries"));
    EXPECT_EQ(g_lfolder[4].value(), "E:\\Liveries");

    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(settingsFile().c_str()));
    EXPECT_STREQ(doc.child("parameters").child("comment").text().as_string(), "hand made");
    auto names = lf_names(lf_elements(settingsFile()));
    names.erase(std::remove(names.begin(), names.end(), ""), names.end());  // the comment element
    // the three that were there stay first; the missing ones follow in reading order, folders not added
    std::vector<std::string> expected = {"FUTURE_KEY", "LATERAL_RANGE", "lfolder4"};
    for (const auto& key : kNewFileKeys)
        if (key != "LATERAL_RANGE") expected.push_back(key);
    EXPECT_EQ(names, expected);

    // and a later save of another key keeps the unknown ones as well
    g_LOG.set(false);
    ASSERT_TRUE(gf_saveBoolParameter(g_LOG));
    const auto values = lf_values(settingsFile());
    EXPECT_EQ(values.at("FUTURE_KEY"), "x");
    EXPECT_EQ(values.at("LOG"), "false");
}

TEST_F(SettingsFileTest, EmptyFolderKeyLosesItsElement) {
    writeSettings(lf_element("lfolder3", "") + lf_element("afolder2", "D:\\Scenery\\Addon"));
    gf_readParameters();

    const auto values = lf_values(settingsFile());
    EXPECT_EQ(values.count("lfolder3"), 0u);
    EXPECT_EQ(values.at("afolder2"), "D:\\Scenery\\Addon");
    EXPECT_TRUE(logHas("Parameter lfolder3 removed"));
    EXPECT_FALSE(logHas("lfolder3="));
    EXPECT_TRUE(logHas("afolder2=D:\\Scenery\\Addon"));
    for (int i = 0; i < kFolderKeyCount; ++i) {
        if (i != 2) {
            EXPECT_EQ(values.count("afolder" + std::to_string(i)), 0u);
        }
        EXPECT_EQ(values.count("lfolder" + std::to_string(i)), 0u);
    }
}

TEST_F(SettingsFileTest, SavingOneParameterChangesOnlyItsValue) {
    gf_readParameters();
    const std::string before = readWholeFile(settingsFile());

    g_LOG.set(false);
    ASSERT_TRUE(gf_saveBoolParameter(g_LOG));
    std::string expected = before;
    const std::string from = "name=\"LOG\" value=\"true\"";
    expected.replace(expected.find(from), from.size(), "name=\"LOG\" value=\"false\"");
    EXPECT_EQ(readWholeFile(settingsFile()), expected);
    EXPECT_TRUE(logHas("LOG=false"));

    g_MAX_LIVE.set(120);
    ASSERT_TRUE(lf_saveIntParameter(g_MAX_LIVE));
    ASSERT_TRUE(gf_setStringParameterAndSave(g_DESTINATION, "EDDF"));
    const auto values = lf_values(settingsFile());
    EXPECT_EQ(values.at("MAX_LIVE"), "120");
    EXPECT_EQ(values.at("DESTINATION"), "EDDF");
    EXPECT_EQ(g_DESTINATION.value(), "EDDF");

    // a key not yet in the file is appended at the end
    ASSERT_TRUE(gf_setStringParameterAndSave(g_lfolder[7], "F:\\More"));
    const auto elements = lf_elements(settingsFile());
    EXPECT_EQ(elements.back().name, "lfolder7");
    EXPECT_EQ(elements.back().value, "F:\\More");
}

TEST_F(SettingsFileTest, SavingIntoAnElementWithoutValueStoresTheValue) {
    writeSettings("\t<parameter name=\"LOG\" />\n");
    gf_readParameters();
    ASSERT_FALSE(g_LOG.value());
    g_LOG.set(true);
    ASSERT_TRUE(gf_saveBoolParameter(g_LOG));
    EXPECT_EQ(lf_values(settingsFile()).at("LOG"), "true");
    gf_readParameters();
    EXPECT_TRUE(g_LOG.value());
}

TEST_F(SettingsFileTest, UnreadableFileIsKeptAsBackupAndReplacedByDefaults) {
    const std::string broken = "<?xml version=\"1.0\"?>\n<parameters>\n\t<parameter name=\"LOG\" value=\"f";
    fs::create_directories(settingsFile().parent_path());
    writeWholeFile(settingsFile(), broken);

    gf_readParameters();

    const fs::path backup = settingsFile().parent_path() / "parameters0.xml";
    ASSERT_TRUE(fs::exists(backup));
    EXPECT_EQ(readWholeFile(backup), broken);
    EXPECT_TRUE(logHas("===> \"" + settingsFile().string() + "\" could not be read, kept as \"" + backup.string() +
                       "\""));
    EXPECT_EQ(lf_names(lf_elements(settingsFile())), kNewFileKeys);
    EXPECT_TRUE(logHas(settingsFile().string() + " not found, default values taken:"));
    const std::string told = "parameters.xml could not be read: kept as \"" + backup.string() + "\", defaults taken";
    EXPECT_EQ(g_settingsFault, told);
    // the start-up after it (the one that reads the new file) still says where the user's settings went
    gf_readParameters();
    EXPECT_EQ(g_settingsFault, told);

    // a well-formed file of another kind is no settings file either
    writeWholeFile(settingsFile(), "<settings><parameter name=\"LOG\" value=\"false\"/></settings>");
    gf_readParameters();
    EXPECT_EQ(readWholeFile(backup), "<settings><parameter name=\"LOG\" value=\"false\"/></settings>");
    EXPECT_EQ(readWholeFile(settingsFile().parent_path() / "parameters00.xml"), broken);
    EXPECT_EQ(lf_names(lf_elements(settingsFile())), kNewFileKeys);

    // the reset every test starts with forgets it: a test that reads a good file is told of nothing
    gf_resetParametersToDefaults();
    gf_readParameters();
    EXPECT_EQ(g_settingsFault, "");
}

TEST_F(SettingsFileTest, AnUnreadableFileThatCannotBeKeptIsLeftAndSavedIntoOnlyOnceAStartReadsIt) {
    // parameters0.xml a folder with something in it, parameters00.xml a file: the move aside fails, as root too.
    const fs::path folder = settingsFile().parent_path();
    fs::create_directories(folder / "parameters0.xml");
    writeWholeFile(folder / "parameters0.xml" / "mine", "");
    writeWholeFile(folder / "parameters00.xml", "");
    writeWholeFile(settingsFile(), "not xml at all");

    gf_readParameters();
    g_LOG.set(false);
    EXPECT_FALSE(gf_saveBoolParameter(g_LOG));
    EXPECT_EQ(readWholeFile(settingsFile()), "not xml at all");
    const std::string why = "rename: Not a directory: \"" + (folder / "parameters0.xml").string() + "\"";
    EXPECT_EQ(g_settingsFault, "parameters.xml could not be read nor kept (" + why +
                                   "), defaults taken; settings are not saved until the program starts again and "
                                   "reads it");
    EXPECT_TRUE(logHas("===> \"" + settingsFile().string() + "\" could not be read nor kept (" + why +
                       "): left as it is, settings not saved until the program starts again and reads it"));

    // the user puts a good file in its place; the next start reads it and saves reach it again
    writeSettings(lf_element("LATERAL_RANGE", "60"));
    gf_readParameters();
    EXPECT_EQ(g_settingsFault, "");
    g_LOG.set(false);
    EXPECT_TRUE(gf_saveBoolParameter(g_LOG));
    EXPECT_EQ(lf_values(settingsFile()).at("LOG"), "false");
}

TEST_F(SettingsFileTest, SaveWithoutAUsableFileWritesEveryStoredParameter) {
    writeSettings(lf_element("LATERAL_RANGE", "77") + lf_element("lfolder1", "C:\\Liv") +
                  lf_element("BLOCK_CALLSIGN", "BAW") + lf_element("FUTURE_KEY", "lost with the file"));
    gf_readParameters();

    // the file disappears while the program runs; then the user toggles a box
    fs::remove(settingsFile());
    createWindow();
    ASSERT_TRUE(lf_createCheckBox(g_WEEK, 10));
    ASSERT_TRUE(gf_toggleCheckBox(g_WEEK.controlId, g_WEEK));

    auto expectEverything = [&](const char* week) {
        auto expected = kNewFileKeys;
        expected.push_back("lfolder1");
        auto names = lf_names(lf_elements(settingsFile()));
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
        const auto values = lf_values(settingsFile());
        EXPECT_EQ(values.at("WEEK"), week);
        EXPECT_EQ(values.at("LATERAL_RANGE"), "77");
        EXPECT_EQ(values.at("lfolder1"), "C:\\Liv");
        EXPECT_EQ(values.at("BLOCK_CALLSIGN"), "BAW");
        EXPECT_EQ(values.at("SCAN_LIVERIES"), "true");
    };
    expectEverything("true");

    // the same when the file is there but cannot be read; the broken one is kept
    writeWholeFile(settingsFile(), "not xml at all");
    ASSERT_TRUE(gf_toggleCheckBox(g_WEEK.controlId, g_WEEK));
    expectEverything("false");
    EXPECT_EQ(readWholeFile(settingsFile().parent_path() / "parameters0.xml"), "not xml at all");
}

TEST_F(SettingsFileTest, ConcurrentSavesLoseNothingAndTheFileStaysReadable) {
    gf_readParameters();
    constexpr int kThreads = 8;
    constexpr int kSaves = 50;
    std::atomic<bool> writing{true};
    std::atomic<int> unreadable{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (writing) {
            pugi::xml_document doc;
            if (!doc.load_file(settingsFile().c_str()) || !doc.child("parameters")) ++unreadable;
            ++reads;
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kSaves; ++i) {
                gf_setStringParameterAndSave(g_lfolder[t], fmt::format("t{}-{}", t, i));
            }
        });
    }
    for (auto& w : writers) w.join();
    writing = false;
    reader.join();

    EXPECT_EQ(unreadable.load(), 0) << "of " << reads.load() << " reads";
    const auto elements = lf_elements(settingsFile());
    const auto values = lf_values(settingsFile());
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(values.at("lfolder" + std::to_string(t)), fmt::format("t{}-{}", t, kSaves - 1));
    }
    EXPECT_EQ(elements.size(), kNewFileKeys.size() + kThreads);  // nothing doubled
    EXPECT_EQ(values.at("LATERAL_RANGE"), "40");
}

TEST_F(SettingsFileTest, ElementHelpers) {
    EXPECT_EQ(gf_findParameterNode("LATERAL_RANGE"), "/parameters/parameter[@name='LATERAL_RANGE']");

    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("parameters");
    EXPECT_TRUE(gf_addBoolParameterNode(root, "B", true));
    EXPECT_TRUE(gf_addIntParameterNode(root, "I", -12));
    EXPECT_TRUE(gf_addStringParameterNode(root, "S", "a & b"));
    EXPECT_FALSE(gf_addIntParameterNode(pugi::xml_node(), "X", 1));
    // text cannot hold elements
    EXPECT_FALSE(gf_addStringParameterNode(root.append_child(pugi::node_pcdata), "X", ""));

    pugi::xml_node i = doc.select_node(gf_findParameterNode("I").c_str()).node();
    ASSERT_TRUE(i);
    EXPECT_EQ(gf_getAttribute(i, "name"), "I");
    EXPECT_EQ(gf_getAttribute(i, "value"), "-12");
    EXPECT_EQ(gf_getAttribute(i, "missing"), "");
    EXPECT_EQ(gf_getAttribute(pugi::xml_node(), "value"), "");
    EXPECT_EQ(gf_getAttribute(doc.select_node(gf_findParameterNode("B").c_str()).node(), "value"), "true");
    EXPECT_EQ(gf_getAttribute(doc.select_node(gf_findParameterNode("S").c_str()).node(), "value"), "a & b");

    EXPECT_TRUE(gf_setIntAttribute(i, "value", 2147483647));
    EXPECT_EQ(gf_getAttribute(i, "value"), "2147483647");
    EXPECT_FALSE(gf_setIntAttribute(i, "count", 3));
    EXPECT_FALSE(i.attribute("count"));
}

TEST_F(SettingsFileTest, MetaBlockRoundTripAndMissingDate) {
    pugi::xml_document doc;
    ASSERT_TRUE(gf_writeMetaInfo(doc));
    doc.append_child("liveries");
    std::ostringstream saved;
    doc.save(saved);

    pugi::xml_document back;
    ASSERT_TRUE(back.load_string(saved.str().c_str()));
    std::vector<std::string> order;
    for (pugi::xml_node info : back.child("meta").children("info")) order.push_back(info.attribute("name").value());
    EXPECT_EQ(order, (std::vector<std::string>{"author", "version", "date", "copyright"}));
    EXPECT_TRUE(back.child("liveries"));

    EXPECT_TRUE(gf_checkMetaInfo(back));
    EXPECT_EQ(g_author.value(), "ZNTV_P3D");
    EXPECT_EQ(g_version.value(), "10.10.4");
    EXPECT_EQ(g_date.value(), gf_dateText());
    EXPECT_FALSE(logHas("===> meta data incorrect?"));

    pugi::xml_node meta = back.child("meta");
    meta.remove_child(meta.find_child_by_attribute("info", "name", "date"));
    EXPECT_FALSE(gf_checkMetaInfo(back));
    EXPECT_EQ(g_date.value(), "");
    EXPECT_TRUE(logHas("===> meta data incorrect?"));

    // a document without any meta block fails on its first entry
    pugi::xml_document none;
    none.append_child("liveries");
    EXPECT_FALSE(gf_checkMetaInfo(none));
    EXPECT_EQ(g_author.value(), "");
}

}  // namespace
