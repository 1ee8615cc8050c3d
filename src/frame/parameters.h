// The settings parameter classes: a key, a typed default with its range and the current value, and for the
// settings that the main window shows, the control bound to them.
//
// Values are read by every thread and written by the UI thread, the work thread and the exit thread, so a
// bool, int or float value is an atomic and a text value is copied under its own lock: value() always
// returns a whole value, never a torn one. Default, minimum and maximum never change after construction.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui.h"

class Parameter {
public:
    explicit Parameter(std::string key) : key(std::move(key)) {}
    virtual ~Parameter() = default;
    Parameter(const Parameter&) = delete;
    Parameter& operator=(const Parameter&) = delete;

    // The name in "parameters.xml" and, for edit fields, the identity the window's handler compares.
    const std::string key;
};

namespace detail {

// Numbers and flags: one atomic word, so a reader never sees half a store.
template <class T>
class ParameterValue {
public:
    explicit ParameterValue(T v) : m_value(v) {}
    T get() const { return m_value.load(std::memory_order_relaxed); }
    void set(T v) { m_value.store(v, std::memory_order_relaxed); }

private:
    std::atomic<T> m_value;
};

// Texts: replaced and copied as a whole under a lock of their own.
template <>
class ParameterValue<std::string> {
public:
    explicit ParameterValue(std::string v) : m_value(std::move(v)) {}
    std::string get() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void set(std::string v) {
        std::lock_guard lock(m_mutex);
        m_value.swap(v);
    }

private:
    mutable std::mutex m_mutex;
    std::string m_value;
};

}  // namespace detail

template <class T>
class TypedParameter : public Parameter {
public:
    TypedParameter(std::string key, T def, T min, T max)
        : Parameter(std::move(key)), defaultValue(def), minimum(min), maximum(max), m_value(def) {}

    const T defaultValue;
    const T minimum;  // meaningful for numbers only
    const T maximum;

    T value() const { return m_value.get(); }
    void set(T v) { m_value.set(std::move(v)); }
    void reset() { m_value.set(defaultValue); }

private:
    detail::ParameterValue<T> m_value;
};

class BoolParameter : public TypedParameter<bool> {
public:
    BoolParameter(std::string key, bool def) : TypedParameter(std::move(key), def, def, def) {}
};

class IntParameter : public TypedParameter<std::int32_t> {
public:
    IntParameter(std::string key, std::int32_t def, std::int32_t min, std::int32_t max)
        : TypedParameter(std::move(key), def, min, max) {}
};

class FloatParameter : public TypedParameter<float> {
public:
    FloatParameter(std::string key, float def, float min, float max)
        : TypedParameter(std::move(key), def, min, max) {}
};

class StringParameter : public TypedParameter<std::string> {
public:
    StringParameter(std::string key, const std::string& def) : TypedParameter(std::move(key), def, def, def) {}
};

// What a window-bound setting adds: its control's id and row. The control itself lives in the ui layer;
// `created` tells whether the window has made it, so that code running before the window (or without
// one, in tests) leaves the control alone.
class ParameterControl {
public:
    ParameterControl(ui::ControlId id, std::int32_t row) : controlId(id), rowY(row) {}
    ParameterControl(const ParameterControl&) = delete;
    ParameterControl& operator=(const ParameterControl&) = delete;

    const ui::ControlId controlId;
    const std::int32_t rowY;  // client y of the control's row; a check box sits 2 pixels lower
    std::atomic<bool> created{false};
};

class CheckBoxParameter : public BoolParameter, public ParameterControl {
public:
    CheckBoxParameter(std::string key, bool def, ui::ControlId id, std::int32_t row)
        : BoolParameter(std::move(key), def), ParameterControl(id, row) {}
};

class IntEditParameter : public IntParameter, public ParameterControl {
public:
    IntEditParameter(std::string key, std::int32_t def, std::int32_t min, std::int32_t max, ui::ControlId id,
                     std::int32_t row)
        : IntParameter(std::move(key), def, min, max), ParameterControl(id, row) {}
};

class FloatEditParameter : public FloatParameter, public ParameterControl {
public:
    FloatEditParameter(std::string key, float def, float min, float max, ui::ControlId id, std::int32_t row)
        : FloatParameter(std::move(key), def, min, max), ParameterControl(id, row) {}
};

class StringEditParameter : public StringParameter, public ParameterControl {
public:
    StringEditParameter(std::string key, const std::string& def, ui::ControlId id, std::int32_t row)
        : StringParameter(std::move(key), def), ParameterControl(id, row) {}
};

// A push button carries no value; its key is its caption.
class ButtonParameter : public Parameter, public ParameterControl {
public:
    ButtonParameter(std::string caption, ui::ControlId id, std::int32_t row)
        : Parameter(std::move(caption)), ParameterControl(id, row) {}
};

// The control part of a parameter, or nullptr for a setting without a control.
const ParameterControl* gf_controlOf(const Parameter& p);
ParameterControl* gf_controlOf(Parameter& p);

// The stored settings in the order "parameters.xml" is read and a new file is written.
struct ParameterLists {
    std::vector<BoolParameter*> bools;  // flags without a control
    std::vector<CheckBoxParameter*> checkBoxes;
    std::vector<IntParameter*> ints;  // numbers without a field
    std::vector<IntEditParameter*> intEdits;
    std::vector<StringParameter*> texts;  // texts read without showing a field (folder keys among them)
    std::vector<StringEditParameter*> textEdits;
};

// The window's controls. Each returns false, and leaves the parameter's `created` unset, when the ui layer
// could not make the control.
// A check box at (x, row + 2), 12 x 12, showing the value, enabled.
bool lf_createCheckBox(CheckBoxParameter& p, int x);
// A default push button at (x, row), width x 20, the caption as text, disabled until the start-up is done.
bool lf_createButton(ButtonParameter& p, int x, int width);
// An edit field at (x, row), width x 16, empty, disabled until the start-up is done. The ui layer reports
// Enter in it to the window's command handler.
bool lf_createEditField(ParameterControl& p, int x, int width);

// The click handler of a check box: false when `commandId` belongs to another control; otherwise flips the
// box, stores the new state in the value, saves it to "parameters.xml" and returns true.
bool gf_toggleCheckBox(ui::ControlId commandId, CheckBoxParameter& p);

// Shows the value in the check box when the box exists.
void gf_showCheckState(const CheckBoxParameter& p);
