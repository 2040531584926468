#include "settings/CBasicSettings.h"

#include "log/Log.h"
#include "platform/CPlatform.h"

#include <chrono>
#include <climits>
#include <cstdio>

namespace {

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t FILETIME_UNIX_EPOCH = 116444736000000000ull;
constexpr uint64_t FILETIME_PER_SECOND = 10000000ull;

// Item IDs are short numbers; a longer text is a mistake in the file, not a number to guess at.
constexpr size_t MAX_ID_TEXT = 20;

} // namespace

bool CBasicSettings::_functBaseTrans::operator()(const CAttributeSlots& slots, TAGITEM& item) const {
    if (slots.size() != 3)
        return false;
    item = TAGITEM();
    const CSettingValue& id = slots[0].second;
    if (id.IsText()) {
        if (id.GetText().size() >= MAX_ID_TEXT)
            return false;
        item.ID = SettingsAtoi(id.GetText());
    } else if (id.Type() == CSettingValue::EType::Integer) {
        item.ID = id.GetInteger();
    }
    if (slots[1].second.IsText())
        item.DESCR = slots[1].second.GetText();
    item.VALUE = slots[2].second;
    return true;
}

ULONG_PTR CBasicSettings::ReleaseNode(CXmlNode& node) {
    node = CXmlNode();
    return 0;
}

HRESULT CBasicSettings::SaveSettings(const std::string&) {
    return E_NOTIMPL;
}

HRESULT CBasicSettings::DipatchSaveItem(int nAction, IXmlDocument* pDocument, CXmlNode itemsNode,
                                        const TAGITEM* pItem) {
    if (nAction != SAVE_ACTION_WRITE_ITEM)
        return S_OK;
    if (!pDocument || !itemsNode || !pItem) {
        LogMessage("[CBasicSettings::DipatchSaveItem] CBasicSettings::DipatchSaveItem pItemsNode NULL");
        return E_POINTER;
    }
    CXmlNode item = pDocument->AppendElement(itemsNode, "ITEM");
    if (!item)
        return E_OUTOFMEMORY;
    // An item is only read back when it has all three attributes, so a missing description is written
    // empty rather than left out.
    std::string csValue;
    switch (pItem->VALUE.Type()) {
    case CSettingValue::EType::Integer:
        csValue = std::to_string(pItem->VALUE.GetInteger());
        break;
    case CSettingValue::EType::Text:
        csValue = pItem->VALUE.GetText();
        break;
    default:
        break;
    }
    if (!pDocument->SetAttribute(item, "ID", std::to_string(pItem->ID)) ||
        !pDocument->SetAttribute(item, "DESCR", pItem->DESCR.value_or(std::string())) ||
        !pDocument->SetAttribute(item, "VALUE", csValue))
        return E_OUTOFMEMORY;
    return S_OK;
}

std::string CBasicSettings::HashFileTime(FILETIME64 ftTime) {
    const std::string csText = std::to_string(static_cast<uint32_t>(ftTime & 0xFFFFFFFFu)) + "_" +
                               std::to_string(static_cast<uint32_t>(ftTime >> 32));
    uint32_t dwHash = 0;
    for (char ch : csText)
        dwHash = dwHash * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(ch)));
    return std::to_string(dwHash);
}

void CBasicSettings::HashFileDate() {
    FILETIME64 ftTime = 0;
    DWORD dwError = ERROR_SUCCESS;
    if (CPlatform::Files().GetLastWriteTime(m_csPath, ftTime, dwError))
        m_ftLastWrite = ftTime;
    else
        LogMessage(
            "[CBasicSettings::HashFileDate] CBasicSettings::HashFileDate failed to read filedate %s. HR 0x%x",
            m_csPath.c_str(), static_cast<unsigned>(HRESULT_FROM_WIN32(dwError)));
    m_csVersionHash = HashFileTime(m_ftLastWrite);
}

HRESULT CBasicSettings::CheckFileDate(bool& bReloadNeeded) {
    const FILETIME64 ftNow = GetSystemTimeAsFileTime();
    // Calendar seconds on both sides, as the elapsed time has always been measured.
    const int64_t llNowSeconds = static_cast<int64_t>(ftNow / FILETIME_PER_SECOND);
    const int64_t llCheckSeconds = static_cast<int64_t>(m_ftLastCheck / FILETIME_PER_SECOND);
    const int64_t llElapsedMinutes = (llNowSeconds - llCheckSeconds) / 60;
    if (llElapsedMinutes < m_nRefreshInterval || m_csPath.empty())
        return S_OK;

    FILETIME64 ftFile = 0;
    DWORD dwError = ERROR_SUCCESS;
    if (!CPlatform::Files().GetLastWriteTime(m_csPath, ftFile, dwError)) {
        const HRESULT hr = HRESULT_FROM_WIN32(dwError);
        LogError(static_cast<DWORD>(hr), "[CBasicSettings::CheckFileDate] GetFileDate %s", m_csPath.c_str());
        return hr;
    }
    if (ftFile > m_ftLastWrite) {
        const std::string csReload = "Reload Settings " + m_csPath;
        ISystem& system = CPlatform::System();
        const CSystemTime stNew = system.FileTimeToUtc(ftFile);
        LogMessage(
            "[CBasicSettings::CheckFileDate] %s. Curent LastModifiedDate %d.%d.%d - %d:%d:%d:%d Interval: %d "
            "minutes",
            csReload.c_str(), stNew.wDay, stNew.wMonth, stNew.wYear, stNew.wHour, stNew.wMinute,
            stNew.wSecond, stNew.wMilliseconds, m_nRefreshInterval);
        const CSystemTime stOld = system.FileTimeToUtc(m_ftLastWrite);
        LogMessage("[CBasicSettings::CheckFileDate] Previous LastModifiedDate %d.%d.%d - %d:%d:%d:%d",
                   stOld.wDay, stOld.wMonth, stOld.wYear, stOld.wHour, stOld.wMinute, stOld.wSecond,
                   stOld.wMilliseconds);
        bReloadNeeded = true;
        m_ftLastWrite = ftFile;
    }
    m_ftLastCheck = ftNow;
    return S_OK;
}

