// The resource module as a data file: the string tables of every language in one image that is read, checked
// and then only looked up, never executed. The build's resource compiler writes it; CResource reads it.
//
// File format, version 1. Every integer is little-endian; offsets count from the start of the file.
//
//   offset  size  field
//        0     4  magic: the bytes 'W' 'K' 'R' 'S'
//        4     2  format version: 1
//        6     2  reserved: 0
//        8     4  file size in bytes, checksum included
//       12     4  block count N
//       16  12*N  block table, strictly ascending by (LANGID, block number), one row per block:
//                   +0  2  LANGID
//                   +2  2  block number: string ID / 16 + 1, from 1 to 4096
//                   +4  4  offset of the block
//                   +8  4  size of the block in bytes
//        …     …  the blocks, in table order and without gaps: the first starts right after the table, each
//                 next one where the previous one ends, the last one ends at the checksum
//   size-8     8  checksum: FNV-1a 64 over every byte before it
//
// A block is laid out as a Windows string-table resource: 16 entries, entry k holding string ID
// (block - 1) * 16 + k, each a 16-bit length n followed by n UTF-16 code units; nothing follows the 16th
// entry. An entry of length 0 is a missing string.
#pragma once

#include "platform/WinTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ResourceModuleFormat {
constexpr BYTE c_abMagic[4] = {'W', 'K', 'R', 'S'};
constexpr WORD c_wVersion = 1;
constexpr size_t c_cbHeader = 16;
constexpr size_t c_cbTableRow = 12;
constexpr size_t c_cbChecksum = 8;
constexpr size_t c_cStringsPerBlock = 16;
constexpr WORD c_wMaxBlock = 0xFFFF / c_cStringsPerBlock + 1;
constexpr uint32_t c_nMaxStringId = 0xFFFF;
constexpr size_t c_cchMaxString = 0xFFFF;
// Far more than 20 languages of texts need; a larger file is not taken for a string-table module.
constexpr uint64_t c_cbMaxFile = 64ull * 1024 * 1024;

constexpr WORD BlockOfId(uint32_t nId) {
    return static_cast<WORD>(nId / c_cStringsPerBlock + 1);
}
constexpr size_t EntryOfId(uint32_t nId) {
    return nId % c_cStringsPerBlock;
}
} // namespace ResourceModuleFormat

// FNV-1a 64 over the bytes.
uint64_t ResourceModuleChecksum(const BYTE* pb, size_t cb);

// A checked image. Immutable once parsed, so any number of threads may look strings up at the same time.
class CResourceModuleData {
public:
    // Checks every field of the image before anything is kept: magic, version, sizes, the order and range
    // of every block, the 16 entries of every block, the checksum. On failure returns null with a Win32 code
    // (ERROR_BAD_FORMAT: not a module of this format or version; ERROR_INVALID_DATA: damaged) and the
    // reason. Never throws but std::bad_alloc.
    static std::unique_ptr<const CResourceModuleData> Parse(std::vector<BYTE> vImage, DWORD& dwError,
                                                            std::string& csReason);

    // The string of the ID in exactly that language. ERROR_SUCCESS with the text, which is empty for an
    // empty entry; otherwise ERROR_RESOURCE_TYPE_NOT_FOUND (the module has no string tables),
    // ERROR_RESOURCE_NAME_NOT_FOUND (no language has the ID's block) or ERROR_RESOURCE_LANG_NOT_FOUND (other
    // languages have it). Throws std::bad_alloc only.
    DWORD FindString(LANGID wLangId, uint32_t nId, std::u16string& wsText) const;

    size_t GetBlockCount() const { return m_vBlocks.size(); }
    // The LANGIDs that have at least one block, ascending.
    std::vector<LANGID> GetLanguages() const;

private:
    struct CBlock {
        LANGID wLangId;
        WORD wBlock;
        size_t nOffset;
        size_t cb;
    };

    CResourceModuleData() = default;

    std::vector<BYTE> m_vImage;
    std::vector<CBlock> m_vBlocks; // in table order
};

// Collects strings by language and ID and lays them out as a module image.
class CResourceModuleWriter {
public:
    // False when the ID is above 65535, the text is longer than 65535 code units, or the ID is already set
    // for the language. An empty text is stored as an empty entry.
    bool AddString(LANGID wLangId, uint32_t nId, const std::u16string& wsText);
    std::vector<BYTE> Build() const;
    bool IsEmpty() const { return m_mapBlocks.empty(); }

private:
    struct CBlockStrings {
        std::array<std::u16string, ResourceModuleFormat::c_cStringsPerBlock> awsTexts;
        std::array<bool, ResourceModuleFormat::c_cStringsPerBlock> abSet{};
    };
    std::map<std::pair<LANGID, WORD>, CBlockStrings> m_mapBlocks;
};
