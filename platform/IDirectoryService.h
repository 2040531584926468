// The directory service: a subtree search of the user objects of a global catalog, shaped after what the
// module asks of a directory (open a root, search with a filter for one attribute or all, walk the rows and
// their typed columns). Every call is bounded in time, so a slow or dead directory costs a request at most
// the configured timeouts.
#pragma once

#include "platform/ISystem.h"
#include "platform/WinTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The value types of a column, numbered as the module's directory interface numbers them.
enum EADsType : DWORD {
    ADSTYPE_INVALID = 0,
    ADSTYPE_DN_STRING = 1,
    ADSTYPE_CASE_EXACT_STRING = 2,
    ADSTYPE_CASE_IGNORE_STRING = 3,
    ADSTYPE_PRINTABLE_STRING = 4,
    ADSTYPE_NUMERIC_STRING = 5,
    ADSTYPE_BOOLEAN = 6,
    ADSTYPE_INTEGER = 7,
    ADSTYPE_OCTET_STRING = 8,
    ADSTYPE_UTC_TIME = 9,
    ADSTYPE_LARGE_INTEGER = 10,
    ADSTYPE_NT_SECURITY_DESCRIPTOR = 25,
};

// One value of a column: csBytes for the string and octet types, nNumber for BOOLEAN, INTEGER and
// LARGE_INTEGER, utcTime for UTC_TIME.
struct CDirectoryValue {
    std::string csBytes;
    int64_t nNumber = 0;
    CSystemTime utcTime;
};

struct CDirectoryColumn {
    std::string csName;
    EADsType eType = ADSTYPE_INVALID;
    std::vector<CDirectoryValue> vValues;
};

typedef std::vector<CDirectoryColumn> CDirectoryRow;

class IDirectorySearch {
public:
    virtual ~IDirectorySearch() = default;
    // A subtree search under the root this search was opened on, for one attribute (empty: every attribute).
    // The rows are the matching objects in the order the directory returned them.
    virtual HRESULT ExecuteSearch(const std::string& csFilter, const std::string& csAttribute,
                                  std::vector<CDirectoryRow>& vRows) = 0;
    // The directory's own words for the last failure (empty when there was none).
    virtual std::string GetErrorText() const = 0;
};

class IDirectoryService {
public:
    virtual ~IDirectoryService() = default;
    // "GC:" or "LDAP:" open the root that the machine's directory client configuration names; any other path
    // ("GC://host/base", "LDAP://host:port/base") opens that server and base.
    virtual HRESULT OpenSearch(const std::string& csPath, std::unique_ptr<IDirectorySearch>& spSearch,
                               std::string& csError) = 0;
    // A directory time (100 ns units since 1601, UTC) in the machine's local time.
    virtual CSystemTime FileTimeToLocalTime(uint64_t ftTime) = 0;
};
