// The document facade, operation by operation: what each returns, what it throws, and where its edits land
// once the host applies them.
#include "HtmlTestSupport.h"

#include "abi/HostAbi.h"
#include "host/common/BufferApply.h"
#include "html/CBufferInstruction.h"
#include "html/CDOMSource.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

using htmltest::CLogCapture;

namespace {

// A page in its own buffer and the host's record over it. Offsets given as -1 stay none.
struct CDomPage {
    std::string m_csText;
    CCommonPointers m_pointers;

    explicit CDomPage(std::string csText) : m_csText(std::move(csText)) {
        m_pointers.m_pDataBegin = m_csText.data();
        m_pointers.m_pDataLast = AddressAt(static_cast<int64_t>(m_csText.size()) - 1);
    }
    // An address at any offset, also outside the buffer (never dereferenced by the test).
    const char* AddressAt(int64_t nOffset) const {
        return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(m_csText.data()) +
                                             static_cast<uintptr_t>(nOffset));
    }
    // The host's addresses where the texts first occur (caseless search as the host does it).
    CDomPage& Locate() {
        auto find = [this](const char* pszText) -> const char* {
            std::string csUpper = m_csText;
            for (char& c : csUpper)
                c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
            std::string csNeedle = pszText;
            for (char& c : csNeedle)
                c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
            size_t n = csUpper.find(csNeedle);
            return n == std::string::npos ? nullptr : m_csText.data() + n;
        };
        m_pointers.m_pHtmlStartTag = find("<html");
        m_pointers.m_pHeadStartTag = find("<head");
        m_pointers.m_pHeadEndTag = find("</head");
        m_pointers.m_pBodyStartTag = find("<body");
        m_pointers.m_pBodyEndTag = find("</body");
        return *this;
    }
    uint64_t Base() const { return reinterpret_cast<uintptr_t>(m_csText.data()); }
    std::string Apply(const CBufferInstructionList& list) const {
        std::string csOut, csError;
        EXPECT_TRUE(ApplyBufferInstructions(m_csText, Base(), list, csOut, csError)) << csError;
        return csOut;
    }
};

template <class TException>
void ExpectThrows(const std::function<void()>& fn, const std::string& csMessage, int64_t nCode) {
    try {
        fn();
        ADD_FAILURE() << "no exception; expected " << csMessage;
    } catch (const TException& e) {
        EXPECT_EQ(e.getMessage(), csMessage);
        EXPECT_STREQ(e.what(), csMessage.c_str());
        EXPECT_EQ(e.getCode(), nCode);
    }
}

void ExpectUndefined(const std::function<void()>& fn, const std::string& csDetail) {
    ExpectThrows<CDOMParserUndefinedObjectException>(fn, "Undefined DOM object.[" + csDetail + "]", -1);
}

const std::string FULL_PAGE =
    "<!DOCTYPE html>\n<html lang=en><head><title>t</title>"
    "<script src=\"/a.js\"></script></head>\n"
    "<body onload=\"x()\"><div><script src='/b.js'></script></div></body>\n</html>\n";

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Construction and the undefined source

TEST(DomSourceConstruction, MissingOrInvertedDataLeavesTheSourceUndefinedAndLogs) {
    struct CCase {
        const char* pszName;
        std::function<void(CDomPage&)> fnBreak;
        const char* pszLog;
    };
    const CCase rgCases[] = {
        {"no data begin", [](CDomPage& p) { p.m_pointers.m_pDataBegin = nullptr; },
         "[CDOMSource::CDOMSource] CSource::CREATE_NEW_INST() failed. nBegin <0> nEnd <-1>."},
        {"no data last", [](CDomPage& p) { p.m_pointers.m_pDataLast = nullptr; },
         "[CDOMSource::CDOMSource] CSource::CREATE_NEW_INST() failed. nBegin <0> nEnd <-1>."},
        {"last two below begin", [](CDomPage& p) { p.m_pointers.m_pDataLast = p.AddressAt(-2); },
         "[CDOMSource::CDOMSource] CSource::CREATE_NEW_INST() failed. nBegin <0> nEnd <-1>."},
        {"html begin past the end", [](CDomPage& p) { p.m_pointers.m_pHtmlDataBegin = p.AddressAt(50); },
         "[CDOMSource::CDOMSource] CSource::CREATE_NEW_INST() failed. nBegin <50> nEnd <10>."},
    };
    for (const CCase& c : rgCases) {
        SCOPED_TRACE(c.pszName);
        CLogCapture log;
        CDomPage page("0123456789");
        c.fnBreak(page);
        CDOMSource dom(page.m_pointers);
        EXPECT_TRUE(dom.isUndefined());
        EXPECT_TRUE(log.contains(c.pszLog)) << c.pszLog;
    }
}

