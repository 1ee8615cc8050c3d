// Finding the installed Prepar3D: its registry key and installation folder, and its major version.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// True when the registry key of Prepar3D v<version> can be opened; any registry error gives false.
bool gf_P3DInstalled(int version);
// The "SetupPath" of Prepar3D v<version>; empty when the key or the value cannot be read.
std::string gf_P3DSetupPath(int version);

// Fills SIM_INSTALL_PATH (saved) and ALL_INSTALL_PATH (shown) from the one installed simulator. Throws
// user error 153 when both versions are installed, 151 when none (or its path is empty) and no folder
// key gives the program something to work with.
void lf_detectSimulator();

// "5" or "6": from the installation folder's name, else from P3D_VERSION; user error 77 when neither tells.
std::string gf_simMajorVersion();

// The Windows path of a file in the simulator's ProgramData folder ("simobjects.cfg", "scenery.cfg", ...), as
// the simulator's own files name it; map it with platform::mapSimPath.
std::string gf_simProgramDataFile(std::string_view name);

// The simulator user's roaming application-data folder as a Windows path (where the simulator keeps
// add-ons.cfg), when the simulator's drive C: is mapped (ZNTV_DOSDEVICES): the "AppData" shell folder of the
// user registry file, else C:\users\<user>\AppData\Roaming as Wine lays it out, the user being the one
// user folder in C:\users (Public, Default and the like aside) or, among several, the one named like this
// machine's $USER (Wine names it so). nullopt without a mapped drive C: or without a user found there.
std::optional<std::string> gf_simRoamingFolder();
