#include "window/controls.h"

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/text.h"
#include "window/commands.h"
#include "window/main_window.h"
#include "window/requests.h"
#include "window/services.h"

namespace {

// One control of the band: its parameter, x and width (rows come with the parameter).
struct Place {
    CheckBoxParameter* check = nullptr;
    ParameterControl* edit = nullptr;
    ButtonParameter* button = nullptr;
    int x = 0;
    int width = 0;
};

Place lf_check(CheckBoxParameter& p, int x) { return {&p, nullptr, nullptr, x, 0}; }
Place lf_edit(ParameterControl& p, int x, int width) { return {nullptr, &p, nullptr, x, width}; }
Place lf_button(ButtonParameter& p, int x, int width) { return {nullptr, nullptr, &p, x, width}; }

const std::vector<Place>& lf_layout() {
    static const std::vector<Place> layout = {
        lf_edit(g_ALL_INSTALL_PATH, 111, 1200),
        // row 147
        lf_check(g_SCAN_LIVERIES, 5),
        lf_check(g_LIG_AUTOMATIC, 217),
        lf_check(g_LIG_PRIORITIZE, 430),
        lf_check(g_SUPPRESS_STUB, 536),
        lf_check(g_LOG, 652),
        lf_check(g_ALWAYS_ON_TOP, 748),
        // row 175
        lf_check(g_SCAN_AIRPORTS, 5),
        lf_check(g_AFG_AUTOMATIC, 217),
        lf_check(g_NAV_LIGHTS_WHILE_PARKED, 652),
        lf_check(g_LEARN_SOFT, 748),
        // row 203
        lf_edit(g_MATCHING_DEPTH, 217, 24),
        lf_check(g_LIGHT_AIRCRAFT, 323),
        lf_check(g_HELICOPTERS, 430),
        lf_check(g_HIGH_PERF_AIRCRAFT, 536),
        lf_check(g_GUID_CHANGES, 748),
        // row 231
        lf_edit(g_LATERAL_RANGE, 217, 34),
        lf_check(g_AUTO_RANGE, 323),
        lf_edit(g_AUTO_RANGE_ABOVE_HEIGHT, 455, 50),
        lf_check(g_SIM_TIME, 652),
        lf_edit(g_TIME_SHIFT_HOURS, 748, 30),
        // row 259
        lf_edit(g_BLOCK_CALLSIGN, 217, 100),
        lf_button(g_Unblock, 323, 70),
        lf_edit(g_TIME_SHIFT_DAYS, 748, 30),
        // row 287
        lf_check(g_COLLISION_USER_GND, 217),
        lf_check(g_COLLISION_USER_AIR, 323),
        lf_check(g_COLLISION_LIVE_PARKED_GND, 430),
        lf_check(g_KEEP_SIM_TIME_PAR, 652),
        lf_edit(g_TIME_SHIFT_MINS, 748, 30),
        // row 315
        lf_edit(g_CUSTOM_MAX_PARK, 353, 34),
        lf_edit(g_MAX_LIVE, 601, 34),
        lf_check(g_STRAIGHT_PBS_ONLY, 652),
        // row 343
        lf_edit(g_DESTINATION, 217, 50),
        lf_edit(g_AIRPORT_RANGE, 353, 34),
        lf_edit(g_AIRPORT_HEIGHT, 566, 50),
        lf_button(g_Re_read, 758, 90),
        // row 371
        lf_check(g_PARK_FAKE, 5),
        lf_check(g_WEEK, 71),
        lf_check(g_PARK_SOFT, 151),
        lf_edit(g_parking_percentage, 323, 34),
        lf_check(g_INITIAL_LOAD_ONLY, 430),
        lf_edit(g_MAX_FIT_FL, 566, 34),
        lf_check(g_RT_PARKTRAFFIC_ONLY, 642),
        lf_button(g_Flush_static, 758, 90),
    };
    return layout;
}

ParameterControl& lf_controlOf(const Place& place) {
    if (place.check != nullptr) return *place.check;
    if (place.button != nullptr) return *place.button;
    return *place.edit;
}

void lf_enable(const ParameterControl& c, bool on) { ui::backend().setEnabled(c.controlId, on); }

void lf_enableTimeShiftFieldsOnly(bool on) {
    lf_enable(g_TIME_SHIFT_DAYS, on);
    lf_enable(g_TIME_SHIFT_HOURS, on);
    lf_enable(g_TIME_SHIFT_MINS, on);
}

void lf_enableRangeFields() {
    const bool autoRange = g_AUTO_RANGE.value();
    lf_enable(g_LATERAL_RANGE, !autoRange);
    lf_enable(g_AUTO_RANGE_ABOVE_HEIGHT, autoRange);
}

}  // namespace

