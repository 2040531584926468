// The directory service over the OpenLDAP client library. Where the global catalog is, how to bind and how
// long to wait come from the machine's LDAP client configuration (ldap.conf, ~/.ldaprc and the LDAP...
// environment variables), so an administrator sets the module up as every other LDAP client. A connection
// lives for one search: nothing is shared between request threads but the note of which servers did not
// answer a moment ago.
#include "platform/Immortal.h"
#include "platform/posix/PosixServices.h"

#include <ldap.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <unordered_map>

namespace {

// What a timeout is when the configuration names none: long enough for a global catalog across a WAN,
// short enough that a dead one does not hold a request thread.
constexpr time_t DEFAULT_TIMEOUT_SECONDS = 3;
constexpr int MAX_ROWS = 100;
constexpr int GLOBAL_CATALOG_PORT = 3268;
constexpr int PLAIN_LDAP_PORT = 389;
constexpr uint64_t FILETIME_UNITS_PER_SECOND = 10000000ULL;
constexpr uint64_t FILETIME_UNIX_EPOCH_SECONDS = 11644473600ULL;
// How long a server that could not be reached is left alone (WENDRAKE_DIRECTORY_RETRY_SECONDS overrides it;
// 0 tries every time). Every lookup of every request would otherwise pay a connection attempt, or a whole
// timeout for a server whose packets are dropped, while the directory is down.
constexpr long DEFAULT_RETRY_SECONDS = 10;

constexpr HRESULT HR_DS_SERVER_DOWN = static_cast<HRESULT>(0x8007203A);
constexpr HRESULT HR_DS_TIMELIMIT_EXCEEDED = static_cast<HRESULT>(0x80072024);
constexpr HRESULT HR_TIMEOUT = static_cast<HRESULT>(0x800705B4);
constexpr HRESULT HR_LOGON_FAILURE = static_cast<HRESULT>(0x8007052E);
constexpr HRESULT HR_DS_FILTER_UNKNOWN = static_cast<HRESULT>(0x80072035);
constexpr HRESULT HR_DS_NO_SUCH_OBJECT = static_cast<HRESULT>(0x80072030);
constexpr HRESULT HR_DS_OPERATIONS_ERROR = static_cast<HRESULT>(0x80072020);

HRESULT HresultFromLdap(int nCode) {
    switch (nCode) {
    case LDAP_SUCCESS:
        return S_OK;
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
        return HR_DS_SERVER_DOWN;
    case LDAP_TIMEOUT:
        return HR_TIMEOUT;
    case LDAP_TIMELIMIT_EXCEEDED:
        return HR_DS_TIMELIMIT_EXCEEDED;
    case LDAP_INVALID_CREDENTIALS:
    case LDAP_INAPPROPRIATE_AUTH:
        return HR_LOGON_FAILURE;
    case LDAP_FILTER_ERROR:
        return HR_DS_FILTER_UNKNOWN;
    case LDAP_NO_SUCH_OBJECT:
        return HR_DS_NO_SUCH_OBJECT;
    case LDAP_NO_MEMORY:
        return E_OUTOFMEMORY;
    default:
        return HR_DS_OPERATIONS_ERROR;
    }
}

std::string Lower(std::string cs) {
    for (char& c : cs)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return cs;
}

// The attributes the module reads whose type is not a string; every other attribute is a caseless string.
EADsType TypeOfAttribute(const std::string& csName) {
    static const std::unordered_map<std::string, EADsType> s_types = {
        {"objectsid", ADSTYPE_OCTET_STRING},
        {"msexchmasteraccountsid", ADSTYPE_OCTET_STRING},
        {"objectguid", ADSTYPE_OCTET_STRING},
        {"msexchmailboxguid", ADSTYPE_OCTET_STRING},
        {"msexcharchiveguid", ADSTYPE_OCTET_STRING},
        {"ntsecuritydescriptor", ADSTYPE_NT_SECURITY_DESCRIPTOR},
        {"accountexpires", ADSTYPE_LARGE_INTEGER},
        {"pwdlastset", ADSTYPE_LARGE_INTEGER},
        {"lastlogon", ADSTYPE_LARGE_INTEGER},
        {"lastlogoff", ADSTYPE_LARGE_INTEGER},
        {"badpasswordtime", ADSTYPE_LARGE_INTEGER},
        {"lockouttime", ADSTYPE_LARGE_INTEGER},
        {"lastlogontimestamp", ADSTYPE_LARGE_INTEGER},
        {"usnchanged", ADSTYPE_LARGE_INTEGER},
        {"usncreated", ADSTYPE_LARGE_INTEGER},
        {"whencreated", ADSTYPE_UTC_TIME},
        {"whenchanged", ADSTYPE_UTC_TIME},
        {"useraccountcontrol", ADSTYPE_INTEGER},
        {"badpwdcount", ADSTYPE_INTEGER},
        {"logoncount", ADSTYPE_INTEGER},
        {"primarygroupid", ADSTYPE_INTEGER},
        {"samaccounttype", ADSTYPE_INTEGER},
        {"instancetype", ADSTYPE_INTEGER},
        {"distinguishedname", ADSTYPE_DN_STRING},
        {"member", ADSTYPE_DN_STRING},
        {"memberof", ADSTYPE_DN_STRING},
        {"manager", ADSTYPE_DN_STRING},
        {"homemdb", ADSTYPE_DN_STRING},
        {"iscriticalsystemobject", ADSTYPE_BOOLEAN},
        {"showinaddressbook", ADSTYPE_DN_STRING},
    };
    auto it = s_types.find(Lower(csName));
    return it == s_types.end() ? ADSTYPE_CASE_IGNORE_STRING : it->second;
}

// "YYYYMMDDHHMMSS[.fff]Z": the generalized time of the directory, in UTC.
bool ParseGeneralizedTime(const std::string& csText, CSystemTime& st) {
    int anParts[6] = {};
    const int anWidths[6] = {4, 2, 2, 2, 2, 2};
    size_t nPos = 0;
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < anWidths[i]; ++j, ++nPos) {
            if (nPos >= csText.size() || csText[nPos] < '0' || csText[nPos] > '9')
                return false;
            anParts[i] = anParts[i] * 10 + (csText[nPos] - '0');
        }
    }
    st = CSystemTime();
    st.wYear = static_cast<WORD>(anParts[0]);
    st.wMonth = static_cast<WORD>(anParts[1]);
    st.wDay = static_cast<WORD>(anParts[2]);
    st.wHour = static_cast<WORD>(anParts[3]);
    st.wMinute = static_cast<WORD>(anParts[4]);
    st.wSecond = static_cast<WORD>(anParts[5]);
    return true;
}

