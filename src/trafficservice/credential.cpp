#include "trafficservice/credential.h"

#include <fstream>
#include <system_error>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "frame/errors.h"
#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/text.h"

namespace fs = std::filesystem;

std::string g_rtLicense;
fs::path g_rtLicenseSource;

namespace {

constexpr std::string_view kProgramName = "ZNTV_P3D";

bool lf_exists(const fs::path& path) {
    std::error_code ec;
    const bool found = fs::exists(path, ec);
    if (ec) throw FileSystemError("exists", path, ec);
    return found;
}

bool lf_filledIn(const std::string& text) { return !text.empty() && text != kLicenseTemplateText; }

}  // namespace

fs::path gf_rtServiceLicensePath() {
    const fs::path appData = gf_getAppDataPath();
    if (appData.empty()) return {};
    return appData / g_rtVendorFolderName / g_rtLicenseFile;
}

std::string lf_readRTLicenseFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    try {
        const nlohmann::json file = nlohmann::json::parse(in);
        // Anything but an object makes the library say what it is instead.
        if (!file.is_object()) (void)file.at("License");
        const auto it = file.find("License");
        if (it == file.end() || it->empty()) return "?";
        return it->get<std::string>();
    } catch (const std::exception& e) {
        throw qtm::UserErrorException(901, fmt::format("no license found in {} {}, problem:", path.string(), e.what()));
    }
}

std::string gf_licenseFileNote() {
    const fs::path& file = g_rtLicenseSource.empty() ? g_rtLicenseFile : g_rtLicenseSource;
    return fmt::format("license file \"{}\"", file.string());
}

void gf_findRTLicense() {
    g_rtLicense.clear();
    g_rtLicenseSource.clear();
    const fs::path serviceFile = gf_rtServiceLicensePath();
    const fs::path& localFile = g_rtLicenseFile;
    fs::path use = localFile;
    if (!serviceFile.empty() && lf_exists(serviceFile)) {
        if (lf_exists(localFile)) {
            const std::string serviceText = lf_readRTLicenseFile(serviceFile);
            if (!serviceText.empty()) {
                const std::string localText = lf_readRTLicenseFile(localFile);
                if (lf_filledIn(localText) && localText != serviceText) {
                    gf_logLine(fmt::format("\n{}Two different RT licenses found:", "===> "));
                    gf_logLine(fmt::format("\"{}\" with \"{}\"", serviceFile.string(), serviceText));
                    gf_logLine(fmt::format("\"{}\" with \"{}\"", localFile.string(), localText));
                    gf_logLine("Delete the one that is outdated, probably from the RT app you are no longer using and "
                               "updating?\n");
                    throw qtm::UserErrorException(900, "You have two different RT licenses? One from the RealTraffic "
                                                       "app and one here, see the Log.txt.");
                }
            }
        }
        use = serviceFile;
    }
    if (lf_exists(use)) {
        std::string text = lf_readRTLicenseFile(use);
        if (lf_filledIn(text)) {
            g_rtLicense = std::move(text);
            g_rtLicenseSource = use;
            gf_logLine(fmt::format("Your RealTraffic license was taken from \"{}\"", use.string()));
            return;
        }
        gf_logLine(fmt::format("No valid RT license in your file: \"{}\", license: \"{}\"", use.string(), text));
    }
    throw qtm::UserErrorException(
        899, fmt::format("No RealTraffic license found, note that no license usage of {} has been discontinued ...",
                         kProgramName));
}

void lf_writeLicenseTemplate() {
    const nlohmann::json templ = {{"License", kLicenseTemplateText}, {"Name", "not relevant"}};
    // Written beside the target and renamed over it, so that an interrupted write never leaves half a file.
    std::error_code reason;
    if (!gf_writeFile(templ.dump(), g_rtLicenseFile, false, reason)) {
        gf_logWarning(fmt::format("could not write \"{}\": {}", g_rtLicenseFile.string(), reason.message()));
        return;
    }
    gf_logLine(fmt::format("A RealTraffic license file \"{}\" created to fill in your license", g_rtLicenseFile.string()));
}
