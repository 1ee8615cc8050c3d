// What the frame and the lower layers show on the main window's status line and edit fields.
// The window installs the real status line at start; until then (and in tests of the lower layers)
// messages and errors go to the log only.
#pragma once

#include <cstddef>

#include <string>
#include <string_view>

class IntParameter;
class FloatParameter;
class StringParameter;

// A fault that stays true until the user or the program mends it, and that the program works on without:
// an install folder that is not there, a park airport's stand file that does not load, a service that has
// stopped answering, stored settings read as other values or not read at all. Shown in the error's colours
// above any message (messages meanwhile are still logged), and beneath an error, which it often brought about,
// until it is withdrawn; the exit sequence withdraws them all, so that what it says is seen.
enum class StandingFault { InstallFolder, StandFile, ServiceSilent, Settings };
constexpr std::size_t kStandingFaultCount = 4;

struct StatusLineHooks {
    void (*showMessage)(std::string_view text, bool log) = nullptr;
    void (*showError)(std::string_view text) = nullptr;
    void (*showStandingFault)(StandingFault which, std::string_view text, bool log) = nullptr;
    void (*clearStandingFault)(StandingFault which) = nullptr;
};

void gf_setStatusLineHooks(const StatusLineHooks& hooks);  // nullptr members restore the log-only default

void gf_showMessage(std::string_view text, bool log);
void gf_clearMessage();  // gf_showMessage("", true); an empty text is never logged
void gf_showError(std::string_view text);
// Shows the fault's line (logged as "Error {}" when its text is new, unless `log` is false: its owner then
// logs in its own words) until gf_clearStandingFault.
void gf_showStandingFault(StandingFault which, std::string_view text, bool log = true);
void gf_clearStandingFault(StandingFault which);

// Write a setting's current value into its edit field (when the field exists).
void gf_showIntParameter(const IntParameter& p);
void gf_showFloatParameter(const FloatParameter& p);
void gf_showStringParameter(const StringParameter& p);
void lf_clearEditField(unsigned short controlId);
