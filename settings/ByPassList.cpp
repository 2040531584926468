#include "settings/ByPassList.h"

#include "log/Log.h"
#include "platform/LastError.h"
#include "security/TokenMembership.h"

namespace {

BOOL CheckThreadMembership(const CSid& sid, BOOL& bIsMember) {
    return CheckTokenMembership(nullptr, sid, bIsMember);
}

} // namespace

DWORD ParseBuildByPassList(const std::string* pcsUsers, const std::string* pcsGroups,
                           std::vector<CSid>& vSids, PFN_CONVERT_STRING_SID pfnConvert) {
    if (!pfnConvert)
        pfnConvert = &ConvertStringSidToSid;
    std::string csText = pcsUsers ? *pcsUsers : std::string();
    if (pcsGroups) {
        if (!csText.empty() && csText.back() != ';')
            csText += ';';
        csText += *pcsGroups;
    }
    vSids.clear();
    if (csText.empty())
        return ERROR_SUCCESS;

    DWORD dwError = ERROR_SUCCESS;
    size_t nStart = 0;
    while (nStart <= csText.size()) {
        size_t nEnd = csText.find(';', nStart);
        if (nEnd == std::string::npos)
            nEnd = csText.size();
        const std::string csPiece = csText.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (csPiece.empty())
            continue;
        try {
            CSid sid;
            if (pfnConvert(csPiece.c_str(), sid)) {
                vSids.push_back(std::move(sid));
            } else {
                dwError = PlatformGetLastError();
                LogMessage(
                    "[CSWSettings::ParseBuildByPassList] Reading Groups from Global settings got an error "
                    "%d . This group %s will be ignored",
                    static_cast<int>(dwError), csPiece.c_str());
            }
        } catch (...) {
            dwError = ERROR_EXCEPTION_IN_SERVICE;
            // The fixed text ends in a lone '%': it is an argument, never part of the format.
            LogMessage("[CSWSettings::ParseBuildByPassList] %s%s",
                       "ParseBuildByPassList got an EXCEPTION for user/group %", csPiece.c_str());
        }
    }
    return dwError;
}

DWORD CheckByPassList(const std::vector<CSid>& vSids, bool& bExcluded, PFN_CHECK_MEMBERSHIP pfnCheck) {
    if (!pfnCheck)
        pfnCheck = &CheckThreadMembership;
    LogMessage("[CSWSettings::CheckByPassList] CheckByPassList ");
    if (vSids.empty())
        return ERROR_SUCCESS;
    DWORD dwError = ERROR_SUCCESS;
    for (const CSid& sid : vSids) {
        if (bExcluded) {
            LogMessage(
                "[CSWSettings::CheckByPassList] CheckByPassList found a match user is excluded from QS");
            return dwError;
        }
        BOOL bIsMember = FALSE;
        if (pfnCheck(sid, bIsMember)) {
            bExcluded = bIsMember != FALSE;
        } else {
            dwError = PlatformGetLastError();
            LogMessage(
                "[CSWSettings::CheckByPassList] CheckByPassList  CheckTokeMembership failed error %d for "
                "Criteria",
                static_cast<int>(dwError));
        }
    }
    if (bExcluded)
        LogMessage("[CSWSettings::CheckByPassList] CheckByPassList found a match user is excluded from QS");
    else
        LogMessage("[CSWSettings::CheckByPassList] CheckByPassList didn't find a match user is allow to QS");
    return dwError;
}
