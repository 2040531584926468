// What the two guard forms share: the user's language, the page's charset, the texts of the dialog in both,
// the webmail build and theme the dialog's images come from, and the edits themselves.
#include "guard/CWKForm.h"

#include "guard/CSWFormContext.h"
#include "guard/GuardDialogs.h"
#include "html/CBufferInstruction.h"
#include "i18n/CPageCharSet.h"
#include "log/Log.h"
#include "request/CBaseNotifications.h"
#include "request/CWKSWContext.h"
#include "request/SettingsSingleton.h"
#include "security/CSecurityAccess.h"
#include "settings/CWKGeneralSettings.h"
#include "text/CSWFormScriptPath.h"
#include "text/CTextKeyedCache.h"
#include "text/CaselessString.h"

namespace {

constexpr size_t MAX_FORMATTED_BYTES = 511;
constexpr LANGID PRIMARY_LANGUAGE_MASK = 0x3FF;
constexpr LANGID LANG_ENGLISH_PRIMARY = 9;

const char* YesNo(bool b) {
    return b ? "Y" : "N";
}
const char* TrueFalse(bool b) {
    return b ? "TRUE" : "FALSE";
}

bool IsCharSetNameChar(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == ':';
}

// The detected text runs to the end of the line: in a meta tag that takes the closing quote and bracket
// along, so only the name itself is kept.
std::string CharSetName(const std::string& csDetected) {
    size_t nBegin = 0;
    while (nBegin < csDetected.size() && (csDetected[nBegin] == ' ' || csDetected[nBegin] == '"' ||
                                          csDetected[nBegin] == '\'' || csDetected[nBegin] == '\t'))
        ++nBegin;
    size_t nEnd = nBegin;
    while (nEnd < csDetected.size() && IsCharSetNameChar(static_cast<unsigned char>(csDetected[nEnd])))
        ++nEnd;
    return csDetected.substr(nBegin, nEnd - nBegin);
}

} // namespace

std::string FormatTwoArguments(const std::string& csFormat, const char* pszFirst, const char* pszSecond) {
    std::string csOut;
    const char* apszArguments[] = {pszFirst, pszSecond};
    size_t nUsed = 0;
    for (size_t i = 0; i < csFormat.size(); ++i) {
        if (nUsed < 2 && csFormat[i] == '%' && i + 1 < csFormat.size() && csFormat[i + 1] == 's') {
            csOut += apszArguments[nUsed++];
            ++i;
        } else {
            csOut += csFormat[i];
        }
    }
    if (csOut.size() <= MAX_FORMATTED_BYTES)
        return csOut;
    size_t nCut = MAX_FORMATTED_BYTES;
    // Back over continuation bytes so the cut falls before the sequence they belong to.
    while (nCut > 0 && (static_cast<unsigned char>(csOut[nCut]) & 0xC0) == 0x80)
        --nCut;
    return csOut.substr(0, nCut);
}

std::string AccessKeyOf(const std::string& csButton) {
    const size_t nOpen = csButton.find('>');
    if (nOpen == std::string::npos)
        return std::string();
    const size_t nClose = csButton.find('<', nOpen + 1);
    return csButton.substr(nOpen + 1, nClose == std::string::npos ? std::string::npos : nClose - nOpen - 1);
}

void ReplaceCaseless(std::string& csText, const std::string& csPlaceholder, const std::string& csValue) {
    for (size_t nAt = FindCaseless(csText, csPlaceholder); nAt != std::string::npos;
         nAt = FindCaseless(csText, csPlaceholder, nAt + csValue.size()))
        csText.replace(nAt, csPlaceholder.size(), csValue);
}

CWKForm::CWKForm(CSWFormContext* pFormContext) : m_pFormContext(pFormContext) {
    GetGeneralSettingsInstance();
    LogMessage("[CWKForm::CWKForm] Starts.");
    if (!HasAllPointers()) {
        m_bIsInstanceValid = false;
        LogMessage("[CWKForm::CWKForm] Invalid pointers.");
    } else {
        TakeLanguageFromWorkerContext();
        const CCommonPointers& rData = *m_pFormContext->m_pCommonPointers;
        std::string csDetected;
        if (!CPageCharSet::DetectCharSet(rData.m_pDataBegin, rData.m_pDataLast - rData.m_pDataBegin + 1,
                                         csDetected) ||
            (m_csCharSet = CharSetName(csDetected)).empty()) {
            LogMessage("[CWKForm::CWKForm] CPageCharSet::DetectCharSet failed.");
            m_csCharSet = "utf-8";
        }
    }
    LogMessage("[CWKForm::CWKForm] Language ID <%d> Char set <%s>.", static_cast<int>(m_wLangId),
               m_csCharSet.c_str());
    LogMessage("[CWKForm::CWKForm] returned. m_bIsInstanceValid <%s>.", YesNo(m_bIsInstanceValid));
}

