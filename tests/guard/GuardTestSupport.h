// The installation and host that the guard's tests drive requests through, with the settings a case asks for.
#pragma once

#include "host/testing/TestHost.h"
#include "security/CSid.h"
#include "tests/TableFile.h"
#include "tests/settings/SettingsTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

class GuardTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (m_bStarted)
            m_host.TerminateFilter();
        m_installation.StopPointing();
    }

    // "id=value&id=value" ("-": none; a value "-" removes the item), then the module starts.
    void Start(const std::string& csSettings) {
        ASSERT_TRUE(m_installation.CopySampleInstallation());
        std::stringstream items(csSettings == "-" ? std::string() : csSettings);
        for (std::string csItem; std::getline(items, csItem, '&');) {
            const size_t nEquals = csItem.find('=');
            const std::string csValue = csItem.substr(nEquals + 1);
            ASSERT_TRUE(SetInstallationSetting(m_installation, std::stoi(csItem.substr(0, nEquals)),
                                               csValue == "-" ? nullptr : csValue.c_str()));
        }
        m_installation.PointProcessHere();
        ASSERT_EQ(m_host.GetFilterVersion(), TRUE);
        m_bStarted = true;
    }

public:
    static std::vector<BYTE> SidBytes(const char* pszSid) {
        CSid sid;
        EXPECT_EQ(CSid::FromString(pszSid, sid), 0u) << pszSid;
        return sid.GetBytes();
    }
    // CORP\alice, her user SID S-1-5-21-7-8-9-1001 and her group S-1-5-21-7-8-9-513.
    static CIdentityToken Alice() {
        return std::make_shared<const CRequestIdentity>(CRequestIdentity{
            "alice", "CORP", SidBytes("S-1-5-21-7-8-9-1001"), {SidBytes("S-1-5-21-7-8-9-513")}});
    }
    static CHostRequest BaseRequest() {
        CHostRequest request;
        request.ExchangeServer("https://mail.example.com").ServerVariable("HEADER_BK_CSMPREFIX", "abcde/");
        return request.Identity(Alice()).UserAgent("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    }
    static std::string ReadFixture(const std::string& csName) {
        std::ifstream file(std::string(WK_TEST_DATA_DIR) + "/guard/" + csName, std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        return content.str();
    }

protected:
    CTempInstallation m_installation;
    CTestHost m_host;
    bool m_bStarted = false;
};
