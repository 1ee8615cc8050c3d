#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/entry.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/text.h"
#include "platform/simpath.h"
#include "window/commands.h"
#include "window/main_window.h"
#include "window/requests.h"
#include "window/services.h"
#include "window/status_line.h"

namespace {

constexpr std::int32_t kMaxTimeShiftMinutes = 40320;  // 4 weeks: the service keeps no older traffic
constexpr std::size_t kMaxFieldUnits = 1023;           // the longest text a field hands over

void lf_say(std::string_view text) { gf_showMessage(text, false); }
void lf_sayLogged(std::string_view text) { gf_showMessage(text, true); }

template <class T>
T lf_clamp(const TypedParameter<T>& p, T value) {
    return std::clamp(value, p.minimum, p.maximum);
}

// Characters, not bytes: a callsign or an airport code is measured as the user sees it.
std::size_t lf_characterCount(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

bool lf_isTimeShiftKey(const IntEditParameter& p) {
    return &p == &g_TIME_SHIFT_DAYS || &p == &g_TIME_SHIFT_HOURS || &p == &g_TIME_SHIFT_MINS;
}

}  // namespace

// Asking the file system can fail (a dead network drive, no permission); the user learns that the path is
// of no use either way, and the UI thread goes on.
InstallPathKind gf_installPathKind(const std::string& text) {
    try {
        const auto mapped = platform::mapSimPath(text);
        if (!mapped) return InstallPathKind::Nothing;
        std::error_code ec;
        const auto status = std::filesystem::status(*mapped, ec);
        if (ec || !std::filesystem::exists(status)) return InstallPathKind::Nothing;
        return std::filesystem::is_directory(status) ? InstallPathKind::Folder : InstallPathKind::NotAFolder;
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{}: {}", "lf_changeInstallPath", e.what()));
        return InstallPathKind::Nothing;
    }
}

// Only what lies in the simulator's folder goes unread: the add-on packages' liveries and the stock stand files
// (downloaded) come from elsewhere, and the window counts them all the same.
void gf_showInstallPathFault(const std::string& path, InstallPathKind kind) {
    const std::string told =
        kind == InstallPathKind::NotAFolder
            ? fmt::format("This install path is a file, not a folder: {}; nothing read from it. Type the simulator's "
                          "folder above, press Enter",
                          path)
            : fmt::format("This install path does not exist: {}; its liveries and add-on airports not read. Type the "
                          "full Install Path, press Enter",
                          path);
    gf_showStandingFault(StandingFault::InstallFolder, told);
}

namespace {

const std::vector<IntEditParameter*>& lf_intFields() {
    static const std::vector<IntEditParameter*> fields = {
        &g_LATERAL_RANGE,   &g_MATCHING_DEPTH,   &g_parking_percentage, &g_AIRPORT_RANGE,
        &g_AIRPORT_HEIGHT,  &g_AUTO_RANGE_ABOVE_HEIGHT, &g_CUSTOM_MAX_PARK, &g_MAX_LIVE,
        &g_TIME_SHIFT_DAYS, &g_TIME_SHIFT_HOURS, &g_TIME_SHIFT_MINS};
    return fields;
}

const std::vector<StringEditParameter*>& lf_textFields() {
    static const std::vector<StringEditParameter*> fields = {&g_BLOCK_CALLSIGN, &g_DESTINATION, &g_ALL_INSTALL_PATH};
    return fields;
}

template <class Proc>
void lf_guarded(const char* name, Proc proc) {
    try {
        proc();
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{} exception {}", name, e.what()));
    }
}

}  // namespace

std::string gf_upperAscii(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 'a' && u <= 'z') c = static_cast<char>(u - 'a' + 'A');
    }
    return text;
}

std::string lf_getTextFromId(ui::ControlId id) {
    const std::string text = ui::backend().text(id);
    try {
        std::u16string wide = utf8ToUtf16(text);
        if (wide.size() <= kMaxFieldUnits) return text;
        wide.resize(kMaxFieldUnits);
        // Never hand on half of a surrogate pair.
        if (!wide.empty() && wide.back() >= 0xD800 && wide.back() <= 0xDBFF) wide.pop_back();
        return win32::Utf16ToUtf8(wide);
    } catch (const std::exception& e) {
        gf_logLine(fmt::format("{} {}", "lf_getTextFromId", e.what()));
        return {};
    }
}

