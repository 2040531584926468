// The bypass list: users and groups, by SID, that the guard leaves alone. The settings store keeps the
// list and calls these under its lock.
#pragma once

#include "platform/WinTypes.h"
#include "security/CSid.h"

#include <string>
#include <vector>

constexpr DWORD ERROR_EXCEPTION_IN_SERVICE = 1064;

typedef bool (*PFN_CONVERT_STRING_SID)(const char* pszText, CSid& sid);
typedef BOOL (*PFN_CHECK_MEMBERSHIP)(const CSid& sid, BOOL& bIsMember);

// Rebuilds vSids from the user list and the group list (a null list is a missing setting), joined with
// ";". Pieces that do not convert are logged and skipped; the result is the last conversion error, 0 when
// every piece converted.
DWORD ParseBuildByPassList(const std::string* pcsUsers, const std::string* pcsGroups,
                           std::vector<CSid>& vSids, PFN_CONVERT_STRING_SID pfnConvert = nullptr);

// Sets bExcluded when the calling thread's identity belongs to one of the SIDs; an empty list leaves it as
// the caller set it. The result is the last membership check's error, 0 when every check ran.
DWORD CheckByPassList(const std::vector<CSid>& vSids, bool& bExcluded,
                      PFN_CHECK_MEMBERSHIP pfnCheck = nullptr);
