#include "simlink/user_aircraft.h"

#include <exception>

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "injection/services.h"
#include "liveries/services.h"
#include "platform/ui.h"
#include "window/main_window.h"

std::string g_userTitle;
std::atomic<double> g_userHalfWingSpan{kHalfWingSpanUnknown};
std::atomic<std::uint32_t> g_userCategory{kDefaultUserCategory};

namespace {

void lf_setModelKnown(bool known) {
    g_mainWindow.userModelKnown = known;
    ui::backend().invalidate(kUpperBand);
}

// Aircraft whose ATC model says nothing useful, recognised by the start of their title.
const char* lf_modelFromTitle(const std::string& title) {
    static const char* const kTitles[][2] = {
        {"Aerosoft A319", "A319"}, {"Aerosoft A320", "A320"}, {"Aerosoft A321", "A321"}};
    if (title.size() < 13) return nullptr;
    for (const auto& t : kTitles)
        if (title.compare(0, 13, t[0]) == 0) return t[1];
    return nullptr;
}

void lf_learnModel(std::string model) {
    if (model.empty())
        throw qtm::UserErrorException(71, "atc_model= in [General] section of your aircraft.cfg is empty or missing");
    gf_logLine(fmt::format("model raw: {} ", model));
    // A camera or a vessel as the user's vehicle: it takes the room of a mid-size jet on the apron.
    if (model.find("camerapod") != std::string::npos || model.find("Crew Vessel") != std::string::npos) {
        lf_setModelKnown(true);
        g_userHalfWingSpan = gf_wingspanOfModel("E190");
        g_userCategory = 0;
        return;
    }
    // Only a type code (at most 4 characters) can be looked up; the largest span is the safe guess.
    double span = g_maxHalfWingSpan;
    bool known = false;
    if (model.size() <= 4) {
        span = gf_wingspanOfModel(model);
        // The largest aircraft of the database has exactly the fallback span, and is known all the same.
        known = span != g_maxHalfWingSpan || g_wingspans.contains(model);
    }
    g_userHalfWingSpan = span;
    std::string line = "SimConnect: User aircraft model: ";
    if (!known) {
        if (const char* deduced = lf_modelFromTitle(g_userTitle)) {
            model = deduced;
            line = "SimConnect: User aircraft model deduced from title: ";
            span = gf_wingspanOfModel(model);
            g_userHalfWingSpan = span;
            known = span != 0.0;
            if (!known) g_userHalfWingSpan = g_maxHalfWingSpan;
        }
    }
    line += model;
    if (known) {
        lf_setModelKnown(true);
        line += fmt::format(", half wing span: {:.1F} meter", span * 1852.0);
    } else {
        lf_setModelKnown(false);
        gf_showMessage("User aircraft wing span unknown, max is taken instead, please report in my Forum!", true);
    }
    const std::uint32_t category = gf_categoryOfModel(model);
    g_userCategory = category;
    line += fmt::format(", category: {}", gf_categoryName(category));
    gf_logIndented(line);
}

}  // namespace

void lf_onUserTitle(std::span<const std::uint8_t> data) {
    std::string title = gf_decodeUserTitle(data);
    if (title.size() > kMaxUserTitleLength) title.resize(kMaxUserTitleLength);
    if (title.empty()) {
        gf_logLine("! title of your ac is empty?");
        return;
    }
    if (title == g_userTitle) return;
    g_userTitle = title;
    gf_setDisplayText(&MainWindow::userTitle, title, kUpperBand);
    gf_logIndented("SimConnect: User aircraft title: " + title);
}

void lf_onUserModel(std::span<const std::uint8_t> data) {
    try {
        lf_learnModel(gf_decodeUserModel(data));
    } catch (const qtm::UserErrorException&) {
        throw;
    } catch (const std::exception&) {
        throw qtm::UserErrorException(73, "It looks like you have not selected an aircraft as user vehicle");
    }
}

void gf_resetUserAircraft() {
    g_userTitle.clear();
    g_userHalfWingSpan = kHalfWingSpanUnknown;
    g_userCategory = kDefaultUserCategory;
}
