// Editing the settings of a test installation.
#pragma once

#include "filter/EntryPoints.h"
#include "host/testing/TestHost.h"
#include "platform/ModuleNames.h"
#include "settings/CWKGeneralSettings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

// Sets the value of a setting of the general section of the installation's SWSettings.xml; null removes the
// item. False when the item is not there.
inline bool SetInstallationSetting(const CTempInstallation& installation, int nId, const char* pszValue) {
    const std::string csFile = installation.SettingsDir() + "/SWSettings.xml";
    std::stringstream content;
    content << std::ifstream(csFile, std::ios::binary).rdbuf();
    std::string csXml = content.str();
    // The store reads an item's attributes in their order (ID, DESCR, VALUE): only the value is replaced.
    std::smatch match;
    if (!std::regex_search(csXml, match,
                           std::regex("(<ITEM ID=\"" + std::to_string(nId) + "\"[^>]*VALUE=\")[^\"]*(\"/>)")))
        return false;
    std::string csReplacement;
    if (pszValue)
        csReplacement = match[1].str() + pszValue + match[2].str();
    csXml = match.prefix().str() + csReplacement + match.suffix().str();
    std::ofstream(csFile, std::ios::trunc | std::ios::binary) << csXml;
    return true;
}

// The product's settings over the installation the process points at.
inline DWORD InitProductSettings(CWKGeneralSettings& settings) {
    return settings.Init(WK_PRODUCT_NAME, WK_MODULE_FILE_NAME, WK_RESOURCE_MODULE_NAME, WK_REGISTRY_KEY, 1);
}

// A copy of the sample installation that the process points at, with a log capture that sees the lines the
// settings write, and settings that are terminated with the test.
class CInstallationTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_installation.CopySampleInstallation());
        // Level 10 switches the log on and keeps the writer in place, so that the capture sees the lines
        // written after the settings configured the log.
        ASSERT_TRUE(SetInstallationSetting(m_installation, 14, "10"));
        m_installation.PointProcessHere();
    }
    void TearDown() override {
        m_settings.Terminate();
        m_installation.StopPointing();
    }
    void SetSetting(int nId, const char* pszValue) {
        ASSERT_TRUE(SetInstallationSetting(m_installation, nId, pszValue));
    }

    CLogCapture m_log;
    CTempInstallation m_installation;
    CWKGeneralSettings m_settings;
};
