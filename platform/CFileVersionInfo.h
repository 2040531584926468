// Reads the version texts of a module file: the block the build wrote into it (platform/VersionBlock.h),
// looked up the way a version resource is, by "\StringFileInfo\<translation>\<name>".
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <string>
#include <vector>

class CFileVersionInfo {
public:
    // Bytes read from the file at a time while looking for the block.
    static constexpr size_t c_cbScanChunk = 64 * 1024;

    // Finds the first valid block in the file and keeps a copy of it. False, with nothing kept, when the file
    // cannot be read or holds no valid block; a damaged block counts as none.
    bool Open(const std::string& csPath);
    void Close();
    bool IsOpen() const { return !m_vBlock.empty(); }

    // The text under "\StringFileInfo\%08lx\<name>" for the translation (the first one when 0); empty when
    // there is no block or no such text.
    std::string GetString(const std::string& csName, DWORD dwTranslation = 0) const;

    // The first translation: language in the high 16 bits, code page in the low 16 bits; 0 when not open.
    DWORD GetTranslation() const { return m_dwTranslation; }

private:
    std::string QueryString(const std::string& csName, DWORD dwTranslation) const;

    std::vector<BYTE> m_vBlock;
    DWORD m_dwTranslation = 0;
};
