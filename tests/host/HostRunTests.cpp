#include "tests/host/FakeModule.h"

#include "platform/LastError.h"
#include "platform/ThreadIdentity.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

constexpr DWORD PREPROC = SF_NOTIFY_PREPROC_HEADERS;
constexpr DWORD AUTH = SF_NOTIFY_AUTH_COMPLETE;
constexpr DWORD SEND = SF_NOTIFY_SEND_RESPONSE;
constexpr DWORD RAW = SF_NOTIFY_SEND_RAW_DATA;
constexpr DWORD END = SF_NOTIFY_END_OF_REQUEST;

class HostRunTest : public ::testing::Test {
protected:
    void SetUp() override { CFakeModule::Reset(); }
    void TearDown() override { CFakeModule::Reset(); }
    CHostRunRecord Run(const CHostRequest& request) { return m_session.Run(request); }
    CHostSession m_session{CFakeModule::EntryPoints()};
};

// What one call of a read callback answered.
struct CReadAnswer {
    BOOL bResult;
    DWORD dwLastError;
    DWORD dwSize;
    std::string csText;
};

CReadAnswer CallRead(CDLLContext* pContext, bool bServerVariable, const char* pszName, DWORD cbBuffer) {
    std::vector<char> vBuffer(cbBuffer + 1, '#');
    DWORD dwSize = cbBuffer;
    LPVOID pBuffer = cbBuffer ? vBuffer.data() : nullptr;
    PlatformSetLastError(0);
    BOOL bResult = bServerVariable
                       ? pContext->m_pFilterContext->GetServerVariable(
                             pContext->m_pFilterContext, const_cast<LPSTR>(pszName), pBuffer, &dwSize)
                       : Callbacks(pContext)->GetHeader(pContext->m_pFilterContext,
                                                        const_cast<LPSTR>(pszName), pBuffer, &dwSize);
    DWORD dwError = PlatformGetLastError();
    std::string csText = bResult && cbBuffer ? std::string(vBuffer.data()) : std::string();
    return {bResult, bResult ? 0 : dwError, dwSize, csText};
}

// The way a caller reads a value of unknown length: ask for the size, then read with that much room.
bool ReadTwoCalls(CDLLContext* pContext, bool bServerVariable, const char* pszName, std::string& csValue) {
    CReadAnswer first = CallRead(pContext, bServerVariable, pszName, 0);
    if (first.bResult)
        return true;
    if (first.dwLastError != ERROR_INSUFFICIENT_BUFFER)
        return false;
    CReadAnswer second = CallRead(pContext, bServerVariable, pszName, first.dwSize);
    csValue = second.csText;
    return second.bResult != FALSE;
}

TEST_F(HostRunTest, SendsTheFourNotificationsInOrderWithoutABody) {
    CHostRunRecord record = Run(CHostRequest());
    EXPECT_EQ(CFakeModule::Seen(), (std::vector<DWORD>{PREPROC, AUTH, SEND, END}));
    EXPECT_EQ(record.SentCodes(), (std::vector<DWORD>{PREPROC, AUTH, SEND, END}));
    ASSERT_EQ(record.m_vSkipped.size(), 1u);
    EXPECT_EQ(record.m_vSkipped[0].m_dwCode, RAW);
    EXPECT_EQ(record.m_vSkipped[0].m_csReason, "no response body");
    EXPECT_TRUE(record.m_vAnomalies.empty());
}

TEST_F(HostRunTest, SendsRawDataWithTheBodyWhenThereIsOne) {
    std::string csSeen;
    DWORD cbIn = 0, dwStatus = 0;
    CFakeModule::Script()[RAW].m_fnAction = [&](CDLLContext* p) {
        auto* pRaw = static_cast<HTTP_FILTER_RAW_DATA*>(p->m_pNotification);
        csSeen.assign(static_cast<const char*>(pRaw->pvInData), pRaw->cbInData);
        cbIn = pRaw->cbInBuffer;
        dwStatus = p->m_spOutboundContext->m_dwHttpStatus;
    };
    CHostRunRecord record = Run(CHostRequest().ResponseBody("<html>page</html>").ResponseStatus(200));
    EXPECT_EQ(record.SentCodes(), (std::vector<DWORD>{PREPROC, AUTH, SEND, RAW, END}));
    EXPECT_EQ(csSeen, "<html>page</html>");
    EXPECT_EQ(cbIn, csSeen.size());
    EXPECT_EQ(dwStatus, 200u);
    EXPECT_TRUE(record.m_vSkipped.empty());
}

struct CStopCase {
    DWORD dwAt;
    DWORD dwControlMessage;
    std::vector<DWORD> vExpected;
};

void PrintTo(const CStopCase& c, std::ostream* pOut) {
    *pOut << HostNotificationName(c.dwAt) << " leaves " << HostControlMessageWord(c.dwControlMessage);
}

class HostStopRuleTest : public HostRunTest, public ::testing::WithParamInterface<CStopCase> {};

