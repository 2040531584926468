// The worker's settings file "SWSettings.xml": a general section of numbered items and numbered setting
// groups that override it. Loads replace the whole content or nothing.
#pragma once

#include "security/CSid.h"
#include "settings/CBasicSettings.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CSWSettings : public CBasicSettings {
public:
    typedef std::map<int32_t, TAGITEM> CItemMap;
    typedef CItemMap CTransTarget;

    struct CSettingGroup {
        int32_t nId = 0;
        std::optional<std::string> DESCR;
        // Null while the group has no ITEMS element; such a group answers no lookup at all.
        std::shared_ptr<CItemMap> spItems;
    };
    typedef std::map<int32_t, std::shared_ptr<CSettingGroup>> CGroupMap;

    CSWSettings() = default;
    ~CSWSettings() override = default;

    HRESULT LoadSettings(const std::string& csPath) override;
    HRESULT SaveSettings(const std::string& csPath) override;
    // Takes over the content of a store loaded meanwhile (which is left empty); the highest group ID seen
    // only ever grows.
    void Adopt(CSWSettings& loaded);

    bool GetSettingFromID(int32_t nId, int32_t& nValue, int32_t nGroupId) const;
    bool GetSettingFromID(int32_t nId, std::string& csValue, int32_t nGroupId) const;

    // Built from settings 48 and 49 after each load; implemented with the bypass lists.
    DWORD ParseBuildByPassList();
    DWORD CheckByPassList(bool& bExcluded);

    int32_t GetHighestGroupId() const { return m_nHighestGroupId; }
    const CItemMap& GetGeneralItems() const { return m_mapGeneralItems; }
    const CGroupMap& GetGroups() const { return m_mapGroups; }
    // Puts one item in place (no group: the general section), for a settings editor that saves afterwards.
    void SetItem(std::optional<int32_t> nGroupId, const TAGITEM& item);

    const std::vector<CSid>& GetByPassSids() const { return m_vecByPassSids; }

protected:
    // Users and groups the guard leaves alone, rebuilt from settings 48 and 49 after each load.
    std::vector<CSid> m_vecByPassSids;

private:
    // Files one ITEM's slots into a section under construction; the last item with an ID wins.
    bool InsertItem(const CAttributeSlots& slots, CItemMap& mapItems);
    void ReadItems(const IXmlDocument& document, CXmlNode itemsParent, CItemMap& mapItems);
    const TAGITEM* FindItem(int32_t nId, int32_t nGroupId) const;

    int32_t m_nHighestGroupId = 0;
    CItemMap m_mapGeneralItems;
    CGroupMap m_mapGroups;
};
