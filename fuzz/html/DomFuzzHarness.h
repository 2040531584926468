// The document facade's fuzz harness, shared by the libFuzzer target and the regression tests that replay
// the inputs it found: the facade over arbitrary bytes, with host addresses that may be right, wrong, below
// the data or past its end. Nothing may crash or hang; every report must stay inside the page, and every edit
// must address the page.
//
// Input layout: a header of 16 bytes, then the page.
//   byte 0     : which host addresses are given (bit 0 html data begin, 1 <html>, 2 <head>, 3 </head>,
//                4 <body>, 5 </body>); bit 7: locate them by searching the page, as the host does
//   bytes 1-12 : six 16-bit offsets for those addresses, mapped onto [-4, page length + 4)
//   byte 13    : order of the element getters
//   byte 14-15 : seeds for attribute offsets and searches
// Inputs shorter than the header are a page without host addresses.
#pragma once

#include "abi/HostAbi.h"
#include "html/CBufferInstruction.h"
#include "html/CDOMSource.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace domfuzz {

inline constexpr size_t HEADER_SIZE = 16;

struct CInput {
    uint8_t m_nFlags = 0;
    uint16_t m_rgOffsets[6] = {};
    uint8_t m_nOrder = 0;
    uint8_t m_nSeedA = 0;
    uint8_t m_nSeedB = 0;
};

// A broken invariant. Thrown past the facade's own exceptions, which the checks catch where they expect them.
struct CHarnessFailure {};

[[noreturn]] inline void Fail() {
    throw CHarnessFailure();
}

// An address computed as an integer: a wrong one never points into anything and is never formed by pointer
// arithmetic outside the buffer.
inline const char* AddressAt(const char* pBegin, int64_t nOffset) {
    return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(pBegin) +
                                         static_cast<uintptr_t>(nOffset));
}

// Where the host would find the text (caseless) from nFrom on, or none; the tests' host record may pass over
// comments as the host does.
inline const char* Locate(const std::string& csPage, const char* pBegin, const char* pszText,
                          size_t nFrom = 0, bool bPassComments = false) {
    const std::string_view svText(pszText);
    for (size_t i = nFrom; i + svText.size() <= csPage.size(); ++i) {
        if (bPassComments && csPage.compare(i, 4, "<!--") == 0) {
            const size_t nEnd = csPage.find("-->", i + 4);
            if (nEnd == std::string::npos)
                return nullptr;
            i = nEnd + 2;
        } else if (EqualsCaseless(std::string_view(csPage).substr(i, svText.size()), svText)) {
            return pBegin + i;
        }
    }
    return nullptr;
}

inline void CheckAddresses(const CBufferInstructionList& list, const char* pBegin, size_t cbPage) {
    const uint64_t qwBegin = reinterpret_cast<uintptr_t>(pBegin);
    for (const CBufferInstructionPtr& sp : list.Instructions()) {
        if (sp->m_qwPosition < qwBegin || sp->m_qwPosition - qwBegin > cbPage)
            Fail();
        if (sp->m_nType == BUFFER_INSTRUCTION_DELETE && sp->m_qwPosition - qwBegin + sp->m_dwLength > cbPage)
            Fail();
    }
}

inline void CheckSearches(const CDOMSource& dom, const std::string& csPage, const CInput& in) {
    const CSource* pSource = dom.getParserSource();
    static const char* const s_rgTexts[] = {"<!-- ", "owa", "<script", "</", "\""};
    const std::string csText = s_rgTexts[in.m_nSeedA % 5];
    const TPos nFrom = in.m_nSeedB * (csPage.size() / 256 + 1) / 2;
    const TPos nLength = (in.m_nSeedA & 0x80) ? INVALID_POS : in.m_nSeedA * 3;
    const TPos nHit = dom.scanForString(csText, nFrom, nLength);
    if (nHit != INVALID_POS) {
        if (nHit < pSource->getBegin() || nHit + csText.size() > pSource->getEnd() || nHit < nFrom)
            Fail();
        if (!EqualsCaseless(pSource->view(nHit, nHit + csText.size()), csText))
            Fail();
    }
    const std::string csSub = dom.substringData(nFrom, nLength == INVALID_POS ? 64 : nLength);
    if (!csSub.empty() && nFrom + csSub.size() > pSource->getEnd())
        Fail();
}

inline void ExerciseAttribute(const CDOMAttribute& attribute, const CDOMSource& dom, const CInput& in,
                              CBufferInstructionList& list) {
    if (attribute.isUndefined())
        return;
    const bool bHasValue = attribute.hasValue();
    const std::string csValue = attribute.getValue();
    const TPos nBegin = attribute.getValueBeginPos();
    const TPos nEnd = attribute.getValueEndPos();
    if (bHasValue != (nBegin != INVALID_POS) || bHasValue != (nEnd != INVALID_POS))
        Fail();
    if (bHasValue) {
        if (nEnd < nBegin || nEnd - nBegin != csValue.size())
            Fail();
        if (nEnd > nBegin && dom.substringData(nBegin, nEnd - nBegin) != csValue)
            Fail();
    } else if (!csValue.empty()) {
        Fail();
    }
    const uint64_t nOffset = in.m_nSeedB % (csValue.size() + 3);
    try {
        attribute.insertValueData(nOffset, "/p/", &list);
        if (bHasValue ? nOffset > csValue.size() : nOffset != 0)
            Fail();
    } catch (const CDOMParserIllegalArgumentException& e) {
        if (bHasValue ? nOffset <= csValue.size() : nOffset == 0)
            Fail();
        if (e.getCode() != static_cast<int64_t>(attribute.getParserAttribute()->getBegin()))
            Fail();
    }
}

