// Fixed names of the program: the application folder with "parameters.xml", the data folders and files
// below the program folder (the working folder; every path here is relative to it), the registry facts
// about the installed simulators, and the per-category tables of the movement model.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>

// The user's roaming application-data folder / "ZNTV_P3D", and "parameters.xml" in it. Empty until
// gf_initGlobalPaths() has run; the settings code runs it on first use.
extern std::filesystem::path g_appFolder;
extern std::filesystem::path g_parametersPath;

// Whether the simulator's registry key of version 5 / 6 could be opened when the globals were computed.
extern bool g_p3dV5Installed;
extern bool g_p3dV6Installed;

// (Re)computes g_appFolder, g_parametersPath and the two registry facts from the environment of the moment
// (XDG_CONFIG_HOME, the registry files). The program runs it once at start; tests run it after pointing
// the environment at their own folders.
void gf_initGlobalPaths();
// Runs gf_initGlobalPaths() unless it has run already.
void gf_ensureGlobalPaths();

extern const std::filesystem::path g_docsFolder;
// Whether the working folder is a program folder: it holds "docs", and it is not the program's source
// checkout, which holds a "docs" of its own (the README's pictures) beside the build's "CMakeLists.txt", a
// file no program folder has. Started anywhere else, the program writes nothing into the folder.
bool gf_isProgramFolder();
extern const std::filesystem::path g_inputFolder;
extern const std::filesystem::path g_myRegcodesFolder;
extern const std::filesystem::path g_airportListName;  // joined with "input" by its reader
extern const std::filesystem::path g_airportsFolder;
extern const std::filesystem::path g_learnedFolderName;
extern const std::filesystem::path g_learnedFolder;
extern const std::filesystem::path g_learnedStockFolder;
extern const std::filesystem::path g_learnedSimaddonFolder;
extern const std::filesystem::path g_learnedThirdpartyFolder;
extern const std::filesystem::path g_myOrbxFolder;
extern const std::filesystem::path g_myThirdpartyFolder;
extern const std::filesystem::path g_myParkAirportsFile;
extern const std::filesystem::path g_tbloFolderName;
extern const std::filesystem::path g_outputFolder;
extern const std::filesystem::path g_infoFolder;
extern const std::filesystem::path g_errorsFolder;
extern const std::filesystem::path g_liveriesScannedFile;
extern const std::filesystem::path g_airportsScanLogFile;
extern const std::filesystem::path g_versionFile;
extern const std::filesystem::path g_installerFile;
extern const std::filesystem::path g_rtLicenseFile;
extern const std::filesystem::path g_rtVendorFolderName;

// Reports of the livery scan.
extern const std::filesystem::path g_noFltsimReportPath;
extern const std::filesystem::path g_airlineModelReportPath;
extern const std::filesystem::path g_skippedOnPriorityReportPath;
extern const std::filesystem::path g_inlineRegcodesReportPath;
extern const std::filesystem::path g_invalidAirlinesReportPath;
extern const std::filesystem::path g_invalidAircraftReportPath;
extern const std::filesystem::path g_fixesReportPath;
extern const std::filesystem::path g_invalidCfgReportPath;
extern const std::filesystem::path g_incompleteFltsimReportPath;

// A table keyed by model category (0 Light .. 5 Rotorcraft). A category missing from it is the caller's
// fault; at() then throws std::out_of_range with the text users' logs have always shown for it.
template <class T>
class CategoryTable : public std::unordered_map<int, T> {
public:
    using std::unordered_map<int, T>::unordered_map;
    const T& at(int category) const {
        auto it = this->find(category);
        if (it == this->end()) throw std::out_of_range("invalid unordered_map<K, T> key");
        return it->second;
    }
};

extern const CategoryTable<std::int32_t> g_flareTicks;       // AI ticks (1/100 s)
extern const CategoryTable<std::int32_t> g_derotationTicks;  // AI ticks
extern const CategoryTable<std::int32_t> g_rotationTicks;    // AI ticks
extern const CategoryTable<std::int32_t> g_climbTicks;       // AI ticks
extern const CategoryTable<double> g_rotationPitchDeg;       // degrees, nose up negative
extern const CategoryTable<double> g_climbPitchDeg;          // degrees, nose up negative