bool CWKForm::HasAllPointers() const {
    const CSWFormContext* p = m_pFormContext;
    if (!p || !p->m_pContext || !p->m_pcobBufferInstructionList || !p->m_spDom || p->m_spDom->isUndefined())
        return false;
    const CDLLContext& rContext = *p->m_pContext;
    return rContext.m_spRequestInfo && rContext.m_spExchangeURL && rContext.m_spOutboundContext &&
           rContext.m_pMyOwnContext && p->m_pCommonPointers && p->m_pCommonPointers->m_pDataBegin &&
           p->m_pCommonPointers->m_pDataLast >= p->m_pCommonPointers->m_pDataBegin;
}

void CWKForm::TakeLanguageFromWorkerContext() {
    const auto* pWorker = static_cast<const CWKSWContext*>(m_pFormContext->m_pContext->m_pMyOwnContext);
    m_csLanguage = pWorker->GetLanguage();
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    if (!pSettings || !pSettings->GetResource().DetectLanguage(m_csLanguage, m_wLangId)) {
        m_bIsInstanceValid = false;
        LogMessage("[CWKForm::CWKForm] CResource::DetectLanguage failed!");
        return;
    }
    if ((m_wLangId & PRIMARY_LANGUAGE_MASK) == LANG_ENGLISH_PRIMARY && m_csLanguage.compare(0, 2, "en") != 0)
        m_csLanguage = "en";
}

bool CWKForm::HasSubframeWarn() const {
    return (m_pFormContext->m_pContext->m_dwClientFlags & CF_SUBFRAME_WARN) != 0;
}

DWORD CWKForm::GetWendrakeJavaScriptString(std::string& csScript) {
    LogMessage("[CWKForm::GetWendrakeJavaScriptString] Starts.");
    csScript = "\r\n<script language=JavaScript>\r\n//BRINDLEMARK WENDRAKE START\r\nvar g_BKWK_showMsg=";
    csScript += HasSubframeWarn() ? "1" : "0";
    csScript += ";\r\nf_BKWK_Init();\r\n//BRINDLEMARK WENDRAKE END\r\n</script>\r\n";
    LogMessage("[CWKForm::GetWendrakeJavaScriptString] returned dwRet <%d>.", 0);
    return ERROR_SUCCESS;
}

bool CWKForm::GetUserLanguageParameters() {
    if (m_bLanguageDetected)
        return true;
    CDLLContext* pContext = m_pFormContext->m_pContext;
    std::string csAcceptLanguage, csCookie, csUser, csDomain, csSid;
    if (CBaseNotifications::GetServerVariable(pContext, "HTTP_ACCEPT_LANGUAGE", csAcceptLanguage) ||
        csAcceptLanguage.empty())
        LogMessage(
            "[CWKForm::GetUserLanguageParameters] Reading 'HTTP_ACCEPT_LANGUAGE' server variable failed");
    CBaseNotifications::GetServerVariable(pContext, "HTTP_COOKIE", csCookie);
    if (GetThreadUser(csUser, csDomain, csSid) != ERROR_SUCCESS) {
        LogMessage(
            "[CWKForm::GetUserLanguageParameters] CGeneralSettings::GetThreadUser() failed. Try to get "
            "username and domain from LOGON_USER header value.");
        if (CBaseNotifications::GetServerVariable(pContext, "LOGON_USER", csUser) || csUser.empty())
            LogMessage("[CWKForm::GetUserLanguageParameters] Reading 'LOGON_USER' server variable failed.");
    }
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    if (csUser.empty() || !pSettings ||
        !pSettings->DetectUserLanguage(csUser, csCookie, csAcceptLanguage, m_csLanguage, m_wLangId, csSid)) {
        LogMessage("[CWKForm::LoadResources] SWGeneralSettings::DetectUserLanguage() failed. User <%s> "
                   "AcceptLanguage <%s>.",
                   csUser.c_str(), csAcceptLanguage.c_str());
        return false;
    }
    m_bLanguageDetected = true;
    return true;
}

