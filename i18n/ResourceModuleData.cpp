#include "i18n/ResourceModuleData.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

using namespace ResourceModuleFormat;

namespace {

WORD ReadWord(const BYTE* pb) {
    return static_cast<WORD>(pb[0] | (pb[1] << 8));
}
uint32_t ReadDword(const BYTE* pb) {
    return static_cast<uint32_t>(pb[0]) | (static_cast<uint32_t>(pb[1]) << 8) |
           (static_cast<uint32_t>(pb[2]) << 16) | (static_cast<uint32_t>(pb[3]) << 24);
}
uint64_t ReadQword(const BYTE* pb) {
    return static_cast<uint64_t>(ReadDword(pb)) | (static_cast<uint64_t>(ReadDword(pb + 4)) << 32);
}
void AppendWord(std::vector<BYTE>& v, WORD w) {
    v.push_back(static_cast<BYTE>(w & 0xFF));
    v.push_back(static_cast<BYTE>(w >> 8));
}
void AppendDword(std::vector<BYTE>& v, uint32_t dw) {
    AppendWord(v, static_cast<WORD>(dw & 0xFFFF));
    AppendWord(v, static_cast<WORD>(dw >> 16));
}
void AppendQword(std::vector<BYTE>& v, uint64_t qw) {
    AppendDword(v, static_cast<uint32_t>(qw & 0xFFFFFFFFu));
    AppendDword(v, static_cast<uint32_t>(qw >> 32));
}

__attribute__((format(printf, 1, 2))) std::string Describe(const char* pszFormat, ...) {
    char szText[160];
    va_list args;
    va_start(args, pszFormat);
    std::vsnprintf(szText, sizeof(szText), pszFormat, args);
    va_end(args);
    return szText;
}

bool Reject(DWORD dwCode, std::string csWhy, DWORD& dwError, std::string& csReason) {
    dwError = dwCode;
    csReason = std::move(csWhy);
    return false;
}

// The 16 entries must fill the block exactly.
bool IsWellFormedBlock(const BYTE* pb, size_t cb) {
    size_t nPos = 0;
    for (size_t k = 0; k < c_cStringsPerBlock; ++k) {
        if (cb - nPos < 2)
            return false;
        const size_t cbText = static_cast<size_t>(ReadWord(pb + nPos)) * 2;
        nPos += 2;
        if (cb - nPos < cbText)
            return false;
        nPos += cbText;
    }
    return nPos == cb;
}

} // namespace

uint64_t ResourceModuleChecksum(const BYTE* pb, size_t cb) {
    uint64_t qwHash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < cb; ++i) {
        qwHash ^= pb[i];
        qwHash *= 0x100000001b3ull;
    }
    return qwHash;
}