CDirectoryValue ToValue(EADsType eType, const berval& value) {
    CDirectoryValue result;
    result.csBytes.assign(value.bv_val ? value.bv_val : "", value.bv_len);
    if (eType == ADSTYPE_INTEGER || eType == ADSTYPE_LARGE_INTEGER)
        result.nNumber = std::strtoll(result.csBytes.c_str(), nullptr, 10);
    else if (eType == ADSTYPE_BOOLEAN)
        result.nNumber = Lower(result.csBytes) == "true" ? 1 : 0;
    else if (eType == ADSTYPE_UTC_TIME)
        ParseGeneralizedTime(result.csBytes, result.utcTime);
    return result;
}

// Every attribute of one entry, with its type.
CDirectoryRow ReadRow(LDAP* pLdap, LDAPMessage* pEntry) {
    CDirectoryRow row;
    BerElement* pBer = nullptr;
    for (char* pszName = ldap_first_attribute(pLdap, pEntry, &pBer); pszName;
         pszName = ldap_next_attribute(pLdap, pEntry, pBer)) {
        CDirectoryColumn column;
        column.csName = pszName;
        column.eType = TypeOfAttribute(column.csName);
        if (berval** ppValues = ldap_get_values_len(pLdap, pEntry, pszName)) {
            for (berval** pp = ppValues; *pp; ++pp)
                column.vValues.push_back(ToValue(column.eType, **pp));
            ldap_value_free_len(ppValues);
        }
        ldap_memfree(pszName);
        row.push_back(std::move(column));
    }
    if (pBer)
        ber_free(pBer, 0);
    return row;
}

