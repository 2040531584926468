// The localized texts of the product: the resource module, loaded as data, looked up by string ID and exact
// LANGID, and the list of language names it carries.
#pragma once

#include "log/Log.h"
#include "platform/ICodePages.h"
#include "platform/WinTypes.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CResourceModuleData;

constexpr LANGID LANGID_RESOURCE_ENGLISH = 0x1009;

// Receives one finished log line.
typedef void (*PFN_RESOURCE_LOG)(const char* pszLine);
// Receives an event type (EVENTLOG_*) and the text of an error report.
typedef void (*PFN_RESOURCE_ERROR)(WORD wEventType, const char* pszText);

class CResource {
public:
    static constexpr size_t c_cchLogLine = 2048;
    static constexpr size_t c_cchErrorMessage = 512;

    // Fills the language list; no module is loaded.
    CResource();
    virtual ~CResource();
    CResource(const CResource&) = delete;
    CResource& operator=(const CResource&) = delete;

    // Process-wide; null switches the channel off. Set them before lookups start on other threads.
    static void SetLogCallback(PFN_RESOURCE_LOG pfn);
    static void SetErrorCallback(PFN_RESOURCE_ERROR pfn);

    // Frees the loaded module, then reads and checks the file at the path in full; the module is kept only
    // when every check passed. A missing, unreadable or damaged file is reported to both callbacks and
    // leaves no module loaded.
    bool LoadModule(const std::string& csPath);
    // True when no module is loaded afterwards.
    bool UnloadModule();
    // The string of the ID in exactly that language; false (text empty) when there is no module, no such
    // block in that language, or the entry is empty. Safe from any number of threads while no load or
    // unload runs.
    bool LoadString(UINT nId, std::u16string& wsText, LANGID wLangId) const;
    // The LANGID of a language name of the list (exact comparison); otherwise English and false.
    bool DetectLanguage(const std::string& csLanguage, LANGID& wLangId) const;

    bool IsLoaded() const { return m_spModule != nullptr; }
    // The Win32 code of the last LoadModule that failed (0 after one that succeeded).
    DWORD GetLoadError() const { return m_dwLoadError; }
    const std::string& GetModulePath() const { return m_csModulePath; }
    const std::vector<std::pair<std::string, LANGID>>& GetLanguages() const { return m_vLanguages; }

protected:
    // Formats into 2048 characters and hands the line to the log callback.
    static void Log(const char* pszFormat, ...) WK_PRINTF_FORMAT(1, 2);
    // Formats into 512 characters, appends three blanks and the system text of the code, and hands at most
    // 2048 characters with the event type to the error callback.
    static void ReportError(WORD wEventType, DWORD dwCode, const char* pszFormat, ...) WK_PRINTF_FORMAT(3, 4);

private:
    // The file's content as a checked image, or null with a Win32 code.
    static std::unique_ptr<const CResourceModuleData> ReadModule(const std::string& csPath, DWORD& dwError);

    static std::atomic<PFN_RESOURCE_LOG> s_pfnLog;
    static std::atomic<PFN_RESOURCE_ERROR> s_pfnError;

    std::string m_csModulePath;
    DWORD m_dwLoadError = ERROR_SUCCESS;
    std::unique_ptr<const CResourceModuleData> m_spModule;
    std::vector<std::pair<std::string, LANGID>> m_vLanguages;
};
