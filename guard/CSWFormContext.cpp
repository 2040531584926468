#include "guard/CSWFormContext.h"

#include "log/Log.h"
#include "text/CSWFormException.h"
#include "text/CaselessString.h"

#include <stdexcept>

namespace {

const char TEMPLATE_END[] = "-->";
const char TRIMMED[] = " \r\n\t";

// Recognised pages that keep their bytes: the pipeline has nothing to add to them.
const char* const LEFT_ALONE_PAGES[] = {"_error_", "ASP.webreadyviewhead_aspx", "ASP.auth_logoff_aspx",
                                        "ASP.auth_logon_aspx", "ASP.languageselection_aspx"};

bool ContainsCaseless(const std::string& csText, const char* pszPart) {
    return FindCaseless(csText, pszPart) != std::string::npos;
}

std::string Trimmed(const std::string& csText) {
    const size_t nFirst = csText.find_first_not_of(TRIMMED);
    if (nFirst == std::string::npos)
        return std::string();
    return csText.substr(nFirst, csText.find_last_not_of(TRIMMED) - nFirst + 1);
}

} // namespace

CSWFormContext::CSWFormContext(CDLLContext* pContext, CBufferInstructionList* pList) {
    CSWFormContext::Initialize(pContext, pList);
}

void CSWFormContext::Initialize(CDLLContext* pContext, CBufferInstructionList* pList) {
    if (!pContext)
        throw CSWFormException("Initialize context failed: pContext is NULL");
    if (!pContext->m_spOutboundContext)
        throw CSWFormException("Initialize context failed: m_pOutboundContext is NULL");
    CCommonPointers* pPointers = pContext->m_spOutboundContext->m_pCommonPointers;
    if (!pPointers)
        throw CSWFormException("Initialize context failed: m_pCommonPointers is NULL");
    m_spDom = std::make_shared<CDOMSource>(*pPointers);
    m_pContext = pContext;
    m_pcobBufferInstructionList = pList;
    m_pCommonPointers = pPointers;
    if (m_spDom->isUndefined()) {
        LogMessage("CSWFormContext::Initialize ERROR CDOMSource isUndefined - TRUE !!!");
        return;
    }
    CSWFormContext::UpdateContextWithTemplateComment();
}

void CSWFormContext::UpdateContextWithTemplateComment() {
    CSWFormContext::ParseTemplate("<!-- OwaPage =");
    CSWFormContext::ParseTemplate("<!-- OwaSubPage =");
    if (m_strTemplate.empty()) {
        m_dwOwaExperience = OWA_EXPERIENCE_NONE;
        LogMessage("[CSWForm::UpdateContextWithTemplateComment] Warning: Template comment not found.");
        return;
    }
    if (ContainsCaseless(m_strTemplate, "_premium_")) {
        m_dwOwaExperience = OWA_EXPERIENCE_PREMIUM;
        return;
    }
    if (ContainsCaseless(m_strTemplate, "_basic_")) {
        m_dwOwaExperience = OWA_EXPERIENCE_BASIC;
        return;
    }
    m_dwOwaExperience = OWA_EXPERIENCE_NONE;
    for (const char* pszPage : LEFT_ALONE_PAGES)
        if (ContainsCaseless(m_strTemplate, pszPage))
            return;
    LogMessage("[CSWForm::UpdateContextWithTemplateComment] Warning: Template comment is invalid.");
    throw std::runtime_error("invalid template");
}

void CSWFormContext::ParseTemplate(const std::string& csMarker) {
    try {
        ParseTemplateOccurrences(csMarker);
    } catch (...) {
        LogMessage(
            "[CSWForm::UpdateContextWithTemplateComment] Error: Exception when parsing template comment.");
    }
}

void CSWFormContext::ParseTemplateOccurrences(const std::string& csMarker) {
    if (!m_spDom)
        throw CSWFormException("no document");
    const TPos nStart = m_spDom->getBeginPos();
    TPos nPos = m_spDom->scanForString(csMarker, nStart);
    if (nPos == INVALID_POS) {
        LogMessage("CSWFormContext::ParseTemplate didn't find %s pos %d ", csMarker.c_str(), LogPos(nStart));
        return;
    }
    while (nPos != INVALID_POS) {
        const TPos nValue = nPos + csMarker.size();
        const TPos nEnd = m_spDom->scanForString(TEMPLATE_END, nValue);
        if (nEnd == INVALID_POS) {
            LogMessage("CSWFormContext::ParseTemplate didn't find --> startpos %d ", LogPos(nValue));
            return;
        }
        const std::string csValue = Trimmed(m_spDom->substringData(nValue, nEnd - nValue));
        m_vecTemplateValues.push_back(csValue);
        if (m_strTemplate.empty())
            m_strTemplate = csValue;
        LogMessage("CSWFormContext::ParseTemplate found %s  as %s", csMarker.c_str(), csValue.c_str());
        nPos = m_spDom->scanForString(csMarker, nEnd);
    }
}
