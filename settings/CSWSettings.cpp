#include "settings/CSWSettings.h"

#include "log/Log.h"
#include "platform/CPlatform.h"
#include "settings/SettingIds.h"

#include <algorithm>
#include <new>

bool CSWSettings::InsertItem(const CAttributeSlots& slots, CItemMap& mapItems) {
    TAGITEM item;
    if (!_functBaseTrans()(slots, item))
        return false;
    mapItems.insert_or_assign(item.ID, std::move(item));
    return true;
}

void CSWSettings::ReadItems(const IXmlDocument& document, CXmlNode itemsParent, CItemMap& mapItems) {
    if (!itemsParent)
        return;
    const _functTrans<CSWSettings> insert(this, &CSWSettings::InsertItem);
    for (CXmlNode item : document.Children(itemsParent, "ITEM")) {
        // An item missing an attribute is skipped; the rest of the file still loads.
        insert.Invoke(ReadAttributes(document, item, {"ID", "DESCR", "VALUE"}), mapItems);
    }
}

HRESULT CSWSettings::LoadSettings(const std::string& csPath) {
    if (!CPlatform::Files().Exists(csPath)) {
        LogMessage("[CSWSettings::LoadSettings] Load LoadSettings can not find file %s error %d",
                   csPath.c_str(), static_cast<int>(ERROR_FILE_NOT_FOUND));
        m_csLoadFailure = "\"" + csPath + "\"";
        return HRESULT_FILE_NOT_FOUND;
    }
    HRESULT hr = S_OK;
    try {
        std::unique_ptr<IXmlDocument> spDocument = OpenDocument(csPath, "SETTINGS");

        CItemMap mapGeneral;
        ReadItems(*spDocument, spDocument->SelectSingleNode(CXmlNode(), "SETTINGS/GENERALSETTINGS"),
                  mapGeneral);

        CGroupMap mapGroups;
        int32_t nHighest = m_nHighestGroupId;
        CXmlNode root = spDocument->SelectSingleNode(CXmlNode(), "SETTINGS");
        if (root) {
            for (CXmlNode setting : spDocument->Children(root, "SETTING")) {
                CAttributeSlots slots = ReadAttributes(*spDocument, setting, {"ID", "DESCR"});
                int32_t nGroupId = 0;
                if (slots.size() != 2 || !ConvertId(slots[0].second, nGroupId))
                    continue;
                if (nGroupId > nHighest)
                    nHighest = nGroupId;
                std::shared_ptr<CSettingGroup>& spGroup = mapGroups[nGroupId];
                if (!spGroup) {
                    spGroup = std::make_shared<CSettingGroup>();
                    spGroup->nId = nGroupId;
                    spGroup->DESCR = slots[1].second.GetText();
                }
                CXmlNode items = spDocument->SelectSingleNode(setting, "ITEMS");
                if (!items)
                    continue;
                if (!spGroup->spItems)
                    spGroup->spItems = std::make_shared<CItemMap>();
                ReadItems(*spDocument, items, *spGroup->spItems);
            }
        }

        m_mapGeneralItems.swap(mapGeneral);
        m_mapGroups.swap(mapGroups);
        m_nHighestGroupId = nHighest;
        CommitLoad();
        ParseBuildByPassList();
        int32_t nInterval = 0;
        if (GetSettingFromID(ID_REFRESH_INTERVAL, nInterval, SETTINGS_GROUP_GENERAL))
            m_nRefreshInterval = nInterval;
    } catch (const CHResultException& error) {
        hr = error.Error();
        LogMessage("[CSWSettings::LoadSettings] LoadSettings HRESULT exception %x",
                   static_cast<unsigned>(hr));
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
        LogMessage("[CSWSettings::LoadSettings] LoadSettings General exception");
    } catch (...) {
        hr = E_FAIL;
        LogMessage("[CSWSettings::LoadSettings] LoadSettings General exception");
    }
    return hr;
}

