#include <gtest/gtest.h>

#include <set>

#include <pugixml.hpp>

#include "frame/display.h"
#include "frame/parameters.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "settings_test_env.h"

using namespace settings_test;

namespace {

class ParametersTest : public SettingsEnv {};

TEST_F(ParametersTest, ControlsAreMadeWhereTheWindowExpectsThem) {
    // without a window nothing can be made, and nothing is marked as made
    EXPECT_FALSE(lf_createCheckBox(g_SCAN_LIVERIES, 10));
    EXPECT_FALSE(g_SCAN_LIVERIES.created);

    createWindow();
    ASSERT_TRUE(lf_createCheckBox(g_SCAN_LIVERIES, 10));  // default true, no file read yet
    ASSERT_TRUE(lf_createCheckBox(g_LIG_PRIORITIZE, 120));
    ASSERT_TRUE(lf_createButton(g_Unblock, 500, 60));
    ASSERT_TRUE(lf_createEditField(g_LATERAL_RANGE, 100, 40));

    const auto box = m_ui->controlState(g_SCAN_LIVERIES.controlId);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->kind, ui::ControlKind::CheckBox);
    EXPECT_EQ(box->rect, (ui::Rect{10, 149, 22, 161}));  // row 147, two pixels lower
    EXPECT_TRUE(box->checked);
    EXPECT_TRUE(box->enabled);
    EXPECT_FALSE(m_ui->isChecked(g_LIG_PRIORITIZE.controlId));

    const auto button = m_ui->controlState(32829);
    ASSERT_TRUE(button);
    EXPECT_EQ(button->kind, ui::ControlKind::PushButton);
    EXPECT_EQ(button->rect, (ui::Rect{500, 257, 560, 277}));
    EXPECT_EQ(button->caption, "Unblock");
    EXPECT_FALSE(button->enabled);

    const auto field = m_ui->controlState(32818);
    ASSERT_TRUE(field);
    EXPECT_EQ(field->kind, ui::ControlKind::EditField);
    EXPECT_EQ(field->rect, (ui::Rect{100, 231, 140, 247}));
    EXPECT_EQ(field->text, "");
    EXPECT_FALSE(field->enabled);
    EXPECT_TRUE(g_LATERAL_RANGE.created);

    // an id addresses one control only
    EXPECT_FALSE(lf_createEditField(g_LATERAL_RANGE, 100, 40));
}

TEST_F(ParametersTest, ToggleActsOnlyOnItsOwnBoxAndSavesAtOnce) {
    gf_readParameters();
    createWindow();
    ASSERT_TRUE(lf_createCheckBox(g_LOG, 10));
    const std::string before = readWholeFile(settingsFile());

    EXPECT_FALSE(gf_toggleCheckBox(g_ALWAYS_ON_TOP.controlId, g_LOG));
    EXPECT_TRUE(g_LOG.value());
    EXPECT_TRUE(m_ui->isChecked(g_LOG.controlId));
    EXPECT_EQ(readWholeFile(settingsFile()), before);

    EXPECT_TRUE(gf_toggleCheckBox(g_LOG.controlId, g_LOG));
    EXPECT_FALSE(g_LOG.value());
    EXPECT_FALSE(m_ui->isChecked(g_LOG.controlId));
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_file(settingsFile().c_str()));
    EXPECT_STREQ(doc.select_node(gf_findParameterNode("LOG").c_str()).node().attribute("value").value(), "false");

    EXPECT_TRUE(gf_toggleCheckBox(g_LOG.controlId, g_LOG));
    EXPECT_TRUE(g_LOG.value());
    EXPECT_TRUE(m_ui->isChecked(g_LOG.controlId));
    EXPECT_EQ(readWholeFile(settingsFile()), before);
}

TEST_F(ParametersTest, FieldSettersWriteOnlyIntoMadeFields) {
    // before the window exists the setters must not fail
    g_AIRPORT_RANGE.set(12);
    gf_showIntParameter(g_AIRPORT_RANGE);
    gf_showIntParameter(g_HOLDING_THRESHOLD_METERS);  // a setting without a field

    createWindow();
    ASSERT_TRUE(lf_createEditField(g_AIRPORT_RANGE, 10, 30));
    ASSERT_TRUE(lf_createEditField(g_MAX_FIT_FL, 50, 30));
    ASSERT_TRUE(lf_createEditField(g_DESTINATION, 90, 60));
    m_ui->clearInvalidated();

    gf_showIntParameter(g_AIRPORT_RANGE);
    EXPECT_EQ(m_ui->text(g_AIRPORT_RANGE.controlId), "12");
    EXPECT_FALSE(m_ui->invalidatedRects().empty());

    gf_showFloatParameter(g_MAX_FIT_FL);
    EXPECT_EQ(m_ui->text(g_MAX_FIT_FL.controlId), "24");
    g_MAX_FIT_FL.set(3.5f);
    gf_showFloatParameter(g_MAX_FIT_FL);
    EXPECT_EQ(m_ui->text(g_MAX_FIT_FL.controlId), "3.5");

    g_DESTINATION.set("EGLL");
    gf_showStringParameter(g_DESTINATION);
    EXPECT_EQ(m_ui->text(g_DESTINATION.controlId), "EGLL");
    lf_clearEditField(g_DESTINATION.controlId);
    EXPECT_EQ(m_ui->text(g_DESTINATION.controlId), "");
    EXPECT_EQ(g_DESTINATION.value(), "EGLL");  // clearing the field leaves the setting alone
}

TEST_F(ParametersTest, KeyTableHoldsEachKeyOnceWithItsControl) {
    std::set<std::string> keys;
    std::set<ui::ControlId> ids;
    int controls = 0;
    for (Parameter* p : gf_allParameters()) {
        EXPECT_TRUE(keys.insert(p->key).second) << p->key;
        if (const ParameterControl* c = gf_controlOf(*p)) {
            ++controls;
            EXPECT_TRUE(ids.insert(c->controlId).second) << p->key;
        }
    }
    // 26 check boxes, 15 edit fields, 3 buttons, and MAX_FIT with a control part of its own
    EXPECT_EQ(controls, 45);
    EXPECT_EQ(keys.size(), 3u + 20u + 7u + 45u + 4u);
}

}  // namespace
