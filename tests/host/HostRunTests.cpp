#include "tests/TableFile.h"
#include "tests/host/FakeModule.h"

#include "platform/LastError.h"
#include "platform/ThreadIdentity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <tuple>

namespace {

constexpr DWORD PREPROC = SF_NOTIFY_PREPROC_HEADERS;
constexpr DWORD AUTH = SF_NOTIFY_AUTH_COMPLETE;
constexpr DWORD SEND = SF_NOTIFY_SEND_RESPONSE;
constexpr DWORD END = SF_NOTIFY_END_OF_REQUEST;
using Codes = std::vector<DWORD>;
using Answers = std::vector<std::pair<BOOL, DWORD>>; // what callbacks returned, with the last error

class HostRunTest : public ::testing::Test {
protected:
    void SetUp() override { CFakeModule::Reset(); }
    void TearDown() override { CFakeModule::Reset(); }
    static CFakeStep& On(DWORD dwCode) { return CFakeModule::s_script[dwCode]; }
    CHostRunRecord Run(const CHostRequest& request) { return m_session.Run(request); }
    CHostSession m_session{CFakeModule::EntryPoints()};
};

LPSTR Str(const char* psz) {
    return const_cast<LPSTR>(psz);
}
BOOL AddHeader(CDLLContext* p, const char* pszName, const char* pszValue) {
    return Callbacks(p)->AddHeader(p->m_pFilterContext, Str(pszName), Str(pszValue));
}

// What one call of a read callback answered: the result, the last error, the size, the text read.
using CReadAnswer = std::tuple<BOOL, DWORD, DWORD, std::string>;

CReadAnswer CallRead(CDLLContext* p, bool bServerVariable, const char* pszName, DWORD cbBuffer) {
    std::vector<char> vBuffer(cbBuffer + 1, '#');
    DWORD dwSize = cbBuffer;
    LPVOID pBuffer = cbBuffer ? vBuffer.data() : nullptr;
    PlatformSetLastError(0);
    BOOL bResult =
        bServerVariable
            ? p->m_pFilterContext->GetServerVariable(p->m_pFilterContext, Str(pszName), pBuffer, &dwSize)
            : Callbacks(p)->GetHeader(p->m_pFilterContext, Str(pszName), pBuffer, &dwSize);
    // The host reports in the error word it named in the record, which a loaded module reads as its own.
    DWORD dwError = bResult ? 0 : *p->m_pdwThreadError;
    return {bResult, dwError, dwSize, bResult && cbBuffer ? std::string(vBuffer.data()) : std::string()};
}

// The way a caller reads a value of unknown length: ask for the size, then read with that much room.
std::string ReadTwoCalls(CDLLContext* p, bool bServerVariable, const char* pszName) {
    const auto [bResult, dwError, dwSize, csText] = CallRead(p, bServerVariable, pszName, 0);
    if (bResult || dwError != ERROR_INSUFFICIENT_BUFFER)
        return bResult ? "" : "(failed)";
    CReadAnswer second = CallRead(p, bServerVariable, pszName, dwSize);
    return std::get<0>(second) ? std::get<3>(second) : "(failed)";
}

// Notification codes from their names, separated by blanks.
Codes CodesOf(const std::string& csNames) {
    std::istringstream in(csNames);
    Codes vCodes;
    for (std::string csName; in >> csName;)
        for (DWORD dwCode : HOST_NOTIFICATION_ORDER)
            if (HostNotificationName(dwCode) == csName)
                vCodes.push_back(dwCode);
    return vCodes;
}

class HostStopRuleTest : public HostRunTest, public ::testing::WithParamInterface<tabletest::TRow> {};

TEST_P(HostStopRuleTest, OnlyEndOfRequestFollowsIgnoreOrCompleted) {
    const tabletest::TRow& c = GetParam();
    const DWORD dwControlMessage = static_cast<DWORD>(tabletest::Number(c.at(2)));
    const Codes vExpected = CodesOf(c.at(3));
    const bool bBody = c.at(4) == "body";
    Codes vSeen; // what the module was called with
    for (DWORD dwCode : HOST_NOTIFICATION_ORDER)
        On(dwCode).m_fnAction = [&](CDLLContext* p) { vSeen.push_back(p->m_dwNotificationType); };
    On(CodesOf(c[1]).at(0)).m_dwControlMessage = dwControlMessage;
    CHostRunRecord record = Run(bBody ? CHostRequest().ResponseBody("body") : CHostRequest());
    EXPECT_EQ(vSeen, vExpected);
    EXPECT_EQ(record.SentCodes(), vExpected);
    EXPECT_TRUE(record.m_vAnomalies.empty());
    // Whatever was left out is accounted for, with the reason naming the control message (or the body).
    EXPECT_EQ(record.m_vNotifications.size() + record.m_vSkipped.size(), 5u);
    const char* pszReason = bBody ? ControlMessageWord(dwControlMessage) : "no response body";
    for (const auto& skipped : record.m_vSkipped)
        EXPECT_NE(skipped.m_csReason.find(pszReason), std::string::npos) << skipped.m_csReason;
}

INSTANTIATE_TEST_SUITE_P(ControlMessages, HostStopRuleTest,
                         ::testing::ValuesIn(tabletest::ReadTable("host/stop-rules.txt")),
                         tabletest::RowName);

// A site that answers nothing: the driver alone, sent one notification at a time as a web server's hooks do.
struct CEmptySite : IHostRequestSite {
    CSiteValue GetHeader(DWORD, std::string_view, bool) override { return CSiteValue::Absent(); }
    DWORD SetHeader(DWORD, std::string_view, std::string_view) override { return ERROR_SUCCESS; }
    DWORD AddHeader(DWORD, std::string_view, std::string_view) override { return ERROR_SUCCESS; }
    CSiteValue GetServerVariable(std::string_view, bool) override { return CSiteValue::Absent(); }
    DWORD SendResponseHeader(std::string_view, std::string_view) override { return ERROR_SUCCESS; }
    DWORD SendResponse(std::string_view) override { return ERROR_SUCCESS; }
    DWORD SubmitBufferCommands(const CBufferInstructionList*) override { return ERROR_SUCCESS; }
    void* AllocMem(DWORD) override { return nullptr; }
};

TEST_F(HostRunTest, ADriverRefusesEverythingButEndOfRequestOnceTheModuleLetGo) {
    const struct {
        DWORD dwLetGo;
        DWORD dwControlMessage; // CM_NONE: the module throws
        const char* pszReason;
    } aCases[] = {
        {PREPROC, CM_COMPLETED, "control message 4 (Completed) after PREPROC_HEADERS"},
        {AUTH, CM_IGNORE, "control message 1 (Ignore) after AUTH_COMPLETE"},
        {SEND, CM_NONE, "an exception left SEND_RESPONSE"},
        {SF_NOTIFY_SEND_RAW_DATA, CM_IGNORE, "control message 1 (Ignore) after SEND_RAW_DATA"},
    };
    const std::string csPage = "<html><head></head><body>x</body></html>";
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszReason);
        CFakeModule::Reset();
        Codes vSeen;
        for (DWORD dwCode : HOST_NOTIFICATION_ORDER)
            On(dwCode).m_fnAction = [&](CDLLContext* p) {
                vSeen.push_back(p->m_dwNotificationType);
                if (p->m_dwNotificationType == c.dwLetGo && c.dwControlMessage == CM_NONE)
                    throw std::runtime_error("broken");
            };
        On(c.dwLetGo).m_dwControlMessage = c.dwControlMessage;
        CEmptySite site;
        CNotificationDriver driver(&CFakeModule::HttpFilterProc, site, CDriverSetup());
        // A server that reaches the response twice (100 Continue), then the page, then sends again.
        const bool aSent[] = {driver.Send(PREPROC, 0),         driver.Send(AUTH, 0),
                              driver.Send(SEND, 100),          driver.Send(SEND, 200),
                              driver.SendRawData(csPage, 200), driver.Send(AUTH, 0)};
        driver.EndOfRequest(200);
        Codes vExpected;
        for (DWORD dwCode : {PREPROC, AUTH, SEND, SEND, DWORD(SF_NOTIFY_SEND_RAW_DATA)})
            if (vExpected.empty() || vExpected.back() != c.dwLetGo)
                vExpected.push_back(dwCode);
        EXPECT_EQ(std::count(std::begin(aSent), std::end(aSent), true), vExpected.size() - 1);
        vExpected.push_back(END);
        EXPECT_EQ(vSeen, vExpected);
        EXPECT_FALSE(driver.Following());
        EXPECT_EQ(driver.StopReason(), c.pszReason);
        EXPECT_EQ(driver.LastOutcome().m_dwCode, END);
    }
}

