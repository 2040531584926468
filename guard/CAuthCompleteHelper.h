// What the authentication-complete handling needs beyond its steps: the user's language, the localized
// texts in it, the base page and the guard script block it carries.
#pragma once

#include "abi/HostAbi.h"
#include "platform/WinTypes.h"

#include <string>

class CWKGeneralSettings;

// The default user agent that stands in for the webmail's own authentication client.
extern const char* const DEFAULT_USER_AGENT;

class CAuthCompleteHelper {
public:
    // The user's language for the request: its user name (else the thread's user), the explicit logon user
    // and the Accept-Language header. 0, 7 without the request's values or a user, or GetThreadUser's code.
    static DWORD DetectUserLanguage(CDLLContext* pContext, const std::string& csCookie,
                                    std::string& csLanguage, LANGID& wLangId);
    // The language from the server variables and the thread's user, detected again for each text.
    static bool GetUserLanguageParameters(CDLLContext* pContext, LANGID& wLangId, std::string& csLanguage);
    static bool GetResourceString(CDLLContext* pContext, unsigned nId, std::u16string& wsText);
    // The language of a given tag, without looking at the user.
    static bool DetectLanguage(CWKGeneralSettings* pSettings, const std::string& csTag,
                               std::string& csLanguage, LANGID& wLangId);
    // Answers the request with the base page; 0 when the host took it.
    static DWORD SendBaseHTMLResponse(CDLLContext* pContext);

    // The guard script block; the output holds it only on success (0).
    static DWORD GetWendrakeJavaScriptString(CDLLContext* pContext, std::string& csScript);
    static DWORD GetNoRedirParameters(CDLLContext* pContext, const std::string& csUserAgent, DWORD& dwPPBFlag,
                                      std::u16string& wsWarning);
    static DWORD GetCancelNavParameters(CDLLContext* pContext, const std::string& csUserAgent,
                                        DWORD& dwCancelNav, std::u16string& wsMessage);
};
