// Where every control of the settings band must stand: id, kind and client rectangle. Users know the window
// by this layout, and the drawn labels are placed around it.
#pragma once

#include <vector>

#include "platform/ui.h"

namespace window_test {

struct ExpectedControl {
    ui::ControlId id;
    ui::ControlKind kind;
    ui::Rect rect;
};

inline ExpectedControl checkAt(ui::ControlId id, int x, int row) {
    return {id, ui::ControlKind::CheckBox, {x, row + 2, x + 12, row + 14}};
}
inline ExpectedControl editAt(ui::ControlId id, int x, int row, int width) {
    return {id, ui::ControlKind::EditField, {x, row, x + width, row + 16}};
}
inline ExpectedControl buttonAt(ui::ControlId id, int x, int row, int width) {
    return {id, ui::ControlKind::PushButton, {x, row, x + width, row + 20}};
}

inline const std::vector<ExpectedControl>& expectedControls() {
    static const std::vector<ExpectedControl> controls = {
        editAt(32788, 111, 119, 1200),  // ALL_INSTALL_PATH
        checkAt(32797, 5, 147),         // SCAN_LIVERIES
        checkAt(32798, 217, 147),       // LIG_AUTOMATIC
        checkAt(32799, 430, 147),       // LIG_PRIORITIZE
        checkAt(32801, 536, 147),       // SUPPRESS_STUB
        checkAt(32779, 652, 147),       // LOG
        checkAt(32771, 748, 147),       // ALWAYS_ON_TOP
        checkAt(32802, 5, 175),         // SCAN_AIRPORTS
        checkAt(32803, 217, 175),       // AFG_AUTOMATIC
        checkAt(32778, 652, 175),       // NAV_LIGHTS_WHILE_PARKED
        checkAt(32777, 748, 175),       // LEARN_SOFT
        editAt(32808, 217, 203, 24),    // MATCHING_DEPTH
        checkAt(32809, 323, 203),       // LIGHT_AIRCRAFT
        checkAt(32810, 430, 203),       // HELICOPTERS
        checkAt(32811, 536, 203),       // HIGH_PERF_AIRCRAFT
        checkAt(32773, 748, 203),       // GUID_CHANGES
        editAt(32818, 217, 231, 34),    // LATERAL_RANGE
        checkAt(32819, 323, 231),       // AUTO_RANGE
        editAt(32820, 455, 231, 50),    // AUTO_RANGE_ABOVE_HEIGHT
        checkAt(32862, 652, 231),       // SIM_TIME
        editAt(32860, 748, 231, 30),    // TIME_SHIFT_HOURS
        editAt(32828, 217, 259, 100),   // BLOCK_CALLSIGN
        buttonAt(32829, 323, 257, 70),  // "Unblock"
        editAt(32859, 748, 259, 30),    // TIME_SHIFT_DAYS
        checkAt(32834, 217, 287),       // COLLISION_USER_GND
        checkAt(32833, 323, 287),       // COLLISION_USER_AIR
        checkAt(32835, 430, 287),       // COLLISION_LIVE_PARKED_GND
        checkAt(32863, 652, 287),       // KEEP_SIM_TIME_PAR
        editAt(32861, 748, 287, 30),    // TIME_SHIFT_MINS
        editAt(32865, 353, 315, 34),    // CUSTOM_MAX_PARK
        editAt(32821, 601, 315, 34),    // MAX_LIVE
        checkAt(32856, 652, 315),       // STRAIGHT_PBS_ONLY
        editAt(32840, 217, 343, 50),    // DESTINATION
        editAt(32841, 353, 343, 34),    // AIRPORT_RANGE
        editAt(32842, 566, 343, 50),    // AIRPORT_HEIGHT
        buttonAt(32838, 758, 341, 90),  // "Re-read"
        checkAt(32852, 5, 371),         // PARK_FAKE
        checkAt(32854, 71, 371),        // WEEK
        checkAt(32851, 151, 371),       // PARK_SOFT
        editAt(32848, 323, 371, 34),    // parking_percentage
        checkAt(32850, 430, 371),       // INITIAL_LOAD_ONLY
        editAt(32855, 566, 371, 34),    // MAX_FIT_FL
        checkAt(32857, 642, 371),       // RT_PARKTRAFFIC_ONLY
        buttonAt(32858, 758, 369, 90),  // "Flush static"
    };
    return controls;
}

}  // namespace window_test
