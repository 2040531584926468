// The version-information block: the module's version texts, placed in the module binary at build time and
// found again by CFileVersionInfo, which scans the file's bytes for the marker. Nothing in the block is code
// and nothing of it is executed; it is only read. The writer (the build's generated source) and the reader
// both use this header, so the two cannot drift apart.
//
// Layout, every integer little-endian, no padding:
//
//   offset  size  field
//        0    16  marker
//       16     2  layout version (1)
//       18     2  header size (32)
//       20     4  block size: header and entries, in bytes
//       24     4  entry count
//       28     4  checksum: FNV-1a over the bytes [0, 28) and [32, block size)
//       32     .  entries, back to back:
//                   2  key size, 2 value size, 1 value kind (0 bytes, 1 text), 1 reserved (0),
//                   key bytes, value bytes
//
// A key is the query path the reader answers: "\StringFileInfo\<translation as %08lx>\<name>" for a text,
// "\VarFileInfo\Translation" for the list of translations (16-bit language, then 16-bit code page, each
// pair in the order the tables were written). Keys compare without regard to ASCII letter case.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>

namespace VersionBlock {

// Eight readable bytes and eight that text rarely holds, so a stray hit in other data is unlikely; a hit that
// does not validate is skipped anyway.
inline constexpr BYTE c_abMarker[16] = {'W',  'K',  'V',  'E',  'R',  'B',  'L',  'K',
                                        0x8E, 0x1F, 0xC3, 0x5A, 0x00, 0xF0, 0x6D, 0xB2};
inline constexpr size_t c_cbMarker = sizeof(c_abMarker);

inline constexpr WORD c_wLayout = 1;
inline constexpr size_t c_cbHeader = 32;
inline constexpr size_t c_ofsLayout = 16;
inline constexpr size_t c_ofsHeaderSize = 18;
inline constexpr size_t c_ofsBlockSize = 20;
inline constexpr size_t c_ofsEntryCount = 24;
inline constexpr size_t c_ofsChecksum = 28;
inline constexpr size_t c_cbEntryHeader = 6;

// Bounds that keep a damaged block from making the reader allocate or walk far.
inline constexpr size_t c_cbMaxBlock = 0x10000;
inline constexpr size_t c_cMaxEntries = 512;
inline constexpr size_t c_cbMaxKey = 255;

inline constexpr BYTE VALUE_BYTES = 0;
inline constexpr BYTE VALUE_TEXT = 1;

inline constexpr std::string_view c_svStringPrefix = "\\StringFileInfo\\";
inline constexpr std::string_view c_svTranslationKey = "\\VarFileInfo\\Translation";

// Why a block was refused; Valid when it can be used.
enum class ECheck {
    Valid,
    TooSmall,       // fewer bytes than a header, or than the block size claims
    BadMarker,      // the marker is not at the start
    BadLayout,      // a layout version this reader does not know
    BadHeaderSize,  // a header size other than this layout's
    BadBlockSize,   // smaller than a header or larger than the bound
    BadChecksum,    // some byte changed after the block was written
    TooManyEntries, // more entries than the bound
    EntryOverrun,   // an entry reaches past the block
    BadKey,         // empty, too long, not printable ASCII or not starting with a backslash
    BadKind,        // an unknown value kind or a nonzero reserved byte
    BadText,        // a text value holding a zero byte
    TrailingBytes,  // bytes after the last entry
    DuplicateKey,   // two entries with the same key
    NoTranslation,  // no "\VarFileInfo\Translation" entry
    BadTranslation, // the translations are not bytes, or not whole pairs, or none
};

constexpr WORD ReadWord(const BYTE* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

constexpr DWORD ReadDword(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

constexpr void WriteWord(BYTE* p, WORD w) {
    p[0] = static_cast<BYTE>(w & 0xFF);
    p[1] = static_cast<BYTE>(w >> 8);
}

constexpr void WriteDword(BYTE* p, DWORD dw) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>((dw >> (8 * i)) & 0xFF);
}

constexpr BYTE AsciiLower(BYTE b) {
    return b >= 'A' && b <= 'Z' ? static_cast<BYTE>(b - 'A' + 'a') : b;
}

// Key bytes against a key text, without regard to ASCII letter case.
constexpr bool KeyEquals(const BYTE* pKey, size_t cbKey, std::string_view svKey) {
    if (cbKey != svKey.size())
        return false;
    for (size_t i = 0; i < cbKey; ++i) {
        if (AsciiLower(pKey[i]) != AsciiLower(static_cast<BYTE>(svKey[i])))
            return false;
    }
    return true;
}

constexpr bool KeyEquals(const BYTE* pKeyA, size_t cbKeyA, const BYTE* pKeyB, size_t cbKeyB) {
    if (cbKeyA != cbKeyB)
        return false;
    for (size_t i = 0; i < cbKeyA; ++i) {
        if (AsciiLower(pKeyA[i]) != AsciiLower(pKeyB[i]))
            return false;
    }
    return true;
}

// FNV-1a over every byte of the block except the checksum field itself.
constexpr DWORD Checksum(const BYTE* pBlock, size_t cbBlock) {
    DWORD dwHash = 2166136261u;
    for (size_t i = 0; i < cbBlock; ++i) {
        if (i >= c_ofsChecksum && i < c_ofsChecksum + 4)
            continue;
        dwHash = (dwHash ^ pBlock[i]) * 16777619u;
    }
    return dwHash;
}

// One entry of a block.
struct CEntryView {
    const BYTE* pKey = nullptr;
    size_t cbKey = 0;
    BYTE bKind = VALUE_BYTES;
    const BYTE* pValue = nullptr;
    size_t cbValue = 0;
};

// The entry at ofs, which must lie wholly inside a block that Check accepted.
constexpr CEntryView EntryAt(const BYTE* pBlock, size_t ofs) {
    const BYTE* pEntry = pBlock + ofs;
    CEntryView entry;
    entry.cbKey = ReadWord(pEntry);
    entry.cbValue = ReadWord(pEntry + 2);
    entry.bKind = pEntry[4];
    entry.pKey = pEntry + c_cbEntryHeader;
    entry.pValue = entry.pKey + entry.cbKey;
    return entry;
}

constexpr size_t EntrySize(const CEntryView& entry) {
    return c_cbEntryHeader + entry.cbKey + entry.cbValue;
}

// The entry under a key in a block that Check accepted; false when there is none.
constexpr bool FindEntry(const BYTE* pBlock, std::string_view svKey, CEntryView& entry) {
    size_t cbBlock = ReadDword(pBlock + c_ofsBlockSize);
    DWORD cEntries = ReadDword(pBlock + c_ofsEntryCount);
    size_t ofs = c_cbHeader;
    for (DWORD n = 0; n < cEntries && ofs < cbBlock; ++n) {
        CEntryView current = EntryAt(pBlock, ofs);
        if (KeyEquals(current.pKey, current.cbKey, svKey)) {
            entry = current;
            return true;
        }
        ofs += EntrySize(current);
    }
    return false;
}

// Checks everything a reader relies on, so that reading an accepted block never leaves it. cbAvailable is how
// many bytes follow pBlock; the block may be shorter (its size field says how long it is), and cbBlock
// receives that size when the block is valid.
constexpr ECheck Check(const BYTE* pBlock, size_t cbAvailable, size_t& cbBlock) {
    if (cbAvailable < c_cbHeader)
        return ECheck::TooSmall;
    for (size_t i = 0; i < c_cbMarker; ++i) {
        if (pBlock[i] != c_abMarker[i])
            return ECheck::BadMarker;
    }
    if (ReadWord(pBlock + c_ofsLayout) != c_wLayout)
        return ECheck::BadLayout;
    if (ReadWord(pBlock + c_ofsHeaderSize) != c_cbHeader)
        return ECheck::BadHeaderSize;
    size_t cb = ReadDword(pBlock + c_ofsBlockSize);
    if (cb < c_cbHeader || cb > c_cbMaxBlock)
        return ECheck::BadBlockSize;
    if (cb > cbAvailable)
        return ECheck::TooSmall;
    if (Checksum(pBlock, cb) != ReadDword(pBlock + c_ofsChecksum))
        return ECheck::BadChecksum;
    DWORD cEntries = ReadDword(pBlock + c_ofsEntryCount);
    if (cEntries > c_cMaxEntries)
        return ECheck::TooManyEntries;

    size_t ofs = c_cbHeader;
    for (DWORD n = 0; n < cEntries; ++n) {
        if (cb - ofs < c_cbEntryHeader)
            return ECheck::EntryOverrun;
        CEntryView entry = EntryAt(pBlock, ofs);
        if (cb - ofs - c_cbEntryHeader < entry.cbKey + entry.cbValue)
            return ECheck::EntryOverrun;
        if ((entry.bKind != VALUE_BYTES && entry.bKind != VALUE_TEXT) || pBlock[ofs + 5] != 0)
            return ECheck::BadKind;
        if (entry.cbKey == 0 || entry.cbKey > c_cbMaxKey || entry.pKey[0] != '\\')
            return ECheck::BadKey;
        for (size_t i = 0; i < entry.cbKey; ++i) {
            if (entry.pKey[i] < 0x20 || entry.pKey[i] > 0x7E)
                return ECheck::BadKey;
        }
        if (entry.bKind == VALUE_TEXT) {
            for (size_t i = 0; i < entry.cbValue; ++i) {
                if (entry.pValue[i] == 0)
                    return ECheck::BadText;
            }
        }
        // Every earlier entry against this one: the bound on the count keeps this small.
        for (size_t ofsEarlier = c_cbHeader; ofsEarlier < ofs;) {
            CEntryView earlier = EntryAt(pBlock, ofsEarlier);
            if (KeyEquals(earlier.pKey, earlier.cbKey, entry.pKey, entry.cbKey))
                return ECheck::DuplicateKey;
            ofsEarlier += EntrySize(earlier);
        }
        ofs += EntrySize(entry);
    }
    if (ofs != cb)
        return ECheck::TrailingBytes;

    CEntryView translation;
    if (!FindEntry(pBlock, c_svTranslationKey, translation))
        return ECheck::NoTranslation;
    if (translation.bKind != VALUE_BYTES || translation.cbValue == 0 || translation.cbValue % 4 != 0)
        return ECheck::BadTranslation;
    cbBlock = cb;
    return ECheck::Valid;
}

// ---- Writing
// ------------------------------------------------------------------------------------------------

// A version text of one translation's table.
struct CVersionString {
    std::string_view svName;
    std::string_view svValue;
};

// One translation and its texts.
struct CVersionTable {
    DWORD dwTranslation; // language << 16 | code page
    std::span<const CVersionString> spStrings;
};

// The size of the key "\StringFileInfo\xxxxxxxx\<name>".
constexpr size_t StringKeySize(std::string_view svName) {
    return c_svStringPrefix.size() + 8 + 1 + svName.size();
}

constexpr size_t BuildSize(std::span<const CVersionTable> spTables) {
    size_t cb = c_cbHeader + c_cbEntryHeader + c_svTranslationKey.size() + 4 * spTables.size();
    for (const CVersionTable& table : spTables) {
        for (const CVersionString& string : table.spStrings)
            cb += c_cbEntryHeader + StringKeySize(string.svName) + string.svValue.size();
    }
    return cb;
}

// Writes the header fields and the checksum of a block whose entries are in place.
constexpr void Seal(BYTE* pBlock, size_t cbBlock, DWORD cEntries) {
    for (size_t i = 0; i < c_cbMarker; ++i)
        pBlock[i] = c_abMarker[i];
    WriteWord(pBlock + c_ofsLayout, c_wLayout);
    WriteWord(pBlock + c_ofsHeaderSize, static_cast<WORD>(c_cbHeader));
    WriteDword(pBlock + c_ofsBlockSize, static_cast<DWORD>(cbBlock));
    WriteDword(pBlock + c_ofsEntryCount, cEntries);
    WriteDword(pBlock + c_ofsChecksum, Checksum(pBlock, cbBlock));
}

// Writes one entry whose key is the given pieces put together; returns the position after it.
constexpr BYTE* WriteEntry(BYTE* pOut, BYTE bKind, std::initializer_list<std::string_view> ilKey,
                           std::string_view svValue) {
    size_t cbKey = 0;
    for (std::string_view svPiece : ilKey)
        cbKey += svPiece.size();
    WriteWord(pOut, static_cast<WORD>(cbKey));
    WriteWord(pOut + 2, static_cast<WORD>(svValue.size()));
    pOut[4] = bKind;
    pOut[5] = 0;
    pOut += c_cbEntryHeader;
    for (std::string_view svPiece : ilKey) {
        for (char ch : svPiece)
            *pOut++ = static_cast<BYTE>(ch);
    }
    for (char ch : svValue)
        *pOut++ = static_cast<BYTE>(ch);
    return pOut;
}

// Writes the whole block into cbOut = BuildSize(spTables) bytes: the translations first, then each table's
// texts under "\StringFileInfo\%08lx\<name>", the translation in lower-case hexadecimal.
constexpr void Build(std::span<const CVersionTable> spTables, BYTE* pOut, size_t cbOut) {
    BYTE* p = pOut + c_cbHeader;
    WriteWord(p, static_cast<WORD>(c_svTranslationKey.size()));
    WriteWord(p + 2, static_cast<WORD>(4 * spTables.size()));
    p[4] = VALUE_BYTES;
    p[5] = 0;
    p += c_cbEntryHeader;
    for (char ch : c_svTranslationKey)
        *p++ = static_cast<BYTE>(ch);
    for (const CVersionTable& table : spTables) {
        WriteWord(p, static_cast<WORD>(table.dwTranslation >> 16));
        WriteWord(p + 2, static_cast<WORD>(table.dwTranslation & 0xFFFF));
        p += 4;
    }
    DWORD cEntries = 1;
    for (const CVersionTable& table : spTables) {
        constexpr char c_szDigits[] = "0123456789abcdef";
        char achHex[8] = {};
        for (int i = 0; i < 8; ++i)
            achHex[i] = c_szDigits[(table.dwTranslation >> (28 - 4 * i)) & 0xF];
        for (const CVersionString& string : table.spStrings) {
            p = WriteEntry(p, VALUE_TEXT,
                           {c_svStringPrefix, std::string_view(achHex, 8), "\\", string.svName},
                           string.svValue);
            ++cEntries;
        }
    }
    Seal(pOut, cbOut, cEntries);
}

} // namespace VersionBlock
