// "LinkCriteriaSettings.xml", shared by the workers of an installation: for each worker, which settings group
// serves which criteria number of the host.
#pragma once

#include "settings/CBasicSettings.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

class CLinkCriteria : public CBasicSettings {
public:
    struct CWorker {
        int32_t nId = 0;
        std::string csDescr;
        std::map<int32_t, int32_t> mapLinks; // criteria number -> settings group ID
    };
    typedef std::map<int32_t, std::shared_ptr<CWorker>> CWorkerMap;

    // The state of one parse: the workers read so far and the worker whose links are being read (none
    // when the enclosing SW element was not recorded, so its links are dropped).
    struct CTransTarget {
        CWorkerMap mapWorkers;
        std::optional<int32_t> nCurrentWorker;
    };

    CLinkCriteria() = default;
    ~CLinkCriteria() override = default;

    HRESULT LoadSettings(const std::string& csPath) override;
    HRESULT SaveSettings(const std::string& csPath) override;
    // Takes over the content of a store loaded meanwhile (which is left empty).
    void Adopt(CLinkCriteria& loaded);

    // The settings group of a criteria number for a worker. The caller holds the handler's lock.
    bool GetLinkCriteriaSettingsID(DWORD dwServiceWorker, DWORD dwCriteria, DWORD& dwSettingsId) const;

    const CWorkerMap& GetWorkers() const { return m_mapWorkers; }

private:
    bool TransWorker(const CAttributeSlots& slots, CTransTarget& target);
    bool TransLink(const CAttributeSlots& slots, CTransTarget& target);

    CWorkerMap m_mapWorkers;
};