TEST_F(HostRunTest, RecordsResultFlagsAndAWorkerContextLeftBehind) {
    static int s_nWorker = 0;
    On(PREPROC).m_fnAction = [](CDLLContext* p) { p->m_dwClientFlags = CF_BASE_REQUEST; };
    On(AUTH) = {13, CM_NONE, [](CDLLContext* p) { p->m_pMyOwnContext = &s_nWorker, p->m_dwCriteria = 9; }};
    On(END).m_fnAction = [](CDLLContext* p) { p->m_pMyOwnContext = nullptr; };
    CHostRunRecord record = Run(CHostRequest());
    const CHostNotificationRecord* pAuth = record.Find(AUTH);
    ASSERT_NE(pAuth, nullptr);
    EXPECT_EQ(
        std::tie(pAuth->m_dwResult, pAuth->m_dwClientFlags, pAuth->m_dwCriteria, pAuth->m_bWorkerContext),
        std::make_tuple(13u, CF_BASE_REQUEST, 9u, true));
    EXPECT_FALSE(record.Find(END)->m_bWorkerContext);
    EXPECT_TRUE(record.m_vAnomalies.empty());

    CFakeModule::s_script.erase(END);
    record = Run(CHostRequest());
    ASSERT_EQ(record.m_vAnomalies.size(), 1u);
    EXPECT_NE(record.m_vAnomalies[0].find("still attached after END_OF_REQUEST"), std::string::npos);
}