bool lf_handleEditEnter(ui::ControlId id) {
    for (IntEditParameter* p : lf_intFields()) {
        if (p->controlId != id) continue;
        gf_clearMessage();
        lf_guarded("lf_intEditProc", [p] { lf_intEditProc(*p); });
        return true;
    }
    for (StringEditParameter* p : lf_textFields()) {
        if (p->controlId != id) continue;
        gf_clearMessage();
        lf_guarded("lf_textEditProc", [p] { lf_textEditProc(*p); });
        return true;
    }
    if (id == g_MAX_FIT_FL.controlId) {
        gf_clearMessage();
        lf_guarded("lf_floatEditProc", [] { lf_floatEditProc(g_MAX_FIT_FL); });
        return true;
    }
    return false;
}

bool lf_processTbInt(IntEditParameter& p) {
    const std::string text = lf_getTextFromId(p.controlId);
    bool changed = false;
    if (!text.empty()) {
        try {
            const int number = std::stoi(text);
            if (number == p.value()) {
                lf_sayLogged(fmt::format("Same {} value {}, no changes made", p.key, number));
            } else {
                p.set(lf_clamp(p, number));
                // The percentage comes from the stand file and is never stored; the time shift is stored by
                // its follow-up, which splits the total again.
                if (&p != &g_parking_percentage && !lf_isTimeShiftKey(p)) lf_saveIntParameter(p);
                lf_say(fmt::format("The new {} is {}", p.key, p.value()));
                changed = true;
            }
        } catch (const std::invalid_argument&) {
            lf_sayLogged(fmt::format("invalid input: {}", text));
        } catch (const std::out_of_range& e) {
            gf_logLine(fmt::format("{}: {}, h={} ", "lf_processTbInt", e.what(), text));
        }
    } else {
        if (&p == &g_parking_percentage) {
            p.set(0);
        } else {
            p.set(lf_clamp(p, p.defaultValue));
            lf_saveIntParameter(p);
        }
        lf_say(fmt::format("The new {} is {}", p.key, p.value()));
        changed = true;
    }
    gf_showIntParameter(p);
    return changed;
}

void lf_intEditProc(IntEditParameter& p) {
    const std::int32_t before = p.value();
    if (!lf_processTbInt(p)) return;
    if (&p == &g_CUSTOM_MAX_PARK || &p == &g_parking_percentage) {
        lf_requestParkingRefresh();
    } else if (&p == &g_LATERAL_RANGE) {
        g_parkingParametersChanged = true;
        gf_setDerivedTrafficRange(p.value());
    } else if (&p == &g_MAX_LIVE) {
        const bool standFileLoaded = gf_windowServices()->standFileLoaded();
        if (standFileLoaded) g_parkingParametersChanged = true;
        gf_postWorkRequest({.kind = WorkRequestKind::EnforceMaxLive, .on = !standFileLoaded, .value = p.value()});
    } else if (&p == &g_MATCHING_DEPTH) {
        // A deeper match may find liveries for the aircraft that had none.
        if (p.value() > before) g_clearUnmatchedRequest = true;
    } else if (lf_isTimeShiftKey(p)) {
        lf_setTimeShift((g_TIME_SHIFT_DAYS.value() * 24 + g_TIME_SHIFT_HOURS.value()) * 60 + g_TIME_SHIFT_MINS.value(),
                        false);
    }
}

