#include "directory/CADUserConfig.h"

#include "directory/ADColumnText.h"
#include "log/Log.h"
#include "platform/CPlatform.h"
#include "platform/HResultException.h"
#include "platform/ThreadIdentity.h"
#include "security/CSid.h"

#include <exception>

namespace {

const char* const CONTEXT = "CADUserConfig::ReadProperty";

// Every byte of a binary value escaped, the form in which a filter asks for binary bytes.
std::string EscapeBytes(const std::vector<BYTE>& vBytes) {
    static const char s_szHex[] = "0123456789abcdef";
    std::string csText;
    csText.reserve(vBytes.size() * 3);
    for (BYTE b : vBytes) {
        csText += '\\';
        csText += s_szHex[b >> 4];
        csText += s_szHex[b & 0xF];
    }
    return csText;
}

std::string SidFilterValue(const std::string& csValue) {
    CSid sid;
    if (csValue.size() > 2 && (csValue[0] == 'S' || csValue[0] == 's') && csValue[1] == '-' &&
        CSid::FromString(csValue.c_str(), sid) == ERROR_SUCCESS)
        return EscapeBytes(sid.GetBytes());
    return EscapeFilterValue(csValue);
}

// The longest head of a UTF-8 text that fits nUnits UTF-16 code units, cut between characters.
std::string CutToUtf16Units(const std::string& csText, size_t nUnits) {
    size_t nUsed = 0;
    size_t nPos = 0;
    while (nPos < csText.size()) {
        const unsigned char c = static_cast<unsigned char>(csText[nPos]);
        const size_t nBytes = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        const size_t nCost = nBytes == 4 ? 2 : 1;
        if (nUsed + nCost > nUnits)
            break;
        nUsed += nCost;
        nPos += nBytes;
    }
    return csText.substr(0, nPos);
}

} // namespace

std::string EscapeFilterValue(const std::string& csValue) {
    std::string csText;
    csText.reserve(csValue.size());
    for (char c : csValue) {
        switch (c) {
        case '*':
            csText += "\\2a";
            break;
        case '(':
            csText += "\\28";
            break;
        case ')':
            csText += "\\29";
            break;
        case '\\':
            csText += "\\5c";
            break;
        case '\0':
            csText += "\\00";
            break;
        default:
            csText += c;
        }
    }
    return csText;
}

CADUserConfig::CADUserConfig(DWORD dwConfigType) : m_dwConfigType(dwConfigType) {}

CADUserConfig::~CADUserConfig() = default;

void CADUserConfig::SetIdentity(const std::string& csValue, int nKind) {
    m_csIdentity = csValue;
    m_nIdentityKind = nKind;
}

std::string CADUserConfig::GetIdentityFilter() const {
    const std::string& csValue = m_csIdentity;
    switch (m_nIdentityKind) {
    case -1:
        return std::string();
    case AD_IDENTITY_PRINCIPAL_NAME:
        return "(userPrincipalName=" + EscapeFilterValue(csValue) + ")";
    case AD_IDENTITY_NAME:
        return "(name=" + EscapeFilterValue(csValue) + ")";
    case AD_IDENTITY_SMTP_ADDRESS:
        return "(proxyAddresses=SMTP:" + EscapeFilterValue(csValue) + ")";
    case AD_IDENTITY_LEGACY_DN:
        return "(legacyExchangeDN=" + EscapeFilterValue(csValue) + ")";
    case AD_IDENTITY_X500_ADDRESS:
        return "(proxyAddresses=x500:" + EscapeFilterValue(csValue) + ")";
    case AD_IDENTITY_SID:
        return "(ObjectSID=" + SidFilterValue(csValue) + ")";
    case AD_IDENTITY_SID_OR_MASTER_SID: {
        const std::string csSid = SidFilterValue(csValue);
        return "(|(ObjectSID=" + csSid + ")(msExchMasterAccountSid=" + csSid + "))";
    }
    default:
        return "(sAMAccountName=" + EscapeFilterValue(csValue) + ")";
    }
}

std::string CADUserConfig::BuildSearchFilter() const {
    return CutToUtf16Units("(&" + m_csObjectFilter + GetIdentityFilter() + ")", AD_FILTER_BUFFER_CHARS - 1);
}

HRESULT CADUserConfig::ReadProperty(const std::string& csName, std::string& csValue) {
    auto it = m_mapResults.find(csName);
    if (it != m_mapResults.end()) {
        csValue = it->second;
        return S_OK;
    }
    std::string csRead;
    const HRESULT hr = ReadPropertiesGuarded(csName, csRead);
    if (SUCCEEDED(hr)) {
        m_mapResults[csName] = csRead;
        csValue = csRead;
    }
    return hr;
}

