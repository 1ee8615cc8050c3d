#include "frame/paths.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "frame/simulator.h"
#include "frame/text.h"

namespace fs = std::filesystem;

fs::path g_appFolder;
fs::path g_parametersPath;
bool g_p3dV5Installed = false;
bool g_p3dV6Installed = false;

namespace {
std::mutex g_globalPathsMutex;
std::atomic<bool> g_globalPathsDone{false};

void lf_computeGlobalPaths() {
    g_appFolder = gf_getAppDataPath() / "ZNTV_P3D";
    g_parametersPath = g_appFolder / "parameters.xml";
    g_p3dV5Installed = gf_P3DInstalled(5);
    g_p3dV6Installed = gf_P3DInstalled(6);
}
}  // namespace

void gf_initGlobalPaths() {
    std::lock_guard lock(g_globalPathsMutex);
    lf_computeGlobalPaths();
    g_globalPathsDone = true;
}

void gf_ensureGlobalPaths() {
    if (g_globalPathsDone) return;
    std::lock_guard lock(g_globalPathsMutex);
    if (g_globalPathsDone) return;
    lf_computeGlobalPaths();
    g_globalPathsDone = true;
}

// Relative on purpose: the program folder is the working folder, and the start-up refuses any other.
const fs::path g_docsFolder{"docs"};
const fs::path g_inputFolder{"input"};

bool gf_isProgramFolder() {
    std::error_code ec;
    return fs::is_directory(g_docsFolder, ec) && !fs::exists("CMakeLists.txt", ec);
}
const fs::path g_myRegcodesFolder{g_inputFolder / "my_regcodes"};
const fs::path g_airportListName{"airports_p3d.xml"};
const fs::path g_airportsFolder{"airports"};
const fs::path g_learnedFolderName{"learned"};
const fs::path g_learnedFolder{g_airportsFolder / g_learnedFolderName};
const fs::path g_learnedStockFolder{g_learnedFolder / "stock"};
const fs::path g_learnedSimaddonFolder{g_learnedFolder / "simaddon"};
const fs::path g_learnedThirdpartyFolder{g_learnedFolder / "thirdparty"};
const fs::path g_myOrbxFolder{g_airportsFolder / "my_ORBX"};
const fs::path g_myThirdpartyFolder{g_airportsFolder / "my_thirdparty"};
const fs::path g_myParkAirportsFile{g_airportsFolder / "my_park_airports.txt"};
const fs::path g_tbloFolderName{"TBLO"};
const fs::path g_outputFolder{"output"};
const fs::path g_infoFolder{g_outputFolder / "info"};
const fs::path g_errorsFolder{g_outputFolder / "errors"};
const fs::path g_liveriesScannedFile{g_outputFolder / "LiveriesScanned.xml"};
const fs::path g_airportsScanLogFile{g_infoFolder / "AirportsScanLog.txt"};
const fs::path g_versionFile{"version.json"};
const fs::path g_installerFile{"install_new_version.exe"};
const fs::path g_rtLicenseFile{"RealTraffic.lic"};
const fs::path g_rtVendorFolderName{"InsideSystems"};

const fs::path g_noFltsimReportPath{g_infoFolder / "AircraftCfgWithNoFltsimSection.txt"};
const fs::path g_airlineModelReportPath{g_infoFolder / "AirlineModelConversions.txt"};
const fs::path g_skippedOnPriorityReportPath{g_infoFolder / "LiveriesSkippedOnPriority.txt"};
const fs::path g_inlineRegcodesReportPath{g_errorsFolder / "InlineRegcodes.txt"};
const fs::path g_invalidAirlinesReportPath{g_errorsFolder / "InvalidAirlineCodes.txt"};
const fs::path g_invalidAircraftReportPath{g_errorsFolder / "InvalidAircraftCodes.txt"};
const fs::path g_fixesReportPath{g_errorsFolder / "Fixes.txt"};
const fs::path g_invalidCfgReportPath{g_errorsFolder / "InvalidAircraftCfgFiles.txt"};
// The misspelt name is the one users and their tools know.
const fs::path g_incompleteFltsimReportPath{g_errorsFolder / "IncompleFltsimSections.txt"};

const CategoryTable<std::int32_t> g_flareTicks{{0, 250}, {1, 300}, {2, 400}, {3, 450}, {4, 150}, {5, 100}};
const CategoryTable<std::int32_t> g_derotationTicks{{0, 250}, {1, 300}, {2, 350}, {3, 450}, {4, 150}, {5, 100}};
const CategoryTable<std::int32_t> g_rotationTicks{{0, 100}, {1, 200}, {2, 200}, {3, 250}, {4, 100}, {5, 100}};
const CategoryTable<std::int32_t> g_climbTicks{{0, 200}, {1, 250}, {2, 300}, {3, 400}, {4, 200}, {5, 100}};
const CategoryTable<double> g_rotationPitchDeg{{0, -9.0}, {1, -8.0}, {2, -6.0}, {3, -5.0}, {4, -6.0}, {5, -20.0}};
const CategoryTable<double> g_climbPitchDeg{{0, -15.0}, {1, -18.0}, {2, -16.5}, {3, -12.5}, {4, -20.0}, {5, -30.0}};