TEST_P(HostStopRuleTest, OnlyEndOfRequestFollowsIgnoreOrCompleted) {
    const CStopCase& c = GetParam();
    CFakeModule::Script()[c.dwAt].m_dwControlMessage = c.dwControlMessage;
    CHostRunRecord record = Run(CHostRequest().ResponseBody("body"));
    EXPECT_EQ(record.SentCodes(), c.vExpected);
    EXPECT_EQ(CFakeModule::Seen(), c.vExpected);
    // Whatever was left out is accounted for, with the reason naming the control message.
    EXPECT_EQ(record.m_vNotifications.size() + record.m_vSkipped.size(), 5u);
    for (const auto& skipped : record.m_vSkipped)
        EXPECT_NE(skipped.m_csReason.find(HostControlMessageWord(c.dwControlMessage)), std::string::npos)
            << skipped.m_csReason;
}

INSTANTIATE_TEST_SUITE_P(
    ControlMessages, HostStopRuleTest,
    ::testing::Values(CStopCase{PREPROC, CM_IGNORE, {PREPROC, END}},
                      CStopCase{PREPROC, CM_COMPLETED, {PREPROC, END}},
                      CStopCase{AUTH, CM_IGNORE, {PREPROC, AUTH, END}},
                      CStopCase{AUTH, CM_COMPLETED, {PREPROC, AUTH, END}},
                      CStopCase{SEND, CM_IGNORE, {PREPROC, AUTH, SEND, END}},
                      CStopCase{SEND, CM_COMPLETED, {PREPROC, AUTH, SEND, END}},
                      CStopCase{RAW, CM_IGNORE, {PREPROC, AUTH, SEND, RAW, END}},
                      CStopCase{END, CM_IGNORE, {PREPROC, AUTH, SEND, RAW, END}},
                      // The host goes on for the words the module does not use to end its interest.
                      CStopCase{PREPROC, CM_HANDLED_REDIRECTED, {PREPROC, AUTH, SEND, RAW, END}},
                      CStopCase{PREPROC, CM_REPLACE, {PREPROC, AUTH, SEND, RAW, END}},
                      CStopCase{PREPROC, 7, {PREPROC, AUTH, SEND, RAW, END}}));

TEST_F(HostRunTest, InterimStatusSendsResponseTwiceAndIgnoreStopsTheRest) {
    std::vector<DWORD> vStatuses;
    CFakeModule::Script()[SEND].m_fnAction = [&](CDLLContext* p) {
        vStatuses.push_back(Callbacks(p)->HttpStatus);
        EXPECT_EQ(p->m_spOutboundContext->m_dwHttpStatus, Callbacks(p)->HttpStatus);
    };
    Run(CHostRequest().InterimStatus(100).ResponseStatus(302));
    EXPECT_EQ(vStatuses, (std::vector<DWORD>{100, 302}));

    vStatuses.clear();
    CFakeModule::Script()[SEND].m_dwControlMessage = CM_IGNORE;
    CHostRunRecord record = Run(CHostRequest().InterimStatus(100).ResponseStatus(200));
    EXPECT_EQ(vStatuses, (std::vector<DWORD>{100}));
    EXPECT_EQ(record.SentCodes(), (std::vector<DWORD>{PREPROC, AUTH, SEND, END}));
}

TEST_F(HostRunTest, FillsTheRecordForEachNotification) {
    std::map<DWORD, void*> mapNotification;
    std::map<DWORD, DWORD> mapType;
    for (DWORD dwCode : {PREPROC, AUTH, SEND, RAW, END})
        CFakeModule::Script()[dwCode].m_fnAction = [&, dwCode](CDLLContext* p) {
            mapNotification[dwCode] = p->m_pNotification;
            mapType[dwCode] = p->m_dwNotificationType;
            EXPECT_EQ(p->m_dwSubscriptionType, 15u);
            EXPECT_EQ(p->m_dwLinkCriteria, 3u);
            ASSERT_TRUE(p->m_spExchangeURL);
            EXPECT_EQ(p->m_spExchangeURL->GetBaseAddress(), "https://mail.example.com/owa/");
        };
    CFakeModule::Script()[PREPROC].m_fnAction = [&](CDLLContext* p) {
        mapNotification[PREPROC] = p->m_pNotification;
        mapType[PREPROC] = p->m_dwNotificationType;
        HTTP_FILTER_PREPROC_HEADERS* pHeaders = Callbacks(p);
        EXPECT_NE(pHeaders->GetHeader, nullptr);
        EXPECT_NE(pHeaders->SetHeader, nullptr);
        EXPECT_NE(pHeaders->AddHeader, nullptr);
        ASSERT_NE(p->m_pFilterContext, nullptr);
        EXPECT_EQ(p->m_pFilterContext->cbSize, sizeof(HTTP_FILTER_CONTEXT));
        ASSERT_NE(p->m_pCoreServices, nullptr);
        EXPECT_NE(p->m_pCoreServices->SendResponse, nullptr);
        EXPECT_NE(p->m_pCoreServices->SubmitBufferCommands, nullptr);
    };
    Run(CHostRequest()
            .SubscriptionType(15)
            .LinkCriteria(3)
            .ExchangeServer("https://mail.example.com")
            .VirtualDir("/owa")
            .ResponseBody("x"));
    for (DWORD dwCode : {PREPROC, AUTH, SEND, RAW, END})
        EXPECT_EQ(mapType[dwCode], dwCode);
    EXPECT_NE(mapNotification[PREPROC], nullptr);
    EXPECT_NE(mapNotification[AUTH], nullptr);
    EXPECT_NE(mapNotification[SEND], nullptr);
    EXPECT_NE(mapNotification[RAW], nullptr);
    EXPECT_EQ(mapNotification[END], nullptr);
}

