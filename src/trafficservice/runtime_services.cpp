#include "trafficservice/runtime_services.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "frame/files.h"
#include "frame/log.h"
#include "frame/paths.h"
#include "frame/text.h"
#include "platform/ui.h"

namespace fs = std::filesystem;

TrafficClient g_trafficClient;
WeatherClient g_weatherClient;
std::atomic<bool> g_rtProfessional{false};
std::atomic<bool> g_readerError{false};
std::atomic<bool> g_collectSeenTraffic{false};
std::atomic<std::int32_t> g_qnh{1013};
std::string g_rtLicense;

std::string TrafficServiceClient::loginGuid() const {
    std::lock_guard lock(m_mutex);
    return m_guid;
}

void TrafficServiceClient::setLoginGuid(std::string guid) {
    std::lock_guard lock(m_mutex);
    m_guid.swap(guid);
}

void TrafficServiceClient::reset() {
    setLoginGuid({});
    toffset = 0;
    stop = false;
}

void TrafficClient::deauthenticate() {
    // No request goes to the service yet; a login that never happened needs no logout.
    if (!loggedIn()) return;
    setLoginGuid({});
    g_rtConnected = false;
    ui::backend().invalidate(kUpperBand);
}

void TrafficClient::resetQueryState() {
    g_qnh = 1013;
    g_collectSeenTraffic = false;
    latestRecordTime = 0.0;
    lastBatchSize = 0;
}

void TrafficClient::reset() {
    TrafficServiceClient::reset();
    resetQueryState();
}

void gf_findRTLicense() {
    // The local copy is what the version housekeeping made sure of; its content is the service's business.
    if (const auto text = gf_readFile(g_rtLicenseFile)) g_rtLicense = *text;
}

void lf_writeLicenseTemplate() {
    const nlohmann::json tmpl = {{"License", "fill in your license here"}, {"Name", "not relevant"}};
    gf_writeFile(tmpl.dump(), g_rtLicenseFile, false);
    gf_logLine(fmt::format("A RealTraffic license file \"{}\" created to fill in your license",
                           g_rtLicenseFile.string()));
}

void gf_setTrafficBox() {}

void gf_authenticateOrThrow() {
    // Without a service client there is no login id to hand over; the start-up goes on as after a refused
    // login of an unknown kind.
    g_trafficClient.setLoginGuid(g_weatherClient.loginGuid());
}

namespace {

void lf_waitForStop(const std::stop_token& stop, const TrafficServiceClient& client) {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    while (!stop.stop_requested() && !client.stop.load()) {
        cv.wait_for(lock, stop, std::chrono::milliseconds(20), [] { return false; });
    }
}

}  // namespace

void gf_weatherReader(std::stop_token stop) {
    lf_waitForStop(stop, g_weatherClient);
    g_mainWindow.g_weatherIndicator = kReaderStopped;
    ui::backend().invalidate(kUpperBand);
}

void gf_trafficReader(std::stop_token stop) {
    lf_waitForStop(stop, g_trafficClient);
    g_mainWindow.g_trafficIndicator = kReaderStopped;
    ui::backend().invalidate(kUpperBand);
}

void gf_refreshConnectionIndicators() {
    if (!g_rtConnected.load()) return;
}
