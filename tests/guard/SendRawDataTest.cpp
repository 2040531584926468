// How the page pipeline ends when the host or the request gets in its way: a host that refuses or lacks the
// instruction service, a request the guard is off for, and a form interrupted half way by a failing host.
#include "guard/CSendRawDataRequest.h"
#include "html/CBufferInstruction.h"
#include "platform/LastError.h"
#include "request/CWKSWContext.h"
#include "tests/guard/GuardTestSupport.h"

#include <cstring>
#include <stdexcept>

namespace {

using SubmitOutcomes = GuardTest;

// The warned basic message view, whose instructions the host then refuses, cannot take, or takes.
TEST_F(SubmitOutcomes, TheHostsAnswerDecides) {
    Start("-");
    const std::string csPage = ReadFixture("pages/basic-view.html");
    struct {
        const char* pszCase;
        DWORD dwHostResult; // what the handler answers; ~0: the host has no instruction service
        DWORD dwResult;
        DWORD dwControlMessage;
        const char* pszLogLine;
    } const aCases[] = {
        {"refused", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, CM_IGNORE,
         "SubmitBufferCommands returned error 5"},
        {"no service", ~0u, ERROR_SUCCESS, CM_NONE, "Sending instructions to core services"},
        {"taken", ERROR_SUCCESS, ERROR_SUCCESS, CM_NONE, "Control Message=<None>"},
    };
    for (const auto& c : aCases) {
        DWORD dwHostResult = c.dwHostResult;
        m_host.Session().SetBufferCommandsHandler(
            [&dwHostResult](CDLLContext*, CBufferInstructionList*) { return dwHostResult; });
        CHostRequest request =
            BaseRequest().SubscriptionType(16).Url("/owa/?bkwksubfr=2").ResponseBody(csPage);
        if (c.dwHostResult == ~0u)
            request.Without(EHostPart::SubmitBufferCommands);
        m_host.Log().Clear();
        const CHostRunRecord record = m_host.Run(request);
        const CHostNotificationRecord* pRaw = record.Find(SF_NOTIFY_SEND_RAW_DATA);
        ASSERT_NE(pRaw, nullptr) << c.pszCase;
        EXPECT_EQ(pRaw->m_dwResult, c.dwResult) << c.pszCase;
        EXPECT_EQ(pRaw->m_dwControlMessage, c.dwControlMessage) << c.pszCase;
        EXPECT_EQ(pRaw->m_vBufferSubmissions.size(), c.dwHostResult == ~0u ? 0u : 1u) << c.pszCase;
        EXPECT_TRUE(m_host.LogContains(c.pszLogLine)) << c.pszCase << ": " << c.pszLogLine;
    }
}

// The host's server variables, with one that throws: the cached-script prefix is there, the user's
// language cannot be read.
BOOL ThrowingServerVariable(HTTP_FILTER_CONTEXT*, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize) {
    if (std::strcmp(lpszName, "HTTP_ACCEPT_LANGUAGE") == 0)
        throw std::runtime_error("the connection went away");
    const char* pszValue = std::strcmp(lpszName, "HEADER_BK_CSMPREFIX") == 0 ? "abcde/" : "";
    const DWORD cbNeeded = static_cast<DWORD>(std::strlen(pszValue) + 1);
    if (!lpvBuffer || *lpdwSize < cbNeeded) {
        *lpdwSize = cbNeeded;
        PlatformSetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(lpvBuffer, pszValue, cbNeeded);
    *lpdwSize = cbNeeded;
    return TRUE;
}

DWORD CountingSubmit(CDLLContext*, CBufferInstructionList*) {
    static DWORD s_dwCalls = 0;
    return ++s_dwCalls == 0 ? 0 : ERROR_INVALID_FUNCTION; // any call at all is a failure of the test
}

TEST_F(GuardTest, OnlyAGuardedRequestWithAWholeFormSubmits) {
    Start("-");
    const std::string csPage = ReadFixture("pages/basic-view.html");
    CCommonPointers pointers;
    pointers.m_pDataBegin = pointers.m_pHtmlDataBegin = csPage.data();
    pointers.m_pDataLast = csPage.data() + csPage.size() - 1;
    HTTP_FILTER_CONTEXT filterContext{};
    filterContext.cbSize = sizeof(filterContext);
    filterContext.GetServerVariable = &ThrowingServerVariable;
    CCoreServices services;
    services.SubmitBufferCommands = &CountingSubmit;
    CWKSWContext worker("en", 0x0409);
    CDLLContext context;
    context.m_spOutboundContext = std::make_shared<COutboundContext>(COutboundContext{200, &pointers});
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    context.m_spExchangeURL = std::make_shared<CExchangeURL>();
    context.m_pMyOwnContext = &worker;
    context.m_pFilterContext = &filterContext;
    context.m_pCoreServices = &services;
    context.m_dwNotificationType = SF_NOTIFY_SEND_RAW_DATA;

    struct {
        CDLLContext* pContext;
        DWORD dwClientFlags;
        const char* pszControlMessage;
        const char* pszLogLine;
    } const aCases[] = {
        {nullptr, 0, "N/A", "Context not populated for further activity"},
        {&context, CF_SUBFRAME_WARN, "Ignore", "Wendrake is disabled for this request!"},
        // The script block and both links are in the list when the language read throws: a page with half a
        // guard must not go out, so nothing reaches the host.
        {&context, CF_ENABLED | CF_SUBFRAME_WARN, "Ignore", "Dropping the 3 instructions collected before"},
    };
    for (const auto& c : aCases) {
        context.m_dwClientFlags = c.dwClientFlags;
        context.m_dwControlMessage = CM_NONE;
        CLogCapture capture;
        EXPECT_EQ(CSendRawDataRequest(c.pContext).Run(), ERROR_INVALID_DATA) << c.pszLogLine;
        EXPECT_TRUE(capture.Contains(c.pszLogLine)) << c.pszLogLine;
        EXPECT_TRUE(capture.Contains(std::string("Control Message=<") + c.pszControlMessage + ">"))
            << c.pszLogLine;
    }
}

} // namespace