// A SASL mechanism that needs no prompt (GSSAPI with the host's keytab, EXTERNAL): every answer is the
// library's default.
int QuietInteract(LDAP*, unsigned, void*, void*) {
    return LDAP_SUCCESS;
}

class CLdapSearch : public IDirectorySearch {
public:
    CLdapSearch(LDAP* pLdap, std::string csBase) : m_pLdap(pLdap), m_csBase(std::move(csBase)) {}
    ~CLdapSearch() override { ldap_unbind_ext_s(m_pLdap, nullptr, nullptr); }
    CLdapSearch(const CLdapSearch&) = delete;
    CLdapSearch& operator=(const CLdapSearch&) = delete;

    HRESULT ExecuteSearch(const std::string& csFilter, const std::string& csAttribute,
                          std::vector<CDirectoryRow>& vRows) override {
        vRows.clear();
        char* apszAttributes[2] = {const_cast<char*>(csAttribute.c_str()), nullptr};
        timeval timeout = OperationTimeout(m_pLdap);
        LDAPMessage* pResult = nullptr;
        const int nCode =
            ldap_search_ext_s(m_pLdap, m_csBase.empty() ? nullptr : m_csBase.c_str(), LDAP_SCOPE_SUBTREE,
                              csFilter.c_str(), csAttribute.empty() ? nullptr : apszAttributes, 0, nullptr,
                              nullptr, &timeout, MAX_ROWS, &pResult);
        // A size limit still hands over the rows that came; every other failure hands over none.
        if (nCode == LDAP_SUCCESS || nCode == LDAP_SIZELIMIT_EXCEEDED) {
            for (LDAPMessage* pEntry = ldap_first_entry(m_pLdap, pResult); pEntry;
                 pEntry = ldap_next_entry(m_pLdap, pEntry))
                vRows.push_back(ReadRow(m_pLdap, pEntry));
        }
        if (pResult)
            ldap_msgfree(pResult);
        if (nCode == LDAP_SUCCESS || nCode == LDAP_SIZELIMIT_EXCEEDED)
            return S_OK;
        m_csError = ldap_err2string(nCode);
        return HresultFromLdap(nCode);
    }

    std::string GetErrorText() const override { return m_csError; }

    // The configured operation timeout, else the default; also the server's time limit.
    static timeval OperationTimeout(LDAP* pLdap) {
        timeval timeout = {DEFAULT_TIMEOUT_SECONDS, 0};
        timeval* pConfigured = nullptr;
        if (ldap_get_option(pLdap, LDAP_OPT_TIMEOUT, &pConfigured) == LDAP_OPT_SUCCESS && pConfigured) {
            if (pConfigured->tv_sec > 0 || pConfigured->tv_usec > 0)
                timeout = *pConfigured;
            ldap_memfree(pConfigured);
        }
        return timeout;
    }

private:
    LDAP* m_pLdap;
    std::string m_csBase;
    std::string m_csError;
};

struct CLdapTarget {
    std::string csUri; // empty: the configured one
    std::string csBase;
};

// "GC:" and "LDAP:" are the configured root; "GC://host[:port][/base]" and "LDAP://host[:port][/base]" name a
// server, the global catalog on its port 3268 unless one is given.
bool ParsePath(const std::string& csPath, CLdapTarget& target) {
    const std::string csLower = Lower(csPath);
    if (csLower == "gc:" || csLower == "ldap:")
        return true;
    const bool bCatalog = csLower.rfind("gc://", 0) == 0;
    if (!bCatalog && csLower.rfind("ldap://", 0) != 0)
        return false;
    const std::string csRest = csPath.substr(bCatalog ? 5 : 7);
    const size_t nSlash = csRest.find('/');
    std::string csHost = csRest.substr(0, nSlash);
    if (csHost.empty())
        return false;
    if (csHost.find(':') == std::string::npos)
        csHost += ":" + std::to_string(bCatalog ? GLOBAL_CATALOG_PORT : PLAIN_LDAP_PORT);
    target.csUri = "ldap://" + csHost;
    if (nSlash != std::string::npos)
        target.csBase = csRest.substr(nSlash + 1);
    return true;
}