TEST_F(HostRunTest, RecordsResultControlMessageFlagsAndWorkerContext) {
    static int s_nWorker = 0;
    CFakeModule::Script()[PREPROC] = {0, CM_NONE,
                                      [](CDLLContext* p) { p->m_dwClientFlags = CF_BASE_REQUEST; }};
    CFakeModule::Script()[AUTH] = {13, CM_NONE, [](CDLLContext* p) {
                                       p->m_pMyOwnContext = &s_nWorker;
                                       p->m_dwCriteria = 9;
                                   }};
    CFakeModule::Script()[END] = {0, CM_NONE, [](CDLLContext* p) { p->m_pMyOwnContext = nullptr; }};
    CHostRunRecord record = Run(CHostRequest());
    ASSERT_EQ(record.m_vNotifications.size(), 4u);
    const auto& preproc = record.m_vNotifications[0];
    EXPECT_EQ(preproc.m_csName, "PREPROC_HEADERS");
    EXPECT_EQ(preproc.m_dwClientFlags, CF_BASE_REQUEST);
    EXPECT_FALSE(preproc.m_bWorkerContext);
    const auto& auth = record.m_vNotifications[1];
    EXPECT_EQ(auth.m_csName, "AUTH_COMPLETE");
    EXPECT_EQ(auth.m_dwResult, 13u);
    EXPECT_EQ(auth.m_dwCriteria, 9u);
    EXPECT_TRUE(auth.m_bWorkerContext);
    EXPECT_TRUE(record.m_vNotifications[2].m_bWorkerContext);
    EXPECT_FALSE(record.m_vNotifications[3].m_bWorkerContext);
    EXPECT_TRUE(record.m_vAnomalies.empty());
}

TEST_F(HostRunTest, AWorkerContextLeftAfterEndOfRequestIsAnAnomaly) {
    static int s_nWorker = 0;
    CFakeModule::Script()[AUTH].m_fnAction = [](CDLLContext* p) { p->m_pMyOwnContext = &s_nWorker; };
    CHostRunRecord record = Run(CHostRequest());
    ASSERT_EQ(record.m_vAnomalies.size(), 1u);
    EXPECT_NE(record.m_vAnomalies[0].find("still attached after END_OF_REQUEST"), std::string::npos);
}

TEST_F(HostRunTest, AnExceptionLeavingTheModuleEndsTheRequestWithEndOfRequest) {
    CFakeModule::Script()[AUTH].m_fnAction = [](CDLLContext*) { throw std::runtime_error("boom"); };
    CHostRunRecord record = Run(CHostRequest().ResponseBody("x"));
    EXPECT_EQ(record.SentCodes(), (std::vector<DWORD>{PREPROC, AUTH, END}));
    const CHostNotificationRecord* pAuth = record.Find(AUTH);
    ASSERT_NE(pAuth, nullptr);
    EXPECT_TRUE(pAuth->m_bException);
    EXPECT_EQ(pAuth->m_csException, "boom");
    ASSERT_EQ(record.m_vAnomalies.size(), 1u);
    EXPECT_NE(record.m_vAnomalies[0].find("AUTH_COMPLETE"), std::string::npos);
}

struct CReadCase {
    const char* pszLabel;
    bool bServerVariable;
    const char* pszName;
    DWORD cbBuffer;
    BOOL bResult;
    DWORD dwLastError;
    DWORD dwSize;
    const char* pszText;
};

void PrintTo(const CReadCase& c, std::ostream* pOut) {
    *pOut << c.pszLabel;
}

class HostReadProtocolTest : public HostRunTest, public ::testing::WithParamInterface<CReadCase> {};

