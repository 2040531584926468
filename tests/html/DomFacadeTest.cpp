// The document facade, operation by operation: what each returns, what it throws, and where its edits land
// once the host applies them.
#include "HtmlTestSupport.h"

#include "html/CDOMSource.h"

#include <cctype>
#include <cstdint>
#include <functional>

using namespace htmltest;

namespace {

// The text with csInsert put before the first occurrence of pszBefore (null: at the end).
std::string Inserted(std::string csText, const char* pszBefore, const std::string& csInsert) {
    const size_t nAt = pszBefore ? csText.find(pszBefore) : csText.size();
    EXPECT_NE(nAt, std::string::npos) << pszBefore;
    return nAt == std::string::npos ? csText : csText.insert(nAt, csInsert);
}

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

const std::string FULL_PAGE =
    "<!DOCTYPE html>\n<html lang=en><head><title>t</title>"
    "<script src=\"/a.js\"></script></head>\n"
    "<body onload=\"x()\"><div><script src='/b.js'></script></div></body>\n</html>\n";

CDOMElement Get(CDOMSource& dom, const std::string& csWhich) {
    return csWhich == "html" ? dom.getHtml() : csWhich == "head" ? dom.getHead() : dom.getBody();
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------
// Construction and undefined objects

TEST(DomSourceConstruction, MissingOrInvertedDataLeavesTheSourceUndefinedAndLogs) {
    const std::pair<const char*, std::function<void(CDomPage&)>> rgCases[] = {
        {"no data begin", [](CDomPage& p) { p.m_pointers.m_pDataBegin = nullptr; }},
        {"no data last", [](CDomPage& p) { p.m_pointers.m_pDataLast = nullptr; }},
        {"last two below begin", [](CDomPage& p) { p.m_pointers.m_pDataLast = p.AddressAt(-2); }},
        {"html begin past the end", [](CDomPage& p) { p.m_pointers.m_pHtmlDataBegin = p.AddressAt(50); }},
    };
    for (const auto& [pszName, fnBreak] : rgCases) {
        SCOPED_TRACE(pszName);
        CLogCapture log;
        CDomPage page("0123456789");
        fnBreak(page);
        EXPECT_TRUE(CDOMSource(page.m_pointers).isUndefined());
        EXPECT_TRUE(log.Contains("[CDOMSource::CDOMSource] CSource::CREATE_NEW_INST() failed."));
    }
}

TEST(DomSourceConstruction, EveryOperationOfAnUndefinedObjectThrowsItsDetail) {
    CDOMSource dom;
    CDOMElement element;
    CDOMStartTag tag;
    CDOMAttribute attribute;
    CBufferInstructionList list;
    const std::pair<std::function<void()>, const char*> rgCases[] = {
        {[&] { dom.getHtml(); }, "CDOMSource::getHtml() : m_spSource is 0"},
        {[&] { dom.getHead(); }, "CDOMSource::getHead() : m_spSource is 0"},
        {[&] { dom.getBody(); }, "CDOMSource::getBody() : m_spSource is 0"},
        {[&] { dom.getBeginPos(); }, "CDOMSource::getBeginPos() : m_spSource is 0"},
        {[&] { dom.scanForString("x", 0); }, "CDOMSource::scanForString() : m_spSource is 0"},
        {[&] { dom.substringData(0, 1); }, "CDOMSource::substringData() : m_spSource is 0"},
        {[&] { element.getBeginPos(); }, "CDOMElement::getBeginPos() : m_pElement is 0"},
        {[&] { element.appendContentData("x", &list); },
         "CDOMElement::appendContentData() : m_pElement is 0"},
        {[&] { element.getStartTagsByTagName("a"); },
         "CDOMElement::getStartTagsByTagName() : m_pElement is 0"},
        {[&] { tag.getAttribute("x"); }, "CDOMStartTag::getAttribute() : m_pStartTag is 0"},
        {[&] { attribute.hasValue(); }, "CDOMAttribute::hasValue() : m_pAttribute is 0"},
        {[&] { attribute.getValue(); }, "CDOMAttribute::getValue() : m_pAttribute is 0"},
        {[&] { attribute.getValueBeginPos(); }, "CDOMAttribute::getValueBeginPos() : m_pAttribute is 0"},
        {[&] { attribute.getValueEndPos(); }, "CDOMAttribute::getValueEndPos() : m_pAttribute is 0"},
        {[&] { attribute.insertValueData(0, "x", &list); },
         "CDOMAttribute::insertValueData() : m_pAttribute is 0"},
    };
    for (const auto& [fn, pszDetail] : rgCases) {
        SCOPED_TRACE(pszDetail);
        ExpectThrows<CDOMParserUndefinedObjectException>(
            fn, "Undefined DOM object.[" + std::string(pszDetail) + "]", -1);
    }
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_THROW(dom.getHtml(), CDOMParserException); // the base class catches them too, as the forms do
}

TEST(DomSourceConstruction, EmptyPageIsDefinedWithoutElements) {
    CDomPage page("");
    CDOMSource dom(page.m_pointers);
    ASSERT_FALSE(dom.isUndefined());
    EXPECT_TRUE(dom.getHtml().isUndefined() && dom.getHead().isUndefined() && dom.getBody().isUndefined());
    EXPECT_EQ(dom.scanForString("<", 0), INVALID_POS);
    EXPECT_EQ(dom.substringData(0, 5), "");
}

TEST(DomSourceConstruction, HtmlDataBeginSetsTheSourceBeginAndHidesWhatLiesBefore) {
    // The response starts with bytes that are not HTML (as after a byte-order mark or a preamble).
    CDomPage page("<head>junk</head><html><head></head><body></body></html>");
    const TPos nHtml = page.m_csText.find("<html>");
    const std::tuple<const char*, const char*, TPos> rgCases[] = {
        {"none: the data begin", nullptr, 0},
        {"at <html>", page.AddressAt(static_cast<int64_t>(nHtml)), nHtml},
        {"below the data begin: ignored", page.AddressAt(-3), 0},
    };
    for (const auto& [pszName, pHtmlBegin, nExpectedBegin] : rgCases) {
        SCOPED_TRACE(pszName);
        CCommonPointers pointers = page.m_pointers;
        pointers.m_pHtmlDataBegin = pHtmlBegin;
        CDOMSource dom(pointers);
        ASSERT_FALSE(dom.isUndefined());
        EXPECT_EQ(dom.getBeginPos(), nExpectedBegin);
        EXPECT_EQ(dom.getHead().getBeginPos(), nExpectedBegin == 0 ? 0 : nExpectedBegin + 6);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Elements: where each one's content ends, found lazily or from the host's addresses

// Row: page, element, the text the append lands before ("-": the end), 1 when defined, where the append lands
// instead when the host's addresses say otherwise ("-": nowhere else).
class DomElementTest : public ::testing::TestWithParam<std::tuple<CRow, bool>> {};

TEST_P(DomElementTest, AppendLandsAtTheContentEnd) {
    const auto& [r, bLocate] = GetParam();
    CDomPage page(r[1]);
    if (bLocate)
        page.Locate(0, false);
    CDOMSource dom(page.m_pointers);
    ASSERT_FALSE(dom.isUndefined());
    CDOMElement element = Get(dom, r[2]);
    const bool bHostSays = bLocate && r[5] != "-";
    ASSERT_EQ(element.isUndefined(), r[4] == "0" && !bHostSays);
    if (element.isUndefined())
        return;
    CBufferInstructionList list;
    EXPECT_EQ(element.appendContentData("@@", &list), ERROR_SUCCESS);
    const std::string& csBefore = bHostSays ? r[5] : r[3];
    EXPECT_EQ(page.Apply(list), Inserted(r[1], csBefore == "-" ? nullptr : csBefore.c_str(), "@@"));
    // The begin is the '<' of the start tag.
    EXPECT_TRUE(EqualsCaseless(page.m_csText.substr(element.getBeginPos(), r[2].size() + 1), "<" + r[2]));
}

INSTANTIATE_TEST_SUITE_P(Pages, DomElementTest,
                         ::testing::Combine(::testing::ValuesIn(ReadTable("dom-elements.txt")),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return tabletest::NameOf(std::get<0>(info.param)[0]) +
                                    (std::get<1>(info.param) ? "_HostLocated" : "_Lazy");
                         });

TEST(DomElementOrder, HeadEndDependsOnWhetherTheBodyWasLookedAtFirst) {
    // A </head> inside a script before the real one: with the body known, the last </head> before it counts.
    const std::string csPage = "<html><head><script>var s='</head>';</script></head><body></body></html>";
    for (bool bBodyFirst : {false, true}) {
        SCOPED_TRACE(bBodyFirst ? "body first: the last </head> before <body>"
                                : "head first: the first </head>");
        CDomPage page(csPage);
        CDOMSource dom(page.m_pointers);
        if (bBodyFirst) {
            ASSERT_FALSE(dom.getBody().isUndefined());
        }
        CBufferInstructionList list;
        ASSERT_EQ(dom.getHead().appendContentData("@", &list), ERROR_SUCCESS);
        std::string csExpected = csPage;
        EXPECT_EQ(page.Apply(list),
                  csExpected.insert(bBodyFirst ? csPage.rfind("</head>") : csPage.find("</head>"), "@"));
    }
    // A body at the very begin: no </head> can lie before it, so the head's own element counts.
    CDomPage early("<body><head>x</head></body>");
    CDOMSource dom(early.m_pointers);
    ASSERT_FALSE(dom.getBody().isUndefined());
    CBufferInstructionList list;
    ASSERT_EQ(dom.getHead().appendContentData("@", &list), ERROR_SUCCESS);
    EXPECT_EQ(early.Apply(list), "<body><head>x@</head></body>");
}

TEST(DomHostAddresses, WrongAddressesFallBackOrLeaveTheElementUndefined) {
    const auto address = [](const CDomPage& page, const std::string& csSpec) -> const char* {
        if (csSpec == "-")
            return nullptr;
        if (csSpec[0] == '-' || std::isdigit(static_cast<unsigned char>(csSpec[0])))
            return page.AddressAt(std::stoll(csSpec));
        const size_t nShift = csSpec.find_first_of("+-", 1);
        const std::string csBase = csSpec.substr(0, nShift);
        return page.AddressAt(
            (nShift == std::string::npos ? 0 : std::stoll(csSpec.substr(nShift))) +
            static_cast<int64_t>(csBase == "end" ? page.m_csText.size() : page.m_csText.find(csBase)));
    };
    for (const CRow& r : ReadTable("dom-host-addresses.txt")) {
        SCOPED_TRACE(r[0]);
        CLogCapture log;
        CDomPage page(FULL_PAGE);
        CCommonPointers& p = page.m_pointers;
        (r[1] == "head" ? p.m_pHeadStartTag : p.m_pBodyStartTag) = address(page, r[2]);
        (r[1] == "head" ? p.m_pHeadEndTag : p.m_pBodyEndTag) = address(page, r[3]);
        CDOMSource dom(page.m_pointers);
        ASSERT_FALSE(dom.isUndefined());
        CDOMElement element = r[1] == "head" ? dom.getHead() : dom.getBody();
        ASSERT_EQ(element.isUndefined(), r[4] == "-");
        if (element.isUndefined()) {
            EXPECT_TRUE(log.Contains("BODY element initialization: CElement::CREATE_NEW_INST() failed"));
            continue;
        }
        CBufferInstructionList list;
        ASSERT_EQ(element.appendContentData("@", &list), ERROR_SUCCESS);
        EXPECT_EQ(page.Apply(list), Inserted(FULL_PAGE, r[4].c_str(), "@"));
    }
}

// ---------------------------------------------------------------------------------------------------------------
// scanForString and substringData

TEST(DomScanForString, RangesAndMisses) {
    CDomPage page("xx<!-- OwaPage = premium -->abc OWAPAGE");
    page.m_pointers.m_pHtmlDataBegin = page.AddressAt(2);
    CDOMSource dom(page.m_pointers);
    for (const CRow& r : ReadTable("dom-scans.txt"))
        EXPECT_EQ(dom.scanForString(r[1], r.pos(2), r.pos(3)), r.pos(4)) << r[0];
}

TEST(DomSubstringData, NeverPastTheEndAndEmptyOutside) {
    CLogCapture log;
    CDomPage page("..<b>bold</b>");
    page.m_pointers.m_pHtmlDataBegin = page.AddressAt(2);
    CDOMSource dom(page.m_pointers);
    const std::tuple<TPos, TPos, const char*> rgCases[] = {
        {2, 3, "<b>"}, {5, 100, "bold</b>"}, {12, 1, ">"},    {5, INVALID_POS, "bold</b>"},
        {5, 0, ""},    {13, 1, nullptr},     {0, 2, nullptr}, {INVALID_POS, 1, nullptr},
    };
    for (const auto& [nPos, nLength, pszExpected] : rgCases) {
        SCOPED_TRACE(nPos);
        log.Clear();
        EXPECT_EQ(dom.substringData(nPos, nLength), pszExpected ? pszExpected : "");
        EXPECT_EQ(log.Contains("[CSource::substring] Invalid nPos"), pszExpected == nullptr); // null: outside
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Start tags by name and attributes

// A server tag hides nothing: the tag written inside it counts.
TEST(DomStartTags, ByNameInsideTheContentOnlyInDocumentOrder) {
    CDomPage page(
        "<html><head><SCRIPT src=1></SCRIPT><!-- <script src=c> --><Script src=2></Script>"
        "<noscript><script src=3></script></noscript></head>"
        "<body><script src=4></script><div><a href=x><ax href=q><% <a href=y> %></div></body></html>");
    CDOMSource dom(page.m_pointers);
    const std::tuple<const char*, const char*, const char*, const char*> rgCases[] = {
        {"head", "script", "SRC", "123"},  {"head", "SCRIPT", "src", "123"}, {"body", "script", "src", "4"},
        {"html", "script", "src", "1234"}, {"head", "link", "href", ""},     {"head", "/script", "src", ""},
        {"body", "A", "href", "xy"},
    };
    for (const auto& [pszWhich, pszName, pszAttribute, pszValues] : rgCases) {
        SCOPED_TRACE(pszName);
        CDOMStartTagVector tags = Get(dom, pszWhich).getStartTagsByTagName(pszName);
        std::string csValues;
        for (size_t i = 0; i < tags.size(); ++i)
            csValues += tags.at(i).getAttribute(pszAttribute).getValue();
        EXPECT_EQ(csValues, pszValues);
        EXPECT_TRUE(tags.at(static_cast<size_t>(-1)).isUndefined());
    }
}

// Row: tag, attribute, 1 when defined, 1 when it has a value, the value, the value's begin inside the tag.
class DomAttributeTest : public ::testing::TestWithParam<CRow> {};

TEST_P(DomAttributeTest, ValueAsWrittenAndItsBounds) {
    const CRow& r = GetParam();
    CDomPage page("<body>" + r[1] + "</body>");
    CDOMSource dom(page.m_pointers);
    CDOMStartTagVector tags = dom.getBody().getStartTagsByTagName("");
    ASSERT_GE(tags.size(), 1u);
    CDOMAttribute attribute = tags.at(0).getAttribute(r[2]);
    ASSERT_EQ(attribute.isUndefined(), r[3] == "0");
    if (attribute.isUndefined())
        return;
    EXPECT_EQ(attribute.hasValue(), r[4] == "1");
    EXPECT_EQ(attribute.getValue(), r[5]);
    const TPos nBegin = r.pos(6) == INVALID_POS ? INVALID_POS : 6 + r.pos(6);
    EXPECT_EQ(attribute.getValueBeginPos(), nBegin);
    EXPECT_EQ(attribute.getValueEndPos(), nBegin == INVALID_POS ? INVALID_POS : nBegin + r[5].size());
}

INSTANTIATE_TEST_SUITE_P(Lookups, DomAttributeTest, ::testing::ValuesIn(ReadTable("dom-attributes.txt")),
                         RowName);

// ---------------------------------------------------------------------------------------------------------------
// Edits: insertValueData and appendContentData

// Row: tag, attribute, offset, the tag after inserting "P" ("-": refused), the refusal's detail.
class DomInsertValueTest : public ::testing::TestWithParam<CRow> {};

TEST_P(DomInsertValueTest, EditOrException) {
    const CRow& r = GetParam();
    const std::string csPrefix = "<html><body>";
    CDomPage page(csPrefix + r[1] + "</body></html>");
    CDOMSource dom(page.m_pointers);
    CDOMAttribute attribute = dom.getBody().getStartTagsByTagName("").at(0).getAttribute(r[2]);
    ASSERT_FALSE(attribute.isUndefined());
    CBufferInstructionList list;
    if (r[5] != "-") {
        const int64_t nBegin = static_cast<int64_t>(attribute.getParserAttribute()->getBegin()); // the code
        ExpectThrows<CDOMParserIllegalArgumentException>(
            [&] { attribute.insertValueData(r.pos(3), "P", &list); }, "Illegal argument.[" + r[5] + "]",
            nBegin);
        EXPECT_EQ(list.Count(), 0u);
        return;
    }
    EXPECT_EQ(attribute.insertValueData(r.pos(3), "P", &list), ERROR_SUCCESS);
    EXPECT_EQ(page.Apply(list), csPrefix + r[4] + "</body></html>");
}

INSTANTIATE_TEST_SUITE_P(Edits, DomInsertValueTest, ::testing::ValuesIn(ReadTable("dom-inserts.txt")),
                         RowName);

TEST(DomEdits, MissingArgumentsAddNothing) {
    CDomPage page("<html><head></head><body><a href>x</a><a href='v'>y</a></body></html>");
    CDOMSource dom(page.m_pointers);
    CDOMElement head = dom.getHead();
    CDOMStartTagVector anchors = dom.getBody().getStartTagsByTagName("a");
    CDOMAttribute valueless = anchors.at(0).getAttribute("href");
    CDOMAttribute valued = anchors.at(1).getAttribute("href");
    CBufferInstructionList list;
    // Without a text the valueless rewrite must not delete the name.
    EXPECT_EQ(valueless.insertValueData(0, nullptr, &list), ERROR_INVALID_DATA);
    EXPECT_EQ(valued.insertValueData(0, nullptr, &list), ERROR_INVALID_DATA);
    EXPECT_EQ(valueless.insertValueData(0, "x", nullptr), ERROR_INVALID_DATA);
    EXPECT_EQ(valued.insertValueData(1, "x", nullptr), ERROR_INVALID_DATA);
    EXPECT_EQ(head.appendContentData(nullptr, &list), ERROR_INVALID_DATA);
    EXPECT_EQ(head.appendContentData("x", nullptr), ERROR_INVALID_DATA);
    EXPECT_EQ(list.Count(), 0u);
}

// ---------------------------------------------------------------------------------------------------------------
// Sharing

TEST(DomSharing, FacadeObjectsAndCopiesShareTheParsedPage) {
    CDomPage page(FULL_PAGE);
    CDOMAttribute src;
    CDOMElement body;
    CDOMStartTagVector scripts;
    {
        CDOMSource dom(page.m_pointers);
        CDOMSource copy = dom;
        EXPECT_EQ(copy.getParserSource(), dom.getParserSource());
        body = dom.getBody();
        scripts = dom.getHead().getStartTagsByTagName("script");
        src = scripts.at(0).getAttribute("src");
    }
    // The source and its parser objects outlive the CDOMSource.
    EXPECT_EQ(src.getValue(), "/a.js");
    CBufferInstructionList list;
    ASSERT_EQ(body.appendContentData("@", &list), ERROR_SUCCESS);
    ASSERT_EQ(src.insertValueData(1, "p/", &list), ERROR_SUCCESS);
    EXPECT_EQ(page.Apply(list), Inserted(Inserted(FULL_PAGE, "</body>", "@"), "a.js", "p/"));
}
