#include "html/CBufferInstruction.h"

#include "log/Log.h"
#include "platform/HResultException.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

void CBufferInstruction::SetData(const char* pszData) {
    if (m_dwDataOwned)
        delete[] m_pData;
    m_pData = nullptr;
    m_dwDataOwned = 0;
    if (!pszData)
        return;
    const size_t cchText = std::strlen(pszData);
    const size_t cbCopy = std::max<size_t>(cchText, 1) + 1;
    char* pCopy = new (std::nothrow) char[cbCopy]();
    if (!pCopy)
        throw CHResultException(E_OUTOFMEMORY);
    std::memcpy(pCopy, pszData, cchText);
    m_pData = pCopy;
    m_dwDataOwned = 1;
}

DWORD CBufferInstructionList::Add(CBufferInstructionPtr spInstruction) {
    if (!spInstruction)
        return ERROR_INVALID_DATA;
    const CBufferInstruction& added = *spInstruction;
    const bool bInsert = added.m_nType == BUFFER_INSTRUCTION_INSERT;
    const bool bDelete = added.m_nType == BUFFER_INSTRUCTION_DELETE;
    if ((!bInsert && !bDelete) || (bInsert && !added.m_pData) || (bDelete && added.m_dwLength == 0))
        return ERROR_INVALID_DATA;
    if (m_list.size() >= m_list.max_size())
        throw std::length_error("list<T> too long");
    auto itBefore = std::find_if(m_list.begin(), m_list.end(), [&added](const CBufferInstructionPtr& sp) {
        return sp->m_qwPosition > added.m_qwPosition ||
               (sp->m_qwPosition == added.m_qwPosition && sp->m_nType >= added.m_nType);
    });
    m_list.insert(itBefore, std::move(spInstruction));
    ++m_qwCount;
    return ERROR_SUCCESS;
}

DWORD InsertHtmlStringAtPosition(uint64_t qwPosition, const char* pszText, CBufferInstructionList* pList) {
    if (qwPosition == 0 || !pszText || !pList) {
        LogMessage("[InsertHtmlStringAtPosition] invalid data.");
        return ERROR_INVALID_DATA;
    }
    auto spInstruction = std::make_shared<CBufferInstruction>();
    spInstruction->m_nType = BUFFER_INSTRUCTION_INSERT;
    spInstruction->SetData(pszText);
    spInstruction->m_qwPosition = qwPosition;
    pList->Add(std::move(spInstruction));
    return ERROR_SUCCESS;
}

DWORD DeleteHtmlStringAtPosition(uint64_t qwPosition, uint32_t dwLength, CBufferInstructionList* pList) {
    if (qwPosition == 0 || !pList) {
        LogMessage("[DeleteHtmlStringAtPosition] invalid data. ");
        return ERROR_INVALID_DATA;
    }
    auto spInstruction = std::make_shared<CBufferInstruction>();
    spInstruction->m_nType = BUFFER_INSTRUCTION_DELETE;
    spInstruction->m_dwLength = dwLength;
    spInstruction->m_qwPosition = qwPosition;
    pList->Add(std::move(spInstruction));
    return ERROR_SUCCESS;
}
