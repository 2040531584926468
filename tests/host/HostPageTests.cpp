#include "html/CBufferInstruction.h"
#include "tests/TableFile.h"
#include "tests/host/FakeModule.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// One submission's edits as the table writes them, added to a list for the page at pPage.
void AddEdits(const std::string& csEdits, const char* pPage, CBufferInstructionList& list) {
    std::istringstream in(csEdits);
    for (std::string csEdit; std::getline(in, csEdit, ',');) {
        if (csEdit == "none")
            continue;
        const size_t nColon = csEdit.find(':');
        const uint64_t qwAt = reinterpret_cast<uintptr_t>(pPage) + std::stol(csEdit.substr(1, nColon - 1));
        const std::string csArgument = tabletest::Bytes(csEdit.substr(nColon + 1));
        if (csEdit[0] == '+')
            ASSERT_EQ(InsertHtmlStringAtPosition(qwAt, csArgument.c_str(), &list), ERROR_SUCCESS) << csEdit;
        else
            ASSERT_EQ(DeleteHtmlStringAtPosition(qwAt, std::stoul(csArgument), &list), ERROR_SUCCESS)
                << csEdit;
    }
}

class HostDeliveredBodyTest : public ::testing::TestWithParam<tabletest::TRow> {};

TEST_P(HostDeliveredBodyTest, IsThePageWithTheAcceptedEditsAndItsLength) {
    const tabletest::TRow& c = GetParam();
    const std::string csPage = tabletest::Bytes(c.at(1));
    std::vector<std::string> vSubmissions;
    std::istringstream in(c.at(2));
    for (std::string cs; std::getline(in, cs, ';');)
        vSubmissions.push_back(cs);
    const DWORD dwAnswer = static_cast<DWORD>(tabletest::Number(c.at(3)));
    const std::string csExpected = c.at(4) == "=" ? csPage : tabletest::Bytes(c.at(4));
    CFakeModule::Reset();
    CFakeModule::s_script[SF_NOTIFY_SEND_RAW_DATA].m_fnAction = [&](CDLLContext* p) {
        const char* pPage =
            static_cast<const char*>(static_cast<HTTP_FILTER_RAW_DATA*>(p->m_pNotification)->pvInData);
        for (const std::string& csEdits : vSubmissions) {
            CBufferInstructionList list;
            AddEdits(csEdits, pPage, list);
            p->m_pCoreServices->SubmitBufferCommands(p, &list);
        }
    };
    CHostSession session(CFakeModule::EntryPoints());
    session.SetBufferCommandsHandler([dwAnswer](CDLLContext*, CBufferInstructionList*) { return dwAnswer; });
    const CHostRunRecord record = session.Run(CHostRequest().ResponseBody(csPage));

    const CHostDeliveredBody& body = record.m_body;
    EXPECT_TRUE(body.m_bPresent);
    EXPECT_EQ(body.m_csBytes, csExpected);
    EXPECT_EQ(body.m_bEdited, c.at(4) != "=");
    EXPECT_EQ(body.m_cbOriginal, csPage.size());
    EXPECT_EQ(body.ContentLengthHeader(), "Content-Length: " + std::to_string(csExpected.size()) + "\r\n");
    const CHostNotificationRecord* pRaw = record.Find(SF_NOTIFY_SEND_RAW_DATA);
    ASSERT_NE(pRaw, nullptr);
    ASSERT_EQ(pRaw->m_vBufferSubmissions.size(), vSubmissions.size());
    const CHostBufferSubmission& last = pRaw->m_vBufferSubmissions.back();
    EXPECT_EQ(last.m_bApplied, c.at(5) == "-") << last.m_csApplyError;
    if (c.at(5) != "-") {
        EXPECT_NE(last.m_csApplyError.find(c.at(5)), std::string::npos) << last.m_csApplyError;
    }
    EXPECT_TRUE(record.m_vAnomalies.empty());
    CFakeModule::Reset();
    EXPECT_FALSE(session.Run(CHostRequest()).m_body.m_bPresent); // no body, nothing delivered
}

INSTANTIATE_TEST_SUITE_P(Edits, HostDeliveredBodyTest,
                         ::testing::ValuesIn(tabletest::ReadTable("host/delivered-bodies.txt")),
                         tabletest::RowName);

} // namespace