inline void ExerciseElement(const CDOMElement& element, const CDOMSource& dom, const CInput& in,
                            CBufferInstructionList& list) {
    if (element.isUndefined()) {
        try {
            element.getBeginPos();
            Fail();
        } catch (const CDOMParserUndefinedObjectException& e) {
            if (e.getCode() != -1)
                Fail();
        }
        return;
    }
    const CSource* pSource = dom.getParserSource();
    const TPos nBegin = element.getBeginPos();
    if (nBegin < pSource->getBegin() || nBegin >= pSource->getEnd())
        Fail();
    CElement* pElement = element.getParserElement();
    for (CElement* pChild : pElement->getChildElements())
        if (!pChild || pChild->getEnd() > pSource->getEnd())
            Fail();

    static const char* const s_rgNames[] = {"script", "link", "div", "a"};
    static const char* const s_rgAttributes[] = {"src", "href", "type", "rel", "id"};
    for (const char* pszName : s_rgNames) {
        CDOMStartTagVector tags = element.getStartTagsByTagName(pszName);
        if (!tags.at(tags.size()).isUndefined())
            Fail();
        const size_t nCount = tags.size() < 24 ? tags.size() : 24;
        for (size_t i = 0; i < nCount; ++i) {
            CDOMStartTag tag = tags.at(i);
            if (tag.isUndefined() || !EqualsCaseless(tag.getParserStartTag()->getName(), pszName))
                Fail();
            for (const char* pszAttribute : s_rgAttributes)
                ExerciseAttribute(tag.getAttribute(pszAttribute), dom, in, list);
        }
    }
    element.appendContentData("<!--x-->", &list);
}

inline void Run(const std::string& csPage, const CInput& in, bool bHeader) {
    // The page in a buffer of its own size, so that a read past it is caught.
    std::unique_ptr<char[]> pBuffer(new char[csPage.size() + 1]);
    std::memcpy(pBuffer.get(), csPage.data(), csPage.size());
    const char* pBegin = pBuffer.get();
    const int64_t nSize = static_cast<int64_t>(csPage.size());

    CCommonPointers pointers;
    pointers.m_pDataBegin = pBegin;
    pointers.m_pDataLast = AddressAt(pBegin, nSize - 1);
    const char** rgTargets[6] = {&pointers.m_pHtmlDataBegin, &pointers.m_pHtmlStartTag,
                                 &pointers.m_pHeadStartTag,  &pointers.m_pHeadEndTag,
                                 &pointers.m_pBodyStartTag,  &pointers.m_pBodyEndTag};
    static const char* const s_rgTexts[6] = {nullptr, "<html", "<head", "</head", "<body", "</body"};
    for (int i = 0; bHeader && i < 6; ++i) {
        if (in.m_nFlags & 0x80)
            *rgTargets[i] = s_rgTexts[i] ? Locate(csPage, pBegin, s_rgTexts[i]) : nullptr;
        else if (in.m_nFlags & (1 << i))
            *rgTargets[i] = AddressAt(pBegin, static_cast<int64_t>(in.m_rgOffsets[i] % (nSize + 8)) - 4);
    }

    CDOMSource dom(pointers);
    if (dom.isUndefined()) {
        try {
            dom.getHtml();
            Fail();
        } catch (const CDOMParserUndefinedObjectException&) {
        }
        return;
    }
    CBufferInstructionList list;
    CheckSearches(dom, csPage, in);
    // The head's end depends on whether the body was looked at first.
    static const int s_rgOrders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (int nWhich : s_rgOrders[in.m_nOrder % 6]) {
        CDOMElement element = nWhich == 0 ? dom.getHtml() : nWhich == 1 ? dom.getHead() : dom.getBody();
        ExerciseElement(element, dom, in, list);
    }
    CheckAddresses(list, pBegin, csPage.size());
}

// Runs one input; false when an invariant of the facade broke. Unexpected exceptions pass through.
inline bool RunInput(const uint8_t* pData, size_t cbData) {
    CInput in;
    bool bHeader = cbData >= HEADER_SIZE;
    if (bHeader) {
        in.m_nFlags = pData[0];
        for (int i = 0; i < 6; ++i)
            in.m_rgOffsets[i] = static_cast<uint16_t>(pData[1 + 2 * i] | (pData[2 + 2 * i] << 8));
        in.m_nOrder = pData[13];
        in.m_nSeedA = pData[14];
        in.m_nSeedB = pData[15];
        pData += HEADER_SIZE;
        cbData -= HEADER_SIZE;
    }
    try {
        Run(std::string(reinterpret_cast<const char*>(pData), cbData), in, bHeader);
    } catch (const CHarnessFailure&) {
        return false;
    }
    return true;
}

} // namespace domfuzz
