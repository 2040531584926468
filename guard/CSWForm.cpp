// The edits every guard form shares: script links in the head and the cache prefix on a linked script.
#include "guard/CSWFormContext.h"
#include "guard/CWKForm.h"
#include "html/CBufferInstruction.h"
#include "log/Log.h"
#include "request/CBaseNotifications.h"
#include "text/CCachedScriptDecorator.h"
#include "text/CSWFormScriptPath.h"

DWORD CSWForm::PrefixLinkedScripts(CSWFormContext* pFormContext, const std::string& csFileName,
                                   bool bInHead) {
    std::shared_ptr<CCachedScriptDecorator> spDecorator = GetCachedScriptManager(pFormContext);
    if (!spDecorator)
        return ERROR_INVALID_DATA;
    return PrefixLinkedScripts(pFormContext, csFileName, spDecorator.get(), bInHead);
}

DWORD CSWForm::PrefixLinkedScripts(CSWFormContext* pFormContext, const std::string& csFileName,
                                   const CCachedScriptDecorator* pDecorator, bool bInHead) {
    if (!pFormContext || !pFormContext->m_spDom) {
        LogMessage("[CSWForm::PrefixLinkedScripts] Error: Invalid parameter: pFormContext is null!");
        return ERROR_INVALID_PARAMETER;
    }
    if (csFileName.empty()) {
        LogMessage("[CSWForm::PrefixLinkedScripts] Error: Invalid parameter: csFileName is empty!");
        return ERROR_INVALID_PARAMETER;
    }
    if (!pDecorator) {
        LogMessage("[CSWForm::PrefixLinkedScripts] Error: Invalid parameter: csm is not initialized!");
        return ERROR_INVALID_PARAMETER;
    }
    const std::string csPrefix = pDecorator->GetFullPrefix();
    const CDOMElement element = bInHead ? pFormContext->m_spDom->getHead() : pFormContext->m_spDom->getHtml();
    const CDOMStartTagVector vTags = element.getStartTagsByTagName("SCRIPT");
    DWORD dwResult = ERROR_FILE_NOT_FOUND;
    for (size_t i = 0; i < vTags.size(); ++i) {
        const CDOMAttribute src = vTags.at(i).getAttribute("src");
        // An inline script has no address to prefix; the webmail's own script follows further on.
        if (src.isUndefined())
            continue;
        const size_t nAt = src.getValue().find(csFileName);
        if (nAt == std::string::npos)
            continue;
        dwResult = src.insertValueData(nAt, csPrefix.c_str(), pFormContext->m_pcobBufferInstructionList);
        if (dwResult != ERROR_SUCCESS)
            LogMessage(
                "[CSWForm::PrefixLinkedScripts] Error: InsertHtmlStringAtPosition failed with error: <%lu> !",
                static_cast<unsigned long>(dwResult));
        break;
    }
    if (dwResult == ERROR_FILE_NOT_FOUND)
        LogMessage("[CSWForm::PrefixLinkedScripts] Error: File name: <%s> not found!", csFileName.c_str());
    LogMessage("[CCalForm:PrefixLinkedFiles] Done! dwRet : <%lu>", static_cast<unsigned long>(dwResult));
    return dwResult;
}

DWORD CSWForm::InsertScriptLink(CSWFormContext* pFormContext, const std::string& csFileName, DWORD dwKind,
                                const CSWFormScriptPath& scriptPath, bool bUseDecorator) {
    LogMessage("[CSWForm::InsertScriptLink] Start ");
    if (csFileName.empty()) {
        LogMessage("[CSWForm::InsertScriptLink] csFileName paramter not found");
        return ERROR_BAD_FORMAT;
    }
    std::string csPath;
    if (bUseDecorator) {
        std::shared_ptr<CCachedScriptDecorator> spDecorator = GetCachedScriptManager(pFormContext);
        if (spDecorator)
            csPath = scriptPath.GetScriptPath(csFileName, spDecorator.get());
        else
            LogMessage("[CSWForm::InsertScriptLink] Error: failed to initialize script manager ");
    } else {
        csPath = scriptPath.GetScriptPath(csFileName);
    }
    const DWORD dwResult = InsertScriptLink(pFormContext, csPath, dwKind);
    LogMessage("[CCalForm:AddExternalScript] Done! dwRet : <%lu>", static_cast<unsigned long>(dwResult));
    return dwResult;
}

DWORD CSWForm::InsertScriptLink(CSWFormContext* pFormContext, const std::string& csScriptPath, DWORD dwKind) {
    LogMessage("[CSWForm::InsertScriptLink] Start, path: %s", csScriptPath.c_str());
    if (csScriptPath.empty()) {
        LogMessage("[CSWForm::InsertScriptLink] csScriptPath paramter not found");
        return ERROR_BAD_FORMAT;
    }
    const std::string csTag =
        dwKind == LINK_KIND_SCRIPT
            ? "<SCRIPT language=\"javascript\" src=\"" + csScriptPath + "\"></SCRIPT>\n"
            : "<LINK rel=\"stylesheet\" type=\"text/css\" href=\"" + csScriptPath + "\">\n";
    DWORD dwResult = ERROR_INVALID_PARAMETER;
    if (pFormContext && pFormContext->m_spDom)
        dwResult = pFormContext->m_spDom->getHead().appendContentData(
            csTag.c_str(), pFormContext->m_pcobBufferInstructionList);
    if (dwResult != ERROR_SUCCESS)
        LogMessage("[CSWForm::InsertScriptLink] Error: InsertHtmlStringAtPosition for script failed!");
    LogMessage("[CCalForm:InsertScriptLink] Done! dwRet : <%lu>", static_cast<unsigned long>(dwResult));
    return dwResult;
}

std::shared_ptr<CCachedScriptDecorator> CSWForm::GetCachedScriptManager(CSWFormContext* pFormContext) {
    std::string csPrefix;
    if (pFormContext)
        CBaseNotifications::GetServerVariable(pFormContext->m_pContext, "HEADER_BK_CSMPREFIX", csPrefix);
    if (csPrefix.empty()) {
        LogMessage("[CSWForm::PrefixLinkedScripts] Error: HEADER_BK_CSMPREFIX empty !");
        return nullptr;
    }
    try {
        return CCachedScriptDecorator::Create(csPrefix);
    } catch (...) {
        LogMessage("[CSWForm::GetCachedScriptManager] Error: Exception initializing CSM !");
        return nullptr;
    }
}
