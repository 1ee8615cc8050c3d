// The AceXML flight plan of each live AI aircraft whose departure and destination are known: one small file
// "<objectID>.pln" in the folder "orig_dest" of the application folder, handed to the simulator by the work
// thread and deleted again when the simulator confirms the removal of the object.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

struct AiAc;

// The folder "orig_dest" in the application folder; empty until gf_createFlightPlanFolder has run.
extern std::filesystem::path g_flightPlanFolder;

// Creates the application folder and "orig_dest" in it when missing and remembers the path; a file-system
// error is thrown on. Start-up.
void gf_createFlightPlanFolder();
// Removes the folder with every plan in it; an error is logged ("gf_removeFlightPlanFolder: <text>"), not
// thrown. True when the folder is gone. Exit sequence.
bool gf_removeFlightPlanFolder();
// "<objectID>.pln".
std::filesystem::path gf_flightPlanFileName(std::uint32_t objectId);
// The plan's text for the aircraft: "IFR" for business jets, large and heavy aircraft, "VFR" for the others,
// and its departure and destination codes with the XML specials escaped.
std::string gf_flightPlanText(const AiAc& ac);
// Writes the plan for the aircraft to `path`, replacing an older one; false when it could not be written
// completely (the older file, if any, is then left as it was).
bool gf_writeFlightPlan(const std::filesystem::path& path, const AiAc& ac);
// Deletes the plan of an object from the flight plan folder; false when a plan was there and could not be
// deleted.
bool gf_removeFlightPlan(std::uint32_t objectId);