bool lf_createControls() {
    bool all = true;
    for (const Place& place : lf_layout()) {
        bool made = false;
        if (place.check != nullptr) {
            made = lf_createCheckBox(*place.check, place.x);
        } else if (place.button != nullptr) {
            made = lf_createButton(*place.button, place.x, place.width);
        } else {
            made = lf_createEditField(*place.edit, place.x, place.width);
        }
        all = all && made;
    }
    ui::backend().invalidate(kMiddleBand);
    return all;
}

std::vector<ParameterControl*> gf_windowControls() {
    std::vector<ParameterControl*> controls;
    for (const Place& place : lf_layout()) controls.push_back(&lf_controlOf(place));
    return controls;
}

const std::vector<CheckBoxParameter*>& gf_checkBoxParameters() {
    static const std::vector<CheckBoxParameter*> boxes = [] {
        std::vector<CheckBoxParameter*> v;
        for (const Place& place : lf_layout()) {
            if (place.check != nullptr) v.push_back(place.check);
        }
        return v;
    }();
    return boxes;
}

std::string lf_formatAirportCount(std::uint64_t count, std::string_view folder) {
    return fmt::format("{} airport{} in {} folder", count, gf_pluralSuffix(count), folder);
}

void lf_paintControlLabels(ui::Canvas& canvas) {
    auto label = [&canvas](int x, int y, std::string_view text, ui::Rgb colour) {
        lf_drawText(canvas, x, y, text, colour);
    };
    auto yellowWhen = [](bool on) { return on ? kYellow : kBlack; };
    auto services = gf_windowServices();
    const ui::Rgb timeColour = g_mainWindow.timeLabelsActive ? kBlack : kGrey;
    const bool parkTrafficOnly = g_RT_PARKTRAFFIC_ONLY.value();
    const ui::Rgb parkColour = parkTrafficOnly ? kGrey : kBlack;

    label(5, 119, "Install path:", kBlack);

    label(25, 147, "Scan for liveries", yellowWhen(g_SCAN_LIVERIES.value()));
    label(237, 147, "Automatic", kBlack);
    label(450, 147, "Prioritize", kBlack);
    label(556, 147, "Stub", kBlack);
    label(672, 147, "Log", kBlack);
    label(768, 147, "Stay on top", yellowWhen(g_ALWAYS_ON_TOP.value()));

    label(25, 175, "Scan for addon airports", yellowWhen(g_SCAN_AIRPORTS.value()));
    label(237, 175, "Automatic", kBlack);
    if (const std::uint64_t airports = g_mainWindow.addonAirportCount; airports > 0) {
        label(323, 175, lf_formatAirportCount(airports, g_tbloFolderName.string()), kYellow);
    }
    label(672, 175, "Nav lights", kBlack);
    label(768, 175, "Learn Soft", kBlack);

    auto enabledColour = [](const ParameterControl& c) {
        return ui::backend().isEnabled(c.controlId) ? kBlack : kGrey;
    };
    label(5, 203, "Max aircraft matching depth", kBlack);
    label(253, 203, "Optional:", kBlack);
    label(343, 203, "Light aircraft", enabledColour(g_LIGHT_AIRCRAFT));
    label(450, 203, "Helicopters", enabledColour(g_HELICOPTERS));
    label(556, 203, "FighterJets", enabledColour(g_HIGH_PERF_AIRCRAFT));
    label(768, 203, "GUID changes", g_GUID_CHANGES.value() ? kBlack : kYellow);

    const ui::Rgb aboveHeightColour = g_AUTO_RANGE.value() ? kBlack : kGrey;
    label(5, 231, "Traffic injection", kBlack);
    label(167, 231, "radius:", kBlack);
    label(260, 231, "nm,  or", kBlack);
    label(343, 231, "auto range", kBlack);
    label(430, 231, "ah:", aboveHeightColour);
    label(510, 231, "ft", aboveHeightColour);
    label(672, 231, "Sim Time", timeColour);
    label(788, 231, fmt::format("hour{}", gf_pluralSuffix(g_TIME_SHIFT_HOURS.value())), timeColour);

    label(5, 259, "Callsigns", kBlack);
    label(172, 259, "block:", kBlack);
    label(652, 259, "Time shift:", timeColour);
    label(788, 259, fmt::format("day{}", gf_pluralSuffix(g_TIME_SHIFT_DAYS.value())), timeColour);

    label(5, 287, "Collision avoidance", kBlack);
    label(237, 287, "User ground", kBlack);
    label(343, 287, "User air", kBlack);
    label(450, 287, "Live X parked", kBlack);
    label(672, 287, "Save", timeColour);
    label(788, 287, fmt::format("minute{}", gf_pluralSuffix(g_TIME_SHIFT_MINS.value())), timeColour);

    const bool parkingBusy = services->parkingBusy() > 0;
    label(5, 315, fmt::format("Airport parking{}", parkingBusy ? " active" : ""), yellowWhen(parkingBusy));
    label(217, 315, "generic max park:",
          g_CUSTOM_MAX_PARK.value() == g_CUSTOM_MAX_PARK.defaultValue ? kGrey : kYellow);
    label(536, 315, "max live:", g_MAX_LIVE.value() == g_MAX_LIVE.defaultValue ? kGrey : kYellow);
    label(672, 315, "Straight push backs only", g_STRAIGHT_PBS_ONLY.value() ? kBlack : kGrey);

    const std::int32_t minutes = g_mainWindow.minutesToRenewal;
    if (services->standFileLoaded() && !parkingBusy && (!g_INITIAL_LOAD_ONLY.value() || parkTrafficOnly) &&
        minutes >= 1 && minutes <= 19) {
        label(5, 343, fmt::format("(next in {} min)", minutes), kBlack);
    }
    label(139, 343, "destination:", kBlack);
    label(303, 343, "range:", kBlack);
    label(393, 343, "nm", kBlack);
    label(440, 343, "height above gnd:", kBlack);
    label(621, 343, "ft", kBlack);

    label(25, 371, "Fake", parkColour);
    label(91, 371, "Week", parkColour);
    label(171, 371, "Soft", parkColour);
    label(264, 371, "wanted: ", parkColour);
    label(363, 371, "%", parkColour);
    label(450, 371, "ILO", parkTrafficOnly ? kGrey : yellowWhen(g_INITIAL_LOAD_ONLY.value()));
    label(506, 371, "Max fit:", parkColour);
    label(662, 371, "PT only", kBlack);
}

