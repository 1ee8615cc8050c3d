#include "liveries/scan_driver.h"

#include <fmt/format.h>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "liveries/addon_packages.h"
#include "liveries/livery_index.h"
#include "liveries/livery_scan.h"
#include "platform/ui.h"
#include "window/main_window.h"

std::vector<std::string> lf_liveryFolders() {
    std::vector<std::string> folders;
    folders.reserve(10);
    if (g_LIG_AUTOMATIC.value()) {
        lf_readP3DAddOnsAircraft(folders);
        lf_readSimObjectsCfg(folders);
    } else {
        for (const auto& folder : g_lfolder) {
            if (!folder.value().empty()) folders.push_back(folder.value());
        }
    }
    return folders;
}

void gf_liveriesScan() {
    if (!g_SCAN_LIVERIES.value()) {
        gf_processScannedLiveries();
        return;
    }
    const bool automatic = g_LIG_AUTOMATIC.value();
    gf_showMessage(fmt::format("Scanning {} for liveries ...", g_LIG_PRIORITIZE.value() && !automatic ? "prioritized " : ""),
                   false);
    gf_logLine(fmt::format("\n++++++++++++++++++++++++ liveries scan {} starts ++++++++++++++++++++++++++++++++",
                           automatic ? "automatic" : "manual"));

    const std::vector<std::string> folders = lf_liveryFolders();
    if (!automatic && folders.empty()) {
        throw qtm::UserErrorException(
            48, "Set lfolder parameter(-s) to your liveries first, see Manual 5.1 (or check Liveries automatic)");
    }
    switch (lf_scanAllLiveryFolders(folders)) {
        case ScanOutcome::Cancelled:
            // Nothing was stored: building from an old file, or switching the scan off, would pass off a
            // scan that never finished as the installed liveries.
            gf_logLine("liveries scan cancelled, it runs again at the next start");
            return;
        case ScanOutcome::NothingFound:
            if (!automatic) throw qtm::UserErrorException(53, "no liveries found");
            throw qtm::UserErrorException(
                43, "Automatic scan has not found any liveries, switch off automatic and set lfolder parameter(-s), Manual 5.1");
        case ScanOutcome::Found:
            break;
    }
    g_SCAN_LIVERIES.set(false);
    gf_saveBoolParameter(g_SCAN_LIVERIES);
    gf_showCheckState(g_SCAN_LIVERIES);
    ui::backend().invalidate({0, 0, kMainClientWidth, kMainClientHeight});
    gf_logLine("\n++++++++++++++++++++++++ liveries scan ends ++++++++++++++++++++++++++++++++\n");
    gf_processScannedLiveries();
}
