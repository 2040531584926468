// Choosing the user's language: the prefix and culture tables, the directory-then-browser order, and what
// any Accept-Language does to them.
#include "filter/EntryPoints.h"
#include "host/testing/TestHost.h"
#include "settings/CWKGeneralSettings.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

namespace {

TEST(DetectLanguage, ChoosesTheFirstItemThatStartsWithAKnownPrefix) {
    CLanguageDetection languages;
    languages.InitCultureTable();
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/accept-language.txt")) {
        std::string csLanguage = "unset";
        LANGID wCulture = 0xFFFF;
        EXPECT_EQ(languages.DetectLanguage(row.at(0), csLanguage, wCulture), row.at(1) == "1") << row.at(0);
        EXPECT_EQ(csLanguage, row.at(2)) << row.at(0);
        EXPECT_EQ(wCulture, tabletest::Number(row.at(3))) << row.at(0);
    }
}

TEST(CultureTable, HoldsEveryCultureOnceAndIgnoresCase) {
    CLanguageDetection languages;
    languages.InitCultureTable();
    languages.InitCultureTable();
    EXPECT_EQ(languages.GetCultureCount(), 145u);
    EXPECT_EQ(languages.GetCultureLangId("EN-CA"), 0x1009);
    EXPECT_EQ(languages.GetCultureLangId("es-C"), 0x340A);
    EXPECT_EQ(languages.GetCultureLangId("zu"), 0x0435);
    EXPECT_EQ(languages.GetCultureLangId("en-"), 0);
    EXPECT_EQ(languages.GetCultureLangId(""), 0);
}

TEST(DetectLanguageBadInput, AnyLengthOrContentGivesADefinedAnswer) {
    CLanguageDetection languages;
    languages.InitCultureTable();
    std::mt19937 random(7);
    const std::string csAlphabet = std::string("enfrdezh-,;=q.0 \t\r\n\x01\xff") + std::string(1, '\0');
    for (size_t nLength : {1u, 2u, 7u, 64u, 4096u, 1u << 20}) {
        std::string csList(nLength, ' ');
        for (char& ch : csList)
            ch = csAlphabet[random() % csAlphabet.size()];
        std::string csLanguage;
        LANGID wCulture = 0;
        bool bFound = languages.DetectLanguage(csList, csLanguage, wCulture);
        EXPECT_FALSE(csLanguage.empty());
        if (!bFound) {
            EXPECT_EQ(csLanguage, "en") << nLength;
        }
    }
}

// A directory that answers with a fixed culture, fails, or throws.
class CFakeDirectory : public IUserPropertyLookup {
public:
    HRESULT m_hr = S_OK;
    std::string m_csCulture;
    bool m_bThrow = false;
    std::vector<std::string> m_vAsked;
    HRESULT GetADProperty(const std::string& csUser, const std::string&, const std::string& csAttribute,
                          std::string& csValue, const std::string&, const std::string&) override {
        m_vAsked.push_back(csUser + "/" + csAttribute);
        if (m_bThrow)
            throw std::runtime_error("directory down");
        if (SUCCEEDED(m_hr))
            csValue = m_csCulture;
        return m_hr;
    }
};

TEST(DetectUserLanguage, PrefersTheDirectoryThenTheBrowserThenEnglish) {
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/user-languages.txt")) {
        SCOPED_TRACE(row.at(0));
        CLogCapture log;
        CWKGeneralSettings settings;
        CFakeDirectory directory;
        const std::string& csDirectory = row.at(1);
        directory.m_csCulture = row.at(2);
        directory.m_hr = csDirectory == "2" ? E_FAIL : S_OK;
        directory.m_bThrow = csDirectory == "3";
        if (csDirectory != "0")
            settings.SetUserPropertyLookup(&directory);
        std::string csLanguage;
        LANGID wLangId = 0;
        EXPECT_TRUE(settings.DetectUserLanguage("DOM\\jsmith", "", row.at(3), csLanguage, wLangId));
        EXPECT_EQ(csLanguage, row.at(4));
        EXPECT_EQ(wLangId, tabletest::Number(row.at(5)));
        EXPECT_EQ(
            log.Contains("[CSWGeneralSettings::DetectUserLanguage] failed and goes with Browser language"),
            row.at(6) == "1");
        // The list named is the one tried: the directory's when it answered.
        EXPECT_EQ(log.Contains("[CSWGeneralSettings::DetectUserLanguage] Languages: " +
                               row.at(csDirectory == "1" ? 2 : 3) + " not supported. Set english as default"),
                  row.at(7) == "1");
        EXPECT_TRUE(log.Contains("CSWGeneralSettings User: DOM\\jsmith langid: " + std::to_string(wLangId) +
                                 ", language: " + row.at(4)));
        EXPECT_EQ(directory.m_vAsked, csDirectory == "0"
                                          ? std::vector<std::string>{}
                                          : std::vector<std::string>{"DOM\\jsmith/msExchUserCulture"});
    }
}

TEST(ExtractUserName, KeepsTheAccountPart) {
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/user-names.txt")) {
        CLogCapture log;
        std::string csUser = tabletest::Bytes(row.at(0));
        EXPECT_EQ(CGeneralSettings::ExtractUserName(csUser), row.at(1) == "1") << row.at(0);
        EXPECT_EQ(csUser, tabletest::Bytes(row.at(2)));
        if (row.at(1) == "0") {
            EXPECT_TRUE(log.Contains(
                csUser.empty()
                    ? "[CGeneralSettings::ExtractUserName] Username is empty."
                    : "CGeneralSettings::ExtractUserName got an invalid Username format " + csUser + " "));
        }
    }
}

} // namespace
