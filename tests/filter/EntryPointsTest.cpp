#include "filter/EntryPoints.h"
#include "filter/CNotifications.h"
#include "host/testing/TestHost.h"
#include "platform/CPlatform.h"
#include "platform/HResultException.h"
#include "request/CWKSWContext.h"
#include "request/SettingsSingleton.h"
#include "tests/filter/PlatformDoubles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

namespace {

HTTP_FILTER_VERSION FilledVersion() {
    HTTP_FILTER_VERSION version;
    std::memset(&version, 'Z', sizeof(version));
    version.dwServerFilterVersion = 0x60000;
    version.dwFilterVersion = 7;
    version.dwFlags = 9;
    return version;
}

// Registration, then termination: the first deregisters, the second finds nothing, the object stays.
TEST(GetFilterVersion, RegistersVersionFlagsAndDescriptionThenTerminatesOnce) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.CopySampleInstallation());
    installation.PointProcessHere();
    HTTP_FILTER_VERSION version = FilledVersion();
    ASSERT_EQ(GetFilterVersion(&version), TRUE);
    EXPECT_EQ(version.dwFilterVersion, 0x60000u);
    EXPECT_EQ(version.dwFlags, 0x40264C0u);
    EXPECT_STREQ(version.lpszFilterDesc, "Brindlemark Wendrake");
    // Only the description and its terminating zero are written into the 257-byte field.
    for (size_t i = std::strlen("Brindlemark Wendrake") + 1; i < SF_MAX_FILTER_DESC_LEN - 1; ++i)
        ASSERT_EQ(version.lpszFilterDesc[i], 'Z') << i;
    CWKGeneralSettings* pSettings = GetGeneralSettingsInstance();
    EXPECT_EQ(pSettings->GetProductNumber(), 4u);
    EXPECT_TRUE(pSettings->IsInitialized());
    EXPECT_EQ(TerminateFilter(0), TRUE);
    EXPECT_FALSE(pSettings->IsInitialized());
    EXPECT_EQ(TerminateFilter(0), FALSE);
    EXPECT_EQ(GetGeneralSettingsInstance(), pSettings);
}

// No settings, a platform that cannot find the module, or one that throws: failure, the record as given.
TEST(GetFilterVersion, FailedInitLeavesTheVersionRecordAsGiven) {
    CFakeModules noModules, throwingModules;
    throwingModules.m_bThrow = true;
    for (IModules* pModules : {static_cast<IModules*>(nullptr), static_cast<IModules*>(&noModules),
                               static_cast<IModules*>(&throwingModules)}) {
        CTempInstallation installation;
        installation.PointProcessHere();
        CPlatform::SetModules(pModules);
        HTTP_FILTER_VERSION version = FilledVersion();
        const HTTP_FILTER_VERSION before = version;
        EXPECT_EQ(GetFilterVersion(&version), FALSE);
        CPlatform::SetModules(nullptr);
        EXPECT_EQ(std::memcmp(&version, &before, sizeof(version)), 0);
        EXPECT_FALSE(GetGeneralSettingsInstance()->IsInitialized());
    }
}

TEST(HttpFilterProc, NullContextAndUnroutedNotificationsCallNoHandler) {
    CLogCapture capture;
    EXPECT_EQ(HttpFilterProc(nullptr), WK_HOST_ABI_CONTRACT);
    for (DWORD dwType : {SF_NOTIFY_AUTHENTICATION, 0u, 0x1u, 0x100u, 0x8000u, 0xFFFFFFFFu}) {
        CDLLContext context;
        context.m_dwNotificationType = dwType;
        context.m_dwControlMessage = 77;
        EXPECT_EQ(HttpFilterProc(&context), 0u) << dwType;
        EXPECT_EQ(context.m_dwControlMessage, 77u);
    }
    EXPECT_TRUE(capture.Lines().empty());
}

struct CHandlerCase {
    const char* pszName; // the handler is CNotifications::Notify<name>
    DWORD dwType;
    DWORD (CNotifications::*pfnHandler)(CDLLContext*);
    const char* pszNullContext;
    const char* pszMissingObject; // without request objects, or null when the handler does not need them
};

