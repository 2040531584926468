// The page edits: how the list orders them, what it refuses, and what the host makes of them.
#include "HtmlTestSupport.h"

#include "host/common/BufferApply.h"
#include "html/CBufferInstruction.h"

#include <sstream>

namespace {

constexpr uint64_t BEGIN = 0x10000; // where the test page's data begins

TEST(BufferInstructionList, OrdersByPositionInsertsBeforeDeletesNewestInsertFirst) {
    for (const htmltest::CRow& r : htmltest::ReadTable("buffer-orders.txt")) {
        CBufferInstructionList list;
        std::istringstream edits(r[1]);
        for (std::string csEdit; edits >> csEdit;) {
            const size_t nColon = csEdit.find(':');
            const uint64_t qwAt = BEGIN + std::stoull(csEdit.substr(1, nColon - 1));
            const std::string csArgument = csEdit.substr(nColon + 1);
            EXPECT_EQ(csEdit[0] == 'i' ? InsertHtmlStringAtPosition(qwAt, csArgument.c_str(), &list)
                                       : DeleteHtmlStringAtPosition(qwAt, std::stoul(csArgument), &list),
                      0u)
                << r[0];
        }
        std::string csOut, csError;
        EXPECT_TRUE(ApplyBufferInstructions("abcdef", BEGIN, list, csOut, csError)) << r[0] << csError;
        EXPECT_EQ(csOut, r[2]) << r[0];
    }
}

TEST(BufferInstructionList, RefusesInvalidInstructions) {
    CLogCapture log;
    CBufferInstructionList list;
    auto make = [](int32_t nType, const char* pszData, uint32_t dwLength) {
        auto sp = std::make_shared<CBufferInstruction>();
        sp->m_nType = nType;
        sp->SetData(pszData);
        sp->m_dwLength = dwLength;
        sp->m_qwPosition = BEGIN;
        return sp;
    };
    for (const auto& sp : {make(-1, "x", 0), make(2, "x", 1), make(0, nullptr, 0), make(1, nullptr, 0),
                           CBufferInstructionPtr()})
        EXPECT_EQ(list.Add(sp), ERROR_INVALID_DATA);
    // A zero-length delete: the list refuses it, the helper still reports success.
    EXPECT_EQ(DeleteHtmlStringAtPosition(BEGIN, 0, &list), 0u);

    EXPECT_EQ(InsertHtmlStringAtPosition(0, "x", &list), ERROR_INVALID_DATA);
    EXPECT_EQ(log.Count("[InsertHtmlStringAtPosition] invalid data."), 1u);
    EXPECT_EQ(DeleteHtmlStringAtPosition(0, 3, &list), ERROR_INVALID_DATA);
    EXPECT_EQ(log.Count("[DeleteHtmlStringAtPosition] invalid data. "), 1u);
    EXPECT_EQ(list.Count(), 0u); // nothing refused above was kept
}

TEST(BufferApply, RefusesEditsItCannotApplySafely) {
    // Before the page, after it, a delete past its end, and overlapping deletes.
    const std::vector<std::pair<uint64_t, uint32_t>> rgCases[] = {
        {{BEGIN - 1, 0}}, {{BEGIN + 7, 0}}, {{BEGIN + 4, 3}}, {{BEGIN + 1, 3}, {BEGIN + 2, 1}}};
    for (const auto& vEdits : rgCases) {
        CBufferInstructionList list;
        for (const auto& [qwAt, dwLength] : vEdits) {
            auto sp = std::make_shared<CBufferInstruction>();
            sp->m_nType = dwLength ? BUFFER_INSTRUCTION_DELETE : BUFFER_INSTRUCTION_INSERT;
            sp->m_qwPosition = qwAt;
            sp->m_dwLength = dwLength;
            sp->SetData(dwLength ? nullptr : "x");
            ASSERT_EQ(list.Add(sp), 0u);
        }
        std::string csOut = "stale", csError;
        EXPECT_FALSE(ApplyBufferInstructions("abcdef", BEGIN, list, csOut, csError))
            << vEdits[0].first - BEGIN;
        EXPECT_TRUE(csOut.empty());
        EXPECT_FALSE(csError.empty());
    }
}

} // namespace
