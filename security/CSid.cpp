#include "security/CSid.h"

#include "platform/LastError.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t AUTHORITY_MAX = 0xFFFFFFFFFFFFULL; // 48 bits
constexpr uint64_t DECIMAL_AUTHORITY_LIMIT = 0x100000000ULL;

struct CSidAlias {
    const char* pszAlias;
    const char* pszSid;
};

// The two-letter aliases accepted in place of the numeric form.
constexpr CSidAlias s_aliases[] = {
    {"WD", "S-1-1-0"},      {"AN", "S-1-5-7"},      {"NU", "S-1-5-2"},      {"IU", "S-1-5-4"},
    {"AU", "S-1-5-11"},     {"SY", "S-1-5-18"},     {"LS", "S-1-5-19"},     {"NS", "S-1-5-20"},
    {"BA", "S-1-5-32-544"}, {"BU", "S-1-5-32-545"}, {"BG", "S-1-5-32-546"},
};

std::vector<BYTE> BuildBytes(uint64_t qwAuthority, const DWORD* pSub, size_t nSub) {
    std::vector<BYTE> vBytes(SID_HEADER_SIZE + 4 * nSub);
    vBytes[0] = SID_REVISION;
    vBytes[1] = static_cast<BYTE>(nSub);
    for (int i = 0; i < 6; ++i)
        vBytes[2 + i] = static_cast<BYTE>(qwAuthority >> (8 * (5 - i)));
    for (size_t n = 0; n < nSub; ++n) {
        for (int i = 0; i < 4; ++i)
            vBytes[SID_HEADER_SIZE + 4 * n + i] = static_cast<BYTE>(pSub[n] >> (8 * i));
    }
    return vBytes;
}

// Reads one unsigned number that must end at '-' or at the end of the text; no sign, no blanks.
bool ParseNumber(const char*& p, uint64_t qwMax, bool bAllowHex, uint64_t& qwValue) {
    unsigned nBase = 10;
    if (bAllowHex && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        nBase = 16;
        p += 2;
    }
    const char* pStart = p;
    uint64_t qw = 0;
    for (;; ++p) {
        unsigned nDigit;
        if (*p >= '0' && *p <= '9')
            nDigit = static_cast<unsigned>(*p - '0');
        else if (nBase == 16 && *p >= 'a' && *p <= 'f')
            nDigit = static_cast<unsigned>(*p - 'a' + 10);
        else if (nBase == 16 && *p >= 'A' && *p <= 'F')
            nDigit = static_cast<unsigned>(*p - 'A' + 10);
        else
            break;
        if (qw > (qwMax - nDigit) / nBase)
            return false;
        qw = qw * nBase + nDigit;
    }
    if (p == pStart || (*p != '-' && *p != '\0'))
        return false;
    qwValue = qw;
    return true;
}

} // namespace

CSid::CSid(uint64_t qwAuthority, std::initializer_list<DWORD> subAuthorities) {
    if (qwAuthority <= AUTHORITY_MAX && subAuthorities.size() <= SID_MAX_SUB_AUTHORITIES)
        m_vBytes = BuildBytes(qwAuthority, subAuthorities.begin(), subAuthorities.size());
}

bool IsValidSidBytes(const BYTE* pBytes, size_t cbBytes) {
    if (!pBytes || cbBytes < SID_HEADER_SIZE)
        return false;
    if (pBytes[0] != SID_REVISION || pBytes[1] > SID_MAX_SUB_AUTHORITIES)
        return false;
    return cbBytes == SID_HEADER_SIZE + 4 * static_cast<size_t>(pBytes[1]);
}

DWORD CSid::FromBinary(const BYTE* pBytes, size_t cbBytes, CSid& sid) {
    if (!IsValidSidBytes(pBytes, cbBytes))
        return ERROR_INVALID_SID;
    sid.m_vBytes.assign(pBytes, pBytes + cbBytes);
    return ERROR_SUCCESS;
}