bool lf_processTbFloat(FloatEditParameter& p) {
    const std::string text = lf_getTextFromId(p.controlId);
    bool changed = false;
    if (!text.empty()) {
        try {
            const float number = std::stof(text);
            // "nan" converts, but is no number of hours; it would end up as some arbitrary MAX_FIT.
            if (std::isnan(number)) throw std::invalid_argument("stof: not a number");
            if (number == p.value()) {
                lf_sayLogged(fmt::format("Same {} value {}, no changes made", p.key, number));
            } else {
                const float hours = lf_clamp<float>(p, number);
                // Whole half hours, the half rounded up; MAX_FIT counts them from 0 for half an hour.
                g_MAX_FIT.set(lf_clamp<std::int32_t>(g_MAX_FIT, static_cast<std::int32_t>(std::lround(2.0f * hours)) - 1));
                lf_saveIntParameter(g_MAX_FIT);
                p.set(lf_clamp<float>(p, static_cast<float>(g_MAX_FIT.value()) * 0.5f + 0.5f));
                lf_say(fmt::format("The new {} is {:.1F}", p.key, p.value()));
                changed = true;
            }
        } catch (const std::exception& e) {
            gf_logLine(fmt::format("{}: {}, h={} ", "lf_processTbFloat", e.what(), text));
        }
    } else {
        p.set(lf_clamp<float>(p, p.defaultValue));
        g_MAX_FIT.set(lf_clamp<std::int32_t>(g_MAX_FIT, g_MAX_FIT.defaultValue));
        lf_saveIntParameter(g_MAX_FIT);
        lf_say(fmt::format("The new {} is {:.1F}", p.key, p.value()));
        changed = true;
    }
    gf_showFloatParameter(p);
    return changed;
}

void lf_floatEditProc(FloatEditParameter& p) {
    // The fit only means something for the stands of a loaded stand file.
    if (!gf_windowServices()->standFileLoaded()) return;
    if (lf_processTbFloat(p)) lf_requestParkingRefresh();
}

void lf_textEditProc(StringEditParameter& p) {
    if (&p == &g_BLOCK_CALLSIGN) {
        lf_blockCallsign();
    } else if (&p == &g_DESTINATION) {
        lf_processDestinationField();
    } else if (&p == &g_ALL_INSTALL_PATH) {
        lf_changeInstallPath(lf_getTextFromId(p.controlId));
    }
}

void lf_requestParkingRefresh() {
    auto services = gf_windowServices();
    if (!services->standFileLoaded()) return;
    g_parkingParametersChanged = true;
    if (g_INITIAL_LOAD_ONLY.value()) {
        gf_clearMessage();
        return;
    }
    // The 15-second timer picks the request up.
    const std::int64_t seconds = services->seconds();
    const std::int64_t wait = (seconds / 15 + 1) * 15 - seconds;
    if (wait > 0) {
        lf_say(fmt::format("{} will respond in {} second{} ...", kAppTitle, wait,
                           gf_pluralSuffix(static_cast<std::int32_t>(wait))));
    }
    g_parkingRenewalRequest = true;
}

void lf_splitTimeShift(std::int32_t minutes) {
    auto put = [](IntEditParameter& p, std::int32_t value) {
        p.set(lf_clamp(p, value));
        lf_saveIntParameter(p);
        gf_showIntParameter(p);
    };
    put(g_TIME_SHIFT_DAYS, minutes / 1440);
    put(g_TIME_SHIFT_HOURS, (minutes - g_TIME_SHIFT_DAYS.value() * 1440) / 60);
    put(g_TIME_SHIFT_MINS, minutes % 60);
}

void lf_setTimeShift(std::int32_t minutes, bool quiet) {
    g_timeShifted = minutes > 0;
    if (minutes > kMaxTimeShiftMinutes) {
        minutes = kMaxTimeShiftMinutes;
        gf_logLine("Time shifting is limited to 4 weeks");
    }
    lf_splitTimeShift(minutes);
    g_timeShiftMinutes = minutes;
    if (minutes != 0) {
        if (quiet) return;
        lf_sayLogged(fmt::format("Time shifted {} minute{}", minutes, gf_pluralSuffix(minutes)));
    } else {
        lf_sayLogged("Time shift = 0");
        lf_clearEditField(g_TIME_SHIFT_DAYS.controlId);
        lf_clearEditField(g_TIME_SHIFT_HOURS.controlId);
        lf_clearEditField(g_TIME_SHIFT_MINS.controlId);
        if (quiet) return;
    }
    // Traffic and parking of the old time do not belong to the new one.
    gf_postWorkRequest({.kind = WorkRequestKind::RemoveAllAircraft});
    g_parkingRenewalRequest = true;
}