TEST_P(HostReadProtocolTest, AnswersAsTheTwoCallProtocolRequires) {
    const CReadCase& c = GetParam();
    CReadAnswer answer{};
    CFakeModule::Script()[PREPROC].m_fnAction = [&](CDLLContext* p) {
        answer = CallRead(p, c.bServerVariable, c.pszName, c.cbBuffer);
    };
    CHostRunRecord record = Run(CHostRequest()
                                    .UserAgent("Agent/1.0")
                                    .AcceptLanguage("de-CH")
                                    .Referer("https://x/owa/")
                                    .ServerVariable("EMPTY_ONE", ""));
    EXPECT_EQ(answer.bResult, c.bResult) << c.pszLabel;
    EXPECT_EQ(answer.dwLastError, c.dwLastError) << c.pszLabel;
    EXPECT_EQ(answer.dwSize, c.dwSize) << c.pszLabel;
    EXPECT_EQ(answer.csText, c.pszText) << c.pszLabel;
    ASSERT_EQ(record.m_vNotifications[0].m_vReads.size(), 1u);
    EXPECT_EQ(record.m_vNotifications[0].m_vReads[0].m_dwSize, c.dwSize);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, HostReadProtocolTest,
    ::testing::Values(
        CReadCase{"size query", false, "User-Agent:", 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 10, ""},
        CReadCase{"buffer too small by one", false, "User-Agent:", 9, FALSE, ERROR_INSUFFICIENT_BUFFER, 10,
                  ""},
        CReadCase{"exact buffer", false, "User-Agent:", 10, TRUE, 0, 10, "Agent/1.0"},
        CReadCase{"large buffer", false, "user-agent", 64, TRUE, 0, 10, "Agent/1.0"},
        CReadCase{"referer with colon", false, "Referer:", 64, TRUE, 0, 15, "https://x/owa/"},
        CReadCase{"special url", false, "url", 64, TRUE, 0, 6, "/owa/"},
        CReadCase{"missing header", false, "X-None:", 0, FALSE, ERROR_INVALID_INDEX, 0, ""},
        CReadCase{"variable size query", true, "HTTP_ACCEPT_LANGUAGE", 0, FALSE, ERROR_INSUFFICIENT_BUFFER, 6,
                  ""},
        CReadCase{"variable read", true, "http_accept_language", 6, TRUE, 0, 6, "de-CH"},
        CReadCase{"header as variable", true, "HEADER_User-Agent", 32, TRUE, 0, 10, "Agent/1.0"},
        CReadCase{"missing variable", true, "LOGON_USER", 0, FALSE, ERROR_INVALID_INDEX, 0, ""},
        CReadCase{"empty value fits any buffer", true, "EMPTY_ONE", 0, TRUE, 0, 0, ""}));

TEST_F(HostRunTest, TwoCallReadGetsTheWholeValue) {
    std::string csAgent(5000, 'a'), csRead, csCookie;
    bool bAgent = false, bCookie = false;
    CFakeModule::Script()[AUTH].m_fnAction = [&](CDLLContext* p) {
        bAgent = ReadTwoCalls(p, false, "User-Agent:", csRead);
        bCookie = ReadTwoCalls(p, true, "HTTP_COOKIE", csCookie);
    };
    Run(CHostRequest().UserAgent(csAgent).Cookie("a=b; UserContext=1"));
    EXPECT_TRUE(bAgent);
    EXPECT_EQ(csRead, csAgent);
    EXPECT_TRUE(bCookie);
    EXPECT_EQ(csCookie, "a=b; UserContext=1");
}

