#include "run/version_update.h"

#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/settings.h"
#include "frame/settings_file.h"
#include "frame/text.h"
#include "frame/version.h"
#include "trafficservice/runtime_services.h"

namespace fs = std::filesystem;

namespace {

bool lf_exists(const fs::path& path) {
    std::error_code ec;
    const bool found = fs::exists(path, ec);
    if (ec) throw FileSystemError("exists", path, ec);
    return found;
}

void lf_switchOn(CheckBoxParameter& p) {
    p.set(true);
    gf_saveBoolParameter(p);
    gf_showCheckState(p);
}

// First start: the user's own credential from the service's folder, else a template to fill in.
void lf_provideCredential() {
    if (lf_exists(g_rtLicenseFile)) return;
    const fs::path appData = gf_getAppDataPath();
    if (!appData.empty()) {
        const fs::path own = appData / g_rtVendorFolderName / g_rtLicenseFile;
        if (lf_exists(own) && fs::copy_file(own, g_rtLicenseFile, fs::copy_options::overwrite_existing)) {
            gf_logLine(fmt::format("copied your \"{}\" to here", own.string()));
            return;
        }
    }
    lf_writeLicenseTemplate();
}

}  // namespace

void gf_versionUpdate() {
    const std::string storedText = g_PROGRAM_VERSION.value();
    const std::string running = gf_versionText(g_programVersion);
    if (storedText.empty()) {
        g_PROGRAM_VERSION.set(running);
        gf_saveStringParameter(g_PROGRAM_VERSION);
        lf_provideCredential();
        return;
    }
    const ProgramVersion stored = gf_parseVersion(storedText).value_or(ProgramVersion{});
    if (stored != g_programVersion) {
        g_PROGRAM_VERSION.set(running);
        gf_saveStringParameter(g_PROGRAM_VERSION);
    }
    if (g_programVersion > stored) {
        gf_logLine(fmt::format("This is a version update from {} -> {}", gf_versionText(stored), running));
        std::error_code ec;
        if (lf_exists(g_installerFile) && !fs::remove(g_installerFile, ec) && ec) {
            throw FileSystemError("remove", g_installerFile, ec);
        }
        // The new version may read liveries and airports differently: both are scanned anew.
        lf_switchOn(g_SCAN_LIVERIES);
        lf_switchOn(g_SCAN_AIRPORTS);
        return;
    }
    if (!lf_exists(g_rtLicenseFile)) lf_writeLicenseTemplate();
}