TEST_F(HostRunTest, AnExceptionLeavingTheModuleEndsTheRequestWithEndOfRequest) {
    bool bCaught = false;
    On(SEND).m_fnAction = [&](CDLLContext* p) {
        try {
            AddHeader(p, "X:", "1");
        } catch (const CHostCallbackException&) {
            bCaught = true;
        }
    };
    On(AUTH).m_fnAction = [](CDLLContext* p) {
        DWORD cb = 1;
        p->m_pCoreServices->SendResponse(p, "x", &cb, p->m_pCoreServices); // not caught: leaves the module
    };
    CHostRequest request;
    request.ResponseBody("x").ThrowFrom(EHostCallback::AddHeader).ThrowFrom(EHostCallback::SendResponse);
    CHostRunRecord record = Run(request);
    EXPECT_FALSE(bCaught);
    EXPECT_EQ(record.SentCodes(), (Codes{PREPROC, AUTH, END}));
    ASSERT_NE(record.Find(AUTH), nullptr);
    EXPECT_TRUE(record.Find(AUTH)->m_bException);
    EXPECT_EQ(record.Find(AUTH)->m_csException, "host callback SendResponse failed on purpose");
    ASSERT_EQ(record.m_vAnomalies.size(), 1u);
    EXPECT_NE(record.m_vAnomalies[0].find("AUTH_COMPLETE"), std::string::npos);

    // A throwing callback throws into the module, which may catch it.
    On(AUTH).m_fnAction = nullptr;
    record = Run(CHostRequest().ThrowFrom(EHostCallback::AddHeader));
    EXPECT_TRUE(bCaught);
    EXPECT_FALSE(record.Find(SEND)->m_bException);
}

class HostReadProtocolTest : public HostRunTest, public ::testing::WithParamInterface<tabletest::TRow> {};