HRESULT CBasicSettings::Refresh() {
    const std::string csPath = m_csPath;
    const HRESULT hr = LoadSettings(csPath);
    if (FAILED(hr))
        LogMessage("[CBasicSettings::Refresh] Refresh failed to load %s HR= 0x%x", csPath.c_str(),
                   static_cast<unsigned>(hr));
    HashFileDate();
    return hr;
}

FILETIME64 CBasicSettings::GetSystemTimeAsFileTime() const {
    const auto ticks = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
        std::chrono::system_clock::now().time_since_epoch());
    return FILETIME_UNIX_EPOCH + static_cast<uint64_t>(ticks.count());
}

void CBasicSettings::LoadDocument(IXmlDocument& document, const std::string& csPath) {
    CXmlParseError error;
    const HRESULT hr = document.Load(csPath, error);
    if (FAILED(hr)) {
        // The reason and the position go to standard error as they always have, and into the failure that
        // the owner reports; the parser's text and the configured path are never used as a format.
        std::string csReason = error.csReason;
        while (!csReason.empty() && (csReason.back() == '\n' || csReason.back() == '\r'))
            csReason.pop_back();
        char szWhere[64];
        std::snprintf(szWhere, sizeof(szWhere), "line %d, position %d", static_cast<int>(error.nLine),
                      static_cast<int>(error.nLinePos));
        // A file that could not be read at all has no position to give.
        m_csLoadFailure =
            "\"" + error.csUrl + "\"" + (error.nLine > 0 ? std::string(" ") + szWhere : "") + ": " + csReason;
        std::fputs(error.csReason.c_str(), stderr);
        std::fprintf(stderr, "Error on %s in \"%s\".\n", szWhere, error.csUrl.c_str());
        throw CHResultException(hr);
    }
    std::fputs("XML document loaded successfully\n", stderr);
}

CAttributeSlots CBasicSettings::ReadAttributes(const IXmlDocument& document, CXmlNode element,
                                               const std::vector<const char*>& vecNames) {
    CAttributeSlots slots;
    slots.reserve(vecNames.size());
    for (const char* pszName : vecNames) {
        std::string csValue;
        if (!document.GetAttribute(element, pszName, csValue))
            break;
        slots.emplace_back(pszName, CSettingValue::Text(std::move(csValue)));
    }
    return slots;
}

bool CBasicSettings::ConvertId(const CSettingValue& value, int32_t& nId) {
    if (value.Type() == CSettingValue::EType::Integer) {
        nId = value.GetInteger();
        return true;
    }
    if (value.IsText()) {
        nId = SettingsAtoi(value.GetText());
        return true;
    }
    return false;
}

void CBasicSettings::CommitLoad() {
    m_ftLastWrite = m_ftLastCheck = GetSystemTimeAsFileTime();
    HashFileDate();
}

void CBasicSettings::TakeLoadState(const CBasicSettings& loaded) {
    m_csPath = loaded.m_csPath;
    m_ftLastWrite = loaded.m_ftLastWrite;
    m_ftLastCheck = loaded.m_ftLastCheck;
    m_csVersionHash = loaded.m_csVersionHash;
    m_csLoadFailure = loaded.m_csLoadFailure;
}

std::unique_ptr<IXmlDocument> CBasicSettings::OpenDocument(const std::string& csPath, const char* pszRoot) {
    m_csPath = csPath;
    m_csLoadFailure.clear();
    std::unique_ptr<IXmlDocument> spDocument = CreateXmlDocument();
    if (!spDocument)
        throw CHResultException(E_OUTOFMEMORY);
    LoadDocument(*spDocument, csPath);
    if (!spDocument->SelectSingleNode(CXmlNode(), pszRoot)) {
        m_csLoadFailure = "\"" + csPath + "\": the root element is not " + pszRoot;
        std::fprintf(stderr, "The root element of \"%s\" is not %s.\n", csPath.c_str(), pszRoot);
        throw CHResultException(HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    }
    return spDocument;
}
