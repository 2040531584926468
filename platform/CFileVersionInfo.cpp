#include "platform/CFileVersionInfo.h"

#include "platform/CPlatform.h"
#include "platform/VersionBlock.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <new>

namespace {

// Loads and checks the block whose marker was found at qwOffset; false when it does not validate.
bool LoadBlockAt(IFile& file, uint64_t qwOffset, uint64_t qwFileSize, std::vector<BYTE>& vBlock) {
    if (qwFileSize - qwOffset < VersionBlock::c_cbHeader)
        return false;
    BYTE abHeader[VersionBlock::c_cbHeader];
    size_t cbRead = 0;
    if (!file.ReadAt(qwOffset, abHeader, sizeof(abHeader), cbRead) || cbRead != sizeof(abHeader))
        return false;
    // The size field decides how much to read, so it is bounded before anything is allocated.
    uint64_t qwBlock = VersionBlock::ReadDword(abHeader + VersionBlock::c_ofsBlockSize);
    if (qwBlock < VersionBlock::c_cbHeader || qwBlock > VersionBlock::c_cbMaxBlock ||
        qwBlock > qwFileSize - qwOffset)
        return false;
    std::vector<BYTE> vCandidate(static_cast<size_t>(qwBlock));
    if (!file.ReadAt(qwOffset, vCandidate.data(), vCandidate.size(), cbRead) || cbRead != vCandidate.size())
        return false;
    size_t cbBlock = 0;
    if (VersionBlock::Check(vCandidate.data(), vCandidate.size(), cbBlock) != VersionBlock::ECheck::Valid)
        return false;
    vBlock.swap(vCandidate);
    return true;
}

bool FindBlock(IFile& file, std::vector<BYTE>& vBlock) {
    const uint64_t qwFileSize = file.Size();
    // Each read overlaps the previous one by one byte less than the marker, so a marker that straddles two
    // reads is seen once, in the second.
    constexpr size_t c_cbOverlap = VersionBlock::c_cbMarker - 1;
    std::vector<BYTE> vChunk(CFileVersionInfo::c_cbScanChunk + c_cbOverlap);
    const std::boyer_moore_horspool_searcher searcher(std::begin(VersionBlock::c_abMarker),
                                                      std::end(VersionBlock::c_abMarker));
    uint64_t qwPos = 0;
    while (qwPos < qwFileSize) {
        size_t cbWant = static_cast<size_t>(std::min<uint64_t>(vChunk.size(), qwFileSize - qwPos));
        size_t cbRead = 0;
        if (!file.ReadAt(qwPos, vChunk.data(), cbWant, cbRead))
            return false;
        auto itEnd = vChunk.begin() + static_cast<std::ptrdiff_t>(cbRead);
        for (auto it = std::search(vChunk.begin(), itEnd, searcher); it != itEnd;
             it = std::search(it + 1, itEnd, searcher)) {
            if (LoadBlockAt(file, qwPos + static_cast<uint64_t>(it - vChunk.begin()), qwFileSize, vBlock))
                return true;
        }
        // A short read means the file ended (or shrank) under us.
        if (cbRead < vChunk.size())
            break;
        qwPos += cbRead - c_cbOverlap;
    }
    return false;
}

} // namespace

bool CFileVersionInfo::Open(const std::string& csPath) {
    Close();
    try {
        DWORD dwError = ERROR_SUCCESS;
        std::unique_ptr<IFile> spFile = CPlatform::Files().Open(csPath, EFileOpen::ReadExisting, dwError);
        if (!spFile)
            return false;
        std::vector<BYTE> vBlock;
        if (!FindBlock(*spFile, vBlock))
            return false;
        VersionBlock::CEntryView translation;
        if (!VersionBlock::FindEntry(vBlock.data(), VersionBlock::c_svTranslationKey, translation))
            return false;
        // The first pair: language, then code page.
        m_dwTranslation = (static_cast<DWORD>(VersionBlock::ReadWord(translation.pValue)) << 16) |
                          VersionBlock::ReadWord(translation.pValue + 2);
        m_vBlock.swap(vBlock);
        return true;
    } catch (const std::bad_alloc&) {
        Close();
        return false;
    }
}

void CFileVersionInfo::Close() {
    m_vBlock.clear();
    m_vBlock.shrink_to_fit();
    m_dwTranslation = 0;
}

std::string CFileVersionInfo::GetString(const std::string& csName, DWORD dwTranslation) const {
    if (m_vBlock.empty())
        return std::string();
    try {
        return QueryString(csName, dwTranslation ? dwTranslation : m_dwTranslation);
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}

std::string CFileVersionInfo::QueryString(const std::string& csName, DWORD dwTranslation) const {
    // The name is an argument, never part of the format.
    const unsigned long ulTranslation = dwTranslation;
    int cch = std::snprintf(nullptr, 0, "\\StringFileInfo\\%08lx\\%s", ulTranslation, csName.c_str());
    if (cch <= 0)
        return std::string();
    std::string csQuery(static_cast<size_t>(cch) + 1, '\0');
    std::snprintf(csQuery.data(), csQuery.size(), "\\StringFileInfo\\%08lx\\%s", ulTranslation,
                  csName.c_str());
    csQuery.resize(static_cast<size_t>(cch));

    VersionBlock::CEntryView entry;
    if (!VersionBlock::FindEntry(m_vBlock.data(), csQuery, entry) || entry.bKind != VersionBlock::VALUE_TEXT)
        return std::string();
    return std::string(reinterpret_cast<const char*>(entry.pValue), entry.cbValue);
}
