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
// The airline, type and operator of the registration's record; empty when there is none (or no registration).
std::string gf_regcodeField1(const std::string& registration);
std::string gf_regcodeField2(const std::string& registration);
std::string gf_regcodeField3(const std::string& registration);

// The registration fragment of a private aircraft found in a text: of the table's keys shorter than 5
// characters whose record's airline is "PVT", the first in the table's own order that occurs in the text;
// empty when none does. Answered from the fragments collected by gf_collectPrivateOperators.
std::string gf_findPrivateOperator(const std::string& text);
// Collects those fragments with their place in the table's order. The database reader calls it once the table
// is complete; whoever fills the table otherwise calls it afterwards.
void gf_collectPrivateOperators();

bool gf_containsChar(const std::string& text, char c);
