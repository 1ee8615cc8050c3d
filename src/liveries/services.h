// What the run-time asks of the aircraft models and liveries: the livery step of the start-up, the
// aircraft database, the containers of the livery indexes, and the two reports.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The aircraft database and the registration look-ups have their own headers.
#include "liveries/database.h"
#include "liveries/registrations.h"
// So have the livery records, the livery indexes (with their containers and the clearing), the selection
// (with the per-hex-id titles, the unmatched aircraft, the summary and its report) and the publishers.
#include "liveries/livery_index.h"
#include "liveries/livery_records.h"
#include "liveries/publishers.h"
#include "liveries/selection.h"
// The livery step of the start-up (gf_liveriesScan): the scan when SCAN_LIVERIES is set, then the build.
#include "liveries/scan_driver.h"
