#include "window/commands.h"

#include <algorithm>
#include <exception>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/entry.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "window/controls.h"
#include "window/main_window.h"
#include "window/requests.h"
#include "window/services.h"

namespace {

void lf_say(std::string_view text) { gf_showMessage(text, false); }
void lf_sayLogged(std::string_view text) { gf_showMessage(text, true); }

// A warning while a safety check is off; switching it back on clears the line.
void lf_warnWhenOff(bool now, std::string_view warning) {
    if (now) {
        gf_clearMessage();
    } else {
        lf_say(warning);
    }
}

void lf_autoRangeToggled(bool now) {
    g_parkingParametersChanged = true;
    ui::backend().setEnabled(g_LATERAL_RANGE.controlId, !now);
    ui::backend().setEnabled(g_AUTO_RANGE_ABOVE_HEIGHT.controlId, now);
    if (now) {
        // Kept to come back to: the automatic range changes LATERAL_RANGE while it runs.
        g_autoRangeManualValue = g_LATERAL_RANGE.value();
        gf_postWorkRequest({.kind = WorkRequestKind::AutoTrafficRange});
        return;
    }
    g_autoRangeAtMinimum = false;
    g_LATERAL_RANGE.set(std::clamp(g_autoRangeManualValue.load(), g_LATERAL_RANGE.minimum, g_LATERAL_RANGE.maximum));
    gf_setDerivedTrafficRange(g_LATERAL_RANGE.value());
    gf_showIntParameter(g_LATERAL_RANGE);
    gf_clearMessage();
}

void lf_afterToggle(CheckBoxParameter& p) {
    const bool now = p.value();
    auto services = gf_windowServices();
    if (&p == &g_RT_PARKTRAFFIC_ONLY) {
        gf_updateParkingControls();
        g_parkingParametersChanged = true;
        g_parkingModeChanged = static_cast<std::int8_t>(now ? 1 : 0);
        lf_requestParkingRefresh();
        ui::backend().invalidate(kParkingBand);
    } else if (&p == &g_SIM_TIME) {
        lf_enableTimeShiftFields();
    } else if (&p == &g_NAV_LIGHTS_WHILE_PARKED) {
        // The aircraft lists belong to the work thread; it walks them.
        gf_postWorkRequest({.kind = WorkRequestKind::NavLights, .on = now});
    } else if (&p == &g_AUTO_RANGE) {
        lf_autoRangeToggled(now);
    } else if (&p == &g_SCAN_LIVERIES) {
        if (now && services->beforeFirstConnection()) {
            gf_postWorkRequest({.kind = WorkRequestKind::ClearLiveryDatabase});
            lf_sayLogged("Your liveries will be scanned");
            services->requestExit(kExitNewSettings, 2);
        } else if (now) {
            lf_say(fmt::format("Your liveries will be scanned at the next start of {}, recommended after you have "
                               "add/removed AI aircraft models/liveries",
                               kAppTitle));
        } else {
            gf_clearMessage();
        }
    } else if (&p == &g_SCAN_AIRPORTS) {
        if (now && services->beforeFirstConnection()) {
            lf_sayLogged("Your airports will be scanned");
            services->requestExit(kExitNewSettings, 2);
        } else if (now) {
            lf_say(fmt::format("Your airports will be scanned at the next start of {}, recommended after you have "
                               "add/removed airports",
                               kAppTitle));
        } else {
            gf_clearMessage();
        }
    } else if (&p == &g_LIG_AUTOMATIC) {
        if (now) {
            gf_clearMessage();
        } else {
            lf_say("The liveries defined by your lfolder parameters will be scanned");
        }
    } else if (&p == &g_LIG_PRIORITIZE) {
        if (now) {
            lf_say("Liveries in lower lfolders that are already available will be skipped");
        } else {
            gf_clearMessage();
        }
    } else if (&p == &g_AFG_AUTOMATIC) {
        if (now) {
            gf_clearMessage();
        } else {
            lf_say("The airports defined by your afolder parameters will be scanned");
        }
    } else if (&p == &g_PARK_SOFT || &p == &g_PARK_FAKE || &p == &g_WEEK) {
        lf_requestParkingRefresh();
    } else if (&p == &g_INITIAL_LOAD_ONLY) {
        if (now) {
            lf_say("Initial Load Only: static parked aircraft are generated once, no renewal every 20 minutes");
        } else {
            gf_clearMessage();
        }
        if (services->standFileLoaded()) g_parkingParametersChanged = true;
    } else if (&p == &g_COLLISION_LIVE_PARKED_GND) {
        lf_warnWhenOff(now, "Be aware, no collision avoidance with live aircraft vs parked static on the ground");
    } else if (&p == &g_COLLISION_USER_GND) {
        lf_warnWhenOff(now, "Be aware, no collision avoidance with user aircraft on the ground");
    } else if (&p == &g_COLLISION_USER_AIR) {
        lf_warnWhenOff(now, "Be aware, no collision avoidance with user aircraft in the air");
    } else if (&p == &g_SUPPRESS_STUB) {
        if (now) {
            lf_say("Exclude FSLTL-liveries titles ending with _STUB from scan");
        } else {
            gf_clearMessage();
        }
    } else if (&p == &g_ALWAYS_ON_TOP) {
        if (now) {
            lf_say(fmt::format("{}'s window will remain visible", kAppTitle));
        } else {
            gf_clearMessage();
        }
        ui::backend().setTopmost(now);
    } else if (&p == &g_LEARN_SOFT) {
        if (services->standFileLoaded()) g_parkingParametersChanged = true;
    } else if (&p == &g_GUID_CHANGES) {
        lf_warnWhenOff(now, "Be aware, no more livery updates: you miss correct data for Learn, LittleNavMap, etc..");
    }
    // KEEP_SIM_TIME_PAR, LOG, LIGHT_AIRCRAFT, HELICOPTERS, HIGH_PERF_AIRCRAFT and STRAIGHT_PBS_ONLY are read
    // where they are used; the saved value is all they need.
}

// True when the id was one of the 29 controls.
bool lf_dispatchClick(ui::ControlId id) {
    if (id == g_Unblock.controlId) {
        if (g_BLOCK_CALLSIGN.value().empty()) {
            lf_say("Nothing to block or unblock...");
        } else {
            lf_unblockCallsign();
        }
        return true;
    }
    if (id == g_Re_read.controlId) {
        g_reReadRequest = true;
        ui::backend().setEnabled(g_Re_read.controlId, false);
        ui::backend().setEnabled(g_DESTINATION.controlId, false);
        return true;
    }
    if (id == g_Flush_static.controlId) {
        lf_say("All static parked aircraft will be removed ...");
        g_removeAllStaticRequest = true;
        ui::backend().setEnabled(g_Flush_static.controlId, false);
        return true;
    }
    for (CheckBoxParameter* p : gf_checkBoxParameters()) {
        if (gf_toggleCheckBox(id, *p)) {
            lf_afterToggle(*p);
            return true;
        }
    }
    return false;
}

}  // namespace

bool lf_HandleWMCOMMAND(ui::ControlId id) {
    bool known = true;
    try {
        known = lf_dispatchClick(id);
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{} exception {}", "lf_HandleWMCOMMAND", e.what()));
    }
    ui::backend().invalidate(kMiddleBand);
    return !known;
}
