// The service credential: which of the two files counts, what a file must hold, and the template.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "frame/errors.h"
#include "service_test_env.h"

namespace fs = std::filesystem;
using namespace service_test;
using testing_support::readWholeFile;
using testing_support::writeWholeFile;

namespace {

class Credential : public ServiceEnv {
protected:
    fs::path serviceFile() const { return m_config / "InsideSystems" / "RealTraffic.lic"; }
    fs::path localFile() const { return m_program / "RealTraffic.lic"; }
    void writeService(const std::string& text) {
        fs::create_directories(serviceFile().parent_path());
        writeWholeFile(serviceFile(), text);
    }
    void writeLocal(const std::string& text) { writeWholeFile(localFile(), text); }

    // The code and text of the user error gf_findRTLicense throws; 0 when it throws none.
    std::pair<int, std::string> find() {
        try {
            gf_findRTLicense();
        } catch (const qtm::UserErrorException& e) {
            const std::string text = e.what();
            return {std::stoi(text.substr(0, text.find(':'))), text};
        }
        return {0, ""};
    }
};

const std::string kTemplate = R"({"License":"fill in your license here","Name":"not relevant"})";
const std::string k899 =
    "899: No RealTraffic license found, note that no license usage of ZNTV_P3D has been discontinued ...";

}  // namespace

TEST_F(Credential, TheServiceApplicationsFileComesFirst) {
    writeService(R"({"License":"SVC-1","Name":"x"})");
    EXPECT_EQ(find().first, 0);
    EXPECT_EQ(g_rtLicense, "SVC-1");
    EXPECT_TRUE(logHas("Your RealTraffic license was taken from \"" + serviceFile().string() + "\""));

    writeLocal(R"({"License":"SVC-1"})");  // the same text: no clash
    EXPECT_EQ(find().first, 0);
    writeLocal(kTemplate);  // a template here: no clash
    EXPECT_EQ(find().first, 0);
    EXPECT_EQ(g_rtLicense, "SVC-1");
}

TEST_F(Credential, OurOwnCopyServesWhenTheApplicationHasNone) {
    writeLocal(R"({"License":"LOCAL-7"})");
    EXPECT_EQ(find().first, 0);
    EXPECT_EQ(g_rtLicense, "LOCAL-7");
    EXPECT_TRUE(logHas("Your RealTraffic license was taken from \"RealTraffic.lic\""));
}

TEST_F(Credential, TwoDifferentCredentialsAreTheUsersToSettle) {
    writeService(R"({"License":"SVC-1"})");
    writeLocal(R"({"License":"OLD-0"})");
    const auto [code, text] = find();
    EXPECT_EQ(code, 900);
    EXPECT_EQ(text, "900: You have two different RT licenses? One from the RealTraffic app and one here, see the Log.txt.");
    EXPECT_TRUE(g_rtLicense.empty());
    EXPECT_TRUE(logHas("===> Two different RT licenses found:"));
    EXPECT_TRUE(logHas("\"" + serviceFile().string() + "\" with \"SVC-1\""));
    EXPECT_TRUE(logHas("\"RealTraffic.lic\" with \"OLD-0\""));
    EXPECT_TRUE(logHas("Delete the one that is outdated, probably from the RT app you are no longer using and updating?"));
}

TEST_F(Credential, AnEmptyOrTemplateCredentialIsNone) {
    EXPECT_EQ(find(), std::make_pair(899, k899));  // no file at all

    writeLocal(kTemplate);
    EXPECT_EQ(find().first, 899);
    EXPECT_TRUE(logHas("No valid RT license in your file: \"RealTraffic.lic\", license: \"fill in your license here\""));

    // An empty text in the application's file is not compared with ours, and is no credential.
    writeService(R"({"License":""})");
    writeLocal(R"({"License":"LOCAL-7"})");
    EXPECT_EQ(find().first, 899);
    EXPECT_TRUE(g_rtLicense.empty());
}

TEST_F(Credential, WhatAFileMustHold) {
    writeLocal(R"({"Name":"x"})");  // no credential in it: "?" goes to the service as it is
    EXPECT_EQ(find().first, 0);
    EXPECT_EQ(g_rtLicense, "?");
    fs::remove(localFile());
    for (const char* content : {R"({"License":null})", R"({"License":[]})", R"({"License":{}})"}) {
        EXPECT_EQ(lf_readRTLicenseFile("RealTraffic.lic"), "") << "no file";
        writeLocal(content);
        EXPECT_EQ(lf_readRTLicenseFile("RealTraffic.lic"), "?") << content;
        fs::remove(localFile());
    }
    for (const char* content : {R"({"License":12345})", R"({"License":true})", R"({"License":["a"]})",
                                R"(["License"])", "not json"}) {
        writeLocal(content);
        try {
            lf_readRTLicenseFile("RealTraffic.lic");
            ADD_FAILURE() << content;
        } catch (const qtm::UserErrorException& e) {
            EXPECT_THAT(e.what(), ::testing::StartsWith("901: no license found in RealTraffic.lic [json.exception."))
                << content;
            EXPECT_THAT(e.what(), ::testing::EndsWith(", problem:"));
        }
    }
}

TEST_F(Credential, ATemplateThatCannotBeWrittenIsNotSaidToBeCreated) {
    fs::create_directory(localFile());  // a folder where the file belongs: nothing can be renamed over it
    lf_writeLicenseTemplate();
    EXPECT_TRUE(logHas("===> could not write \"RealTraffic.lic\": Is a directory"));
    EXPECT_FALSE(logContains("created to fill in your license"));
}

TEST_F(Credential, TheTemplateIsCompactAndLogged) {
    writeLocal("something longer than the template that was here before, to be replaced whole");
    lf_writeLicenseTemplate();
    EXPECT_EQ(readWholeFile(localFile()), kTemplate);
    EXPECT_TRUE(logHas("A RealTraffic license file \"RealTraffic.lic\" created to fill in your license"));
    EXPECT_EQ(find().first, 899);
}
