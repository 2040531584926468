// Security identifiers in their binary form (revision, sub-authority count, 48-bit big-endian identifier
// authority, little-endian 32-bit sub-authorities) and their "S-1-..." text form.
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

constexpr BYTE SID_REVISION = 1;
constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;
constexpr size_t SID_HEADER_SIZE = 8;

class CSid {
public:
    CSid() = default;
    CSid(uint64_t qwAuthority, std::initializer_list<DWORD> subAuthorities);

    // Takes a binary SID; ERROR_INVALID_SID when the bytes do not hold exactly one valid SID.
    static DWORD FromBinary(const BYTE* pBytes, size_t cbBytes, CSid& sid);
    static DWORD FromBinary(const std::vector<BYTE>& vBytes, CSid& sid) {
        return FromBinary(vBytes.data(), vBytes.size(), sid);
    }
    // Parses "S-1-<authority>-<sub>..." (or one of the two-letter well-known aliases); ERROR_INVALID_SID on
    // any deviation. The result is left untouched on failure.
    static DWORD FromString(const char* pszText, CSid& sid);

    // ERROR_INVALID_SID for an empty (default-constructed) SID.
    DWORD ToString(std::string& csText) const;

    bool IsValid() const { return !m_vBytes.empty(); }
    const std::vector<BYTE>& GetBytes() const { return m_vBytes; }
    BYTE GetSubAuthorityCount() const { return m_vBytes.empty() ? 0 : m_vBytes[1]; }
    uint64_t GetIdentifierAuthority() const;
    DWORD GetSubAuthority(size_t nIndex) const;

    // Binary equality, as EqualSid.
    bool operator==(const CSid& other) const { return m_vBytes == other.m_vBytes; }
    bool Equals(const std::vector<BYTE>& vBytes) const { return IsValid() && m_vBytes == vBytes; }

private:
    std::vector<BYTE> m_vBytes;
};

// True when the bytes hold exactly one SID of revision 1 with at most 15 sub-authorities.
bool IsValidSidBytes(const BYTE* pBytes, size_t cbBytes);

// The last-error form of the conversions: FALSE results set the platform last error.
bool ConvertStringSidToSid(const char* pszText, CSid& sid);
bool ConvertSidToStringSid(const CSid& sid, std::string& csText);

// Well-known SIDs every authenticated request identity belongs to.
const CSid& EveryoneSid();
const CSid& AuthenticatedUsersSid();
