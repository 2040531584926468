// The page edits: how the list orders them, what it refuses, and what the host makes of them.
#include "host/common/BufferApply.h"
#include "host/testing/TestHost.h"
#include "html/CBufferInstruction.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t BEGIN = 0x10000; // where the test page's data begins

struct CEdit {
    char chKind; // 'i' insert, 'd' delete
    uint64_t qwOffset;
    const char* pszText;
    uint32_t dwLength;
};

std::string Apply(const std::string& csPage, const std::vector<CEdit>& vEdits, CBufferInstructionList& list) {
    for (const CEdit& edit : vEdits) {
        if (edit.chKind == 'i')
            EXPECT_EQ(InsertHtmlStringAtPosition(BEGIN + edit.qwOffset, edit.pszText, &list), 0u);
        else
            EXPECT_EQ(DeleteHtmlStringAtPosition(BEGIN + edit.qwOffset, edit.dwLength, &list), 0u);
    }
    std::string csOut;
    std::string csError;
    EXPECT_TRUE(ApplyBufferInstructions(csPage, BEGIN, list, csOut, csError)) << csError;
    return csOut;
}

TEST(BufferInstructionList, OrdersByPositionInsertsBeforeDeletesNewestInsertFirst) {
    struct {
        const char* pszName;
        std::vector<CEdit> vEdits;
        const char* pszExpected;
    } aCases[] = {
        {"two inserts at one position reach the host newest first",
         {{'i', 3, "A", 0}, {'i', 3, "B", 0}},
         "abcBAdef"},
        {"insert and delete at one position: insert first",
         {{'d', 3, nullptr, 2}, {'i', 3, "X", 0}},
         "abcXf"},
        {"delete added before insert still applies after it",
         {{'i', 1, "<", 0}, {'d', 1, nullptr, 1}, {'i', 1, ">", 0}},
         "a><cdef"},
        {"out of order positions are sorted",
         {{'i', 5, "5", 0}, {'i', 1, "1", 0}, {'d', 3, nullptr, 1}},
         "a1bce5f"},
        {"insert at the very end", {{'i', 6, "END", 0}}, "abcdefEND"},
        {"delete everything but the first byte", {{'d', 1, nullptr, 5}}, "a"},
        {"empty insert text keeps the page", {{'i', 2, "", 0}}, "abcdef"},
    };
    for (const auto& c : aCases) {
        CBufferInstructionList list;
        EXPECT_EQ(Apply("abcdef", c.vEdits, list), c.pszExpected) << c.pszName;
        EXPECT_EQ(list.Count(), list.Instructions().size()) << c.pszName;
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
    EXPECT_EQ(list.Count(), 0u);
    // A zero-length delete: the list refuses it, the helper still reports success.
    EXPECT_EQ(DeleteHtmlStringAtPosition(BEGIN, 0, &list), 0u);
    EXPECT_EQ(list.Count(), 0u);

    EXPECT_EQ(InsertHtmlStringAtPosition(0, "x", &list), ERROR_INVALID_DATA);
    EXPECT_EQ(InsertHtmlStringAtPosition(BEGIN, nullptr, &list), ERROR_INVALID_DATA);
    EXPECT_EQ(InsertHtmlStringAtPosition(BEGIN, "x", nullptr), ERROR_INVALID_DATA);
    EXPECT_EQ(log.Count("[InsertHtmlStringAtPosition] invalid data."), 3u);
    EXPECT_EQ(DeleteHtmlStringAtPosition(0, 3, &list), ERROR_INVALID_DATA);
    EXPECT_EQ(DeleteHtmlStringAtPosition(BEGIN, 3, nullptr), ERROR_INVALID_DATA);
    EXPECT_EQ(log.Count("[DeleteHtmlStringAtPosition] invalid data. "), 2u);
    EXPECT_EQ(list.Count(), 0u);
}

TEST(BufferInstruction, OwnsACopyOfItsText) {
    CBufferInstruction instruction;
    const char* pszOriginal = "hello";
    instruction.SetData(pszOriginal);
    ASSERT_NE(instruction.GetData(), pszOriginal);
    EXPECT_STREQ(instruction.GetData(), "hello");
    instruction.SetData("");
    EXPECT_STREQ(instruction.GetData(), "");
    instruction.SetData(nullptr);
    EXPECT_EQ(instruction.GetData(), nullptr);
}

TEST(BufferApply, RefusesEditsItCannotApplySafely) {
    struct {
        const char* pszName;
        uint64_t qwPosition;
        int32_t nType;
        uint32_t dwLength;
    } aCases[] = {
        {"before the page", BEGIN - 1, 0, 0},
        {"after the page", BEGIN + 7, 0, 0},
        {"delete past the end", BEGIN + 4, 1, 3},
    };
    for (const auto& c : aCases) {
        CBufferInstructionList list;
        auto sp = std::make_shared<CBufferInstruction>();
        sp->m_nType = c.nType;
        sp->m_qwPosition = c.qwPosition;
        sp->m_dwLength = c.dwLength;
        if (c.nType == 0)
            sp->SetData("x");
        ASSERT_EQ(list.Add(sp), 0u) << c.pszName;
        std::string csOut = "stale";
        std::string csError;
        EXPECT_FALSE(ApplyBufferInstructions("abcdef", BEGIN, list, csOut, csError)) << c.pszName;
        EXPECT_TRUE(csOut.empty()) << c.pszName;
        EXPECT_FALSE(csError.empty()) << c.pszName;
    }
    // Overlapping deletes: the second starts inside what the first removed.
    CBufferInstructionList list;
    DeleteHtmlStringAtPosition(BEGIN + 1, 3, &list);
    DeleteHtmlStringAtPosition(BEGIN + 2, 1, &list);
    std::string csOut;
    std::string csError;
    EXPECT_FALSE(ApplyBufferInstructions("abcdef", BEGIN, list, csOut, csError));
}

} // namespace