TEST(DomSourceConstruction, EveryOperationOfAnUndefinedSourceThrowsItsDetail) {
    CDOMSource dom;
    const std::pair<std::function<void()>, const char*> rgCases[] = {
        {[&] { dom.getHtml(); }, "CDOMSource::getHtml() : m_spSource is 0"},
        {[&] { dom.getHead(); }, "CDOMSource::getHead() : m_spSource is 0"},
        {[&] { dom.getBody(); }, "CDOMSource::getBody() : m_spSource is 0"},
        {[&] { dom.getBeginPos(); }, "CDOMSource::getBeginPos() : m_spSource is 0"},
        {[&] { dom.scanForString("x", 0); }, "CDOMSource::scanForString() : m_spSource is 0"},
        {[&] { dom.substringData(0, 1); }, "CDOMSource::substringData() : m_spSource is 0"},
    };
    for (const auto& c : rgCases) {
        SCOPED_TRACE(c.second);
        ExpectUndefined(c.first, c.second);
    }
    // The base class catches them too, as the forms do.
    EXPECT_THROW(dom.getHtml(), CDOMParserException);
}

TEST(DomSourceConstruction, EmptyPageIsDefinedWithoutElements) {
    CDomPage page("");
    CDOMSource dom(page.m_pointers);
    ASSERT_FALSE(dom.isUndefined());
    EXPECT_TRUE(dom.getHtml().isUndefined());
    EXPECT_TRUE(dom.getHead().isUndefined());
    EXPECT_TRUE(dom.getBody().isUndefined());
    EXPECT_EQ(dom.scanForString("<", 0), INVALID_POS);
    EXPECT_EQ(dom.substringData(0, 5), "");
}