// Timeouts the configuration leaves open get the default, so no call can wait without end.
void BoundTimes(LDAP* pLdap) {
    timeval* pConfigured = nullptr;
    const timeval defaultTimeout = {DEFAULT_TIMEOUT_SECONDS, 0};
    if (ldap_get_option(pLdap, LDAP_OPT_NETWORK_TIMEOUT, &pConfigured) != LDAP_OPT_SUCCESS || !pConfigured)
        ldap_set_option(pLdap, LDAP_OPT_NETWORK_TIMEOUT, &defaultTimeout);
    if (pConfigured)
        ldap_memfree(pConfigured);
    pConfigured = nullptr;
    if (ldap_get_option(pLdap, LDAP_OPT_TIMEOUT, &pConfigured) != LDAP_OPT_SUCCESS || !pConfigured)
        ldap_set_option(pLdap, LDAP_OPT_TIMEOUT, &defaultTimeout);
    if (pConfigured)
        ldap_memfree(pConfigured);
    int nTimeLimit = static_cast<int>(CLdapSearch::OperationTimeout(pLdap).tv_sec);
    ldap_set_option(pLdap, LDAP_OPT_TIMELIMIT, &nTimeLimit);
}

// SASL when the configuration names a mechanism; else a simple bind with the account and password file of
// the environment; else anonymous.
int Bind(LDAP* pLdap) {
    char* pszMechanism = nullptr;
    ldap_get_option(pLdap, LDAP_OPT_X_SASL_MECH, &pszMechanism);
    if (pszMechanism) {
        const int nCode = ldap_sasl_interactive_bind_s(pLdap, nullptr, pszMechanism, nullptr, nullptr,
                                                       LDAP_SASL_QUIET, &QuietInteract, nullptr);
        ldap_memfree(pszMechanism);
        return nCode;
    }
    std::string csPassword;
    const char* pszBindDn = std::getenv("WENDRAKE_LDAP_BINDDN");
    if (const char* pszFile = std::getenv("WENDRAKE_LDAP_PASSWORD_FILE")) {
        if (FILE* pFile = std::fopen(pszFile, "r")) {
            char szLine[512] = {};
            if (std::fgets(szLine, sizeof(szLine), pFile))
                csPassword.assign(szLine, std::strcspn(szLine, "\r\n"));
            std::fclose(pFile);
        }
    }
    berval credentials = {static_cast<ber_len_t>(csPassword.size()), csPassword.data()};
    return ldap_sasl_bind_s(pLdap, pszBindDn && *pszBindDn ? pszBindDn : nullptr, LDAP_SASL_SIMPLE,
                            &credentials, nullptr, nullptr, nullptr);
}

// The servers that did not answer, until when they are left alone.
class CUnreachableServers {
public:
    bool IsResting(const std::string& csUri, std::string& csError) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_mapUntil.find(csUri);
        if (it == m_mapUntil.end())
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= it->second) {
            m_mapUntil.erase(it);
            return false;
        }
        const auto nSeconds = std::chrono::ceil<std::chrono::seconds>(it->second - now).count();
        csError = "the directory server did not answer a moment ago; next attempt in " +
                  std::to_string(nSeconds) + " s";
        return true;
    }
    void Note(const std::string& csUri, int nCode) {
        const bool bUnreachable =
            nCode == LDAP_SERVER_DOWN || nCode == LDAP_TIMEOUT || nCode == LDAP_CONNECT_ERROR;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!bUnreachable) {
            m_mapUntil.erase(csUri);
            return;
        }
        if (const long nRetry = RetrySeconds(); nRetry > 0)
            m_mapUntil[csUri] = std::chrono::steady_clock::now() + std::chrono::seconds(nRetry);
    }

