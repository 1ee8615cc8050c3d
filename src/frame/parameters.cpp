#include "frame/parameters.h"

#include "frame/settings_file.h"

const ParameterControl* gf_controlOf(const Parameter& p) { return dynamic_cast<const ParameterControl*>(&p); }
ParameterControl* gf_controlOf(Parameter& p) { return dynamic_cast<ParameterControl*>(&p); }

bool lf_createCheckBox(CheckBoxParameter& p, int x) {
    ui::Backend& ui = ui::backend();
    // The box is smaller than the row's text height; 2 pixels down centres it on the label.
    if (!ui.createControl(ui::ControlKind::CheckBox, p.controlId, x, p.rowY + 2, 12, 12, "")) return false;
    p.created = true;
    ui.setChecked(p.controlId, p.value());
    ui.setEnabled(p.controlId, true);
    return true;
}

bool lf_createButton(ButtonParameter& p, int x, int width) {
    ui::Backend& ui = ui::backend();
    if (!ui.createControl(ui::ControlKind::PushButton, p.controlId, x, p.rowY, width, 20, p.key)) return false;
    p.created = true;
    // Buttons act on data the start-up has yet to read; the window enables them when it is done.
    ui.setEnabled(p.controlId, false);
    return true;
}

bool lf_createEditField(ParameterControl& p, int x, int width) {
    ui::Backend& ui = ui::backend();
    if (!ui.createControl(ui::ControlKind::EditField, p.controlId, x, p.rowY, width, 16, "")) return false;
    p.created = true;
    ui.setEnabled(p.controlId, false);
    return true;
}

bool gf_toggleCheckBox(ui::ControlId commandId, CheckBoxParameter& p) {
    if (commandId != p.controlId) return false;
    // The box's own state is what the user saw and clicked; without a box the value stands in for it.
    const bool wasChecked = p.created ? ui::backend().isChecked(p.controlId) : p.value();
    const bool now = !wasChecked;
    if (p.created) ui::backend().setChecked(p.controlId, now);
    p.set(now);
    gf_saveBoolParameter(p);
    return true;
}

void gf_showCheckState(const CheckBoxParameter& p) {
    if (p.created) ui::backend().setChecked(p.controlId, p.value());
}
