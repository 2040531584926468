// Guard forms: one webmail page each, and the edits that turn it into a guarded page (the guard's script
// block and links in the head, the host's cache prefix on the webmail's own script, the hidden warning
// dialog at the end of the body). Every edit goes through the document facade into the context's list.
#pragma once

#include "abi/HostAbi.h"
#include "platform/ICodePages.h"
#include "platform/WinTypes.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CCachedScriptDecorator;
class CSWFormContext;
class CSWFormScriptPath;
class CDOMElement;
class CWKGeneralSettings;

// Kinds of InsertScriptLink.
constexpr DWORD LINK_KIND_SCRIPT = 0;
constexpr DWORD LINK_KIND_STYLE_SHEET = 1;

class CSWForm {
public:
    virtual ~CSWForm() = default;
    virtual DWORD ProcessForm() = 0;
    virtual DWORD PrefixLinkedScripts(CSWFormContext* pFormContext, const std::string& csFileName,
                                      const CCachedScriptDecorator* pDecorator, bool bInHead);
    // 13 without the host's cache prefix.
    virtual DWORD PrefixLinkedScripts(CSWFormContext* pFormContext, const std::string& csFileName,
                                      bool bInHead);
    virtual DWORD InsertScriptLink(CSWFormContext* pFormContext, const std::string& csFileName, DWORD dwKind,
                                   const CSWFormScriptPath& scriptPath, bool bUseDecorator);
    virtual DWORD InsertScriptLink(CSWFormContext* pFormContext, const std::string& csScriptPath,
                                   DWORD dwKind);
    virtual std::shared_ptr<CCachedScriptDecorator> GetCachedScriptManager(CSWFormContext* pFormContext);
};

class CWKForm : public CSWForm {
public:
    explicit CWKForm(CSWFormContext* pFormContext);
    DWORD ProcessForm() override { return ERROR_ARENA_TRASHED; }
    // 0 when every edit of the page is in the list.
    virtual DWORD Process() = 0;

    DWORD GetWendrakeJavaScriptString(std::string& csScript);
    // Texts keyed by number in the page's charset; a number not loaded reads as an empty text.
    bool LoadResources(const std::vector<UINT>& vIds, std::map<UINT, std::string>& mapTexts);
    bool GetOWABuildAndCurrentOWAThemeFromCSSLinkTags(const std::string& csFirst, const std::string& csSecond,
                                                      std::string& csBuild, std::string& csTheme);
    bool GetUserLanguageParameters();

    bool IsValid() const { return m_bIsInstanceValid; }
    const std::string& GetCharSet() const { return m_csCharSet; }

protected:
    // The head's script block and the two guard script links; pszPrefix names the caller in the log.
    DWORD AddGuardScripts(const char* pszPrefix, bool bStopOnBlockFailure);
    // The dialog with every placeholder filled, appended to the body.
    DWORD AppendDialog(const char* pszPrefix, const char* pszTemplate, const char* pszFirstCss,
                       const char* pszSecondCss);
    DWORD LoadDialogTexts(const char* pszPrefix);
    // The dialog's template with every placeholder filled from the loaded texts, the build and the theme.
    std::string FillDialog(const char* pszTemplate, const std::string& csBuild, const std::string& csTheme);
    // The HTML, BODY and HEAD elements, in that order; the first missing clears the validity flag. Logs the
    // page form's construction under its prefix.
    void RequirePageElements(const char* pszPrefix);
    void LogOutcome(const char* pszPrefix, DWORD dwResult);
    bool HasSubframeWarn() const;

    bool m_bIsInstanceValid = true;
    std::string m_csLanguage;
    LANGID m_wLangId = 0;
    bool m_bLanguageDetected = false;
    std::string m_csCharSet;
    CSWFormContext* m_pFormContext;
    std::map<UINT, std::string> m_mapTexts;

private:
    bool HasAllPointers() const;
    // The resource texts in the page's charset, remembered per language and charset while logging is off.
    bool LoadTexts(CWKGeneralSettings& settings, const std::vector<UINT>& vIds,
                   std::map<UINT, std::string>& mapTexts);
    void TakeLanguageFromWorkerContext();
};

class CWKBasicFormMessageView : public CWKForm {
public:
    explicit CWKBasicFormMessageView(CSWFormContext* pFormContext);
    DWORD Process() override;
};

class CWKPremiumFormStartPage : public CWKForm {
public:
    explicit CWKPremiumFormStartPage(CSWFormContext* pFormContext);
    DWORD Process() override;
};

class CWKFormFactory {
public:
    // The page's form, owned by the caller; null for a page left alone or a form that could not be built.
    static std::unique_ptr<CWKForm> createForm(CSWFormContext* pFormContext);
};

// Resource text used as a format with two "%s": only the first two "%s" are replaced, every other byte stays
// as written, and the result is cut to 511 bytes without splitting a UTF-8 sequence.
std::string FormatTwoArguments(const std::string& csFormat, const char* pszFirst, const char* pszSecond);
// The text between the first ">" and the next "<": the letter a button underlines.
std::string AccessKeyOf(const std::string& csButton);
// Every occurrence of the placeholder, letter case ignored.
void ReplaceCaseless(std::string& csText, const std::string& csPlaceholder, const std::string& csValue);
