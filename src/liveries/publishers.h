// The publisher of an add-on scenery file, told from nothing but its file name or path, and the two text
// helpers that the database reader and the livery scan share.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// "simaddon" for an ORBX file; else the first name of the first publisher group (g_publisherGroups) one of
// whose names occurs in the text, exactly or regardless of case; else "unknown".
std::string gf_publisherFromFilename(std::string_view fileName);
// Whether `text` matches ".*" + name + ".*" as a case-insensitive ECMAScript expression: the name is found
// anywhere regardless of case, and its special characters keep their meaning (a "." stands for any
// character). Never throws: an invalid expression gives false.
bool gf_containsLike(std::string_view text, std::string_view name);
// The pieces between the "," separators, untrimmed; cut as std::getline cuts (no piece for an empty text,
// none after a final ",").
std::vector<std::string> gf_splitByComma(std::string_view text);
