// Pages through whole requests: which pages the module recognises, which it edits, and the page the
// browser receives once the host has applied the submitted instructions.
#include "filter/CNotifications.h"
#include "guard/CSWFormContext.h"
#include "guard/CWKForm.h"
#include "host/common/BufferApply.h"
#include "html/CBufferInstruction.h"
#include "log/Log.h"
#include "request/CWKSWContext.h"
#include "tests/guard/GuardTestSupport.h"
#include "text/CSWFormException.h"

#include <functional>

namespace {

using tabletest::TRow;

class PageRewriteTable : public GuardTest, public ::testing::WithParamInterface<TRow> {
public:
    static CHostRequest Request(const TRow& row) {
        CHostRequest request = BaseRequest().SubscriptionType(std::stoul(row.at(2))).Url(row.at(3));
        if (row.at(4) == "none")
            request.ServerVariable("HEADER_BK_CSMPREFIX", "");
        if (row.size() > 9 && row.at(9) != "-")
            request.AcceptLanguage(row.at(9));
        if (row.size() > 10)
            request.ResponseHeaderBlock("HTTP/1.1 200 OK\r\nContent-Type: " + row.at(10) + "\r\n\r\n");
        return request.ResponseBody(ReadFixture("pages/" + row.at(1)));
    }
    // The outcome and the edited page the row expects.
    static void ExpectPage(const CHostRunRecord& record, const TRow& row) {
        const CHostNotificationRecord* pRaw = record.Find(SF_NOTIFY_SEND_RAW_DATA);
        ASSERT_NE(pRaw, nullptr);
        EXPECT_EQ(pRaw->m_dwResult, std::stoul(row.at(5)));
        EXPECT_STREQ(ControlMessageWord(pRaw->m_dwControlMessage), row.at(6).c_str());
        if (row.at(7) == "-") {
            EXPECT_TRUE(pRaw->m_vBufferSubmissions.empty());
        } else {
            ASSERT_EQ(pRaw->m_vBufferSubmissions.size(), 1u);
            const CHostBufferSubmission& submission = pRaw->m_vBufferSubmissions.front();
            ASSERT_TRUE(submission.m_bApplied) << submission.m_csApplyError;
            EXPECT_EQ(submission.m_csEditedData, ReadFixture("pages/" + row.at(7)));
        }
        EXPECT_TRUE(record.m_vAnomalies.empty()) << record.m_vAnomalies.front();
    }
};

TEST_P(PageRewriteTable, EditedPage) {
    const TRow& row = GetParam();
    Start("-");
    ExpectPage(m_host.Run(Request(row)), row);
    EXPECT_TRUE(m_host.LogContains(row.at(8))) << row.at(8);
}

// The page the browser would get: the edited page, or "-" when nothing was submitted.
std::string ReceivedPage(const CHostRunRecord& record) {
    const CHostNotificationRecord* pRaw = record.Find(SF_NOTIFY_SEND_RAW_DATA);
    if (!pRaw || pRaw->m_vBufferSubmissions.empty())
        return "-";
    return pRaw->m_vBufferSubmissions.front().m_csEditedData;
}

// With logging off, as a server runs, the dialog's texts and the filled dialog are remembered. Every page of
// the table in several languages, one after the other in one process and each twice, must come out as with
// logging on, where nothing is remembered.
TEST_F(GuardTest, RememberedTextsAndDialogsFitEveryPage) {
    Start("-");
    CHostSession session(CTestHost::LinkedEntryPoints());
    for (const char* pszLanguage : {"", "de", "fr", "ja"})
        for (const TRow& row : tabletest::ReadTable("guard/page-rewrites.txt")) {
            CHostRequest request = PageRewriteTable::Request(row);
            if (*pszLanguage)
                request.AcceptLanguage(pszLanguage);
            const std::string csLogged = ReceivedPage(m_host.Run(request));
            for (int nRound = 0; nRound < 2; ++nRound) {
                SetLogLevel(LOG_LEVEL_OFF);
                EXPECT_EQ(ReceivedPage(session.Run(request)), csLogged)
                    << row.at(0) << " in <" << pszLanguage << "> round " << nRound;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Pages, PageRewriteTable,
                         ::testing::ValuesIn(tabletest::ReadTable("guard/page-rewrites.txt")),
                         tabletest::RowName);

} // namespace

namespace {

// A recognised start page whose context loses one piece at a time: the factory names the first one missing,
// in its order, and builds nothing.
TEST(FormFactory, NamesTheFirstMissingPiece) {
    const std::string csPage =
        "<!-- OwaPage = ASP.forms_premium_startpage_aspx --><html><head></head><body></body></html>";
    CCommonPointers pointers;
    pointers.m_pDataBegin = csPage.data();
    pointers.m_pDataLast = csPage.data() + csPage.size() - 1;
    CBufferInstructionList list;
    CWKSWContext worker("en", 0x1009);
    CDLLContext context;
    context.m_spOutboundContext = std::make_shared<COutboundContext>(COutboundContext{200, &pointers});
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    context.m_spExchangeURL = std::make_shared<CExchangeURL>();
    context.m_pMyOwnContext = &worker;
    CSWFormContext formContext(&context, &list);
    ASSERT_EQ(formContext.m_dwOwaExperience, OWA_EXPERIENCE_PREMIUM);
    const std::pair<std::function<void()>, const char*> aSteps[] = {
        {[&] { context.m_pMyOwnContext = nullptr; }, "m_pContext->m_pMyOwnContex is null"},
        {[&] { context.m_spOutboundContext.reset(); }, "m_pContext->m_spOutboundContext is null"},
        {[&] { context.m_spExchangeURL.reset(); }, "m_pContext->m_spExchangeURL is null"},
        {[&] { context.m_spRequestInfo.reset(); }, "m_pContext->m_spRequestInfo is null"},
        {[&] { formContext.m_spDom.reset(); }, "pFormContext->m_spDom is null or undefined"},
        {[&] { formContext.m_pcobBufferInstructionList = nullptr; }, "m_pcobBufferInstructionList is null"},
        {[&] { formContext.m_pContext = nullptr; }, "pFormContext->m_pContext is null"},
        {[&] { formContext.m_pCommonPointers = nullptr; }, "pFormContext->m_pCommonPointers is null"},
    };
    for (const auto& [fnRemove, pszMessage] : aSteps) {
        fnRemove();
        CLogCapture capture;
        EXPECT_EQ(CWKFormFactory::createForm(&formContext), nullptr) << pszMessage;
        EXPECT_TRUE(capture.Contains(std::string(pszMessage) + ". aborting")) << pszMessage;
    }
    CLogCapture capture;
    EXPECT_EQ(CWKFormFactory::createForm(nullptr), nullptr);
    EXPECT_TRUE(capture.Contains("[CWKFormFactory::createForm] pFormContext is null. aborting"));
    EXPECT_THROW(CSWFormContext(nullptr, &list), CSWFormException);
}

} // namespace
