// What the frame and the lower layers show on the main window's status line and edit fields.
// The window installs the real status line at start; until then (and in tests of the lower layers)
// messages and errors go to the log only.
#pragma once

#include <string>
#include <string_view>

class IntParameter;
class FloatParameter;
class StringParameter;

struct StatusLineHooks {
    void (*showMessage)(std::string_view text, bool log) = nullptr;
    void (*showError)(std::string_view text) = nullptr;
};

void gf_setStatusLineHooks(const StatusLineHooks& hooks);  // nullptr members restore the log-only default

void gf_showMessage(std::string_view text, bool log);
void gf_clearMessage();  // gf_showMessage("", true); an empty text is never logged
void gf_showError(std::string_view text);

// Write a setting's current value into its edit field (when the field exists).
void gf_showIntParameter(const IntParameter& p);
void gf_showFloatParameter(const FloatParameter& p);
void gf_showStringParameter(const StringParameter& p);
void lf_clearEditField(unsigned short controlId);