TEST_P(HostReadProtocolTest, AnswersAsTheTwoCallProtocolRequires) {
    const tabletest::TRow& c = GetParam();
    const CReadAnswer expected{std::stoi(c[4]), static_cast<DWORD>(std::stoul(c[5])),
                               static_cast<DWORD>(std::stoul(c[6])), c[7]};
    CReadAnswer answer{};
    On(PREPROC).m_fnAction = [&](CDLLContext* p) {
        answer = CallRead(p, c[1] == "variable", c[2].c_str(), static_cast<DWORD>(std::stoul(c[3])));
    };
    CHostRequest request;
    request.UserAgent("Agent/1.0").AcceptLanguage("de-CH").Referer("https://x/owa/");
    request.ServerVariable("EMPTY", "");
    request.Header("X-Fails", "v").FailRead(EHostCallback::GetHeader, {"X-FAILS:", ERROR_NO_DATA, 1, false});
    request.Cookie("c=1").FailRead(EHostCallback::GetServerVariable,
                                   {"HTTP_COOKIE", ERROR_INVALID_PARAMETER, 0, true});
    CHostRunRecord record = Run(request);
    EXPECT_EQ(answer, expected);
    ASSERT_EQ(record.m_vNotifications[0].m_vReads.size(), 1u);
    EXPECT_EQ(record.m_vNotifications[0].m_vReads[0].m_dwSize, std::get<2>(expected));
}

INSTANTIATE_TEST_SUITE_P(Reads, HostReadProtocolTest,
                         ::testing::ValuesIn(tabletest::ReadTable("host/read-protocol.txt")),
                         tabletest::RowName);

TEST_F(HostRunTest, ANullSizeOrAForeignFilterContextIsRefusedAndRecorded) {
    Answers vAnswers;
    On(SEND).m_fnAction = [&](CDLLContext* p) {
        HTTP_FILTER_CONTEXT foreign{};
        auto fnAnswer = [&](BOOL bResult) { vAnswers.emplace_back(bResult, *p->m_pdwThreadError); };
        fnAnswer(Callbacks(p)->GetHeader(p->m_pFilterContext, Str("Referer:"), nullptr, nullptr));
        fnAnswer(Callbacks(p)->AddHeader(&foreign, Str("X:"), Str("1")));
        fnAnswer(Callbacks(p)->AddHeader(nullptr, Str("X:"), Str("1")));
    };
    CHostRunRecord record = Run(CHostRequest());
    EXPECT_EQ(vAnswers, Answers(3, {FALSE, ERROR_INVALID_PARAMETER}));
    EXPECT_EQ(record.m_vAnomalies.size(), 3u);
    EXPECT_TRUE(record.AllHeadersAdded().empty());
}

// That the record carries the identity to a loaded module, HostIdentityTest shows.
TEST_F(HostRunTest, NotificationsRunUnderTheRequestIdentity) {
    auto spIdentity = std::make_shared<CRequestIdentity>();
    spIdentity->csUser = "alice";
    spIdentity->csDomain = "EXAMPLE";
    std::string csUser, csLogon;
    On(AUTH).m_fnAction = [&](CDLLContext* p) {
        CIdentityToken spToken;
        if (CThreadIdentity::OpenThreadToken(spToken) == ERROR_SUCCESS)
            csUser = spToken->csUser;
        csLogon = ReadTwoCalls(p, true, "LOGON_USER");
    };
    Run(CHostRequest().Identity(spIdentity));
    EXPECT_EQ(csUser, "alice");
    EXPECT_EQ(csLogon, "EXAMPLE\\alice");
    CIdentityToken spAfter;
    EXPECT_EQ(CThreadIdentity::OpenThreadToken(spAfter), ERROR_NO_TOKEN);
}