std::unique_ptr<const CResourceModuleData> CResourceModuleData::Parse(std::vector<BYTE> vImage,
                                                                      DWORD& dwError, std::string& csReason) {
    dwError = ERROR_SUCCESS;
    csReason.clear();
    const BYTE* pb = vImage.data();
    const size_t cbFile = vImage.size();

    if (cbFile < sizeof(c_abMagic) || !std::equal(std::begin(c_abMagic), std::end(c_abMagic), pb)) {
        Reject(ERROR_BAD_FORMAT, "not a resource module (magic)", dwError, csReason);
        return nullptr;
    }
    if (cbFile < c_cbHeader + c_cbChecksum) {
        Reject(ERROR_INVALID_DATA, "truncated header", dwError, csReason);
        return nullptr;
    }
    const WORD wVersion = ReadWord(pb + 4);
    if (wVersion != c_wVersion) {
        Reject(ERROR_BAD_FORMAT, Describe("unsupported format version %u", wVersion), dwError, csReason);
        return nullptr;
    }
    if (ReadWord(pb + 6) != 0) {
        Reject(ERROR_INVALID_DATA, "reserved header field is not 0", dwError, csReason);
        return nullptr;
    }
    const uint32_t cbDeclared = ReadDword(pb + 8);
    if (cbDeclared != cbFile) {
        Reject(ERROR_INVALID_DATA,
               Describe("declared size %u differs from the file size %zu", cbDeclared, cbFile), dwError,
               csReason);
        return nullptr;
    }
    const size_t cbBody = cbFile - c_cbChecksum;
    if (ResourceModuleChecksum(pb, cbBody) != ReadQword(pb + cbBody)) {
        Reject(ERROR_INVALID_DATA, "checksum mismatch", dwError, csReason);
        return nullptr;
    }
    const uint32_t cBlocks = ReadDword(pb + 12);
    if (cBlocks > (cbBody - c_cbHeader) / c_cbTableRow) {
        Reject(ERROR_INVALID_DATA, Describe("block count %u does not fit the file", cBlocks), dwError,
               csReason);
        return nullptr;
    }

    std::unique_ptr<CResourceModuleData> spData(new CResourceModuleData());
    spData->m_vBlocks.reserve(cBlocks);
    size_t nExpected = c_cbHeader + static_cast<size_t>(cBlocks) * c_cbTableRow;
    for (size_t nRow = 0; nRow < cBlocks; ++nRow) {
        const BYTE* pbRow = pb + c_cbHeader + nRow * c_cbTableRow;
        CBlock block{ReadWord(pbRow), ReadWord(pbRow + 2), ReadDword(pbRow + 4), ReadDword(pbRow + 8)};
        if (block.wBlock == 0 || block.wBlock > c_wMaxBlock) {
            Reject(ERROR_INVALID_DATA, Describe("row %zu: block number %u out of range", nRow, block.wBlock),
                   dwError, csReason);
            return nullptr;
        }
        if (!spData->m_vBlocks.empty()) {
            const CBlock& previous = spData->m_vBlocks.back();
            if (std::make_pair(previous.wLangId, previous.wBlock) >=
                std::make_pair(block.wLangId, block.wBlock)) {
                Reject(ERROR_INVALID_DATA,
                       Describe("row %zu: language 0x%04X block %u out of order or repeated", nRow,
                                block.wLangId, block.wBlock),
                       dwError, csReason);
                return nullptr;
            }
        }
        if (block.nOffset != nExpected || block.cb > cbBody - nExpected) {
            Reject(ERROR_INVALID_DATA,
                   Describe("row %zu: block at offset %zu with %zu bytes is out of place", nRow,
                            block.nOffset, block.cb),
                   dwError, csReason);
            return nullptr;
        }
        if (!IsWellFormedBlock(pb + block.nOffset, block.cb)) {
            Reject(ERROR_INVALID_DATA,
                   Describe("row %zu: language 0x%04X block %u does not hold exactly 16 strings", nRow,
                            block.wLangId, block.wBlock),
                   dwError, csReason);
            return nullptr;
        }
        nExpected += block.cb;
        spData->m_vBlocks.push_back(block);
    }
    if (nExpected != cbBody) {
        Reject(ERROR_INVALID_DATA, "unused bytes after the last block", dwError, csReason);
        return nullptr;
    }
    spData->m_vImage = std::move(vImage);
    return spData;
}

