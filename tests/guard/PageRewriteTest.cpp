// Pages through whole requests: which pages the module recognises, which it edits, and the page the
// browser receives once the host has applied the submitted instructions.
#include "filter/CNotifications.h"
#include "guard/CSWFormContext.h"
#include "guard/CWKForm.h"
#include "host/common/BufferApply.h"
#include "html/CBufferInstruction.h"
#include "tests/guard/GuardTestSupport.h"

namespace {

using tabletest::TRow;

class PageRewriteTable : public GuardTest, public ::testing::WithParamInterface<TRow> {};

TEST_P(PageRewriteTable, EditedPage) {
    const TRow& row = GetParam();
    Start("-");
    const std::string csPage = ReadFixture("pages/" + row.at(1));
    CHostRequest request = BaseRequest().SubscriptionType(std::stoul(row.at(2))).Url(row.at(3));
    if (row.at(4) == "none")
        request.ServerVariable("HEADER_BK_CSMPREFIX", "");
    if (row.size() > 9)
        request.AcceptLanguage(row.at(9));
    const CHostRunRecord record = m_host.Run(request.ResponseBody(csPage));
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
    EXPECT_TRUE(m_host.LogContains(row.at(8))) << row.at(8);
    EXPECT_TRUE(record.m_vAnomalies.empty()) << record.m_vAnomalies.front();
}

INSTANTIATE_TEST_SUITE_P(Pages, PageRewriteTable,
                         ::testing::ValuesIn(tabletest::ReadTable("guard/page-rewrites.txt")),
                         tabletest::RowName);

} // namespace
