// The bypass list of the worker settings: parsed after every load, checked against the request's identity.
#include "settings/ByPassList.h"
#include "settings/CSWSettings.h"
#include "settings/SettingIds.h"

DWORD CSWSettings::ParseBuildByPassList() {
    std::string csUsers, csGroups;
    const bool bUsers = GetSettingFromID(ID_BYPASS_LIST, csUsers, SETTINGS_GROUP_PRODUCT);
    const bool bGroups = GetSettingFromID(ID_BYPASS_GROUPS, csGroups, SETTINGS_GROUP_PRODUCT);
    return ::ParseBuildByPassList(bUsers ? &csUsers : nullptr, bGroups ? &csGroups : nullptr,
                                  m_vecByPassSids);
}

DWORD CSWSettings::CheckByPassList(bool& bExcluded) {
    return ::CheckByPassList(m_vecByPassSids, bExcluded);
}
