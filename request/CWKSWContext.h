// The worker's own per-request context: the user's language, created after authentication and freed by the
// handler that ends the request.
#pragma once

#include "platform/WinTypes.h"

#include <string>

class CWKSWContext {
public:
    CWKSWContext(std::string csLanguage, LANGID wLangId)
        : m_csLanguage(std::move(csLanguage)), m_wLangId(wLangId) {}

    const std::string& GetLanguage() const { return m_csLanguage; }
    LANGID GetLangId() const { return m_wLangId; }

private:
    std::string m_csLanguage; // resource language tag, e.g. "en"
    LANGID m_wLangId;         // e.g. 4105
};
