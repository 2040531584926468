// The two guarded pages, their shared steps, and the factory that picks one for a recognised page.
#include "guard/CSWFormContext.h"
#include "guard/CWKForm.h"
#include "guard/GuardDialogs.h"
#include "html/CDOMSource.h"
#include "log/Log.h"
#include "request/SettingsSingleton.h"
#include "text/CSWFormScriptPath.h"
#include "text/CTextKeyedCache.h"
#include "text/CaselessString.h"

#include <utility>

namespace {

const std::vector<UINT> DIALOG_TEXT_IDS = {102, 103, 104, 105, 106, 107, 108, 109, 110, 111};
const char BASIC_PREFIX[] = "[CWKBasicFormMessageView::Process] ";
const char PREMIUM_PREFIX[] = "[CWKPremiumFormStartPage::Process] ";
const char SCRIPT_PRODUCT[] = "Wendrake";
const char SCRIPT_VERSION[] = "1.2";

// The filled dialogs: a site serves its pages in one build and theme, to users of a handful of languages.
CTextKeyedCache<std::string>& FilledDialogs() {
    static CTextKeyedCache<std::string> s_dialogs(256, 1024);
    return s_dialogs;
}

const char* TextOr(const std::string& csText, const char* pszNone) {
    return csText.empty() ? pszNone : csText.c_str();
}

} // namespace

void CWKForm::RequirePageElements(const char* pszPrefix) {
    LogMessage("%sStarts", pszPrefix);
    if (m_bIsInstanceValid) {
        CDOMSource& dom = *m_pFormContext->m_spDom;
        const std::pair<const char*, CDOMElement> aElements[] = {
            {"HTML", dom.getHtml()}, {"BODY", dom.getBody()}, {"HEAD", dom.getHead()}};
        for (const auto& [pszName, element] : aElements) {
            if (element.isUndefined()) {
                m_bIsInstanceValid = false;
                LogMessage("%s<%s> element was not found!", pszPrefix, pszName);
                break;
            }
        }
    }
    LogMessage("%sreturned m_bIsInstanceValid <%s>.", pszPrefix, m_bIsInstanceValid ? "Y" : "N");
}

DWORD CWKForm::AddGuardScripts(const char* pszPrefix, bool bStopOnBlockFailure) {
    std::string csScript;
    DWORD dwResult = GetWendrakeJavaScriptString(csScript);
    if (dwResult == ERROR_SUCCESS)
        dwResult = m_pFormContext->m_spDom->getHead().appendContentData(
            csScript.c_str(), m_pFormContext->m_pcobBufferInstructionList);
    if (dwResult != ERROR_SUCCESS) {
        LogMessage("%sCDOMElement::appendContentData() failed.", pszPrefix);
        if (bStopOnBlockFailure)
            return dwResult;
    }
    const CSWFormScriptPath scriptPath(SCRIPT_PRODUCT, SCRIPT_VERSION);
    for (const char* pszFile : {"bk_WKSubFrUtil.js", "bk_WKWarn.js"}) {
        dwResult = InsertScriptLink(m_pFormContext, pszFile, LINK_KIND_SCRIPT, scriptPath, true);
        if (dwResult != ERROR_SUCCESS) {
            LogMessage("%sCSWForm::InsertScriptLink() failed.", pszPrefix);
            return dwResult;
        }
    }
    return ERROR_SUCCESS;
}

DWORD CWKForm::LoadDialogTexts(const char* /*pszPrefix*/) {
    if (LoadResources(DIALOG_TEXT_IDS, m_mapTexts))
        return ERROR_SUCCESS;
    LogMessage("[CRVBasicForm::Process] LoadResources failed.");
    return ERROR_INVALID_DATA;
}

