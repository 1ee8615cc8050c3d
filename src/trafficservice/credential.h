// The user's service credential: the small JSON file "RealTraffic.lic" that the service's own desktop
// application keeps in its application-data folder, and our own copy of it in the program folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The credential found by gf_findRTLicense; empty until then. Written once at start-up, before any reader
// runs, and read by the login.
extern std::string g_rtLicense;
// The file it was taken from, as the log names it; empty until then.
extern std::filesystem::path g_rtLicenseSource;
// What a refused licence tells the user: the file it came from, as `license file "<path>"`.
std::string gf_licenseFileNote();

// The text a template credential file holds until the user fills in the real one.
inline constexpr std::string_view kLicenseTemplateText = "fill in your license here";

// The service application's file: <roaming application data>/InsideSystems/RealTraffic.lic; empty when
// the application-data folder cannot be found.
std::filesystem::path gf_rtServiceLicensePath();

// The credential text of one file: empty when the file cannot be opened, "?" when it holds no usable
// "License" value. Throws qtm::UserErrorException 901 for a file that is no JSON object or whose "License"
// is of another kind than text.
std::string lf_readRTLicenseFile(const std::filesystem::path& path);

// Sets g_rtLicense from the service application's file, else from our own copy. Throws
// qtm::UserErrorException 899 when neither holds a filled-in credential and 900 when the two disagree.
void gf_findRTLicense();

// Writes the template credential file into the program folder.
void lf_writeLicenseTemplate();
