#include "frame/display.h"

#include <mutex>

#include <fmt/format.h>

#include "frame/log.h"
#include "frame/parameters.h"
#include "frame/text.h"
#include "platform/ui.h"

namespace {

// Status line: until the window installs its own, messages and errors still reach the log.
void lf_logOnlyMessage(std::string_view text, bool log) {
    if (log && !text.empty()) gf_logLine(text);
}
void lf_logOnlyError(std::string_view text) { gf_logLine(fmt::format("Error {}", text)); }
void lf_logOnlyFault(StandingFault, std::string_view text, bool log) {
    if (log) lf_logOnlyError(text);
}
void lf_noFaultShown(StandingFault) {}

std::mutex g_hooksMutex;
StatusLineHooks g_hooks{lf_logOnlyMessage, lf_logOnlyError, lf_logOnlyFault, lf_noFaultShown};

StatusLineHooks lf_hooks() {
    std::lock_guard lock(g_hooksMutex);
    return g_hooks;
}

// The settings band of the window, where every edit field sits.
constexpr ui::Rect kMiddleBand{0, 112, 880, 392};

void lf_setFieldText(const Parameter& p, const std::string& text) {
    const ParameterControl* control = gf_controlOf(p);
    if (control == nullptr || !control->created) return;
    ui::backend().setText(control->controlId, text);
    ui::backend().invalidate(kMiddleBand);
}

}  // namespace

void gf_setStatusLineHooks(const StatusLineHooks& hooks) {
    std::lock_guard lock(g_hooksMutex);
    g_hooks.showMessage = hooks.showMessage ? hooks.showMessage : lf_logOnlyMessage;
    g_hooks.showError = hooks.showError ? hooks.showError : lf_logOnlyError;
    g_hooks.showStandingFault = hooks.showStandingFault ? hooks.showStandingFault : lf_logOnlyFault;
    g_hooks.clearStandingFault = hooks.clearStandingFault ? hooks.clearStandingFault : lf_noFaultShown;
}

void gf_showMessage(std::string_view text, bool log) { lf_hooks().showMessage(text, log); }
void gf_clearMessage() { gf_showMessage("", true); }
void gf_showError(std::string_view text) { lf_hooks().showError(text); }
void gf_showStandingFault(StandingFault which, std::string_view text, bool log) {
    lf_hooks().showStandingFault(which, text, log);
}
void gf_clearStandingFault(StandingFault which) { lf_hooks().clearStandingFault(which); }

void gf_showIntParameter(const IntParameter& p) { lf_setFieldText(p, fmt::format("{}", p.value())); }
void gf_showFloatParameter(const FloatParameter& p) { lf_setFieldText(p, gf_formatNumber(p.value())); }
void gf_showStringParameter(const StringParameter& p) { lf_setFieldText(p, p.value()); }

void lf_clearEditField(unsigned short controlId) {
    if (!ui::backend().hasControl(controlId)) return;
    ui::backend().setText(controlId, "");
}
