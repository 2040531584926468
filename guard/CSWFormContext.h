// One response examined by the rewriting pipeline: the page's document, the instruction list its edits go
// to, and the webmail page it is, read from the template comments the webmail writes into its pages.
#pragma once

#include "abi/HostAbi.h"
#include "html/CDOMSource.h"

#include <memory>
#include <string>
#include <vector>

class CBufferInstructionList;

// Experience values of a recognised page.
constexpr DWORD OWA_EXPERIENCE_NONE = 0;
constexpr DWORD OWA_EXPERIENCE_PREMIUM = 1;
constexpr DWORD OWA_EXPERIENCE_BASIC = 2;

class CSWFormContext {
public:
    // Runs Initialize; throws CSWFormException for a missing piece and std::runtime_error("invalid template")
    // for a template no page name matches.
    CSWFormContext(CDLLContext* pContext, CBufferInstructionList* pList);
    virtual ~CSWFormContext() = default;
    CSWFormContext(const CSWFormContext&) = delete;
    CSWFormContext& operator=(const CSWFormContext&) = delete;

    virtual void Initialize(CDLLContext* pContext, CBufferInstructionList* pList);
    // Every occurrence of the marker, in document order; never throws.
    virtual void ParseTemplate(const std::string& csMarker);
    virtual void UpdateContextWithTemplateComment();

    CDLLContext* m_pContext = nullptr;
    CBufferInstructionList* m_pcobBufferInstructionList = nullptr;
    CCommonPointers* m_pCommonPointers = nullptr;
    std::shared_ptr<CDOMSource> m_spDom;
    std::string m_strTemplate;
    DWORD m_dwOwaExperience = OWA_EXPERIENCE_NONE;
    std::vector<std::string> m_vecTemplateValues;

private:
    void ParseTemplateOccurrences(const std::string& csMarker);
};
