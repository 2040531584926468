#include "host/cli/WkctlTexts.h"

#include "host/cli/WkctlOptions.h"
#include "i18n/CLanguageDetection.h"
#include "i18n/CResource.h"
#include "platform/CPlatform.h"
#include "platform/ModuleNames.h"

#include <algorithm>
#include <cstdio>

namespace {

// The texts the module asks for: the warning dialog, the base page and the guard script.
const UINT g_anTextIds[] = {102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 114, 115, 116};

struct CTextsOptions {
    std::string m_csInstall;
    std::string m_csList;
    std::string m_csSource = "default";
    bool m_bHelp = false;
};

bool ParseTextsArguments(const std::vector<std::string>& vArgs, CTextsOptions& options,
                         std::string& csError) {
    bool bAcceptLanguage = false;
    bool bCulture = false;
    for (size_t i = 0; i < vArgs.size(); ++i) {
        std::string csName = vArgs[i];
        std::string csValue;
        size_t nEquals = csName.find('=');
        if (csName == "-h" || csName == "--help") {
            options.m_bHelp = true;
            continue;
        }
        if (nEquals != std::string::npos) {
            csValue = csName.substr(nEquals + 1);
            csName.erase(nEquals);
        } else if (csName == "--install" || csName == "--accept-language" || csName == "--culture") {
            if (i + 1 >= vArgs.size()) {
                csError = "option " + csName + " needs a value";
                return false;
            }
            csValue = vArgs[++i];
        }
        if (csName == "--install") {
            options.m_csInstall = csValue;
        } else if (csName == "--accept-language") {
            bAcceptLanguage = true;
            if (!bCulture) {
                options.m_csList = csValue;
                options.m_csSource = "Accept-Language";
            }
        } else if (csName == "--culture") {
            // The directory's culture wins over the browser, as for a request; its commas separate items.
            bCulture = true;
            options.m_csList = csValue;
            std::replace(options.m_csList.begin(), options.m_csList.end(), ',', ';');
            options.m_csSource = "the user's culture";
        } else {
            csError = "unknown option '" + csName + "' for texts";
            return false;
        }
    }
    if (!options.m_bHelp && options.m_csInstall.empty()) {
        csError = "texts needs --install DIR";
        return false;
    }
    (void)bAcceptLanguage;
    return true;
}

std::string Utf8(const std::u16string& wsText) {
    std::string csText;
    DWORD dwError = 0;
    if (!CPlatform::CodePages().WideToMultiByte(CP_UTF8_CODE_PAGE, wsText, csText, dwError))
        csText = "(cannot be shown: error " + std::to_string(dwError) + ")";
    return csText;
}

} // namespace

int RunWkctlTexts(const std::vector<std::string>& vArgs, std::ostream& out, std::ostream& err) {
    CTextsOptions options;
    std::string csError;
    if (!ParseTextsArguments(vArgs, options, csError)) {
        err << "wkctl: " << csError << "\nTry 'wkctl --help'.\n";
        return WKCTL_EXIT_USAGE;
    }
    if (options.m_bHelp) {
        out << WkctlUsage();
        return WKCTL_EXIT_COMPLETED;
    }
    CResource resource;
    const std::string csPath = options.m_csInstall + "/Wendrake/Resource/" + WK_RESOURCE_MODULE_NAME;
    if (!resource.LoadModule(csPath)) {
        err << "wkctl: cannot load the resource module '" << csPath << "'\n";
        return WKCTL_EXIT_MODULE_FAILED;
    }

    CLanguageDetection languages;
    languages.InitCultureTable();
    std::string csLanguage;
    LANGID wCulture = 0;
    LANGID wLangId = LANGID_RESOURCE_ENGLISH;
    bool bSupported = languages.DetectLanguage(options.m_csList, csLanguage, wCulture) &&
                      resource.DetectLanguage(csLanguage, wLangId);
    if (!bSupported) {
        csLanguage = "en";
        wLangId = LANGID_RESOURCE_ENGLISH;
    }
    char szLangId[16];
    std::snprintf(szLangId, sizeof(szLangId), "0x%04X", static_cast<unsigned>(wLangId));
    out << "Resource module: " << csPath << '\n'
        << "Languages from " << options.m_csSource << ": \"" << options.m_csList << "\"\n"
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