TEST_F(HostRunTest, ConcurrentRunsKeepTheirCallbacksApart) {
    On(SEND).m_fnAction = [](CDLLContext* p) {
        AddHeader(p, "X-Echo:", ReadTwoCalls(p, false, "User-Agent:").c_str());
    };
    constexpr int THREADS = 8, RUNS = 40;
    std::atomic<int> nMismatches{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < THREADS; ++t)
        vThreads.emplace_back([&, t] {
            for (int r = 0; r < RUNS; ++r) {
                std::string csAgent = "Agent-" + std::to_string(t) + "-" + std::to_string(r);
                CHostRunRecord record = m_session.Run(CHostRequest().UserAgent(csAgent));
                std::vector<CHostHeader> vAdded = record.AllHeadersAdded();
                if (vAdded.size() != 1 || vAdded[0].m_csValue != csAgent || !record.m_vAnomalies.empty())
                    ++nMismatches;
            }
        });
    for (auto& thread : vThreads)
        thread.join();
    EXPECT_EQ(nMismatches.load(), 0);
}

BOOL UnterminatedGetFilterVersion(HTTP_FILTER_VERSION* pVer) {
    std::memset(pVer->lpszFilterDesc, 'D', sizeof(pVer->lpszFilterDesc));
    return TRUE;
}

TEST(HostSessionTest, RecordsTheRegistrationWhateverTheModuleDoes) {
    // Called, result, filter version, flags, description, description terminated, exception text.
    using CVersion = std::tuple<bool, BOOL, DWORD, DWORD, std::string, bool, std::string>;
    const std::string csLong(SF_MAX_FILTER_DESC_LEN, 'D');
    const std::vector<std::pair<PFN_GET_FILTER_VERSION, CVersion>> vCases = {
        {&CFakeModule::GetFilterVersion, {true, TRUE, 0x60000, 0x40264C0, "Fake", true, ""}},
        // A refusal leaves the host's fields as they were.
        {[](HTTP_FILTER_VERSION*) -> BOOL { return FALSE; }, {true, FALSE, 0, 0, "", true, ""}},
        {&UnterminatedGetFilterVersion, {true, TRUE, 0, 0, csLong, false, ""}},
        {[](HTTP_FILTER_VERSION*) -> BOOL { throw std::logic_error("init threw"); },
         {true, FALSE, 0, 0, "", true, "init threw"}},
        {nullptr, {false, FALSE, 0, 0, "", true, ""}},
    };
    for (const auto& [pfnGetFilterVersion, expected] : vCases) {
        CModuleEntryPoints entryPoints = CFakeModule::EntryPoints();
        entryPoints.pfnGetFilterVersion = pfnGetFilterVersion;
        CHostSession session(entryPoints);
        EXPECT_EQ(session.GetFilterVersion(), std::get<1>(expected));
        const CFilterVersionRecord& v = session.GetVersionRecord();
        EXPECT_EQ(CVersion(v.m_bCalled, v.m_bResult, v.m_dwFilterVersion, v.m_dwFlags, v.m_csDescription,
                           v.m_bDescriptionTerminated, v.m_csException),
                  expected);
        EXPECT_EQ(v.m_bException, !std::get<6>(expected).empty());
        EXPECT_EQ(v.m_dwServerFilterVersion, pfnGetFilterVersion ? HOST_SERVER_FILTER_VERSION : 0);
    }
    // Unknown notification bits are shown as one hexadecimal rest.
    EXPECT_EQ(HostNotificationFlagsText(0x40 | 0x10000000), "SEND_RESPONSE|0x10000000");
}

TEST(HostSessionTest, RecordsTerminationAndRunsNothingWithoutAnEntryPoint) {
    CModuleEntryPoints entryPoints = CFakeModule::EntryPoints();
    entryPoints.pfnTerminateFilter = [](DWORD) -> BOOL { return FALSE; };
    CHostSession failing(entryPoints);
    EXPECT_EQ(failing.TerminateFilter(), FALSE);
    EXPECT_TRUE(failing.GetTerminateRecord().m_bCalled);
    CHostSession empty{CModuleEntryPoints()};
    EXPECT_FALSE(empty.GetTerminateRecord().m_bCalled);
    EXPECT_EQ(empty.Run(CHostRequest()).m_vAnomalies.size(), 1u);
}

} // namespace
