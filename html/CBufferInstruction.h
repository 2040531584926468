// The page edits handed to the host: insert a text at a position of the response data, or delete a number
// of bytes there. The host reads these records and the list that holds them, so field order and widths are
// shared with it; the module never changes response bytes itself.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>
#include <list>
#include <memory>

constexpr int32_t BUFFER_INSTRUCTION_NONE = -1;
constexpr int32_t BUFFER_INSTRUCTION_INSERT = 0;
constexpr int32_t BUFFER_INSTRUCTION_DELETE = 1;

class CBufferInstruction {
public:
    CBufferInstruction() = default;
    // Defined here, so that a host reading the records needs no symbol of the module's own.
    virtual ~CBufferInstruction() { SetData(nullptr); }
    CBufferInstruction(const CBufferInstruction&) = delete;
    CBufferInstruction& operator=(const CBufferInstruction&) = delete;

    // Frees an owned copy, then keeps a zero-filled copy of the text (null clears the data). Raises
    // CHResultException(E_OUTOFMEMORY) when the copy cannot be allocated.
    void SetData(const char* pszData);
    const char* GetData() const { return m_pData; }

    int32_t m_nType = BUFFER_INSTRUCTION_NONE;
    uint64_t m_qwPosition = 0; // address in the response data
    char* m_pData = nullptr;   // NUL-terminated text to insert; null for a delete
    uint32_t m_dwDataOwned = 0;
    uint32_t m_dwLength = 0; // bytes to delete; 0 for an insert
};

typedef std::shared_ptr<CBufferInstruction> CBufferInstructionPtr;

// The instructions of one response in position order: at one position inserts come before deletes, and
// several inserts stand newest first.
class CBufferInstructionList {
public:
    CBufferInstructionList() = default;
    virtual ~CBufferInstructionList() = default;

    // ERROR_SUCCESS, or ERROR_INVALID_DATA for an instruction that is neither an insert with data nor a
    // delete with a length (the list then drops it).
    DWORD Add(CBufferInstructionPtr spInstruction);

    const std::list<CBufferInstructionPtr>& Instructions() const { return m_list; }
    uint64_t Count() const { return m_qwCount; }
    void Clear() {
        m_list.clear();
        m_qwCount = 0;
    }

private:
    std::list<CBufferInstructionPtr> m_list;
    uint64_t m_qwCount = 0;
};

// Records an insert of a copy of the text; ERROR_INVALID_DATA for position 0, a missing text or list.
DWORD InsertHtmlStringAtPosition(uint64_t qwPosition, const char* pszText, CBufferInstructionList* pList);
// Records a delete; ERROR_INVALID_DATA for position 0 or a missing list. A length the list refuses (0) is
// dropped by the list.
DWORD DeleteHtmlStringAtPosition(uint64_t qwPosition, uint32_t dwLength, CBufferInstructionList* pList);
