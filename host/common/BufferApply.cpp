#include "host/common/BufferApply.h"

bool ApplyBufferInstructions(const std::string& csPage, uint64_t qwDataBegin,
                             const CBufferInstructionList& list, std::string& csOut, std::string& csError) {
    std::string csResult;
    csResult.reserve(csPage.size());
    uint64_t qwCursor = 0; // offset of the first page byte not yet copied or deleted
    size_t nIndex = 0;
    for (const CBufferInstructionPtr& spInstruction : list.Instructions()) {
        const std::string csWhich = "instruction " + std::to_string(nIndex++);
        if (!spInstruction || spInstruction->m_qwPosition < qwDataBegin ||
            spInstruction->m_qwPosition - qwDataBegin > csPage.size()) {
            csError = csWhich + " lies outside the page";
            csOut.clear();
            return false;
        }
        const uint64_t qwOffset = spInstruction->m_qwPosition - qwDataBegin;
        if (qwOffset < qwCursor) {
            csError = csWhich + " starts inside bytes an earlier delete removed";
            csOut.clear();
            return false;
        }
        csResult.append(csPage, static_cast<size_t>(qwCursor), static_cast<size_t>(qwOffset - qwCursor));
        qwCursor = qwOffset;
        if (spInstruction->m_nType == BUFFER_INSTRUCTION_INSERT && spInstruction->m_pData) {
            csResult += spInstruction->m_pData;
        } else if (spInstruction->m_nType == BUFFER_INSTRUCTION_DELETE) {
            if (spInstruction->m_dwLength > csPage.size() - qwOffset) {
                csError = csWhich + " deletes past the end of the page";
                csOut.clear();
                return false;
            }
            qwCursor += spInstruction->m_dwLength;
        } else {
            csError = csWhich + " is neither an insert nor a delete";
            csOut.clear();
            return false;
        }
    }
    csResult.append(csPage, static_cast<size_t>(qwCursor), std::string::npos);
    csOut = std::move(csResult);
    csError.clear();
    return true;
}
