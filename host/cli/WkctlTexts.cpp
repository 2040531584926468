#include "host/cli/WkctlTexts.h"

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
const UINT g_anTextIds[] = {102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 114, 115, 116};

std::string Utf8(const std::u16string& wsText) {
    std::string csText;
    DWORD dwError = 0;
    if (!CPlatform::CodePages().WideToMultiByte(CP_UTF8_CODE_PAGE, wsText, csText, dwError))
        csText = "(cannot be shown: error " + std::to_string(dwError) + ")";
    return csText;
}

} // namespace

int RunWkctlTexts(const CWkctlOptions& options, std::ostream& out, std::ostream& err) {
    // The directory's culture wins over the browser, as for a request; its commas separate items.
    std::string csList = options.m_bCulture ? options.m_csCulture : options.m_csAcceptLanguage;
    if (options.m_bCulture)
        std::replace(csList.begin(), csList.end(), ',', ';');
    const char* pszSource = options.m_bCulture          ? "the user's culture"
                            : options.m_bAcceptLanguage ? "Accept-Language"
                                                        : "default";
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