void lf_initTimeShift() {
    ui::Backend& ui = ui::backend();
    lf_enable(g_RT_PARKTRAFFIC_ONLY, true);
    gf_updateParkingControls();
    lf_enable(g_CUSTOM_MAX_PARK, true);

    // The stand file sets the wanted percentage; until one is read the window offers the usual 30.
    g_parking_percentage.set(30);
    gf_showIntParameter(g_parking_percentage);

    lf_enable(g_AUTO_RANGE, true);
    lf_enableRangeFields();

    lf_enable(g_COLLISION_USER_AIR, true);
    lf_enable(g_COLLISION_LIVE_PARKED_GND, true);
    lf_enable(g_GUID_CHANGES, true);
    lf_enable(g_KEEP_SIM_TIME_PAR, true);
    lf_enable(g_LEARN_SOFT, false);
    lf_enable(g_BLOCK_CALLSIGN, true);
    lf_enable(g_MAX_LIVE, true);
    ui.setEnabled(g_Unblock.controlId, !g_BLOCK_CALLSIGN.value().empty());

    if (g_SIM_TIME.value()) {
        lf_enableTimeShiftFields();
    } else if (g_TIME_SHIFT_DAYS.value() == g_TIME_SHIFT_DAYS.defaultValue &&
               g_TIME_SHIFT_HOURS.value() == g_TIME_SHIFT_HOURS.defaultValue &&
               g_TIME_SHIFT_MINS.value() == g_TIME_SHIFT_MINS.defaultValue) {
        lf_clearEditField(g_TIME_SHIFT_DAYS.controlId);
        lf_clearEditField(g_TIME_SHIFT_HOURS.controlId);
        lf_clearEditField(g_TIME_SHIFT_MINS.controlId);
    } else {
        lf_setTimeShift((g_TIME_SHIFT_DAYS.value() * 24 + g_TIME_SHIFT_HOURS.value()) * 60 + g_TIME_SHIFT_MINS.value(),
                        true);
    }

    // With SIM_TIME on the shift follows the simulator's clock: the fields are not for typing then.
    lf_enableTimeShiftFieldsOnly(!g_SIM_TIME.value());
    lf_enable(g_SIM_TIME, true);
    lf_enable(g_KEEP_SIM_TIME_PAR, true);
}