void lf_blockCallsign() {
    gf_clearMessage();
    std::string text = lf_getTextFromId(g_BLOCK_CALLSIGN.controlId);
    if (text.empty()) {
        if (!g_BLOCK_CALLSIGN.value().empty()) lf_unblockCallsign();
        return;
    }
    const std::size_t length = lf_characterCount(text);
    if (length < 4 || length > 8) {
        lf_sayLogged(fmt::format("callsign \"{}\" is not valid", text));
        gf_showStringParameter(g_BLOCK_CALLSIGN);
        return;
    }
    text = gf_upperAscii(std::move(text));
    if (text == g_BLOCK_CALLSIGN.value()) {
        lf_sayLogged(fmt::format("callsign \"{}\" was already set ...", text));
        gf_showStringParameter(g_BLOCK_CALLSIGN);
        return;
    }
    g_BLOCK_CALLSIGN.set(text);
    gf_saveStringParameter(g_BLOCK_CALLSIGN);
    gf_showStringParameter(g_BLOCK_CALLSIGN);
    ui::backend().setEnabled(g_Unblock.controlId, true);
    lf_sayLogged(fmt::format("live aircraft with callsign \"{}\" will be blocked", text));
    g_blockRequest = true;
}

void lf_unblockCallsign() {
    const std::string old = g_BLOCK_CALLSIGN.value();
    if (old.empty()) return;
    g_BLOCK_CALLSIGN.set("");
    gf_saveStringParameter(g_BLOCK_CALLSIGN);
    gf_showStringParameter(g_BLOCK_CALLSIGN);
    ui::backend().setEnabled(g_Unblock.controlId, false);
    lf_sayLogged(fmt::format("no more blocking of live aircraft \"{}\"", old));
    g_blockRequest = true;
}

void lf_processDestinationField() {
    gf_clearMessage();
    const std::string text = lf_getTextFromId(g_DESTINATION.controlId);
    if (text.empty()) {
        g_DESTINATION.set("");
        // Stored at once, so that a restart does not bring the old destination back.
        gf_saveStringParameter(g_DESTINATION);
        ui::backend().setEnabled(g_Re_read.controlId, true);
        lf_sayLogged("destination set to empty");
        return;
    }
    if (lf_characterCount(text) != 4) {
        lf_sayLogged(fmt::format("destination \"{}\" is not valid", text));
        gf_showStringParameter(g_DESTINATION);
        return;
    }
    const std::string code = gf_upperAscii(text);
    if (code == g_DESTINATION.value()) {
        lf_sayLogged(fmt::format("destination \"{}\" was already set ...", code));
        gf_showStringParameter(g_DESTINATION);
        return;
    }
    if (!gf_windowServices()->airportKnown(code)) {
        lf_sayLogged(fmt::format("destination \"{}\" is unknown ...", code));
        gf_showStringParameter(g_DESTINATION);
        return;
    }
    lf_setDestination(code);
}

void lf_setDestination(const std::string& code) {
    g_DESTINATION.set(code);
    gf_saveStringParameter(g_DESTINATION);
    gf_showStringParameter(g_DESTINATION);
    lf_sayLogged(fmt::format("New destination: {}", code));
    // The park airports belong to the work thread.
    gf_postWorkRequest({.kind = WorkRequestKind::SetParkAirport, .airport = code});
    ui::backend().setEnabled(g_Re_read.controlId, false);
}

void lf_changeInstallPath(const std::string& text) {
    gf_clearError();
    if (text.empty()) {
        if (!g_SIM_INSTALL_PATH.value().empty()) {
            g_SIM_INSTALL_PATH.set("");
            gf_saveStringParameter(g_SIM_INSTALL_PATH);
        }
        return;
    }
    // A file named counts as there: the restart tells that it is no folder.
    if (gf_installPathKind(text) != InstallPathKind::Nothing) {
        g_SIM_INSTALL_PATH.set(text);
        gf_saveStringParameter(g_SIM_INSTALL_PATH);
        lf_sayLogged(fmt::format("Install path exists, {} will restart", kAppTitle));
        gf_windowServices()->requestExit(kExitNewSettings, 3);
    } else {
        lf_sayLogged(fmt::format("This install path does not exist: {}", text));
        // While the stored path is missing its line stands over any message: the path just typed is the one
        // the user now needs to hear about.
        if (!gf_standingFault(StandingFault::InstallFolder).empty())
            gf_showInstallPathFault(text, InstallPathKind::Nothing);
    }
}