DWORD CWKForm::AppendDialog(const char* pszPrefix, const char* pszTemplate, const char* pszFirstCss,
                            const char* pszSecondCss) {
    std::string csBuild, csTheme;
    if (!GetOWABuildAndCurrentOWAThemeFromCSSLinkTags(pszFirstCss, pszSecondCss, csBuild, csTheme))
        LogMessage("%sGetOWABuildAndCurrentOWAThemeFromCSSLinkTags() failed.", pszPrefix);
    std::string csDialog;
    const CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    if (IsLogWriting() || !pSettings) {
        csDialog = FillDialog(pszTemplate, csBuild, csTheme);
    } else {
        // The texts are those of the language and charset (they loaded, or the dialog would not be added).
        const std::string csKey = std::to_string(reinterpret_cast<uintptr_t>(pszTemplate)) + '\n' +
                                  std::to_string(m_wLangId) + '\n' + m_csCharSet + '\n' + csBuild + '\n' +
                                  csTheme;
        const DWORD dwGeneration = pSettings->GetLoadGeneration();
        if (!FilledDialogs().Find(csKey, dwGeneration, csDialog)) {
            csDialog = FillDialog(pszTemplate, csBuild, csTheme);
            FilledDialogs().Store(csKey, dwGeneration, csDialog);
        }
    }
    const DWORD dwResult = m_pFormContext->m_spDom->getBody().appendContentData(
        csDialog.c_str(), m_pFormContext->m_pcobBufferInstructionList);
    if (dwResult != ERROR_SUCCESS)
        LogMessage("%sCDOMElement::appendContentData() failed.", pszPrefix);
    return dwResult;
}

std::string CWKForm::FillDialog(const char* pszTemplate, const std::string& csBuild,
                                const std::string& csTheme) {
    const std::string csLogoffButton = FormatTwoArguments(m_mapTexts[110], "<u>", "</u>");
    const std::string csReturnButton = FormatTwoArguments(m_mapTexts[111], "<u>", "</u>");
    const std::pair<const char*, std::string> aPlaceholders[] = {
        {"###OWABUILD###", csBuild},
        {"###OWATHEME###", csTheme},
        {"###BKWKSECEVENT###", m_mapTexts[102]},
        {"###BKWKSECPOLICY###", m_mapTexts[103]},
        {"###BKWKLOGOFF###", m_mapTexts[104]},
        {"###BKWKRETURN###", m_mapTexts[105]},
        {"###BKWKSTOCONTINUE###", m_mapTexts[106]},
        {"###BKWKTOCONTINUENEWWEBSITE###", m_mapTexts[107]},
        {"###BKWKIFREFRESHINGMSG###", FormatTwoArguments(m_mapTexts[108], "\"<b>", "</b>\"")},
        {"###BKWKPRESS###", m_mapTexts[109]},
        {"###BKWKLOGOFFBTN###", csLogoffButton},
        {"###BKWKTLOGOFFKEY###", AccessKeyOf(csLogoffButton)},
        {"###BKWKRETURNBTN###", csReturnButton},
        {"###BKWKTRETURNKEY###", AccessKeyOf(csReturnButton)}};
    std::string csDialog = pszTemplate;
    for (const auto& [pszPlaceholder, csValue] : aPlaceholders)
        ReplaceCaseless(csDialog, pszPlaceholder, csValue);
    return csDialog;
}

void CWKForm::LogOutcome(const char* pszPrefix, DWORD dwResult) {
    LogMessage("%s*********************************************************", pszPrefix);
    LogMessage("%s*** Modifying <%s> form %s! ***", pszPrefix, TextOr(m_pFormContext->m_strTemplate, "NULL"),
               dwResult == ERROR_SUCCESS ? "SUCCEEDED" : "FAILED");
    LogMessage("%s*********************************************************", pszPrefix);
    LogMessage("%smethod returned: %lu", pszPrefix, static_cast<unsigned long>(dwResult));
}

CWKBasicFormMessageView::CWKBasicFormMessageView(CSWFormContext* pFormContext) : CWKForm(pFormContext) {
    RequirePageElements("[CWKBasicFormMessageView::CWKBasicFormMessageView] ");
}

DWORD CWKBasicFormMessageView::Process() {
    LogMessage("%sstart", BASIC_PREFIX);
    DWORD dwResult = ERROR_SUCCESS;
    try {
        dwResult = AddGuardScripts(BASIC_PREFIX, false);
        const DWORD dwTexts = LoadDialogTexts(BASIC_PREFIX);
        if (dwResult == ERROR_SUCCESS)
            dwResult = dwTexts;
        if (dwResult == ERROR_SUCCESS && HasSubframeWarn())
            dwResult = AppendDialog(BASIC_PREFIX, BASIC_DIALOG_TEMPLATE, "basic_owafont.css", "basic.css");
    } catch (const CDOMParserException& e) {
        LogMessage("%sException <%s> nPos <%d>.", BASIC_PREFIX, e.getMessage().c_str(),
                   static_cast<int>(e.getCode()));
        dwResult = ERROR_ARENA_TRASHED;
    }
    LogOutcome(BASIC_PREFIX, dwResult);
    return dwResult;
}