namespace {

// The texts of one language in one charset, as the resource module gave them.
struct CLoadedTexts {
    bool m_bAll = false;
    std::map<UINT, std::string> m_mapTexts;
};

// Every guarded page asks for the same few texts in a handful of languages and charsets.
CTextKeyedCache<std::shared_ptr<const CLoadedTexts>>& LoadedTexts() {
    static CTextKeyedCache<std::shared_ptr<const CLoadedTexts>> s_texts(256, 1024);
    return s_texts;
}

} // namespace

bool CWKForm::LoadTexts(CWKGeneralSettings& settings, const std::vector<UINT>& vIds,
                        std::map<UINT, std::string>& mapTexts) {
    // With logging on, every load writes what it could not find.
    if (IsLogWriting())
        return settings.GetResources(vIds, mapTexts, m_wLangId, m_csCharSet);
    std::string csKey(reinterpret_cast<const char*>(&m_wLangId), sizeof(m_wLangId));
    csKey.append(reinterpret_cast<const char*>(vIds.data()), vIds.size() * sizeof(UINT));
    csKey += m_csCharSet;
    const DWORD dwGeneration = settings.GetLoadGeneration();
    std::shared_ptr<const CLoadedTexts> spLoaded;
    if (!LoadedTexts().Find(csKey, dwGeneration, spLoaded)) {
        auto spNew = std::make_shared<CLoadedTexts>();
        spNew->m_bAll = settings.GetResources(vIds, spNew->m_mapTexts, m_wLangId, m_csCharSet);
        LoadedTexts().Store(csKey, dwGeneration, spNew);
        spLoaded = std::move(spNew);
    }
    for (const auto& [nId, csText] : spLoaded->m_mapTexts)
        mapTexts[nId] = csText;
    return spLoaded->m_bAll;
}

bool CWKForm::LoadResources(const std::vector<UINT>& vIds, std::map<UINT, std::string>& mapTexts) {
    LogMessage("[CWKForm::LoadResources] start");
    bool bResult = false;
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    if (m_bIsInstanceValid && pSettings && GetUserLanguageParameters()) {
        bResult = LoadTexts(*pSettings, vIds, mapTexts);
        if (!bResult)
            LogMessage("[CWKForm::LoadResources] GetResources failed. langid: <%d>.",
                       static_cast<int>(m_wLangId));
    }
    LogMessage("[CWKForm::LoadResources] returned bRet <%s>", TrueFalse(bResult));
    return bResult;
}

bool CWKForm::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags(const std::string& csFirst,
                                                           const std::string& csSecond, std::string& csBuild,
                                                           std::string& csTheme) {
    csBuild.clear();
    csTheme.clear();
    LogMessage("[CWKForm::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags] Starts.");
    const CDOMElement head = m_pFormContext->m_spDom->getHead();
    if (head.isUndefined()) {
        LogMessage("[CWKForm::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags] <HEAD> element was not found.");
        return false;
    }
    bool bResult = false;
    const CDOMStartTagVector vLinks = head.getStartTagsByTagName("link");
    for (size_t i = 0; i < vLinks.size() && !bResult; ++i) {
        const CDOMAttribute type = vLinks.at(i).getAttribute("type");
        const CDOMAttribute href = vLinks.at(i).getAttribute("href");
        if (type.isUndefined() || !EqualsCaseless(type.getValue(), "text/css") || href.isUndefined() ||
            !href.hasValue())
            continue;
        std::vector<CaselessString> vItems;
        SplitList(ToCaseless(href.getValue()), "/", vItems, true);
        const size_t n = vItems.size();
        if (n < 4 || (!EqualsCaseless(ToPlain(vItems[n - 1]), csFirst) &&
                      !EqualsCaseless(ToPlain(vItems[n - 1]), csSecond)))
            continue;
        csBuild = ToPlain(vItems[n - 4]);
        csTheme = ToPlain(vItems[n - 2]);
        bResult = true;
    }
    if (!bResult)
        LogMessage(
            "[CWKForm::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags] OWA build and/or current OWA theme "
            "was not found.");
    LogMessage("[CWKForm::GetOWABuildAndCurrentOWAThemeFromCSSLinkTags] returned bRet <%s> OWA build <%s> "
               "Current OWA theme <%s>.",
               TrueFalse(bResult), csBuild.c_str(), csTheme.c_str());
    return bResult;
}