private:
    static long RetrySeconds() {
        const char* pszValue = std::getenv("WENDRAKE_DIRECTORY_RETRY_SECONDS");
        char* pszEnd = nullptr;
        const long nValue = pszValue ? std::strtol(pszValue, &pszEnd, 10) : -1;
        return pszValue && *pszValue && !*pszEnd && nValue >= 0 ? nValue : DEFAULT_RETRY_SECONDS;
    }

    std::mutex m_mutex;
    std::map<std::string, std::chrono::steady_clock::time_point> m_mapUntil;
};

class CPosixDirectory : public IDirectoryService {
public:
    HRESULT OpenSearch(const std::string& csPath, std::unique_ptr<IDirectorySearch>& spSearch,
                       std::string& csError) override {
        spSearch.reset();
        CLdapTarget target;
        if (!ParsePath(csPath, target)) {
            csError = "not a directory path";
            return E_INVALIDARG;
        }
        if (m_unreachable.IsResting(target.csUri, csError))
            return HR_DS_SERVER_DOWN;
        LDAP* pLdap = nullptr;
        int nCode = ldap_initialize(&pLdap, target.csUri.empty() ? nullptr : target.csUri.c_str());
        if (nCode != LDAP_SUCCESS || !pLdap) {
            csError = ldap_err2string(nCode);
            return HresultFromLdap(nCode == LDAP_SUCCESS ? LDAP_LOCAL_ERROR : nCode);
        }
        const int nVersion = LDAP_VERSION3;
        ldap_set_option(pLdap, LDAP_OPT_PROTOCOL_VERSION, &nVersion);
        ldap_set_option(pLdap, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
        BoundTimes(pLdap);
        if (target.csUri.empty())
            target.csBase = ConfiguredBase(pLdap);
        nCode = Bind(pLdap);
        m_unreachable.Note(target.csUri, nCode);
        if (nCode != LDAP_SUCCESS) {
            csError = ldap_err2string(nCode);
            ldap_unbind_ext_s(pLdap, nullptr, nullptr);
            return HresultFromLdap(nCode);
        }
        spSearch = std::make_unique<CLdapSearch>(pLdap, target.csBase);
        return S_OK;
    }

    CSystemTime FileTimeToLocalTime(uint64_t ftTime) override {
        const uint64_t nSeconds = ftTime / FILETIME_UNITS_PER_SECOND;
        const time_t tTime = static_cast<time_t>(nSeconds) - static_cast<time_t>(FILETIME_UNIX_EPOCH_SECONDS);
        tm tmLocal = {};
        CSystemTime st;
        if (!localtime_r(&tTime, &tmLocal))
            return st;
        st.wYear = static_cast<WORD>(tmLocal.tm_year + 1900);
        st.wMonth = static_cast<WORD>(tmLocal.tm_mon + 1);
        st.wDayOfWeek = static_cast<WORD>(tmLocal.tm_wday);
        st.wDay = static_cast<WORD>(tmLocal.tm_mday);
        st.wHour = static_cast<WORD>(tmLocal.tm_hour);
        st.wMinute = static_cast<WORD>(tmLocal.tm_min);
        st.wSecond = static_cast<WORD>(tmLocal.tm_sec);
        st.wMilliseconds = static_cast<WORD>((ftTime % FILETIME_UNITS_PER_SECOND) / 10000);
        return st;
    }

private:
    CUnreachableServers m_unreachable;

    static std::string ConfiguredBase(LDAP* pLdap) {
        std::string csBase;
        char* pszBase = nullptr;
        if (ldap_get_option(pLdap, LDAP_OPT_DEFBASE, &pszBase) == LDAP_OPT_SUCCESS && pszBase) {
            csBase = pszBase;
            ldap_memfree(pszBase);
        }
        return csBase;
    }
};

} // namespace

IDirectoryService& PosixDirectory() {
    return ImmortalInstance<CPosixDirectory>();
}
