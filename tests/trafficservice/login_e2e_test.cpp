// Login and logout against the stand-in: the form body, what the reply sets, the refusals that stop the
// start-up, and a logout that works while everything else is told to stop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>

#include "frame/display.h"
#include "frame/errors.h"
#include "frame/log.h"
#include "standin_service_env.h"

using namespace service_test;
using standin::ServiceFault;
using standin::ServiceFaultKind;

namespace {

class Login : public StandinServiceEnv {
protected:
    void fault(const std::string& target, ServiceFault f, int times = 1) { live().addFault(target, f, times); }
    static ServiceFault status(int s) { return {ServiceFaultKind::Status, s}; }
    static std::int64_t daysFromNow(double days) { return static_cast<std::int64_t>(std::time(nullptr) + days * 86400); }
};

}  // namespace

TEST_F(Login, TheLoginSendsTheCredentialAndSoftwareAndTakesTheReply) {
    live().setExpiry(daysFromNow(119.5));
    live().setPace(20, 35);
    login();
    const auto auth = requestsTo("auth");
    ASSERT_EQ(auth.size(), 1u);
    EXPECT_EQ(auth[0].body, "license=LIC-1&software=ZNTV_P3D_10.10.4");

    EXPECT_FALSE(g_weatherClient.loginGuid().empty());
    EXPECT_EQ(g_trafficClient.loginGuid(), g_weatherClient.loginGuid());
    EXPECT_EQ(g_weatherClient.wrrl.load(), 35);
    EXPECT_TRUE(g_rtConnected.load());
    EXPECT_FALSE(g_rtProfessional.load());
    EXPECT_EQ(gf_displayText(&MainWindow::serviceStatusText), "RT standard license, 119 days left");
    EXPECT_TRUE(logHas("Authenticated at RT server \"rt-standin-1\""));
    EXPECT_FALSE(logContains("expire soon"));
}

TEST_F(Login, ACredentialWithFormCharactersArrivesUnchanged) {
    g_rtLicense = "a+b&c=d e%";
    login();
    const auto auth = requestsTo("auth");
    ASSERT_EQ(auth.size(), 1u);
    EXPECT_EQ(auth[0].body, "license=a%2Bb%26c%3Dd%20e%25&software=ZNTV_P3D_10.10.4");
    EXPECT_EQ(auth[0].form.at("license"), "a+b&c=d e%");
    EXPECT_EQ(auth[0].form.at("software"), "ZNTV_P3D_10.10.4");
}

TEST_F(Login, AProfessionalLicenceAndItsExpiry) {
    live().setLicenseType(2);
    live().setExpiry(daysFromNow(2.9));
    login();
    EXPECT_TRUE(g_rtProfessional.load());
    EXPECT_EQ(gf_displayText(&MainWindow::serviceStatusText), "RT professional license, 2 days left");
    EXPECT_TRUE(logHas("Warning: Your RT license will expire soon"));
}

TEST_F(Login, AnExpiredLicenceCountsItsDaysBackwards) {
    live().setExpiry(daysFromNow(-1.5));
    login();
    EXPECT_EQ(gf_displayText(&MainWindow::serviceStatusText), "RT standard license, -1 day left");
    EXPECT_TRUE(logHas("Warning: Your RT license will expire soon"));
}

TEST_F(Login, AnExpiryNoCalendarHoldsIsNoFault) {
    live().setExpiry(std::numeric_limits<std::int64_t>::max());
    login();
    EXPECT_THAT(gf_displayText(&MainWindow::serviceStatusText), ::testing::StartsWith("RT standard license, "));
    EXPECT_FALSE(logContains("expire soon"));
}