DWORD CResourceModuleData::FindString(LANGID wLangId, uint32_t nId, std::u16string& wsText) const {
    wsText.clear();
    if (m_vBlocks.empty())
        return ERROR_RESOURCE_TYPE_NOT_FOUND;
    // IDs above 65535 have no block; the comparison is made in 32 bits so that they never wrap onto one.
    const uint32_t nBlock = nId / c_cStringsPerBlock + 1;
    auto itBlock =
        std::lower_bound(m_vBlocks.begin(), m_vBlocks.end(), std::make_pair(wLangId, nBlock),
                         [](const CBlock& block, const std::pair<LANGID, uint32_t>& key) {
                             return std::make_pair(block.wLangId, static_cast<uint32_t>(block.wBlock)) < key;
                         });
    if (itBlock == m_vBlocks.end() || itBlock->wLangId != wLangId || itBlock->wBlock != nBlock) {
        const bool bOtherLanguage =
            std::any_of(m_vBlocks.begin(), m_vBlocks.end(),
                        [nBlock](const CBlock& block) { return block.wBlock == nBlock; });
        return bOtherLanguage ? ERROR_RESOURCE_LANG_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND;
    }
    // The block was checked when the image was parsed: every length fits.
    const BYTE* pb = m_vImage.data() + itBlock->nOffset;
    for (size_t k = 0; k < EntryOfId(nId); ++k)
        pb += 2 + static_cast<size_t>(ReadWord(pb)) * 2;
    const size_t cch = ReadWord(pb);
    pb += 2;
    wsText.resize(cch);
    for (size_t i = 0; i < cch; ++i)
        wsText[i] = static_cast<char16_t>(ReadWord(pb + 2 * i));
    return ERROR_SUCCESS;
}

std::vector<LANGID> CResourceModuleData::GetLanguages() const {
    std::vector<LANGID> vLanguages;
    for (const CBlock& block : m_vBlocks)
        if (vLanguages.empty() || vLanguages.back() != block.wLangId)
            vLanguages.push_back(block.wLangId);
    return vLanguages;
}

bool CResourceModuleWriter::AddString(LANGID wLangId, uint32_t nId, const std::u16string& wsText) {
    if (nId > c_nMaxStringId || wsText.size() > c_cchMaxString)
        return false;
    CBlockStrings& strings = m_mapBlocks[{wLangId, BlockOfId(nId)}];
    const size_t nEntry = EntryOfId(nId);
    if (strings.abSet[nEntry])
        return false;
    strings.abSet[nEntry] = true;
    strings.awsTexts[nEntry] = wsText;
    return true;
}

std::vector<BYTE> CResourceModuleWriter::Build() const {
    std::vector<std::vector<BYTE>> vBlocks;
    vBlocks.reserve(m_mapBlocks.size());
    for (const auto& [key, strings] : m_mapBlocks) {
        std::vector<BYTE> vBlock;
        for (const std::u16string& wsText : strings.awsTexts) {
            AppendWord(vBlock, static_cast<WORD>(wsText.size()));
            for (char16_t ch : wsText)
                AppendWord(vBlock, static_cast<WORD>(ch));
        }
        vBlocks.push_back(std::move(vBlock));
    }

    std::vector<BYTE> vImage(std::begin(c_abMagic), std::end(c_abMagic));
    AppendWord(vImage, c_wVersion);
    AppendWord(vImage, 0);
    AppendDword(vImage, 0); // the size, once known
    AppendDword(vImage, static_cast<uint32_t>(m_mapBlocks.size()));
    size_t nOffset = c_cbHeader + m_mapBlocks.size() * c_cbTableRow;
    size_t nBlock = 0;
    for (const auto& entry : m_mapBlocks) {
        AppendWord(vImage, entry.first.first);
        AppendWord(vImage, entry.first.second);
        AppendDword(vImage, static_cast<uint32_t>(nOffset));
        AppendDword(vImage, static_cast<uint32_t>(vBlocks[nBlock].size()));
        nOffset += vBlocks[nBlock].size();
        ++nBlock;
    }
    for (const std::vector<BYTE>& vBlock : vBlocks)
        vImage.insert(vImage.end(), vBlock.begin(), vBlock.end());
    const uint32_t cbFile = static_cast<uint32_t>(vImage.size() + c_cbChecksum);
    for (size_t i = 0; i < 4; ++i)
        vImage[8 + i] = static_cast<BYTE>(cbFile >> (8 * i));
    AppendQword(vImage, ResourceModuleChecksum(vImage.data(), vImage.size()));
    return vImage;
}