TEST(DomSourceConstruction, HtmlDataBeginSetsTheSourceBeginAndHidesWhatLiesBefore) {
    // The response starts with bytes that are not HTML (as after a byte-order mark or a preamble).
    CDomPage page("<head>junk</head><html><head></head><body></body></html>");
    const size_t nHtml = page.m_csText.find("<html>");
    struct CCase {
        const char* pszName;
        const char* pHtmlBegin;
        TPos nExpectedBegin;
        TPos nExpectedHead;
    };
    const CCase rgCases[] = {
        {"none: the data begin", nullptr, 0, 0},
        {"at <html>", page.AddressAt(static_cast<int64_t>(nHtml)), nHtml, nHtml + 6},
        {"below the data begin: ignored", page.AddressAt(-3), 0, 0},
    };
    for (const CCase& c : rgCases) {
        SCOPED_TRACE(c.pszName);
        CCommonPointers pointers = page.m_pointers;
        pointers.m_pHtmlDataBegin = c.pHtmlBegin;
        CDOMSource dom(pointers);
        ASSERT_FALSE(dom.isUndefined());
        EXPECT_EQ(dom.getBeginPos(), c.nExpectedBegin);
        EXPECT_EQ(dom.getHead().getBeginPos(), c.nExpectedHead);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Elements: where each one's content ends, found lazily or from the host's addresses

namespace {

enum EWhich { HTML, HEAD, BODY };

struct CElementCase {
    const char* pszName;
    std::string csPage;
    EWhich eWhich;
    bool bLocate;          // give the host's addresses
    const char* pszBefore; // the append lands just before this text's first occurrence; null: at the end
    bool bDefined = true;
};

CDOMElement Get(CDOMSource& dom, EWhich eWhich) {
    return eWhich == HTML ? dom.getHtml() : eWhich == HEAD ? dom.getHead() : dom.getBody();
}

void PrintTo(const CElementCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

class DomElementTest : public ::testing::TestWithParam<CElementCase> {};

} // namespace

TEST_P(DomElementTest, AppendLandsAtTheContentEnd) {
    const CElementCase& c = GetParam();
    CDomPage page(c.csPage);
    if (c.bLocate)
        page.Locate();
    CDOMSource dom(page.m_pointers);
    ASSERT_FALSE(dom.isUndefined());
    CDOMElement element = Get(dom, c.eWhich);
    ASSERT_EQ(element.isUndefined(), !c.bDefined);
    if (!c.bDefined) {
        ExpectUndefined([&] { element.getBeginPos(); }, "CDOMElement::getBeginPos() : m_pElement is 0");
        CBufferInstructionList list;
        ExpectUndefined([&] { element.appendContentData("x", &list); },
                        "CDOMElement::appendContentData() : m_pElement is 0");
        ExpectUndefined([&] { element.getStartTagsByTagName("a"); },
                        "CDOMElement::getStartTagsByTagName() : m_pElement is 0");
        EXPECT_EQ(list.Count(), 0u);
        return;
    }
    CBufferInstructionList list;
    EXPECT_EQ(element.appendContentData("@@", &list), ERROR_SUCCESS);
    std::string csExpected = c.csPage;
    size_t nAt = c.pszBefore ? csExpected.find(c.pszBefore) : csExpected.size();
    ASSERT_NE(nAt, std::string::npos);
    csExpected.insert(nAt, "@@");
    EXPECT_EQ(page.Apply(list), csExpected);
    // The begin is the '<' of the start tag, and a second call answers the same.
    const std::string csName = c.eWhich == HTML ? "<html" : c.eWhich == HEAD ? "<head" : "<body";
    EXPECT_TRUE(EqualsCaseless(page.m_csText.substr(element.getBeginPos(), csName.size()), csName));
    EXPECT_EQ(element.getBeginPos(), element.getBeginPos());
}

INSTANTIATE_TEST_SUITE_P(
    Lazy, DomElementTest,
    ::testing::Values(
        CElementCase{"html", FULL_PAGE, HTML, false, "</html>"},
        CElementCase{"head", FULL_PAGE, HEAD, false, "</head>"},
        CElementCase{"body", FULL_PAGE, BODY, false, "</body>"},
        CElementCase{"upper case", "<HTML><HEAD></HEAD><BODY></BODY></HTML>", HEAD, false, "</HEAD>"},
        CElementCase{"no head", "<html><body><p>x</p></body></html>", HEAD, false, nullptr, false},
        CElementCase{"no body", "<html><head></head></html>", BODY, false, nullptr, false},
        CElementCase{"no html", "<head></head><body></body>", HTML, false, nullptr, false},
        CElementCase{"html without end tag: the source end", "<html><head></head><body>x", HTML, false,
                     nullptr},
        CElementCase{"body without </body>: ends at </html>", "<html><body><div>x</div></html>", BODY, false,
                     "</html>"},
        CElementCase{"body without </body> and </html>: the source end", "<html><body><p>x", BODY, false,
                     nullptr},
        CElementCase{"head without </head>: ends at <body>", "<html><head><title>t</title><body>", HEAD,
                     false, "<body>"},
        CElementCase{"the last </html> counts", "<html><p></html>x</HTML>", HTML, false, "</HTML>"},
        CElementCase{"tags inside a comment are not elements", "<!-- <head></head> --><p>", HEAD, false,
                     nullptr, false}),
    [](const ::testing::TestParamInfo<CElementCase>& info) { return std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    HostLocated, DomElementTest,
    ::testing::Values(
        CElementCase{"html", FULL_PAGE, HTML, true, "</html>"},
        CElementCase{"head", FULL_PAGE, HEAD, true, "</head>"},
        CElementCase{"body", FULL_PAGE, BODY, true, "</body>"},
        CElementCase{"body without </body>", "<html><body><div>x</div></html>", BODY, true, "</html>"},
        CElementCase{"head without </head>", "<html><head><title>t</title><body>", HEAD, true, "<body>"}),
    [](const ::testing::TestParamInfo<CElementCase>& info) { return std::to_string(info.index); });

TEST(DomElementOrder, HeadEndDependsOnWhetherTheBodyWasLookedAtFirst) {
    // A </head> inside a script before the real one: with the body known, the last </head> before it counts.
    const std::string csPage = "<html><head><script>var s='</head>';</script></head><body></body></html>";
    struct CCase {
        const char* pszName;
        bool bBodyFirst;
        size_t nExpected;
    };
    const CCase rgCases[] = {
        {"head first: the first </head> after <head>", false, csPage.find("</head>")},
        {"body first: the last </head> before <body>", true, csPage.rfind("</head>")},
    };
    for (const CCase& c : rgCases) {
        SCOPED_TRACE(c.pszName);
        CDomPage page(csPage);
        CDOMSource dom(page.m_pointers);
        if (c.bBodyFirst) {
            ASSERT_FALSE(dom.getBody().isUndefined());
        }
        CBufferInstructionList list;
        ASSERT_EQ(dom.getHead().appendContentData("@", &list), ERROR_SUCCESS);
        std::string csExpected = csPage;
        csExpected.insert(c.nExpected, "@");
        EXPECT_EQ(page.Apply(list), csExpected);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Host addresses that are wrong

TEST(DomHostAddresses, WrongAddressesFallBackOrLeaveTheElementUndefined) {
    const std::string csPage = FULL_PAGE;
    const int64_t nSize = static_cast<int64_t>(csPage.size());
    const int64_t nHead = static_cast<int64_t>(csPage.find("<head>"));
    const int64_t nHeadEnd = static_cast<int64_t>(csPage.find("</head>"));
    const int64_t nBody = static_cast<int64_t>(csPage.find("<body"));
    const int64_t nBodyEnd = static_cast<int64_t>(csPage.find("</body>"));
    const int64_t nText = static_cast<int64_t>(csPage.find("<title>t") + 7);
    const int64_t nDiv = static_cast<int64_t>(csPage.find("<div>"));
    struct CCase {
        const char* pszName;
        EWhich eWhich;
        int64_t nStart; // offset of the start-tag address (INT64_MIN: none)
        int64_t nEnd;   // offset of the end-tag address
        const char* pszBefore;
        bool bDefined;
        const char* pszLog;
    };
    const int64_t NONE = INT64_MIN;
    const CCase rgCases[] = {
        {"head at text: lazy search", HEAD, nText, nHeadEnd, "</head>", true, nullptr},
        {"head below the data: lazy search", HEAD, -7, -1, "</head>", true, nullptr},
        {"head past the end: lazy search", HEAD, nSize + 3, nSize + 9, "</head>", true, nullptr},
        {"body at the last byte: lazy search", BODY, nSize - 1, NONE, "</body>", true, nullptr},
        {"body end at text: the start tag's own element", BODY, nBody, nText, "</body>", true, nullptr},
        {"body end before body start: undefined", BODY, nBody, nHeadEnd, nullptr, false,
         "[CDOMSource::CDOMSource] BODY element initialization: CElement::CREATE_NEW_INST() failed"},
        {"head end at </body>: the name is not checked", HEAD, nHead, nBodyEnd, "</body>", true, nullptr},
        {"head at a div: the div stands for the head", HEAD, nDiv, NONE, "</div>", true, nullptr},
        {"body end exact", BODY, nBody, nBodyEnd, "</body>", true, nullptr},
    };
    for (const CCase& c : rgCases) {
        SCOPED_TRACE(c.pszName);
        CLogCapture log;
        CDomPage page(csPage);
        const char** ppStart =
            c.eWhich == HEAD ? &page.m_pointers.m_pHeadStartTag : &page.m_pointers.m_pBodyStartTag;
        const char** ppEnd =
            c.eWhich == HEAD ? &page.m_pointers.m_pHeadEndTag : &page.m_pointers.m_pBodyEndTag;
        *ppStart = c.nStart == NONE ? nullptr : page.AddressAt(c.nStart);
        *ppEnd = c.nEnd == NONE ? nullptr : page.AddressAt(c.nEnd);
        CDOMSource dom(page.m_pointers);
        ASSERT_FALSE(dom.isUndefined());
        CDOMElement element = Get(dom, c.eWhich);
        ASSERT_EQ(element.isUndefined(), !c.bDefined);
        if (c.pszLog) {
            EXPECT_TRUE(log.contains(c.pszLog));
        }
        if (!c.bDefined)
            continue;
        CBufferInstructionList list;
        ASSERT_EQ(element.appendContentData("@", &list), ERROR_SUCCESS);
        std::string csExpected = csPage;
        csExpected.insert(csExpected.find(c.pszBefore), "@");
        EXPECT_EQ(page.Apply(list), csExpected);
    }
}

TEST(DomHostAddresses, HtmlAddressWithoutEndTagUsesTheSourceEnd) {
    CLogCapture log;
    CDomPage page("<html><head></head><body>");
    page.Locate();
    CDOMSource dom(page.m_pointers);
    CBufferInstructionList list;
    ASSERT_EQ(dom.getHtml().appendContentData("@", &list), ERROR_SUCCESS);
    EXPECT_EQ(page.Apply(list), "<html><head></head><body>@");
    EXPECT_FALSE(log.contains("HTML element initialization"));
}

// ---------------------------------------------------------------------------------------------------------------
// scanForString and substringData

TEST(DomScanForString, RangesAndMisses) {
    //                           0         1         2         3
    //                           0123456789012345678901234567890123456789
    const std::string csPage = "xx<!-- OwaPage = premium -->abc OWAPAGE";
    CDomPage page(csPage);
    page.m_pointers.m_pHtmlDataBegin = page.AddressAt(2);
    CDOMSource dom(page.m_pointers);
    struct CCase {
        const char* pszName;
        const char* pszText;
        TPos nFrom;
        TPos nLength;
        TPos nExpected;
    };
    const CCase rgCases[] = {
        {"ignores case", "owapage", 0, INVALID_POS, 7},
        {"from below the begin is clamped", "xx", 0, INVALID_POS, INVALID_POS},
        {"from after the first", "owapage", 8, INVALID_POS, 32},
        {"length limits where a match may start", "owapage", 8, 24, INVALID_POS},
        {"a match may start at the last position of the range", "owapage", 8, 25, 32},
        {"a length past the end searches to the end", "owapage", 8, 1000, 32},
        {"a length that overflows searches to the end", "owapage", 8, INVALID_POS - 3, 32},
        {"length zero finds nothing", "abc", 28, 0, INVALID_POS},
        {"from at the end", "e", csPage.size(), INVALID_POS, INVALID_POS},
        {"from past the end", "e", csPage.size() + 10, 5, INVALID_POS},
        {"from none", "e", INVALID_POS, INVALID_POS, INVALID_POS},
        {"a match cannot run past the end", "owapage!", 0, INVALID_POS, INVALID_POS},
        {"empty text", "", 2, INVALID_POS, INVALID_POS},
        {"length counted from a from below the begin", "<!--", 0, 2, INVALID_POS},
        {"length from below the begin reaching the match", "<!--", 0, 3, 2},
    };
    for (const CCase& c : rgCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(dom.scanForString(c.pszText, c.nFrom, c.nLength), c.nExpected);
    }
}

TEST(DomSubstringData, NeverPastTheEndAndEmptyOutside) {
    CLogCapture log;
    CDomPage page("..<b>bold</b>");
    page.m_pointers.m_pHtmlDataBegin = page.AddressAt(2);
    CDOMSource dom(page.m_pointers);
    struct CCase {
        TPos nPos;
        TPos nLength;
        const char* pszExpected;
        bool bLogged;
    };
    const CCase rgCases[] = {
        {2, 3, "<b>", false}, {5, 100, "bold</b>", false},
        {12, 1, ">", false},  {5, INVALID_POS, "bold</b>", false},
        {5, 0, "", false},    {13, 1, "", true},
        {0, 2, "", true},     {INVALID_POS, 1, "", true},
    };
    for (const CCase& c : rgCases) {
        SCOPED_TRACE(c.nPos);
        log.clear();
        EXPECT_EQ(dom.substringData(c.nPos, c.nLength), c.pszExpected);
        EXPECT_EQ(log.contains("[CSource::substring] Invalid nPos"), c.bLogged);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Start tags by name and attributes

TEST(DomStartTags, ByNameInsideTheContentOnlyInDocumentOrder) {
    const std::string csPage =
        "<html><head><SCRIPT src=1></SCRIPT><!-- <script src=c> --><Script src=2></Script>"
        "<noscript><script src=3></script></noscript></head>"
        "<body><script src=4></script><div><a href=x><a href=y></div></body></html>";
    struct CCase {
        EWhich eWhich;
        const char* pszName;
        std::vector<std::string> vExpectedSrc;
    };
    const CCase rgCases[] = {
        {HEAD, "script", {"1", "2", "3"}},
        {HEAD, "SCRIPT", {"1", "2", "3"}},
        {BODY, "script", {"4"}},
        {HTML, "script", {"1", "2", "3", "4"}},
        {HEAD, "link", {}},
        {HEAD, "/script", {}},
    };
    CDomPage page(csPage);
    CDOMSource dom(page.m_pointers);
    for (const CCase& c : rgCases) {
        SCOPED_TRACE(c.pszName);
        CDOMStartTagVector tags = Get(dom, c.eWhich).getStartTagsByTagName(c.pszName);
        ASSERT_EQ(tags.size(), c.vExpectedSrc.size());
        for (size_t i = 0; i < tags.size(); ++i)
            EXPECT_EQ(tags.at(i).getAttribute("SRC").getValue(), c.vExpectedSrc[i]);
        EXPECT_TRUE(tags.at(tags.size()).isUndefined());
        EXPECT_TRUE(tags.at(static_cast<size_t>(-1)).isUndefined());
    }
}

TEST(DomStartTags, AnchorsInsideBody) {
    CDomPage page("<body><div><a href=x><a href=y></div></body>");
    CDOMSource dom(page.m_pointers);
    CDOMStartTagVector tags = dom.getBody().getStartTagsByTagName("A");
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags.at(1).getAttribute("href").getValue(), "y");
    ExpectUndefined([&] { tags.at(2).getAttribute("href"); },
                    "CDOMStartTag::getAttribute() : m_pStartTag is 0");
}

namespace {

struct CAttributeCase {
    const char* pszName;
    std::string csTag;
    const char* pszAttribute;
    bool bDefined;
    bool bHasValue;
    std::string csValue;
    TPos nValueBegin; // offset in the tag text
};

void PrintTo(const CAttributeCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

class DomAttributeTest : public ::testing::TestWithParam<CAttributeCase> {};

} // namespace

TEST_P(DomAttributeTest, ValueAsWrittenAndItsBounds) {
    const CAttributeCase& c = GetParam();
    const std::string csPage = "<body>" + c.csTag + "</body>";
    CDomPage page(csPage);
    CDOMSource dom(page.m_pointers);
    CDOMStartTagVector tags = dom.getBody().getStartTagsByTagName("");
    ASSERT_GE(tags.size(), 1u);
    CDOMAttribute attribute = tags.at(0).getAttribute(c.pszAttribute);
    ASSERT_EQ(attribute.isUndefined(), !c.bDefined);
    if (!c.bDefined)
        return;
    EXPECT_EQ(attribute.hasValue(), c.bHasValue);
    EXPECT_EQ(attribute.getValue(), c.csValue);
    if (!c.bHasValue) {
        EXPECT_EQ(attribute.getValueBeginPos(), INVALID_POS);
        EXPECT_EQ(attribute.getValueEndPos(), INVALID_POS);
        return;
    }
    EXPECT_EQ(attribute.getValueBeginPos(), 6 + c.nValueBegin);
    EXPECT_EQ(attribute.getValueEndPos(), 6 + c.nValueBegin + c.csValue.size());
}

INSTANTIATE_TEST_SUITE_P(
    Lookups, DomAttributeTest,
    ::testing::Values(
        CAttributeCase{"caseless name", "<a HREF=\"x.htm\">", "href", true, true, "x.htm", 9},
        CAttributeCase{"first of two", "<a href=1 href=2>", "href", true, true, "1", 8},
        CAttributeCase{"valueless", "<a href>", "href", true, false, "", 0},
        CAttributeCase{"empty value", "<input value=>", "value", true, true, "", 13},
        CAttributeCase{"empty quoted value", "<input value=''>", "value", true, true, "", 14},
        CAttributeCase{"single quotes keep >", "<a href='x>y'>", "href", true, true, "x>y", 9},
        CAttributeCase{"no entity decoding", "<a title=\"a&amp;b\">", "title", true, true, "a&amp;b", 10},
        CAttributeCase{"unquoted", "<p a=1'b=2>", "a", true, true, "1'b=2", 5},
        CAttributeCase{"missing", "<a href=x>", "src", false, false, "", 0},
        CAttributeCase{"prefix of a name", "<a hrefx=1>", "href", false, false, "", 0},
        CAttributeCase{"no attribute list (comment)", "<!-- href=x -->", "href", false, false, "", 0}),
    [](const ::testing::TestParamInfo<CAttributeCase>& info) { return std::to_string(info.index); });

TEST(DomAttributeUndefined, EveryOperationThrowsItsDetail) {
    CDOMAttribute attribute;
    CBufferInstructionList list;
    const std::pair<std::function<void()>, const char*> rgCases[] = {
        {[&] { attribute.hasValue(); }, "CDOMAttribute::hasValue() : m_pAttribute is 0"},
        {[&] { attribute.getValue(); }, "CDOMAttribute::getValue() : m_pAttribute is 0"},
        {[&] { attribute.getValueBeginPos(); }, "CDOMAttribute::getValueBeginPos() : m_pAttribute is 0"},
        {[&] { attribute.getValueEndPos(); }, "CDOMAttribute::getValueEndPos() : m_pAttribute is 0"},
        {[&] { attribute.insertValueData(0, "x", &list); },
         "CDOMAttribute::insertValueData() : m_pAttribute is 0"},
    };
    for (const auto& c : rgCases) {
        SCOPED_TRACE(c.second);
        ExpectUndefined(c.first, c.second);
    }
    EXPECT_EQ(list.Count(), 0u);
    CDOMStartTag tag;
    ExpectUndefined([&] { tag.getAttribute("x"); }, "CDOMStartTag::getAttribute() : m_pStartTag is 0");
    CDOMElement element;
    ExpectUndefined([&] { element.getBeginPos(); }, "CDOMElement::getBeginPos() : m_pElement is 0");
}

// ---------------------------------------------------------------------------------------------------------------
// insertValueData

namespace {

struct CInsertCase {
    const char* pszName;
    std::string csTag;
    const char* pszAttribute;
    uint64_t nOffset;
    std::string csExpectedTag;      // empty: an exception
    const char* pszExceptionDetail; // with the attribute's begin as code
};

void PrintTo(const CInsertCase& c, std::ostream* pOut) {
    *pOut << c.pszName;
}

class DomInsertValueTest : public ::testing::TestWithParam<CInsertCase> {};

} // namespace

TEST_P(DomInsertValueTest, EditOrException) {
    const CInsertCase& c = GetParam();
    const std::string csPrefix = "<html><body>";
    CDomPage page(csPrefix + c.csTag + "</body></html>");
    CDOMSource dom(page.m_pointers);
    CDOMAttribute attribute = dom.getBody().getStartTagsByTagName("").at(0).getAttribute(c.pszAttribute);
    ASSERT_FALSE(attribute.isUndefined());
    CBufferInstructionList list;
    if (c.pszExceptionDetail) {
        const int64_t nBegin = static_cast<int64_t>(attribute.getParserAttribute()->getBegin());
        EXPECT_EQ(page.m_csText.substr(nBegin, std::strlen(c.pszAttribute)), c.pszAttribute);
        ExpectThrows<CDOMParserIllegalArgumentException>(
            [&] { attribute.insertValueData(c.nOffset, "P", &list); },
            std::string("Illegal argument.[") + c.pszExceptionDetail + "]", nBegin);
        EXPECT_EQ(list.Count(), 0u);
        return;
    }
    EXPECT_EQ(attribute.insertValueData(c.nOffset, "P", &list), ERROR_SUCCESS);
    EXPECT_EQ(page.Apply(list), csPrefix + c.csExpectedTag + "</body></html>");
}

INSTANTIATE_TEST_SUITE_P(
    Edits, DomInsertValueTest,
    ::testing::Values(CInsertCase{"offset 0", "<a href='ab'>", "href", 0, "<a href='Pab'>", nullptr},
                      CInsertCase{"offset at the value end: before the quote", "<a href='ab'>", "href", 2,
                                  "<a href='abP'>", nullptr},
                      CInsertCase{"offset past the value", "<a href='ab'>", "href", 3, "",
                                  "CDOMAttribute::insertValueData() : invalid nOffset value"},
                      CInsertCase{"negative offset reads as huge", "<a href='ab'>", "href",
                                  static_cast<uint64_t>(-1), "",
                                  "CDOMAttribute::insertValueData() : invalid nOffset value"},
                      CInsertCase{"unquoted", "<a href=ab>", "href", 1, "<a href=aPb>", nullptr},
                      CInsertCase{"empty value", "<a href=\"\">", "href", 0, "<a href=\"P\">", nullptr},
                      CInsertCase{"valueless rewritten", "<a href>", "href", 0, "<a href=\"P\" >", nullptr},
                      CInsertCase{"valueless keeps the name as written", "<a x HREF y>", "href", 0,
                                  "<a x HREF=\"P\"  y>", nullptr},
                      CInsertCase{"valueless before />", "<input disabled/>", "disabled", 0,
                                  "<input disabled=\"P\" />", nullptr},
                      CInsertCase{"valueless with an offset", "<a href>", "href", 1, "",
                                  "CDOMAttribute::insertValueData() : ValueSegment is 0 and nOffset > 0 "}),
    [](const ::testing::TestParamInfo<CInsertCase>& info) { return std::to_string(info.index); });

TEST(DomInsertValue, SeveralInsertsIntoOneValueKeepTheirOrder) {
    CDomPage page("<body><script src=\"/owa/x.js\"></script></body>");
    CDOMSource dom(page.m_pointers);
    CDOMAttribute src = dom.getBody().getStartTagsByTagName("script").at(0).getAttribute("src");
    CBufferInstructionList list;
    ASSERT_EQ(src.insertValueData(5, "A/", &list), ERROR_SUCCESS);
    ASSERT_EQ(src.insertValueData(0, "http://h", &list), ERROR_SUCCESS);
    // Two at one position reach the host newest first.
    ASSERT_EQ(src.insertValueData(5, "B/", &list), ERROR_SUCCESS);
    EXPECT_EQ(page.Apply(list), "<body><script src=\"http://h/owa/B/A/x.js\"></script></body>");
}

TEST(DomInsertValue, MissingArgumentsAddNothing) {
    CLogCapture log;
    CDomPage page("<body><a href>x</a><a href='v'>y</a></body>");
    CDOMSource dom(page.m_pointers);
    CDOMStartTagVector anchors = dom.getBody().getStartTagsByTagName("a");
    CDOMAttribute valueless = anchors.at(0).getAttribute("href");
    CDOMAttribute valued = anchors.at(1).getAttribute("href");
    CBufferInstructionList list;
    // Without a text the valueless rewrite must not delete the name.
    EXPECT_EQ(valueless.insertValueData(0, nullptr, &list), ERROR_INVALID_DATA);
    EXPECT_EQ(valued.insertValueData(0, nullptr, &list), ERROR_INVALID_DATA);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(valueless.insertValueData(0, "x", nullptr), ERROR_INVALID_DATA);
    EXPECT_EQ(valued.insertValueData(1, "x", nullptr), ERROR_INVALID_DATA);
    EXPECT_TRUE(log.contains("[InsertHtmlStringAtPosition] invalid data."));
    EXPECT_TRUE(log.contains("[DeleteHtmlStringAtPosition] invalid data. "));
}

TEST(DomAppendContent, MissingArgumentsAndInstructionAddress) {
    CLogCapture log;
    CDomPage page("<html><head></head></html>");
    CDOMSource dom(page.m_pointers);
    CDOMElement head = dom.getHead();
    CBufferInstructionList list;
    EXPECT_EQ(head.appendContentData(nullptr, &list), ERROR_INVALID_DATA);
    EXPECT_EQ(head.appendContentData("x", nullptr), ERROR_INVALID_DATA);
    EXPECT_EQ(log.count("[InsertHtmlStringAtPosition] invalid data."), 2u);
    ASSERT_EQ(head.appendContentData("x", &list), ERROR_SUCCESS);
    ASSERT_EQ(list.Count(), 1u);
    // Addresses are the data's own: data begin plus the offset of </head>.
    const CBufferInstruction& instruction = *list.Instructions().front();
    EXPECT_EQ(instruction.m_qwPosition, page.Base() + page.m_csText.find("</head>"));
    EXPECT_EQ(instruction.m_nType, BUFFER_INSTRUCTION_INSERT);
    EXPECT_STREQ(instruction.GetData(), "x");
}

// ---------------------------------------------------------------------------------------------------------------
// Sharing

TEST(DomSharing, FacadeObjectsKeepTheSourceAlive) {
    CDomPage page(FULL_PAGE);
    CDOMAttribute src;
    CDOMElement body;
    CDOMStartTagVector scripts;
    {
        CDOMSource dom(page.m_pointers);
        body = dom.getBody();
        scripts = dom.getHead().getStartTagsByTagName("script");
        src = scripts.at(0).getAttribute("src");
        EXPECT_EQ(dom.getParserSource(), body.getParserElement()->getSource());
    }
    // The source and its parser objects outlive the CDOMSource.
    EXPECT_EQ(src.getValue(), "/a.js");
    EXPECT_EQ(scripts.size(), 1u);
    CBufferInstructionList list;
    ASSERT_EQ(body.appendContentData("@", &list), ERROR_SUCCESS);
    ASSERT_EQ(src.insertValueData(1, "p/", &list), ERROR_SUCCESS);
    std::string csExpected = FULL_PAGE;
    csExpected.insert(csExpected.find("</body>"), "@");
    csExpected.insert(csExpected.find("/a.js") + 1, "p/");
    EXPECT_EQ(page.Apply(list), csExpected);
}

TEST(DomSharing, CopiesOfTheSourceShareTheParsedPage) {
    CDomPage page(FULL_PAGE);
    CDOMSource dom(page.m_pointers);
    CDOMSource copy = dom;
    EXPECT_EQ(copy.getParserSource(), dom.getParserSource());
    // Each copy initializes its own elements lazily, over the one parsed page.
    CDOMElement head = dom.getHead();
    CDOMElement copyHead = copy.getHead();
    EXPECT_EQ(copyHead.getParserElement()->getSource(), head.getParserElement()->getSource());
    EXPECT_EQ(copyHead.getBeginPos(), head.getBeginPos());
    EXPECT_EQ(copyHead.getParserElement()->getContentEnd(), head.getParserElement()->getContentEnd());
}