void CSWSettings::Adopt(CSWSettings& loaded) {
    m_mapGeneralItems.swap(loaded.m_mapGeneralItems);
    m_mapGroups.swap(loaded.m_mapGroups);
    m_vecByPassSids.swap(loaded.m_vecByPassSids);
    m_nHighestGroupId = std::max(m_nHighestGroupId, loaded.m_nHighestGroupId);
    m_nRefreshInterval = loaded.m_nRefreshInterval;
    TakeLoadState(loaded);
}

const CBasicSettings::TAGITEM* CSWSettings::FindItem(int32_t nId, int32_t nGroupId) const {
    auto itGroup = m_mapGroups.find(nGroupId);
    if (itGroup != m_mapGroups.end()) {
        const std::shared_ptr<CItemMap>& spItems = itGroup->second->spItems;
        if (!spItems)
            return nullptr;
        auto itItem = spItems->find(nId);
        if (itItem != spItems->end())
            return &itItem->second;
    }
    auto itItem = m_mapGeneralItems.find(nId);
    return itItem == m_mapGeneralItems.end() ? nullptr : &itItem->second;
}

bool CSWSettings::GetSettingFromID(int32_t nId, int32_t& nValue, int32_t nGroupId) const {
    const TAGITEM* pItem = FindItem(nId, nGroupId);
    if (!pItem)
        return false;
    switch (pItem->VALUE.Type()) {
    case CSettingValue::EType::Integer:
        nValue = pItem->VALUE.GetInteger();
        return true;
    case CSettingValue::EType::Text:
        nValue = SettingsAtoi(pItem->VALUE.GetText());
        return true;
    case CSettingValue::EType::NullText:
        return true;
    default:
        return false;
    }
}

bool CSWSettings::GetSettingFromID(int32_t nId, std::string& csValue, int32_t nGroupId) const {
    const TAGITEM* pItem = FindItem(nId, nGroupId);
    if (!pItem || pItem->VALUE.Type() != CSettingValue::EType::Text)
        return false;
    csValue = pItem->VALUE.GetText();
    return true;
}

void CSWSettings::SetItem(std::optional<int32_t> nGroupId, const TAGITEM& item) {
    if (!nGroupId) {
        m_mapGeneralItems.insert_or_assign(item.ID, item);
        return;
    }
    std::shared_ptr<CSettingGroup>& spGroup = m_mapGroups[*nGroupId];
    if (!spGroup) {
        spGroup = std::make_shared<CSettingGroup>();
        spGroup->nId = *nGroupId;
        spGroup->DESCR = std::string();
    }
    if (!spGroup->spItems)
        spGroup->spItems = std::make_shared<CItemMap>();
    spGroup->spItems->insert_or_assign(item.ID, item);
}

HRESULT CSWSettings::SaveSettings(const std::string& csPath) {
    try {
        std::unique_ptr<IXmlDocument> spDocument = CreateXmlDocument();
        if (!spDocument)
            return E_OUTOFMEMORY;
        CXmlNode root = spDocument->AppendElement(CXmlNode(), "SETTINGS");
        CXmlNode general = spDocument->AppendElement(root, "GENERALSETTINGS");
        if (!root || !general)
            return E_OUTOFMEMORY;
        for (const auto& [nId, item] : m_mapGeneralItems) {
            const HRESULT hr = DipatchSaveItem(SAVE_ACTION_WRITE_ITEM, spDocument.get(), general, &item);
            if (FAILED(hr))
                return hr;
        }
        for (const auto& [nGroupId, spGroup] : m_mapGroups) {
            CXmlNode setting = spDocument->AppendElement(root, "SETTING");
            if (!setting || !spDocument->SetAttribute(setting, "ID", std::to_string(nGroupId)) ||
                !spDocument->SetAttribute(setting, "DESCR", spGroup->DESCR.value_or(std::string())))
                return E_OUTOFMEMORY;
            if (!spGroup->spItems)
                continue;
            CXmlNode items = spDocument->AppendElement(setting, "ITEMS");
            for (const auto& [nId, item] : *spGroup->spItems) {
                const HRESULT hr = DipatchSaveItem(SAVE_ACTION_WRITE_ITEM, spDocument.get(), items, &item);
                if (FAILED(hr))
                    return hr;
            }
        }
        return spDocument->Save(csPath);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