void PrintTo(const CHandlerCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

const CHandlerCase g_aHandlers[] = {
    {"PreProcHeaders", SF_NOTIFY_PREPROC_HEADERS, &CNotifications::NotifyPreProcHeaders,
     "CDLLContext pointer is NULL.", "CDLLContext.m_spRequestInfo is NULL."},
    {"AuthComplete", SF_NOTIFY_AUTH_COMPLETE, &CNotifications::NotifyAuthComplete,
     "CDLLContext pointer is NULL.", "CDLLContext.m_spRequestInfo is NULL."},
    {"SendResponse", SF_NOTIFY_SEND_RESPONSE, &CNotifications::NotifySendResponse,
     "CDLLcontext pointer is NULL, do nothing.", "COutboundContext pointer is NULL, do nothing."},
    {"SendRawData", SF_NOTIFY_SEND_RAW_DATA, &CNotifications::NotifySendRawData,
     "Context not populated for further activity", nullptr},
    {"EndOfRequest", SF_NOTIFY_END_OF_REQUEST, &CNotifications::NotifyEndOfRequest,
     "pointer to CDLLContext is NULL", nullptr},
};

class HandlerShape : public ::testing::TestWithParam<CHandlerCase> {
protected:
    std::string Line(const char* pszText) const {
        return std::string("[CNotifications::Notify") + GetParam().pszName + "] " + pszText;
    }
};

// A null context gives 13 and "N/A"; missing request objects make the handler ignore the request.
TEST_P(HandlerShape, NullContextOrMissingRequestObjects) {
    CLogCapture capture;
    CNotifications notifications;
    EXPECT_EQ((notifications.*GetParam().pfnHandler)(nullptr), ERROR_INVALID_DATA);
    EXPECT_TRUE(capture.Contains(Line(GetParam().pszNullContext)));
    EXPECT_EQ(capture.Lines().back(), Line("finished.  Win32 RC=13.  Control Message=<N/A>"));
    if (!GetParam().pszMissingObject)
        return;
    CDLLContext context;
    context.m_dwNotificationType = GetParam().dwType;
    EXPECT_EQ(HttpFilterProc(&context), ERROR_INVALID_DATA);
    EXPECT_EQ(context.m_dwControlMessage, CM_IGNORE);
    EXPECT_TRUE(capture.Contains(Line(GetParam().pszMissingObject)));
    EXPECT_EQ(capture.Lines().back(), Line("finished.  Win32 RC=13.  Control Message=<Ignore>"));
}

TEST_P(HandlerShape, EveryHandlerEndsWithOneClosingLine) {
    CLogCapture capture;
    CDLLContext context;
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    // A kept request of a client that screening lets through without settings.
    context.m_spRequestInfo->m_mapRequestValues = {
        {"HTTP_URL", "/owa/"},
        {"HTTP_METHOD", "GET"},
        {"HTTP_USER_AGENT", "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; owaauth)"},
        {"URL", "/owa/"},
        {"QUERY_STRING", ""},
        {"BK_USERNAME", "alice"}};
    context.m_dwSubscriptionType = ST_SUBFRAME_REQUEST;
    context.m_dwClientFlags = CF_ENABLED; // as authentication left it, for the response handlers
    context.m_spOutboundContext = std::make_shared<COutboundContext>(COutboundContext{200, nullptr});
    context.m_dwNotificationType = GetParam().dwType;
    HTTP_FILTER_PREPROC_HEADERS headers{};
    context.m_pNotification = &headers;
    capture.Clear();
    // A response block without the host's page record has no page to edit: it goes out unchanged.
    const bool bNoPage = GetParam().dwType == SF_NOTIFY_SEND_RAW_DATA;
    EXPECT_EQ(HttpFilterProc(&context), bNoPage ? ERROR_INVALID_DATA : 0u);
    const auto vLines = capture.Lines();
    ASSERT_FALSE(vLines.empty());
    EXPECT_EQ(vLines.back(), Line(bNoPage ? "finished.  Win32 RC=13.  Control Message=<Ignore>"
                                          : "finished.  Win32 RC=0.  Control Message=<None>"));
    size_t nClosing = 0;
    for (const std::string& csLine : vLines)
        nClosing += csLine.find("] finished.  Win32 RC=") != std::string::npos;
    EXPECT_EQ(nClosing, 1u);
    CNotifications().NotifyEndOfRequest(&context); // frees what authentication attached
}

INSTANTIATE_TEST_SUITE_P(Handlers, HandlerShape, ::testing::ValuesIn(g_aHandlers),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(PreProcHeaders, ResetsTheRequestState) {
    CDLLContext context;
    context.m_dwNotificationType = SF_NOTIFY_PREPROC_HEADERS;
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    context.m_dwClientFlags = 0xFFFF;
    int nStale = 0;
    context.m_pMyOwnContext = &nStale;
    context.m_dwReserved1 = 5;
    context.m_qwReserved2 = 6;
    context.m_dwControlMessage = CM_REPLACE;
    // The request values are missing, so the handler stops right after the reset.
    EXPECT_EQ(HttpFilterProc(&context), ERROR_ARENA_TRASHED);
    EXPECT_EQ(std::tie(context.m_dwClientFlags, context.m_pMyOwnContext, context.m_dwReserved1,
                       context.m_qwReserved2, context.m_dwControlMessage),
              std::make_tuple(0u, nullptr, 0u, 0u, CM_IGNORE));
}

TEST(EndOfRequest, DeletesTheWorkerContextOnce) {
    CLogCapture capture;
    CDLLContext context;
    context.m_dwNotificationType = SF_NOTIFY_END_OF_REQUEST;
    context.m_pMyOwnContext = new CWKSWContext("en", 4105);
    EXPECT_EQ(HttpFilterProc(&context), 0u);
    EXPECT_EQ(context.m_pMyOwnContext, nullptr);
    // A second END_OF_REQUEST (or one after a logoff freed it) finds nothing to delete.
    EXPECT_EQ(HttpFilterProc(&context), 0u);
    EXPECT_EQ(capture.Count("[CNotifications::NotifyEndOfRequest] delete  CWKSWContext instance: 0x"), 1u);
}

class CThrowingDebugOutput : public IDebugOutput {
public:
    explicit CThrowingDebugOutput(std::function<void()> fnThrow) : m_fnThrow(std::move(fnThrow)) {}
    void Write(const char*) override { m_fnThrow(); }
    std::function<void()> m_fnThrow;
};

TEST(HttpFilterProc, NoExceptionLeavesTheEntryPoint) {
    const std::pair<std::function<void()>, const char*> aCases[] = {
        {[] { throw std::runtime_error("debugger channel broke"); },
         "[HttpFilterProc] Unexpected exception: debugger channel broke"},
        {[] { throw CHResultException(E_OUTOFMEMORY); },
         "[HttpFilterProc] Unexpected exception: HRESULT 0x8007000E"},
    };
    for (const auto& [fnThrow, pszLine] : aCases) {
        SCOPED_TRACE(pszLine);
        CLogCapture capture;
        CThrowingDebugOutput debug(fnThrow);
        CPlatform::SetDebug(&debug);
        CDLLContext context;
        context.m_dwNotificationType = SF_NOTIFY_END_OF_REQUEST;
        DWORD dwResult = 0;
        EXPECT_NO_THROW(dwResult = HttpFilterProc(&context));
        CPlatform::SetDebug(nullptr);
        EXPECT_EQ(dwResult, ERROR_INVALID_DATA);
        EXPECT_EQ(context.m_dwControlMessage, CM_IGNORE);
        EXPECT_TRUE(capture.Contains(pszLine));
    }
}

// A host thread that still calls in while the process exits, after the settings object was destroyed, finds
// none (rather than the destroyed one) and its request goes on without the module.
void CallLateAtExit() {
    CDLLContext context;
    context.m_dwNotificationType = SF_NOTIFY_AUTH_COMPLETE;
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    const DWORD dwResult = HttpFilterProc(&context);
    std::_Exit(GetGeneralSettingsInstance() == nullptr && dwResult == 0 &&
                       context.m_dwControlMessage == CM_IGNORE && TerminateFilter(0) == FALSE
                   ? 3
                   : 4);
}

TEST(SingletonDeathTest, ACallAfterTheExitDestroyedTheSettingsIsIgnored) {
    EXPECT_EXIT(
        {
            std::atexit(&CallLateAtExit); // registered first, so it runs after the settings are destroyed
            GetGeneralSettingsInstance();
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "");
}

TEST(Singleton, RacingThreadsShareOneSettingsObject) {
    constexpr int nThreads = 16;
    std::atomic<int> nReady{0};
    std::vector<CWKGeneralSettings*> vSeen(nThreads, nullptr);
    std::vector<std::thread> vThreads;
    for (int i = 0; i < nThreads; ++i)
        vThreads.emplace_back([&, i] {
            ++nReady;
            while (nReady.load() < nThreads) {
            }
            CDLLContext context;
            context.m_dwNotificationType = SF_NOTIFY_END_OF_REQUEST;
            HttpFilterProc(&context);
            vSeen[i] = GetGeneralSettingsInstance();
        });
    for (auto& t : vThreads)
        t.join();
    for (CWKGeneralSettings* p : vSeen)
        EXPECT_EQ(p, vSeen[0]);
}

} // namespace
