// Where the simulator's add-on packages keep their AI aircraft: the packages registered in the user's
// add-ons.cfg (each with its add-on.xml) and the entries of the simulator's simobjects.cfg. The folders come
// out as the files write them, Windows paths (drive letters, backslashes, any letter case); the livery scan
// maps each onto this file system itself, so that a tree copied from Windows scans as it would there.
//
// The three files are read line by line; keywords are found anywhere in a line, exactly as spelt below.
// Start-up (work) thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Appends the SimObjects folders of the add-on packages of add-ons.cfg (in the roaming application-data
// folder) to `folders`; logs its progress. Never throws: a failure is logged and what was found stays.
void lf_readP3DAddOnsAircraft(std::vector<std::string>& folders);
// Appends the add-on entries of simobjects.cfg (in the simulator's ProgramData folder): folders outside
// SimObjects as written, other folders of SimObjects joined with SIM_INSTALL_PATH; the simulator's standard
// folders are left out. A missing file does nothing; a file-system error testing it is thrown.
void lf_readSimObjectsCfg(std::vector<std::string>& folders);

// The readers' parsing, apart from the files (tests and the fuzz target).
// add-ons.cfg: the package folders, in file order.
std::vector<std::string> lf_parseAddOnsCfg(const std::vector<std::string>& lines);
// add-on.xml of the package in `packageFolder`: the SimObjects paths, a relative one joined with the folder.
std::vector<std::string> lf_parseAddOnXml(const std::vector<std::string>& lines, std::string_view packageFolder);
// simobjects.cfg: the entries to scan, a SimObjects one joined with `installPath`.
std::vector<std::string> lf_parseSimObjectsCfg(const std::vector<std::string>& lines, std::string_view installPath);

// `relative` below `folder` in Windows writing; an absolute `relative` (drive, root or local "/") is kept.
std::string gf_joinWindowsPath(std::string_view folder, std::string_view relative);