DWORD CSid::FromString(const char* pszText, CSid& sid) {
    if (!pszText)
        return ERROR_INVALID_PARAMETER;
    for (const CSidAlias& alias : s_aliases) {
        if (std::strcmp(pszText, alias.pszAlias) == 0)
            return FromString(alias.pszSid, sid);
    }
    const char* p = pszText;
    if ((p[0] != 'S' && p[0] != 's') || p[1] != '-')
        return ERROR_INVALID_SID;
    p += 2;
    uint64_t qwRevision = 0;
    if (!ParseNumber(p, 0xFF, false, qwRevision) || qwRevision != SID_REVISION || *p != '-')
        return ERROR_INVALID_SID;
    ++p;
    uint64_t qwAuthority = 0;
    // Decimal authorities are 32-bit; larger ones are written in hexadecimal.
    const bool bHex = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    if (!ParseNumber(p, bHex ? AUTHORITY_MAX : DECIMAL_AUTHORITY_LIMIT - 1, true, qwAuthority))
        return ERROR_INVALID_SID;
    DWORD aSub[SID_MAX_SUB_AUTHORITIES];
    size_t nSub = 0;
    while (*p == '-') {
        ++p;
        uint64_t qwSub = 0;
        if (nSub == SID_MAX_SUB_AUTHORITIES || !ParseNumber(p, 0xFFFFFFFFULL, false, qwSub))
            return ERROR_INVALID_SID;
        aSub[nSub++] = static_cast<DWORD>(qwSub);
    }
    sid.m_vBytes = BuildBytes(qwAuthority, aSub, nSub);
    return ERROR_SUCCESS;
}

uint64_t CSid::GetIdentifierAuthority() const {
    uint64_t qw = 0;
    for (size_t i = 0; i < 6 && m_vBytes.size() >= SID_HEADER_SIZE; ++i)
        qw = (qw << 8) | m_vBytes[2 + i];
    return qw;
}

DWORD CSid::GetSubAuthority(size_t nIndex) const {
    if (nIndex >= GetSubAuthorityCount())
        return 0;
    const BYTE* p = m_vBytes.data() + SID_HEADER_SIZE + 4 * nIndex;
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

DWORD CSid::ToString(std::string& csText) const {
    if (!IsValid())
        return ERROR_INVALID_SID;
    char szPart[32];
    std::string cs = "S-1-";
    const uint64_t qwAuthority = GetIdentifierAuthority();
    if (qwAuthority < DECIMAL_AUTHORITY_LIMIT) {
        cs.append(szPart, std::to_chars(szPart, szPart + sizeof(szPart), qwAuthority).ptr);
    } else {
        std::snprintf(szPart, sizeof(szPart), "0x%012llX", static_cast<unsigned long long>(qwAuthority));
        cs += szPart;
    }
    // Every request's identity is written out this way: no formatting machinery for plain decimals.
    for (size_t n = 0; n < GetSubAuthorityCount(); ++n) {
        cs += '-';
        cs.append(szPart, std::to_chars(szPart, szPart + sizeof(szPart), GetSubAuthority(n)).ptr);
    }
    csText = std::move(cs);
    return ERROR_SUCCESS;
}

bool ConvertStringSidToSid(const char* pszText, CSid& sid) {
    const DWORD dwError = CSid::FromString(pszText, sid);
    if (dwError != ERROR_SUCCESS)
        PlatformSetLastError(dwError);
    return dwError == ERROR_SUCCESS;
}

bool ConvertSidToStringSid(const CSid& sid, std::string& csText) {
    const DWORD dwError = sid.ToString(csText);
    if (dwError != ERROR_SUCCESS)
        PlatformSetLastError(dwError);
    return dwError == ERROR_SUCCESS;
}

const CSid& EveryoneSid() {
    static const CSid s_sid(1, {0});
    return s_sid;
}

const CSid& AuthenticatedUsersSid() {
    static const CSid s_sid(5, {11});
    return s_sid;
}
