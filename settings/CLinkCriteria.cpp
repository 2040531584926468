#include "settings/CLinkCriteria.h"

#include "log/Log.h"
#include "platform/CPlatform.h"

#include <new>

bool CLinkCriteria::TransWorker(const CAttributeSlots& slots, CTransTarget& target) {
    int32_t nWorker = 0;
    if (slots.size() != 2 || !ConvertId(slots[0].second, nWorker)) {
        // Links below an unreadable worker would otherwise land on whichever worker came before it.
        target.nCurrentWorker.reset();
        return false;
    }
    std::shared_ptr<CWorker>& spWorker = target.mapWorkers[nWorker];
    if (spWorker) {
        if (slots[1].second.IsText())
            spWorker->csDescr = slots[1].second.GetText();
    } else {
        spWorker = std::make_shared<CWorker>();
        spWorker->nId = nWorker;
        spWorker->csDescr = slots[1].second.GetText();
    }
    target.nCurrentWorker = nWorker;
    return true;
}

bool CLinkCriteria::TransLink(const CAttributeSlots& slots, CTransTarget& target) {
    if (slots.size() != 2 || !target.nCurrentWorker)
        return false;
    int32_t nCriteria = 0;
    int32_t nSettingsId = 0;
    ConvertId(slots[0].second, nCriteria);
    ConvertId(slots[1].second, nSettingsId);
    auto it = target.mapWorkers.find(*target.nCurrentWorker);
    if (it == target.mapWorkers.end())
        return false;
    it->second->mapLinks.insert_or_assign(nCriteria, nSettingsId);
    return true;
}

HRESULT CLinkCriteria::LoadSettings(const std::string& csPath) {
    if (!CPlatform::Files().Exists(csPath)) {
        LogMessage("[CLinkCriteria::LoadSettings] Load LoadLinkCriteria can not find file %s error %d",
                   csPath.c_str(), static_cast<int>(ERROR_FILE_NOT_FOUND));
        m_csLoadFailure = "\"" + csPath + "\"";
        return HRESULT_FILE_NOT_FOUND;
    }
    HRESULT hr = S_OK;
    try {
        std::unique_ptr<IXmlDocument> spDocument = OpenDocument(csPath, "SERVICEWORKERS");

        CTransTarget target;
        const _functTrans<CLinkCriteria> transWorker(this, &CLinkCriteria::TransWorker);
        const _functTrans<CLinkCriteria> transLink(this, &CLinkCriteria::TransLink);
        CXmlNode root = spDocument->SelectSingleNode(CXmlNode(), "SERVICEWORKERS");
        if (root) {
            for (CXmlNode sw : spDocument->Children(root, "SW")) {
                transWorker.Invoke(ReadAttributes(*spDocument, sw, {"ID", "DESCR"}), target);
                for (CXmlNode link : spDocument->Children(sw, "LINK"))
                    transLink.Invoke(ReadAttributes(*spDocument, link, {"CRITERIA_ID", "SETTINGS_ID"}),
                                     target);
            }
        }
        m_mapWorkers.swap(target.mapWorkers);
        CommitLoad();
    } catch (const CHResultException& error) {
        hr = error.Error();
        LogMessage("[CLinkCriteria::LoadSettings] LoadLinkCriteria HRESULT exception %x",
                   static_cast<unsigned>(hr));
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
        LogMessage("[CLinkCriteria::LoadSettings] LoadLinkCriteria General exception");
    } catch (...) {
        hr = E_FAIL;
        LogMessage("[CLinkCriteria::LoadSettings] LoadLinkCriteria General exception");
    }
    return hr;
}

void CLinkCriteria::Adopt(CLinkCriteria& loaded) {
    m_mapWorkers.swap(loaded.m_mapWorkers);
    TakeLoadState(loaded);
}

HRESULT CLinkCriteria::SaveSettings(const std::string& csPath) {
    try {
        std::unique_ptr<IXmlDocument> spDocument = CreateXmlDocument();
        if (!spDocument)
            return E_OUTOFMEMORY;
        CXmlNode root = spDocument->AppendElement(CXmlNode(), "SERVICEWORKERS");
        if (!root)
            return E_OUTOFMEMORY;
        for (const auto& [nWorker, spWorker] : m_mapWorkers) {
            CXmlNode sw = spDocument->AppendElement(root, "SW");
            if (!sw || !spDocument->SetAttribute(sw, "ID", std::to_string(nWorker)) ||
                !spDocument->SetAttribute(sw, "DESCR", spWorker->csDescr))
                return E_OUTOFMEMORY;
            for (const auto& [nCriteria, nSettingsId] : spWorker->mapLinks) {
                CXmlNode link = spDocument->AppendElement(sw, "LINK");
                if (!link || !spDocument->SetAttribute(link, "CRITERIA_ID", std::to_string(nCriteria)) ||
                    !spDocument->SetAttribute(link, "SETTINGS_ID", std::to_string(nSettingsId)))
                    return E_OUTOFMEMORY;
            }
        }
        return spDocument->Save(csPath);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

bool CLinkCriteria::GetLinkCriteriaSettingsID(DWORD dwServiceWorker, DWORD dwCriteria,
                                              DWORD& dwSettingsId) const {
    if (dwServiceWorker == 0) {
        LogMessage("[CLinkCriteria::GetLinkCriteriaSettingsID] SW is not LinkCriteria settings %d", 0);
        return false;
    }
    auto itWorker = m_mapWorkers.find(static_cast<int32_t>(dwServiceWorker));
    if (itWorker == m_mapWorkers.end()) {
        LogMessage("[CLinkCriteria::GetLinkCriteriaSettingsID] SW is not LinkCriteria settings %d",
                   static_cast<int>(dwServiceWorker));
        return false;
    }
    auto itLink = itWorker->second->mapLinks.find(static_cast<int32_t>(dwCriteria));
    if (itLink == itWorker->second->mapLinks.end()) {
        dwSettingsId = 0;
        LogMessage(
            "[CLinkCriteria::GetLinkCriteriaSettingsID] Criteria %d for SW %d is not LinkCriteria settings. "
            "Set Backup Default Setting ID 0",
            static_cast<int>(dwCriteria), static_cast<int>(dwServiceWorker));
        return false;
    }
    dwSettingsId = static_cast<DWORD>(itLink->second);
    LogMessage("[CLinkCriteria::GetLinkCriteriaSettingsID] SW Settings ID: %d for Criteria ID: %d",
               static_cast<int>(dwServiceWorker), static_cast<int>(dwCriteria));
    return true;
}
