// The version housekeeping right after the settings have been read, at every start of the work thread:
// PROGRAM_VERSION follows the running program; the first start makes sure of a service credential file in
// the program folder; the first start after an update removes the installer the update check left and
// switches both scans on.
#pragma once

void gf_versionUpdate();