HRESULT CADUserConfig::ReadPropertiesGuarded(const std::string& csName, std::string& csValue) {
    const int nType = static_cast<int>(m_dwConfigType);
    try {
        return ReadProperties(csName, csValue);
    } catch (const CHResultException& e) {
        LogMessage("ReadProperty from AD got an exception HR: 0x%x. Context: %s user %s Prop %s "
                   "ConfigurationType: %d",
                   static_cast<unsigned>(e.Error()), CONTEXT, m_csIdentity.c_str(), csName.c_str(), nType);
    } catch (const std::exception& e) {
        const char* pszWhat = e.what();
        LogMessage(
            "ReadProperty from AD got an std exception %s Context: %s user %s Prop %s ConfigurationType: "
            "%d",
            pszWhat && *pszWhat ? pszWhat : "EMPTY", CONTEXT, m_csIdentity.c_str(), csName.c_str(), nType);
    } catch (...) {
        LogMessage(
            "ReadProperty from AD got an general exception Context: %s user %s Prop %s ConfigurationType: "
            "%d",
            CONTEXT, m_csIdentity.c_str(), csName.c_str(), nType);
    }
    return E_FAIL;
}

HRESULT CADUserConfig::ReadProperties(const std::string& csName, std::string& csValue) {
    // The directory is the process's business, not the request user's; the user's identity is back on the
    // thread when the scope ends, also on a failure or an exception.
    CRevertToSelfScope processIdentity;
    const std::string csPath = m_csProvider + ":" + m_csServer;
    std::unique_ptr<IDirectorySearch> spSearch;
    HRESULT hr = GetDirectorySearch(spSearch, csPath);
    if (FAILED(hr)) {
        LogMessage("ReadProperties couldn't get IDirectorySearch 0x%x ConfigType: %d",
                   static_cast<unsigned>(hr), static_cast<int>(m_dwConfigType));
        return hr;
    }
    std::string csFound;
    hr = FindUsers(*spSearch, BuildSearchFilter(), csName, csFound);
    if (FAILED(hr)) {
        LogMessage("CADUserConfig failed to get AD user %s Prop %s hr: 0x%x ConfigType: %d  %s",
                   m_csIdentity.c_str(), csName.c_str(), static_cast<unsigned>(hr),
                   static_cast<int>(m_dwConfigType), m_csTrace.c_str());
        return hr;
    }
    csValue = csFound;
    return S_OK;
}

HRESULT CADUserConfig::GetDirectorySearch(std::unique_ptr<IDirectorySearch>& spSearch,
                                          const std::string& csPath) {
    std::string csError;
    const HRESULT hr = CPlatform::Directory().OpenSearch(csPath, spSearch, csError);
    if (FAILED(hr)) {
        if (csPath != "GC:" && csPath != "LDAP:")
            LogMessage("GetDirectorySearch ADsOpenObject IID_IDirectorySearch Path: %s failed: 0x%x\n",
                       csPath.c_str(), static_cast<unsigned>(hr));
        else
            LogMessage("GetDirectorySearch ADsOpenObject failed to OPEN GC:: 0x%x\n",
                       static_cast<unsigned>(hr));
        LogMessage("[CADUserConfig::GetDirectorySearch] the directory said: %s", csError.c_str());
    }
    return hr;
}

HRESULT CADUserConfig::FindUsers(IDirectorySearch& search, const std::string& csFilter,
                                 const std::string& csAttribute, std::string& csValue) {
    CColumnOutput output;
    output.csTrace = csAttribute.empty() ? " ExecuteSearch all prop" : " ExecuteSearch " + csAttribute;
    std::vector<CDirectoryRow> vRows;
    HRESULT hr = search.ExecuteSearch(csFilter, csAttribute, vRows);
    m_csTrace = output.csTrace;
    if (FAILED(hr)) {
        LogMessage("Execute search failed %s 0x%x", csFilter.c_str(), static_cast<unsigned>(hr));
        LogMessage("[CADUserConfig::FindUsers] the directory said: %s", search.GetErrorText().c_str());
        return hr;
    }
    output.csTrace += " GetFirstRow ";
    int nCount = 0;
    for (const CDirectoryRow& row : vRows) {
        for (const CDirectoryColumn& column : row) {
            output.csTrace += " GetNextColumnName  Call GetColumn ";
            ++nCount;
            output.csTrace += " & GetColumn Count: " + std::to_string(nCount);
            AppendColumnText(column, output);
        }
    }
    hr = S_ADS_NOMORE_ROWS;
    m_csTrace = output.csTrace;
    if (nCount == 0) {
        LogMessage("CADUserConfig::FindUsers %s hr:0x%x Count = 0 Error! No property was found",
                   output.csTrace.c_str(), static_cast<unsigned>(hr));
        return E_FAIL;
    }
    LogMessage("CADUserConfig::FindUsers %s hr:0x%x Count: %d", output.csTrace.c_str(),
               static_cast<unsigned>(hr), nCount);
    csValue = output.bNeverExpires ? NEVER_EXPIRES_TEXT : output.csText;
    return S_OK;
}