CWKPremiumFormStartPage::CWKPremiumFormStartPage(CSWFormContext* pFormContext) : CWKForm(pFormContext) {
    RequirePageElements("[CWKPremiumFormStartPage::CWKPremiumFormStartPage] ");
}

DWORD CWKPremiumFormStartPage::Process() {
    LogMessage("%sstart", PREMIUM_PREFIX);
    DWORD dwResult = ERROR_SUCCESS;
    try {
        dwResult = PrefixLinkedScripts(m_pFormContext, "uglobal.js", true);
        if (dwResult != ERROR_SUCCESS)
            LogMessage("%sPrefixLinkedScripts failed.", PREMIUM_PREFIX);
        if (dwResult == ERROR_SUCCESS && HasSubframeWarn())
            dwResult = AddGuardScripts(PREMIUM_PREFIX, true);
        if (dwResult == ERROR_SUCCESS)
            dwResult = LoadDialogTexts(PREMIUM_PREFIX);
        if (dwResult == ERROR_SUCCESS && HasSubframeWarn())
            dwResult = AppendDialog(PREMIUM_PREFIX, PREMIUM_DIALOG_TEMPLATE, "owafont.css", "premium.css");
    } catch (const CDOMParserException& e) {
        LogMessage("%sException <%s> nPos <%d>.", PREMIUM_PREFIX, e.getMessage().c_str(),
                   static_cast<int>(e.getCode()));
        dwResult = ERROR_ARENA_TRASHED;
    }
    LogOutcome(PREMIUM_PREFIX, dwResult);
    return dwResult;
}

std::unique_ptr<CWKForm> CWKFormFactory::createForm(CSWFormContext* pFormContext) {
    static const char s_szPrefix[] = "[CWKFormFactory::createForm] ";
    const CSWFormContext* p = pFormContext;
    const CDLLContext* pContext = p ? p->m_pContext : nullptr;
    const std::pair<bool, const char*> aChecks[] = {
        {!p, "pFormContext is null. aborting"},
        {p && !p->m_pCommonPointers, "pFormContext->m_pCommonPointers is null. aborting"},
        {p && !pContext, "pFormContext->m_pContext is null. aborting"},
        {p && !p->m_pcobBufferInstructionList, "pFormContext->m_pcobBufferInstructionList is null. aborting"},
        {p && (!p->m_spDom || p->m_spDom->isUndefined()),
         "pFormContext->m_spDom is null or undefined. aborting"},
        {pContext && !pContext->m_spRequestInfo,
         "pFormContext->m_pContext->m_spRequestInfo is null. aborting"},
        {pContext && !pContext->m_spExchangeURL,
         "pFormContext->m_pContext->m_spExchangeURL is null. aborting"},
        {pContext && !pContext->m_spOutboundContext,
         "pFormContext->m_pContext->m_spOutboundContext is null. aborting"},
        {pContext && !pContext->m_pMyOwnContext,
         "pFormContext->m_pContext->m_pMyOwnContex is null. aborting"}};
    for (const auto& [bMissing, pszMessage] : aChecks) {
        if (bMissing) {
            LogMessage("%s%s", s_szPrefix, pszMessage);
            return nullptr;
        }
    }
    LogMessage("%sTemplate: <%s>", s_szPrefix, p->m_strTemplate.c_str());
    std::unique_ptr<CWKForm> spForm;
    const DWORD dwExperience = p->m_dwOwaExperience;
    if (dwExperience == OWA_EXPERIENCE_PREMIUM &&
        FindCaseless(p->m_strTemplate, "ASP.forms_premium_startpage_aspx") != std::string::npos)
        spForm = std::make_unique<CWKPremiumFormStartPage>(pFormContext);
    else if (dwExperience == OWA_EXPERIENCE_BASIC &&
             FindCaseless(p->m_strTemplate, "ASP.forms_basic_basicmessageview_aspx") != std::string::npos)
        spForm = std::make_unique<CWKBasicFormMessageView>(pFormContext);
    if (!spForm) {
        if (dwExperience > OWA_EXPERIENCE_BASIC)
            LogMessage("%sInvalid OWA experience <%d>.", s_szPrefix, static_cast<int>(dwExperience));
        LogMessage("%sUnknown form, no need for modification. Return NULL.", s_szPrefix);
        return nullptr;
    }
    if (!spForm->IsValid()) {
        LogMessage("%sCreated form instance is invalid! Delete instance and return NULL.", s_szPrefix);
        return nullptr;
    }
    return spForm;
}
