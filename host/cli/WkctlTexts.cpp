#include "host/cli/WkctlTexts.h"

#include "directory/CADUserConfig.h"
#include "host/cli/WkctlOptions.h"
#include "i18n/CLanguageDetection.h"
#include "i18n/CResource.h"
#include "platform/CPlatform.h"
#include "platform/ModuleNames.h"
#include "platform/SystemMessage.h"

#include <algorithm>
#include <cstdio>

namespace {

// The texts the module asks for: the warning dialog, the base page and the guard script.
const char* const USER_CULTURE_ATTRIBUTE_NAME = "msExchUserCulture";
const UINT g_anTextIds[] = {102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 114, 115, 116};

std::string Utf8(const std::u16string& wsText) {
    std::string csText;
    DWORD dwError = 0;
    if (!CPlatform::CodePages().WideToMultiByte(CP_UTF8_CODE_PAGE, wsText, csText, dwError))
        csText = "(cannot be shown: error " + std::to_string(dwError) + ")";
    return csText;
}

// The user's culture as a request would find it in the directory; false (with the reason) when there is none.
bool ReadDirectoryCulture(const std::string& csUser, std::string& csCulture, std::string& csWhy) {
    // The account part, as the module reduces a request's user.
    std::string csAccount = csUser.substr(csUser.find('\\') + 1);
    csAccount = csAccount.substr(0, csAccount.find('@'));
    if (csAccount.empty()) {
        csWhy = "not a user name";
        return false;
    }
    CADUserConfig userConfig;
    userConfig.SetIdentity(csAccount, AD_IDENTITY_ACCOUNT_NAME);
    const HRESULT hr = userConfig.ReadProperty(USER_CULTURE_ATTRIBUTE_NAME, csCulture);
    char szHr[16];
    std::snprintf(szHr, sizeof(szHr), "0x%08X", static_cast<unsigned>(hr));
    csWhy = hr == E_FAIL ? "no culture in the directory" : std::string("the directory failed with ") + szHr;
    return SUCCEEDED(hr);
}

} // namespace

const char* LanguageSourceFromLog(const std::vector<std::string>& vLines) {
    const char* pszSource = nullptr;
    for (const std::string& csLine : vLines) {
        if (csLine.find("[CSWGeneralSettings::DetectUserLanguage] Languages from the directory:") !=
            std::string::npos)
            pszSource = "the directory (msExchUserCulture)";
        else if (csLine.find(
                     "[CSWGeneralSettings::DetectUserLanguage] failed and goes with Browser language") !=
                 std::string::npos)
            pszSource = "Accept-Language";
        if (pszSource && csLine.find("not supported. Set english as default") != std::string::npos)
            pszSource = "default (English)";
    }
    return pszSource;
}

int RunWkctlTexts(const CWkctlOptions& options, std::ostream& out, std::ostream& err) {
    // The directory's culture wins over the browser, as for a request; its commas separate items.
    std::string csCulture = options.m_csCulture;
    std::string csWhy;
    const bool bDirectory = !options.m_bCulture && !options.m_csUser.empty() &&
                            ReadDirectoryCulture(options.m_csUser, csCulture, csWhy);
    const bool bCulture = options.m_bCulture || bDirectory;
    std::string csList = bCulture ? csCulture : options.m_csAcceptLanguage;
    if (bCulture)
        std::replace(csList.begin(), csList.end(), ',', ';');
    const std::string csDirectorySource = "the directory (msExchUserCulture of " + options.m_csUser + ")";
    const char* pszSource = options.m_bCulture          ? "the user's culture"
                            : bDirectory                ? csDirectorySource.c_str()
                            : options.m_bAcceptLanguage ? "Accept-Language"
                                                        : "default";
    if (!csWhy.empty() && !bDirectory)
        out << "Directory: " << options.m_csUser << ": " << csWhy << '\n';
    CResource resource;
    const std::string csPath = options.m_csInstall + "/Wendrake/Resource/" + WK_RESOURCE_MODULE_NAME;
    if (!resource.LoadModule(csPath)) {
        std::string csReason = SystemMessageOrFallback(resource.GetLoadError());
        while (!csReason.empty() && (csReason.back() == '\n' || csReason.back() == '\r'))
            csReason.pop_back();
        err << "wkctl: cannot load the resource module '" << csPath << "': " << csReason << " (error "
            << resource.GetLoadError() << ")\n";
        return WKCTL_EXIT_MODULE_FAILED;
    }

    CLanguageDetection languages;
    languages.InitCultureTable();
    std::string csLanguage;
    LANGID wCulture = 0;
    LANGID wLangId = LANGID_RESOURCE_ENGLISH;
    bool bSupported = languages.DetectLanguage(csList, csLanguage, wCulture) &&
                      resource.DetectLanguage(csLanguage, wLangId);
    if (!bSupported) {
        csLanguage = "en";
        wLangId = LANGID_RESOURCE_ENGLISH;
    }
    char szLangId[16];
    std::snprintf(szLangId, sizeof(szLangId), "0x%04X", static_cast<unsigned>(wLangId));
    out << "Resource module: " << csPath << '\n'
        << "Languages from " << pszSource << ": \"" << csList << "\"\n"
        << "Language: " << csLanguage << ", LANGID " << wLangId << " (" << szLangId << ")"
        << (bSupported ? "" : ", English: no supported language in the list") << '\n';
    for (UINT nId : g_anTextIds) {
        std::u16string wsText;
        const char* pszNote = "";
        if (!resource.LoadString(nId, wsText, wLangId)) {
            pszNote = resource.LoadString(nId, wsText, LANGID_RESOURCE_ENGLISH) ? "  [English fallback]"
                                                                                : "  [missing]";
        }
        out << nId << ": " << Utf8(wsText) << pszNote << '\n';
    }
    return WKCTL_EXIT_COMPLETED;
}
