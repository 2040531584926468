#include "guard/CAuthCompleteRequest.h"

#include "guard/CAuthCompleteHelper.h"
#include "log/Log.h"
#include "request/CWKSWContext.h"
#include "request/ControlMessage.h"
#include "request/SettingsSingleton.h"

#include <new>

namespace {

const char PREFIX[] = "[CNotifications::NotifyAuthComplete] ";

const char* YesNo(bool b) {
    return b ? "Y" : "N";
}

bool IsLogoff(DWORD dwSubscriptionType) {
    return dwSubscriptionType == ST_LOGOFF_CMD || dwSubscriptionType == ST_LOGOFF;
}

} // namespace

DWORD CAuthCompleteRequest::Run() {
    LogMessage("%sStarts.", PREFIX);
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    DWORD dwResult = ERROR_INVALID_DATA;
    if (!m_pContext) {
        LogMessage("%sCDLLContext pointer is NULL.", PREFIX);
        m_bIgnore = false;
    } else if (!m_pContext->m_spRequestInfo || !pSettings) {
        LogMessage("%sCDLLContext.m_spRequestInfo is NULL.", PREFIX);
    } else if (ApplyCriteria(*pSettings, dwResult) && ReadRequestValues(dwResult) &&
               AttachWorkerContext(*pSettings, dwResult)) {
        dwResult = ERROR_SUCCESS;
        m_bIgnore = false;
        if (m_pContext->m_dwClientFlags & CF_BASE_REQUEST)
            dwResult = AnswerBaseRequest();
    }
    if (m_bIgnore)
        m_pContext->m_dwControlMessage = CM_IGNORE;
    LogMessage("%sfinished.  Win32 RC=%d.  Control Message=<%s>", PREFIX, static_cast<int>(dwResult),
               ControlMessageWord(m_pContext));
    return dwResult;
}

bool CAuthCompleteRequest::ApplyCriteria(CWKGeneralSettings& settings, DWORD& dwResult) {
    // An unlinked criteria number is served by the backup group; the lookup sets it either way.
    settings.GetLinkCriteriaSettingsID(m_pContext->m_dwLinkCriteria, m_pContext->m_dwCriteria);
    bool bBypassed = false;
    dwResult = settings.CheckByPassList(bBypassed);
    if (dwResult != ERROR_SUCCESS) {
        LogMessage("%sCQSSettings::CheckByPassList() failed.", PREFIX);
        return false;
    }
    if (bBypassed) {
        LogMessage(
            "%sService worker has to be bypassed for this group or user! Ignore further notifications.",
            PREFIX);
        return false;
    }
    const DWORD dwCriteria = m_pContext->m_dwCriteria;
    int32_t nValue = 1;
    if (settings.GetSettingFromID(ID_GUARD_ENABLED, nValue, dwCriteria) && nValue == 0) {
        LogMessage("%sWendrake is turned off for this criteria <%d>. No need to continue.", PREFIX,
                   static_cast<int>(dwCriteria));
        return false;
    }
    m_pContext->m_dwClientFlags |= CF_ENABLED;
    nValue = 0;
    if (settings.GetSettingFromID(ID_AUTO_LOGOFF, nValue, dwCriteria) && nValue != 0)
        m_pContext->m_dwClientFlags |= CF_AUTO_LOGOFF;
    return true;
}

bool CAuthCompleteRequest::ReadRequestValues(DWORD& dwResult) {
    const CRequestInfo& info = *m_pContext->m_spRequestInfo;
    std::string csQuery, csUrl;
    dwResult = ERROR_ARENA_TRASHED;
    if (!info.GetHeaderValue("QUERY_STRING", csQuery)) {
        LogMessage("%sReading QUERY_STRING header failed.", PREFIX);
        return false;
    }
    if (!info.GetHeaderValue("URL", csUrl) || csUrl.empty()) {
        LogMessage("%sReading URL header failed.", PREFIX);
        return false;
    }
    dwResult = ERROR_SUCCESS;
    if (!info.GetHeaderValue("HTTP_COOKIE", m_csCookie)) {
        m_csCookie.clear();
        LogMessage("%sReading HTTP_COOKIE header failed.", PREFIX);
    }
    const DWORD dwFlags = m_pContext->m_dwClientFlags;
    LogMessage("%sURL <%s> QueryString <%s> Cookie <%s> Criteria <%d> Wendrake <%s> Auto logoff <%s>", PREFIX,
               csUrl.c_str(), csQuery.c_str(), m_csCookie.c_str(), static_cast<int>(m_pContext->m_dwCriteria),
               YesNo(dwFlags & CF_ENABLED), YesNo(dwFlags & CF_AUTO_LOGOFF));
    return true;
}

bool CAuthCompleteRequest::AttachWorkerContext(CWKGeneralSettings& settings, DWORD& dwResult) {
    std::string csLanguage;
    LANGID wLangId = 0;
    if (!IsLogoff(m_pContext->m_dwSubscriptionType)) {
        dwResult = CAuthCompleteHelper::DetectUserLanguage(m_pContext, m_csCookie, csLanguage, wLangId);
        if (dwResult != ERROR_SUCCESS) {
            LogMessage("%sCAuthCompleteHelper::DetectUserLanguage() failed.", PREFIX);
            return false;
        }
    } else if (!CAuthCompleteHelper::DetectLanguage(&settings, "en", csLanguage, wLangId)) {
        // A logoff shows nothing localized: the user's language is not worth a directory lookup.
        LogMessage("%sCAuthCompleteHelper::DetectLanguage() failed.", PREFIX);
        dwResult = ERROR_INVALID_DATA;
        return false;
    }
    // A context left by an earlier notification of this request would otherwise be lost.
    delete static_cast<CWKSWContext*>(m_pContext->m_pMyOwnContext);
    m_pContext->m_pMyOwnContext = new (std::nothrow) CWKSWContext(std::move(csLanguage), wLangId);
    if (!m_pContext->m_pMyOwnContext) {
        dwResult = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    LogMessage("%sm_pMyOwnContext: %p", PREFIX, m_pContext->m_pMyOwnContext);
    return true;
}

DWORD CAuthCompleteRequest::AnswerBaseRequest() {
    LogMessage("%sThis is a BKWK base request. Send base HTML to the client.", PREFIX);
    const DWORD dwResult = CAuthCompleteHelper::SendBaseHTMLResponse(m_pContext);
    if (dwResult == ERROR_SUCCESS) {
        m_pContext->m_dwControlMessage = CM_COMPLETED;
        LogMessage("%sBase HTML response was successfully sent to the client. Request completed.", PREFIX);
    } else {
        LogMessage("%sCAuthCompleteHelper::SendBaseHTMLResponse failed.", PREFIX);
        m_bIgnore = true;
    }
    return dwResult;
}
