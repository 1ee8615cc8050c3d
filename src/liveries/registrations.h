// Registrations in their spellings, and their look-ups in the database's registration table.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "liveries/database.h"

// The spellings a registration is looked up under, in trial order: for one of at least 5 characters that
// does not begin with "N" and has no "-", first with a dash after two, then after one character; always
// last the registration unchanged.
std::vector<std::string> gf_registrationVariants(const std::string& registration);
// Looks one spelling up; on a hit copies the record into the slot and returns true.
bool lf_findRegcode(RegcodeData& slot, const std::string& spelling);
// The record of the first spelling found; nothing for an empty registration.
std::optional<RegcodeData> gf_regcodeLookup(const std::string& registration);
