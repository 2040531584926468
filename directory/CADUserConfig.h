// One user's attributes from the global catalog. An instance lives for one lookup: it is given the
// configuration type and the identity, asked for attributes (each read from the directory once), and
// destroyed; no directory connection outlives it.
#pragma once

#include "platform/IDirectoryService.h"
#include "platform/WinTypes.h"

#include <map>
#include <memory>
#include <string>

// Which attribute the identity value is compared with; an unknown kind is the account name.
enum EADIdentityKind {
    AD_IDENTITY_ACCOUNT_NAME = 0,
    AD_IDENTITY_PRINCIPAL_NAME = 1,
    AD_IDENTITY_NAME = 2,
    AD_IDENTITY_SMTP_ADDRESS = 3,
    AD_IDENTITY_LEGACY_DN = 4,
    AD_IDENTITY_X500_ADDRESS = 5,
    AD_IDENTITY_SID = 6,
    AD_IDENTITY_SID_OR_MASTER_SID = 7,
};

// The search filter holds at most this many UTF-16 code units; a longer one is cut (and then refused by the
// directory as malformed).
constexpr size_t AD_FILTER_BUFFER_CHARS = 520;

constexpr HRESULT S_ADS_NOMORE_ROWS = 0x00005012;

// A value as it may stand in a filter (RFC 4515): "*", "(", ")", "\" and NUL become \2a, \28, \29, \5c and
// \00, so no value can change what a search asks.
std::string EscapeFilterValue(const std::string& csValue);

class CADUserConfig {
public:
    explicit CADUserConfig(DWORD dwConfigType = 0);
    virtual ~CADUserConfig();
    CADUserConfig(const CADUserConfig&) = delete;
    CADUserConfig& operator=(const CADUserConfig&) = delete;

    // SID kinds take the S-1-... text and search for the SID's bytes; a value that is no SID is searched
    // for as text.
    // The filter is built only when a search runs: a directory that is resting never needs it.
    void SetIdentity(const std::string& csValue, int nKind);
    std::string GetIdentityFilter() const;

    // The attribute's text, read from the directory the first time it is asked for.
    HRESULT ReadProperty(const std::string& csName, std::string& csValue);
    // "GC:" or "LDAP:": the configured global catalog; anything else opens that path.
    HRESULT GetDirectorySearch(std::unique_ptr<IDirectorySearch>& spSearch, const std::string& csPath);
    // Every value of the attribute (every attribute when empty) of every object the filter finds, as one
    // text. E_FAIL when no value was found.
    HRESULT FindUsers(IDirectorySearch& search, const std::string& csFilter, const std::string& csAttribute,
                      std::string& csValue);
    // "(&" object filter, identity filter ")", cut to the filter buffer.
    std::string BuildSearchFilter() const;

private:
    HRESULT ReadProperties(const std::string& csName, std::string& csValue);
    HRESULT ReadPropertiesGuarded(const std::string& csName, std::string& csValue);

    DWORD m_dwConfigType;
    std::string m_csIdentity;
    int m_nIdentityKind = -1; // none set: an empty filter
    std::map<std::string, std::string> m_mapResults;
    std::string m_csObjectFilter = "(objectClass=user)(objectCategory=person)";
    std::string m_csProvider = "GC";
    std::string m_csServer;
    std::string m_csTrace; // what the last search did, for the failure log
};