TEST_F(Login, RefusedLicencesStopTheStartUpWithTheirUserError) {
    const std::vector<std::pair<int, std::string>> refusals{
        {402, "Your RT license is expired"},
        {404, "RT did not recognize your license"},
        {405, "More than one RealTraffic session is not possible, do not run the RealTraffic app"}};
    // What reaches the status line, in order: the refusal is never a message before it is an error.
    static std::vector<std::string> shown;
    gf_setStatusLineHooks({[](std::string_view text, bool log) {
                               shown.push_back("message " + std::string(text));
                               if (log) gf_logLine(text);
                           },
                           [](std::string_view text) { shown.push_back("error " + std::string(text)); }, nullptr,
                           nullptr});
    const struct Restore {
        ~Restore() { gf_setStatusLineHooks({}); }
    } restore;
    for (const auto& [code, text] : refusals) {
        fault("auth", status(code));
        shown.clear();
        try {
            gf_authenticateOrThrow();
            ADD_FAILURE() << code;
        } catch (const qtm::UserErrorException& e) {
            // A licence turned away names the file it came from; a second session is no fault of the file.
            const std::string said = e.what();
            EXPECT_EQ(said.rfind(std::to_string(code) + ": " + text, 0), 0u) << said;
            EXPECT_EQ(said.find(" (license file \"") != std::string::npos, code != 405) << said;
            EXPECT_EQ(shown, std::vector<std::string>{"error " + said});
        }
        EXPECT_TRUE(logHas(text));
        EXPECT_FALSE(g_trafficClient.loggedIn());
        EXPECT_FALSE(g_rtConnected.load());
    }
    fault("auth", status(500));
    EXPECT_THROW(
        {
            try {
                gf_authenticateOrThrow();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "No RT database connection");
                throw;
            }
        },
        std::runtime_error);
}

TEST_F(Login, OnlyAnAcceptedLoginLogsIn) {
    // Refusals without a message of their own leave the program without a login; the readers then end.
    for (const int code : {401, 403, 400}) {
        fault("auth", status(code));
        gf_authenticateOrThrow();
        EXPECT_FALSE(g_weatherClient.loggedIn()) << code;
        EXPECT_FALSE(g_trafficClient.loggedIn()) << code;
        EXPECT_FALSE(g_rtConnected.load()) << code;
        EXPECT_TRUE(logHas("===> RT login refused, status: " + std::to_string(code)));
    }
    // A reply without a status is a login when it brings the login id.
    fault("auth", {ServiceFaultKind::NoStatus});
    gf_authenticateOrThrow();
    EXPECT_TRUE(g_trafficClient.loggedIn());
    EXPECT_TRUE(g_rtConnected.load());
}

TEST_F(Login, ABrokenOrLostReplyIsNoLogin) {
    fault("auth", {ServiceFaultKind::BrokenJson});
    gf_authenticateOrThrow();
    EXPECT_FALSE(g_trafficClient.loggedIn());
    EXPECT_TRUE(logContains("===> authenticate: [json.exception.parse_error"));

    fault("auth", {ServiceFaultKind::Drop});
    gf_authenticateOrThrow();
    EXPECT_FALSE(g_trafficClient.loggedIn());
    EXPECT_TRUE(logContains(" Authentication code: "));
}

TEST_F(Login, TheLogoutWorksWhileEverythingElseIsToldToStop) {
    login();
    const std::string guid = g_trafficClient.loginGuid();
    // As the exit sequence has it when it logs out.
    g_quitRequested = true;
    g_weatherClient.stop = true;
    g_trafficClient.stop = true;
    g_trafficClient.deauthenticate();
    const auto deauth = requestsTo("deauth");
    ASSERT_EQ(deauth.size(), 1u);
    EXPECT_EQ(deauth[0].body, "GUID=" + guid);
    EXPECT_FALSE(g_rtConnected.load());
    EXPECT_FALSE(g_trafficClient.loggedIn());
    EXPECT_TRUE(logHas("Deauthenticated RT server \"rt-standin-1\""));
    EXPECT_TRUE(live().activeSessions().empty());
}

TEST_F(Login, AFailedLogoutKeepsTheLogin) {
    login();
    fault("deauth", status(500));
    g_trafficClient.deauthenticate();
    EXPECT_TRUE(logHas("===> Deauthentication failed, status: 500"));
    EXPECT_TRUE(g_trafficClient.loggedIn());
    EXPECT_TRUE(g_rtConnected.load());

    fault("deauth", {ServiceFaultKind::Drop});
    g_trafficClient.deauthenticate();
    EXPECT_TRUE(logContains(" Deauthentication code: "));
    EXPECT_TRUE(g_trafficClient.loggedIn());
}
