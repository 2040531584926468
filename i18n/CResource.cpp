#include "i18n/CResource.h"

#include "i18n/ResourceModuleData.h"
#include "platform/CEventLog.h"
#include "platform/CPlatform.h"
#include "platform/SystemMessage.h"

#include <cstdarg>
#include <cstdio>
#include <new>

std::atomic<PFN_RESOURCE_LOG> CResource::s_pfnLog{nullptr};
std::atomic<PFN_RESOURCE_ERROR> CResource::s_pfnError{nullptr};

namespace {

constexpr const char* c_pszLoggingFailed = " An error on logging occured";
constexpr const char* c_pszLoggingFailedDebug = "An error on logging";

// The system's text for the code as one line: line ends become blanks, trailing blanks go.
std::string SystemTextLine(DWORD dwCode) {
    std::string csText = SystemMessageOrFallback(dwCode);
    for (char& ch : csText)
        if (ch == '\r' || ch == '\n')
            ch = ' ';
    size_t nEnd = csText.find_last_not_of(' ');
    csText.erase(nEnd == std::string::npos ? 0 : nEnd + 1);
    return csText;
}

} // namespace

CResource::CResource()
    : m_vLanguages{{"en", LANGID_RESOURCE_ENGLISH},
                   {"fr", 0x040C},
                   {"de", 0x0407},
                   {"es", 0x0C0A},
                   {"pt-br", 0x0416},
                   {"pt", 0x0816},
                   {"da", 0x0406},
                   {"sv", 0x041D},
                   {"hu", 0x040E},
                   {"fi", 0x040B},
                   {"he", 0x040D},
                   {"it", 0x0410},
                   {"ar", 0x0401},
                   {"ja", 0x0411},
                   {"no", 0x0414},
                   {"chs", 0x0804},
                   {"cht", 0x0404},
                   {"nl", 0x0413},
                   {"tr", 0x041F},
                   {"el", 0x0408}} {}

CResource::~CResource() = default;

void CResource::SetLogCallback(PFN_RESOURCE_LOG pfn) {
    s_pfnLog.store(pfn, std::memory_order_release);
}

void CResource::SetErrorCallback(PFN_RESOURCE_ERROR pfn) {
    s_pfnError.store(pfn, std::memory_order_release);
}

bool CResource::LoadModule(const std::string& csPath) {
    // A module that fails to load must not leave the previous one in its place.
    UnloadModule();

    DWORD& dwError = m_dwLoadError;
    std::unique_ptr<const CResourceModuleData> spModule = ReadModule(csPath, dwError);
    if (spModule) {
        try {
            m_csModulePath = csPath;
            m_spModule = std::move(spModule);
            return true;
        } catch (const std::bad_alloc&) {
            dwError = ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    ReportError(EVENTLOG_ERROR_TYPE, dwError, " Resource Class LoadModule failed  %s error %d",
                csPath.c_str(), static_cast<int>(dwError));
    try {
        Log("Resource Class LoadModule failed  %s error %d, %s", csPath.c_str(), static_cast<int>(dwError),
            SystemTextLine(dwError).c_str());
    } catch (const std::bad_alloc&) {
    }
    return false;
}

std::unique_ptr<const CResourceModuleData> CResource::ReadModule(const std::string& csPath, DWORD& dwError) {
    try {
        dwError = ERROR_SUCCESS;
        std::unique_ptr<IFile> spFile = CPlatform::Files().Open(csPath, EFileOpen::ReadExisting, dwError);
        if (!spFile) {
            if (dwError == ERROR_SUCCESS)
                dwError = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        const uint64_t cbFile = spFile->Size();
        if (cbFile > ResourceModuleFormat::c_cbMaxFile) {
            dwError = ERROR_BAD_FORMAT;
            OutputDebugText("Resource module rejected: larger than any string-table module");
            return nullptr;
        }
        std::vector<BYTE> vImage(static_cast<size_t>(cbFile));
        size_t cbRead = 0;
        if (!spFile->ReadAt(0, vImage.data(), vImage.size(), cbRead) || cbRead != vImage.size()) {
            dwError = ERROR_READ_FAULT;
            return nullptr;
        }
        std::string csReason;
        std::unique_ptr<const CResourceModuleData> spModule =
            CResourceModuleData::Parse(std::move(vImage), dwError, csReason);
        if (!spModule) {
            // The reason is for whoever debugs the installation; the reports carry the code.
            OutputDebugText(("Resource module rejected: " + csReason).c_str());
        }
        return spModule;
    } catch (const std::bad_alloc&) {
        dwError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
}

bool CResource::UnloadModule() {
    // Data in memory cannot fail to be freed; there is no module handle to give back.
    m_spModule.reset();
    m_csModulePath.clear();
    return true;
}

bool CResource::LoadString(UINT nId, std::u16string& wsText, LANGID wLangId) const {
    wsText.clear();
    if (!m_spModule) {
        Log("Resource class NULL handler LoadString");
        return false;
    }
    DWORD dwError = ERROR_SUCCESS;
    try {
        dwError = m_spModule->FindString(wLangId, nId, wsText);
    } catch (const std::bad_alloc&) {
        wsText.clear();
        dwError = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (dwError != ERROR_SUCCESS) {
        Log("Resource Class LoadString failed. It couldn't find the resource %d error %d",
            static_cast<int>(nId), static_cast<int>(dwError));
        return false;
    }
    // An empty entry is a string the table does not have; the caller falls back without a message from here.
    return !wsText.empty();
}

bool CResource::DetectLanguage(const std::string& csLanguage, LANGID& wLangId) const {
    for (const auto& [csName, wId] : m_vLanguages) {
        if (csName == csLanguage) {
            wLangId = wId;
            return true;
        }
    }
    Log("Resource class can not find language %s. Set english as default", csLanguage.c_str());
    wLangId = LANGID_RESOURCE_ENGLISH;
    return false;
}

void CResource::Log(const char* pszFormat, ...) {
    PFN_RESOURCE_LOG pfnLog = s_pfnLog.load(std::memory_order_acquire);
    if (!pfnLog)
        return;
    char szLine[c_cchLogLine];
    va_list args;
    va_start(args, pszFormat);
    const int n = std::vsnprintf(szLine, sizeof(szLine), pszFormat, args);
    va_end(args);
    try {
        if (n < 0) {
            OutputDebugText(c_pszLoggingFailedDebug);
            pfnLog(c_pszLoggingFailed);
            return;
        }
        pfnLog(szLine);
    } catch (...) {
        // A log callback that fails must not take the lookup down with it.
        OutputDebugText(c_pszLoggingFailedDebug);
    }
}

void CResource::ReportError(WORD wEventType, DWORD dwCode, const char* pszFormat, ...) {
    PFN_RESOURCE_ERROR pfnError = s_pfnError.load(std::memory_order_acquire);
    if (!pfnError)
        return;
    char szMessage[c_cchErrorMessage];
    va_list args;
    va_start(args, pszFormat);
    const int n = std::vsnprintf(szMessage, sizeof(szMessage), pszFormat, args);
    va_end(args);
    try {
        if (n < 0) {
            OutputDebugText(c_pszLoggingFailedDebug);
            pfnError(wEventType, c_pszLoggingFailed);
            return;
        }
        char szLine[c_cchLogLine];
        std::snprintf(szLine, sizeof(szLine), "%s   %s", szMessage, SystemTextLine(dwCode).c_str());
        pfnError(wEventType, szLine);
    } catch (...) {
        OutputDebugText(c_pszLoggingFailedDebug);
    }
}