TEST_F(HostRunTest, AConfiguredReadFailureReportsItsErrorAndSize) {
    CReadAnswer referer{}, agent{}, sizing{}, second{};
    CFakeModule::Script()[PREPROC].m_fnAction = [&](CDLLContext* p) {
        referer = CallRead(p, false, "Referer:", 0);
        agent = CallRead(p, false, "User-Agent:", 0);
        sizing = CallRead(p, true, "HTTP_COOKIE", 0);
        second = CallRead(p, true, "HTTP_COOKIE", sizing.dwSize);
    };
    CHostRunRecord record = Run(
        CHostRequest()
            .UserAgent("A")
            .Referer("https://r/")
            .Cookie("c=1")
            .FailRead(EHostCallback::GetHeader, {"Referer", ERROR_NO_DATA, 1, false})
            .FailRead(EHostCallback::GetServerVariable, {"HTTP_COOKIE", ERROR_INVALID_PARAMETER, 0, true}));
    EXPECT_EQ(referer.bResult, FALSE);
    EXPECT_EQ(referer.dwLastError, ERROR_NO_DATA);
    EXPECT_EQ(referer.dwSize, 1u);
    // Other names are not affected.
    EXPECT_EQ(agent.dwLastError, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(agent.dwSize, 2u);
    // A second-call failure lets the size query through.
    EXPECT_EQ(sizing.dwLastError, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(sizing.dwSize, 4u);
    EXPECT_EQ(second.bResult, FALSE);
    EXPECT_EQ(second.dwLastError, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(record.m_vNotifications[0].m_vReads.size(), 4u);
}

TEST_F(HostRunTest, ANullSizePointerIsRefusedAndRecorded) {
    BOOL bResult = TRUE;
    DWORD dwError = 0;
    CFakeModule::Script()[PREPROC].m_fnAction = [&](CDLLContext* p) {
        bResult =
            Callbacks(p)->GetHeader(p->m_pFilterContext, const_cast<LPSTR>("Referer:"), nullptr, nullptr);
        dwError = PlatformGetLastError();
    };
    CHostRunRecord record = Run(CHostRequest());
    EXPECT_EQ(bResult, FALSE);
    EXPECT_EQ(dwError, ERROR_INVALID_PARAMETER);
    ASSERT_EQ(record.m_vAnomalies.size(), 1u);
}

TEST_F(HostRunTest, ACallbackWithAForeignFilterContextIsRefusedAndRecorded) {
    BOOL bResult = TRUE;
    DWORD dwError = 0;
    CFakeModule::Script()[SEND].m_fnAction = [&](CDLLContext* p) {
        HTTP_FILTER_CONTEXT foreign{};
        bResult = Callbacks(p)->AddHeader(&foreign, const_cast<LPSTR>("X:"), const_cast<LPSTR>("1"));
        dwError = PlatformGetLastError();
        Callbacks(p)->AddHeader(nullptr, const_cast<LPSTR>("X:"), const_cast<LPSTR>("1"));
    };
    CHostRunRecord record = Run(CHostRequest());
    EXPECT_EQ(bResult, FALSE);
    EXPECT_EQ(dwError, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(record.m_vAnomalies.size(), 2u);
    EXPECT_TRUE(record.AllHeadersAdded().empty());
}

struct CWithoutCase {
    EHostPart ePart;
    std::function<bool(CDLLContext*)> fnIsMissing;
};

TEST_F(HostRunTest, EachPartCanBeLeftOut) {
    const std::vector<CWithoutCase> vCases = {
        {EHostPart::FilterContext, [](CDLLContext* p) { return p->m_pFilterContext == nullptr; }},
        {EHostPart::CoreServices, [](CDLLContext* p) { return p->m_pCoreServices == nullptr; }},
        {EHostPart::OutboundContext, [](CDLLContext* p) { return !p->m_spOutboundContext; }},
        {EHostPart::RequestInfo, [](CDLLContext* p) { return !p->m_spRequestInfo; }},
        {EHostPart::ExchangeURL, [](CDLLContext* p) { return !p->m_spExchangeURL; }},
        {EHostPart::GetHeader, [](CDLLContext* p) { return Callbacks(p)->GetHeader == nullptr; }},
        {EHostPart::SetHeader, [](CDLLContext* p) { return Callbacks(p)->SetHeader == nullptr; }},
        {EHostPart::AddHeader, [](CDLLContext* p) { return Callbacks(p)->AddHeader == nullptr; }},
        {EHostPart::GetServerVariable,
         [](CDLLContext* p) { return p->m_pFilterContext->GetServerVariable == nullptr; }},
        {EHostPart::ServerSupportFunction,
         [](CDLLContext* p) { return p->m_pFilterContext->ServerSupportFunction == nullptr; }},
        {EHostPart::SendResponse, [](CDLLContext* p) { return p->m_pCoreServices->SendResponse == nullptr; }},
        {EHostPart::SubmitBufferCommands,
         [](CDLLContext* p) { return p->m_pCoreServices->SubmitBufferCommands == nullptr; }},
    };
    for (size_t i = 0; i < vCases.size(); ++i) {
        bool bMissing = false, bPresentOtherwise = false;
        CFakeModule::Script()[SEND].m_fnAction = [&](CDLLContext* p) { bMissing = vCases[i].fnIsMissing(p); };
        Run(CHostRequest().Without(vCases[i].ePart));
        CFakeModule::Script()[SEND].m_fnAction = [&](CDLLContext* p) {
            bPresentOtherwise = !vCases[i].fnIsMissing(p);
        };
        Run(CHostRequest());
        EXPECT_TRUE(bMissing) << "case " << i;
        EXPECT_TRUE(bPresentOtherwise) << "case " << i;
    }
}

TEST_F(HostRunTest, AddHeaderFailsAfterTheGivenNumberOfSuccesses) {
    std::vector<BOOL> vResults;
    DWORD dwError = 0;
    CFakeModule::Script()[SEND].m_fnAction = [&](CDLLContext* p) {
        for (int i = 0; i < 5; ++i) {
            std::string csValue = std::to_string(i);
            vResults.push_back(Callbacks(p)->AddHeader(p->m_pFilterContext,
                                                       const_cast<LPSTR>("Cache-control:"), csValue.data()));
            if (!vResults.back())
                dwError = PlatformGetLastError();
        }
    };
    CHostRunRecord record = Run(CHostRequest().FailAddHeaderAfter(3));
    EXPECT_EQ(vResults, (std::vector<BOOL>{TRUE, TRUE, TRUE, FALSE, FALSE}));
    EXPECT_EQ(dwError, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(record.AllHeadersAdded().size(), 3u);
    ASSERT_EQ(record.Find(SEND)->m_vHeadersAdded.size(), 5u);
    EXPECT_FALSE(record.Find(SEND)->m_vHeadersAdded[3].m_bResult);
}

TEST_F(HostRunTest, HeaderChangesDuringRequestNotificationsAreSeenByLaterReads) {
    std::string csUrl, csAdded;
    bool bRefererGone = false;
    CFakeModule::Script()[PREPROC].m_fnAction = [&](CDLLContext* p) {
        Callbacks(p)->SetHeader(p->m_pFilterContext, const_cast<LPSTR>("url"),
                                const_cast<LPSTR>("/owa/?x=1"));
        Callbacks(p)->AddHeader(p->m_pFilterContext, const_cast<LPSTR>("X-Added:"), const_cast<LPSTR>("yes"));
        Callbacks(p)->SetHeader(p->m_pFilterContext, const_cast<LPSTR>("Referer:"), const_cast<LPSTR>(""));
    };
    CFakeModule::Script()[AUTH].m_fnAction = [&](CDLLContext* p) {
        ReadTwoCalls(p, false, "url", csUrl);
        ReadTwoCalls(p, false, "X-Added:", csAdded);
        bRefererGone = CallRead(p, false, "Referer:", 0).dwLastError == ERROR_INVALID_INDEX;
    };
    CFakeModule::Script()[SEND].m_fnAction = [&](CDLLContext* p) {
        // Response headers are not request headers.
        Callbacks(p)->SetHeader(p->m_pFilterContext, const_cast<LPSTR>("X-Added:"), const_cast<LPSTR>("no"));
    };
    CHostRunRecord record = Run(CHostRequest().Referer("https://r/"));
    EXPECT_EQ(csUrl, "/owa/?x=1");
    EXPECT_EQ(csAdded, "yes");
    EXPECT_TRUE(bRefererGone);
    ASSERT_EQ(record.Find(PREPROC)->m_vHeadersSet.size(), 2u);
    EXPECT_EQ(record.Find(PREPROC)->m_vHeadersSet[0].m_csName, "url");
    EXPECT_EQ(record.Find(SEND)->m_vHeadersSet.size(), 1u);
}

TEST_F(HostRunTest, SetHeaderCanBeMadeToFail) {
    BOOL bResult = TRUE;
    CFakeModule::Script()[PREPROC].m_fnAction = [&](CDLLContext* p) {
        bResult =
            Callbacks(p)->SetHeader(p->m_pFilterContext, const_cast<LPSTR>("URL"), const_cast<LPSTR>("/x"));
    };
    CHostRunRecord record = Run(CHostRequest().FailSetHeader());
    EXPECT_EQ(bResult, FALSE);
    ASSERT_EQ(record.Find(PREPROC)->m_vHeadersSet.size(), 1u);
    EXPECT_FALSE(record.Find(PREPROC)->m_vHeadersSet[0].m_bResult);
}

TEST_F(HostRunTest, AThrowingCallbackThrowsIntoTheModule) {
    bool bCaught = false;
    CFakeModule::Script()[SEND].m_fnAction = [&](CDLLContext* p) {
        try {
            Callbacks(p)->AddHeader(p->m_pFilterContext, const_cast<LPSTR>("X:"), const_cast<LPSTR>("1"));
        } catch (const CHostCallbackException&) {
            bCaught = true;
        }
    };
    CFakeModule::Script()[AUTH].m_fnAction = [&](CDLLContext* p) {
        DWORD cb = 1;
        p->m_pCoreServices->SendResponse(p, "x", &cb, p->m_pCoreServices); // not caught: leaves the module
    };
    CHostRunRecord record =
        Run(CHostRequest().ThrowFrom(EHostCallback::AddHeader).ThrowFrom(EHostCallback::SendResponse));
    // AUTH_COMPLETE let the exception through, so the host stopped following the request.
    EXPECT_FALSE(bCaught);
    EXPECT_TRUE(record.Find(AUTH)->m_bException);
    EXPECT_EQ(record.SentCodes(), (std::vector<DWORD>{PREPROC, AUTH, END}));

    CFakeModule::Script().erase(AUTH);
    record = Run(CHostRequest().ThrowFrom(EHostCallback::AddHeader));
    EXPECT_TRUE(bCaught);
    EXPECT_FALSE(record.Find(SEND)->m_bException);
}

TEST_F(HostRunTest, RecordsResponsesResponseHeadersAndSubmissions) {
    int nList = 0;
    DWORD dwSubmitResult = 99, dwResponseResult = 99;
    BOOL bSupport = FALSE, bUnsupported = TRUE;
    DWORD dwUnsupportedError = 0;
    CFakeModule::Script()[AUTH].m_fnAction = [&](CDLLContext* p) {
        const char* pszPage = "HTTP/1.1 200 OK\r\n\r\n<html/>";
        DWORD cb = static_cast<DWORD>(std::strlen(pszPage));
        dwResponseResult = p->m_pCoreServices->SendResponse(p, pszPage, &cb, p->m_pCoreServices);
        bSupport = p->m_pFilterContext->ServerSupportFunction(
            p->m_pFilterContext, SF_REQ_SEND_RESPONSE_HEADER, const_cast<char*>("302 Object Moved"),
            reinterpret_cast<ULONG_PTR>("Location: /blocked\r\n\r\n"), 0);
        bUnsupported =
            p->m_pFilterContext->ServerSupportFunction(p->m_pFilterContext, SF_REQ_GET_CONNID, nullptr, 0, 0);
        dwUnsupportedError = PlatformGetLastError();
    };
    CFakeModule::Script()[RAW].m_fnAction = [&](CDLLContext* p) {
        dwSubmitResult =
            p->m_pCoreServices->SubmitBufferCommands(p, reinterpret_cast<CBufferInstructionList*>(&nList));
    };
    m_session.SetBufferCommandsHandler([&](CDLLContext*, CBufferInstructionList* pList) -> DWORD {
        return pList == reinterpret_cast<CBufferInstructionList*>(&nList) ? 0 : 13;
    });
    CHostRunRecord record = Run(CHostRequest().ResponseBody("<html/>"));
    EXPECT_EQ(dwResponseResult, 0u);
    EXPECT_EQ(bSupport, TRUE);
    EXPECT_EQ(bUnsupported, FALSE);
    EXPECT_EQ(dwUnsupportedError, ERROR_NOT_SUPPORTED);
    EXPECT_EQ(dwSubmitResult, 0u);

    const CHostNotificationRecord* pAuth = record.Find(AUTH);
    ASSERT_EQ(pAuth->m_vResponses.size(), 1u);
    EXPECT_EQ(pAuth->m_vResponses[0].m_csText, "HTTP/1.1 200 OK\r\n\r\n<html/>");
    EXPECT_EQ(pAuth->m_vResponses[0].m_dwByteCount, 26u);
    ASSERT_EQ(pAuth->m_vSupportCalls.size(), 2u);
    EXPECT_EQ(pAuth->m_vSupportCalls[0].m_csStatus, "302 Object Moved");
    EXPECT_EQ(pAuth->m_vSupportCalls[0].m_csHeaders, "Location: /blocked\r\n\r\n");
    EXPECT_FALSE(pAuth->m_vSupportCalls[1].m_bResult);
    const CHostNotificationRecord* pRaw = record.Find(RAW);
    ASSERT_EQ(pRaw->m_vBufferSubmissions.size(), 1u);
    EXPECT_EQ(pRaw->m_vBufferSubmissions[0].m_uInstructions, reinterpret_cast<uintptr_t>(&nList));
    EXPECT_TRUE(record.m_vAnomalies.empty());
}

TEST_F(HostRunTest, AWrongResponseByteCountIsNeverReadPast) {
    CFakeModule::Script()[AUTH].m_fnAction = [&](CDLLContext* p) {
        DWORD cbTooLarge = 4000;
        p->m_pCoreServices->SendResponse(p, "short", &cbTooLarge, p->m_pCoreServices);
        DWORD cbTooSmall = 2;
        p->m_pCoreServices->SendResponse(p, "short", &cbTooSmall, p->m_pCoreServices);
        p->m_pCoreServices->SendResponse(p, "no count", nullptr, p->m_pCoreServices);
    };
    CHostRunRecord record = Run(CHostRequest());
    std::vector<CHostResponse> vResponses = record.AllResponses();
    ASSERT_EQ(vResponses.size(), 3u);
    EXPECT_EQ(vResponses[0].m_csText, "short");
    EXPECT_EQ(vResponses[1].m_csText, "sh");
    EXPECT_EQ(vResponses[2].m_csText, "no count");
    EXPECT_FALSE(vResponses[2].m_bByteCountGiven);
    EXPECT_EQ(record.m_vAnomalies.size(), 2u);
}

TEST_F(HostRunTest, NotificationsRunUnderTheRequestIdentity) {
    auto spIdentity = std::make_shared<CRequestIdentity>();
    spIdentity->csUser = "alice";
    spIdentity->csDomain = "EXAMPLE";
    std::string csUser, csLogon;
    CFakeModule::Script()[AUTH].m_fnAction = [&](CDLLContext* p) {
        CIdentityToken spToken;
        if (CThreadIdentity::OpenThreadToken(spToken) == ERROR_SUCCESS)
            csUser = spToken->csUser;
        ReadTwoCalls(p, true, "LOGON_USER", csLogon);
    };
    Run(CHostRequest().Identity(spIdentity));
    EXPECT_EQ(csUser, "alice");
    EXPECT_EQ(csLogon, "EXAMPLE\\alice");
    CIdentityToken spAfter;
    EXPECT_EQ(CThreadIdentity::OpenThreadToken(spAfter), ERROR_NO_TOKEN);
}

TEST_F(HostRunTest, ConcurrentRunsKeepTheirCallbacksApart) {
    CFakeModule::Script()[SEND].m_fnAction = [](CDLLContext* p) {
        std::string csAgent;
        if (ReadTwoCalls(p, false, "User-Agent:", csAgent))
            Callbacks(p)->AddHeader(p->m_pFilterContext, const_cast<LPSTR>("X-Echo:"), csAgent.data());
    };
    constexpr int THREADS = 8, RUNS = 40;
    std::atomic<int> nMismatches{0}, nRuns{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < THREADS; ++t)
        vThreads.emplace_back([&, t] {
            for (int r = 0; r < RUNS; ++r) {
                std::string csAgent = "Agent-" + std::to_string(t) + "-" + std::to_string(r);
                CHostRunRecord record = m_session.Run(CHostRequest().UserAgent(csAgent));
                std::vector<CHostHeader> vAdded = record.AllHeadersAdded();
                if (vAdded.size() != 1 || vAdded[0].m_csValue != csAgent || !record.m_vAnomalies.empty())
                    ++nMismatches;
                ++nRuns;
            }
        });
    for (auto& thread : vThreads)
        thread.join();
    EXPECT_EQ(nRuns.load(), THREADS * RUNS);
    EXPECT_EQ(nMismatches.load(), 0);
}

// ---------------------------------------------------------------------------------------------------------
// Registration and termination.

BOOL RefusingGetFilterVersion(HTTP_FILTER_VERSION*) {
    return FALSE;
}
BOOL UnterminatedGetFilterVersion(HTTP_FILTER_VERSION* pVer) {
    std::memset(pVer->lpszFilterDesc, 'D', sizeof(pVer->lpszFilterDesc));
    return TRUE;
}
BOOL ThrowingGetFilterVersion(HTTP_FILTER_VERSION*) {
    throw std::logic_error("init threw");
}
BOOL FailingTerminate(DWORD) {
    return FALSE;
}

TEST(HostSessionTest, RecordsTheRegistration) {
    CHostSession session(CFakeModule::EntryPoints());
    EXPECT_EQ(session.GetFilterVersion(), TRUE);
    const CFilterVersionRecord& v = session.GetVersionRecord();
    EXPECT_TRUE(v.m_bCalled);
    EXPECT_EQ(v.m_dwServerFilterVersion, HOST_SERVER_FILTER_VERSION);
    EXPECT_EQ(v.m_dwFilterVersion, 0x60000u);
    EXPECT_EQ(v.m_dwFlags, 0x40264C0u);
    EXPECT_EQ(v.m_csDescription, "Fake");
    EXPECT_TRUE(v.m_bDescriptionTerminated);
    EXPECT_EQ(
        HostNotificationFlagsText(v.m_dwFlags),
        "SEND_RESPONSE|END_OF_REQUEST|SEND_RAW_DATA|AUTHENTICATION|PREPROC_HEADERS|ORDER_LOW|AUTH_COMPLETE");
    EXPECT_EQ(session.TerminateFilter(), TRUE);
    EXPECT_TRUE(session.GetTerminateRecord().m_bCalled);
}

TEST(HostSessionTest, ARefusalLeavesTheHostsFieldsAsTheyWere) {
    CModuleEntryPoints entryPoints = CFakeModule::EntryPoints();
    entryPoints.pfnGetFilterVersion = &RefusingGetFilterVersion;
    entryPoints.pfnTerminateFilter = &FailingTerminate;
    CHostSession session(entryPoints);
    EXPECT_EQ(session.GetFilterVersion(), FALSE);
    EXPECT_EQ(session.GetVersionRecord().m_dwFilterVersion, 0u);
    EXPECT_EQ(session.GetVersionRecord().m_dwFlags, 0u);
    EXPECT_EQ(session.GetVersionRecord().m_csDescription, "");
    EXPECT_EQ(session.TerminateFilter(), FALSE);
}

TEST(HostSessionTest, BadEntryPointsAreRecordedNotFatal) {
    CModuleEntryPoints entryPoints = CFakeModule::EntryPoints();
    entryPoints.pfnGetFilterVersion = &UnterminatedGetFilterVersion;
    CHostSession unterminated(entryPoints);
    EXPECT_EQ(unterminated.GetFilterVersion(), TRUE);
    EXPECT_FALSE(unterminated.GetVersionRecord().m_bDescriptionTerminated);
    EXPECT_EQ(unterminated.GetVersionRecord().m_csDescription, std::string(SF_MAX_FILTER_DESC_LEN, 'D'));

    entryPoints.pfnGetFilterVersion = &ThrowingGetFilterVersion;
    CHostSession throwing(entryPoints);
    EXPECT_EQ(throwing.GetFilterVersion(), FALSE);
    EXPECT_TRUE(throwing.GetVersionRecord().m_bException);
    EXPECT_EQ(throwing.GetVersionRecord().m_csException, "init threw");

    CHostSession empty{CModuleEntryPoints()};
    EXPECT_EQ(empty.GetFilterVersion(), FALSE);
    EXPECT_FALSE(empty.GetVersionRecord().m_bCalled);
    EXPECT_EQ(empty.TerminateFilter(), FALSE);
    CHostRunRecord record = empty.Run(CHostRequest());
    EXPECT_TRUE(record.m_vNotifications.empty());
    EXPECT_EQ(record.m_vAnomalies.size(), 1u);
}

TEST(HostRecordTest, NamesAndWords) {
    const std::vector<std::pair<DWORD, const char*>> vWords = {
        {0, "None"},      {1, "Ignore"},  {2, "Handled/Redirected"}, {3, "Replace"},
        {4, "Completed"}, {5, "Unknown"}, {0xFFFFFFFF, "Unknown"}};
    for (const auto& [dwMessage, pszWord] : vWords)
        EXPECT_STREQ(HostControlMessageWord(dwMessage), pszWord);
    EXPECT_EQ(HostNotificationName(0x4000), "PREPROC_HEADERS");
    EXPECT_EQ(HostNotificationName(0x4000000), "AUTH_COMPLETE");
    EXPECT_EQ(HostNotificationName(0x10000000), "0x10000000");
    EXPECT_EQ(HostNotificationFlagsText(0), "0");
    EXPECT_EQ(HostNotificationFlagsText(0x40 | 0x10000000), "SEND_RESPONSE|0x10000000");
}

} // namespace
