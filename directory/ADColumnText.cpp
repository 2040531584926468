#include "directory/ADColumnText.h"

#include "log/Log.h"
#include "platform/CPlatform.h"
#include "security/CSid.h"

#include <cstdio>

namespace {

const char* TypeName(EADsType eType) {
    switch (eType) {
    case ADSTYPE_DN_STRING:
        return " ADSTYPE_DN_STRING ";
    case ADSTYPE_CASE_EXACT_STRING:
        return " ADSTYPE_CASE_EXACT_STRING ";
    case ADSTYPE_CASE_IGNORE_STRING:
        return " ADSTYPE_CASE_IGNORE_STRING ";
    case ADSTYPE_PRINTABLE_STRING:
        return " ADSTYPE_PRINTABLE_STRING ";
    case ADSTYPE_NUMERIC_STRING:
        return " ADSTYPE_NUMERIC_STRING ";
    case ADSTYPE_BOOLEAN:
        return " ADSTYPE_BOOLEAN ";
    case ADSTYPE_INTEGER:
        return " ADSTYPE_INTEGER ";
    case ADSTYPE_OCTET_STRING:
        return " ADSTYPE_OCTET_STRING ";
    case ADSTYPE_UTC_TIME:
        return " ADSTYPE_UTC_TIME ";
    case ADSTYPE_LARGE_INTEGER:
        return " ADSTYPE_LARGE_INTEGER ";
    case ADSTYPE_NT_SECURITY_DESCRIPTOR:
        return " ADSTYPE_NT_SECURITY_DESCRIPTOR ";
    default:
        return " Unknown ";
    }
}

bool EqualsNoCase(const std::string& csLeft, const char* pszRight) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    size_t n = 0;
    for (; n < csLeft.size() && pszRight[n]; ++n)
        if (lower(csLeft[n]) != lower(pszRight[n]))
            return false;
    return n == csLeft.size() && !pszRight[n];
}

// Account times whose all-ones low half means "never"; compared exactly, as the directory spells them.
bool IsAccountTime(const std::string& csName) {
    static const char* const s_apszNames[] = {"badPasswordTime", "accountExpires", "lastLogon",
                                              "lastLogoff",      "lockoutTime",    "pwdLastSet"};
    for (const char* pszName : s_apszNames)
        if (csName == pszName)
            return true;
    return false;
}

void Append(std::string& csOut, const std::string& csValue) {
    if (!csOut.empty())
        csOut += ';';
    csOut += csValue;
}

std::string OctetText(const std::string& csName, const std::string& csBytes) {
    if (EqualsNoCase(csName, "objectSID")) {
        CSid sid;
        std::string csText;
        if (CSid::FromBinary(reinterpret_cast<const BYTE*>(csBytes.data()), csBytes.size(), sid) ==
                ERROR_SUCCESS &&
            sid.ToString(csText) == ERROR_SUCCESS)
            return csText;
        return std::string();
    }
    if (EqualsNoCase(csName, "objectGUID") || EqualsNoCase(csName, "msExchMailboxGUID") ||
        EqualsNoCase(csName, "msExchArchiveGUID"))
        return FormatGuidText(csBytes);
    return std::string();
}

void AppendLargeInteger(const CDirectoryColumn& column, const CDirectoryValue& value, CColumnOutput& output) {
    if (value.nNumber == 0)
        return;
    const uint64_t qwValue = static_cast<uint64_t>(value.nNumber);
    const DWORD dwLow = static_cast<DWORD>(qwValue & 0xFFFFFFFFULL);
    const DWORD dwHigh = static_cast<DWORD>(qwValue >> 32);
    if (!IsAccountTime(column.csName)) {
        LogMessage(" FIndUser high: %d low: %d\r\n", static_cast<int>(dwHigh), static_cast<int>(dwLow));
        return;
    }
    if (dwLow == 0xFFFFFFFFUL) {
        output.bNeverExpires = true;
        return;
    }
    Append(output.csText, FormatDateText(CPlatform::Directory().FileTimeToLocalTime(qwValue)));
}

void AppendValue(const CDirectoryColumn& column, const CDirectoryValue& value, CColumnOutput& output) {
    switch (column.eType) {
    case ADSTYPE_DN_STRING:
        if (!value.csBytes.empty())
            Append(output.csText, value.csBytes);
        break;
    case ADSTYPE_CASE_EXACT_STRING:
    case ADSTYPE_CASE_IGNORE_STRING:
    case ADSTYPE_PRINTABLE_STRING:
    case ADSTYPE_NUMERIC_STRING:
        Append(output.csText, value.csBytes);
        break;
    case ADSTYPE_BOOLEAN:
        Append(output.csText, value.nNumber ? "TRUE" : "FALSE");
        break;
    case ADSTYPE_INTEGER:
        Append(output.csText, std::to_string(static_cast<int32_t>(value.nNumber)));
        break;
    case ADSTYPE_OCTET_STRING: {
        const std::string csText = OctetText(column.csName, value.csBytes);
        if (!csText.empty())
            Append(output.csText, csText);
        break;
    }
    case ADSTYPE_UTC_TIME:
        Append(output.csText, FormatDateText(value.utcTime));
        break;
    case ADSTYPE_LARGE_INTEGER:
        AppendLargeInteger(column, value, output);
        break;
    default:
        break;
    }
}

} // namespace

void AppendColumnText(const CDirectoryColumn& column, CColumnOutput& output) {
    output.csTrace += " Type: " + std::to_string(static_cast<int>(column.eType)) + TypeName(column.eType);
    if (std::string(TypeName(column.eType)) == " Unknown ") {
        LogMessage("Unknown type %d.\n", static_cast<int>(column.eType));
        return;
    }
    for (const CDirectoryValue& value : column.vValues)
        AppendValue(column, value, output);
}

std::string FormatDateText(const CSystemTime& st) {
    char szText[64];
    int nLength = std::snprintf(szText, sizeof(szText), "%u/%u/%u", st.wMonth, st.wDay, st.wYear);
    if (st.wHour || st.wMinute || st.wSecond) {
        const unsigned nHour12 = st.wHour % 12 == 0 ? 12 : st.wHour % 12;
        std::snprintf(szText + nLength, sizeof(szText) - static_cast<size_t>(nLength), " %u:%02u:%02u %s",
                      nHour12, st.wMinute, st.wSecond, st.wHour < 12 ? "AM" : "PM");
    }
    return szText;
}

std::string FormatGuidText(const std::string& csBytes) {
    if (csBytes.size() != 16)
        return std::string();
    const auto* p = reinterpret_cast<const unsigned char*>(csBytes.data());
    char szText[40];
    // The first three groups are stored little-endian, the last eight bytes as they stand.
    std::snprintf(szText, sizeof(szText),
                  "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", p[3], p[2], p[1],
                  p[0], p[5], p[4], p[7], p[6], p[8], p[9], p[10], p[11], p[12], p[13], p[14], p[15]);
    return szText;
}