void lf_enableTimeShiftFields() {
    const bool simTime = g_SIM_TIME.value();
    if (!simTime) {
        lf_splitTimeShift(0);
        lf_setTimeShift(0, false);
        g_simTimeReference = gf_windowServices()->simEpochTime();
    } else {
        g_simTimeReference = 0;
    }
    lf_enableTimeShiftFieldsOnly(!simTime);
}

void lf_enableEditControls(bool enable) {
    lf_enableTimeShiftFieldsOnly(enable && !g_SIM_TIME.value());
    lf_enable(g_SIM_TIME, enable);
    lf_enable(g_KEEP_SIM_TIME_PAR, enable);
    // The labels go with their controls, both ways: a later start with another licence may enable them.
    g_mainWindow.timeLabelsActive = enable;
    ui::backend().invalidate(kMiddleBand);
}

void gf_updateParkingControls() {
    const bool on = !g_RT_PARKTRAFFIC_ONLY.value();
    lf_enable(g_parking_percentage, on);
    lf_enable(g_MAX_FIT_FL, on);
    lf_enable(g_INITIAL_LOAD_ONLY, on);
    lf_enable(g_PARK_SOFT, on);
    lf_enable(g_PARK_FAKE, on);
    lf_enable(g_WEEK, on);
    if (on) {
        gf_showIntParameter(g_parking_percentage);
        gf_showFloatParameter(g_MAX_FIT_FL);
    } else {
        lf_clearEditField(g_parking_percentage.controlId);
        lf_clearEditField(g_MAX_FIT_FL.controlId);
    }
    ui::backend().invalidate(kMiddleBand);
}

void gf_enableSettingsControls() {
    ui::backend().invalidate(kMiddleBand);
    for (ParameterControl* c : gf_windowControls()) lf_enable(*c, true);
    lf_enable(g_parking_percentage, false);
    lf_clearEditField(g_parking_percentage.controlId);
    g_MAX_FIT_FL.set(static_cast<float>(g_MAX_FIT.value()) * 0.5f + 0.5f);
    lf_enable(g_MAX_FIT_FL, false);
    lf_clearEditField(g_MAX_FIT_FL.controlId);
    lf_enable(g_DESTINATION, false);
    lf_enable(g_Flush_static, false);
    lf_enableTimeShiftFieldsOnly(!g_SIM_TIME.value());
    lf_enableRangeFields();
}
