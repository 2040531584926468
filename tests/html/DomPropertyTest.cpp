// Generated pages with facade edits: the generator knows where every element's content ends and where every
// script address lies, so the edited page the host would produce can be computed without the parser and
// compared with what the facade's instructions give. Also: host addresses that are wrong in every way.
#include "HtmlTestSupport.h"

#include "fuzz/html/DomFuzzHarness.h"
#include "html/CDOMSource.h"

#include <algorithm>
#include <random>
#include <tuple>

using htmltest::CDomPage;

namespace {

struct CGenScript {
    bool bHasSrc = false;
    bool bHasValue = false;
    std::string csValue;
    size_t nAttributeBegin = 0; // where the src attribute's name begins
    std::string csNameAsWritten;
    size_t nValueBegin = 0;
};

struct CGenPage {
    std::string csText;
    size_t nHtmlDataBegin = 0;
    bool bHtml = false, bHead = false, bBody = false;
    size_t nHtmlContentEnd = 0, nHeadContentEnd = 0, nBodyContentEnd = 0;
    std::vector<CGenScript> vScripts; // in the head, in order
};

// The pieces of a kind ("filler" of the head, "body") that generated pages are made of.
std::vector<htmltest::CRow> Rows(const char* pszKind) {
    std::vector<htmltest::CRow> v;
    for (const htmltest::CRow& r : htmltest::ReadTable("generated-pieces.txt"))
        if (r[0] == pszKind)
            v.push_back(r);
    return v;
}
std::vector<std::string> Pieces(const char* pszKind) {
    std::vector<std::string> v;
    for (const htmltest::CRow& r : Rows(pszKind))
        v.push_back(r[1]);
    return v;
}

class CGenerator {
public:
    explicit CGenerator(uint32_t nSeed) : m_rng(nSeed) {}

    CGenPage Generate() {
        CGenPage page;
        std::string& s = page.csText;
        static const std::vector<std::string> s_vPreambles = Pieces("preamble");
        s += Pick(s_vPreambles);
        page.nHtmlDataBegin = s.size();
        page.bHtml = Chance(85);
        if (page.bHtml)
            s += Chance(50) ? "<html>" : "<HTML dir=\"ltr\">";
        s += Chance(50) ? "\n" : "";
        page.bHead = Chance(85);
        bool bHeadEnd = false;
        if (page.bHead) {
            s += Chance(50) ? "<head>" : "<HEAD>";
            AddHeadContent(page);
            bHeadEnd = Chance(80);
            if (bHeadEnd) {
                page.nHeadContentEnd = s.size();
                s += Chance(50) ? "</head>" : "</HEAD>";
            }
        }
        page.bBody = (page.bHead && !bHeadEnd) || Chance(90);
        if (page.bBody) {
            if (page.bHead && !bHeadEnd)
                page.nHeadContentEnd = s.size(); // a head without end tag ends at <body>
            s += Chance(50) ? "<body>" : "<BODY class=\"rtl\" onload='ld()'>";
            AddBodyContent(s);
        }
        const bool bBodyEnd = page.bBody && Chance(70);
        if (bBodyEnd) {
            page.nBodyContentEnd = s.size();
            s += "</body>\n";
        }
        const bool bHtmlEnd = page.bHtml && Chance(70);
        if (bHtmlEnd) {
            page.nHtmlContentEnd = s.size();
            if (page.bBody && !bBodyEnd)
                page.nBodyContentEnd = s.size(); // a body without end tag ends at </html>
            s += Chance(50) ? "</html>" : "</HTML>";
        }
        s += Chance(50) ? "\n" : "";
        if (page.bHtml && !bHtmlEnd)
            page.nHtmlContentEnd = s.size();
        if (page.bBody && !bBodyEnd && !bHtmlEnd)
            page.nBodyContentEnd = s.size();
        return page;
    }

    uint32_t Next(uint32_t nBound) { return std::uniform_int_distribution<uint32_t>(0, nBound - 1)(m_rng); }
    bool Chance(uint32_t nPercent) { return Next(100) < nPercent; }
    const std::string& Pick(const std::vector<std::string>& v) {
        return v[Next(static_cast<uint32_t>(v.size()))];
    }

private:
    void AddHeadContent(CGenPage& page) {
        std::string& s = page.csText;
        static const std::vector<std::string> s_vFillers = Pieces("filler");
        static const std::vector<std::string> s_vValues = Pieces("value");
        static const std::vector<htmltest::CRow> s_vForms = Rows("form");
        for (uint32_t i = 0, nItems = Next(8); i < nItems; ++i) {
            if (Chance(40)) {
                s += Pick(s_vFillers);
                continue;
            }
            const htmltest::CRow& form = s_vForms[Next(static_cast<uint32_t>(s_vForms.size()))];
            const std::string &csName = form[2], &csQuote = form[3];
            CGenScript script;
            s += form[1];
            if (csName != "-") {
                script.bHasSrc = true;
                script.csNameAsWritten = csName;
                script.nAttributeBegin = s.size();
                s += csName;
            }
            if (csName != "-" && csQuote != "-") {
                script.bHasValue = true;
                script.csValue = Pick(s_vValues);
                if (csQuote.empty() && script.csValue.empty())
                    script.csValue = "y.js";
                s += "=" + csQuote;
                script.nValueBegin = s.size();
                s += script.csValue + csQuote;
            }
            s += form[4];
            page.vScripts.push_back(script);
        }
    }

    void AddBodyContent(std::string& s) {
        static const std::vector<std::string> s_vPieces = Pieces("body");
        const uint32_t nItems = Next(12);
        for (uint32_t i = 0; i < nItems; ++i)
            s += Pick(s_vPieces);
    }

    std::mt19937 m_rng;
};

// The model of the host: instructions at one position apply inserts before deletes, inserts newest first.
struct CModelEdit {
    size_t nPos;
    int nType;
    std::string csText;
    size_t nLength;
    size_t nSeq;
};

std::string ApplyModel(const std::string& csPage, std::vector<CModelEdit> vEdits) {
    std::stable_sort(vEdits.begin(), vEdits.end(), [](const CModelEdit& a, const CModelEdit& b) {
        return std::tuple(a.nPos, a.nType, b.nSeq) < std::tuple(b.nPos, b.nType, a.nSeq);
    });
    std::string csOut;
    size_t nCursor = 0;
    for (const CModelEdit& e : vEdits) {
        csOut.append(csPage, nCursor, e.nPos - nCursor);
        nCursor = e.nPos;
        if (e.nType == BUFFER_INSTRUCTION_INSERT)
            csOut += e.csText;
        else
            nCursor += e.nLength;
    }
    csOut.append(csPage, nCursor, std::string::npos);
    return csOut;
}

} // namespace

TEST(DomProperty, RandomPagesWithRandomEditsGiveTheExpectedText) {
    constexpr uint32_t PAGES = 400;
    size_t nEditsChecked = 0, nExceptions = 0;
    for (uint32_t nSeed = 1; nSeed <= PAGES; ++nSeed) {
        SCOPED_TRACE("seed " + std::to_string(nSeed));
        CGenerator gen(nSeed);
        const CGenPage page = gen.Generate();
        const size_t nHtmlBegin = gen.Chance(30) ? page.nHtmlDataBegin : 0;
        CDomPage host(page.csText);
        if (nHtmlBegin > 0)
            host.m_pointers.m_pHtmlDataBegin = host.AddressAt(static_cast<int64_t>(nHtmlBegin));
        if (gen.Chance(50))
            host.Locate(nHtmlBegin);
        CDOMSource dom(host.m_pointers);
        ASSERT_FALSE(dom.isUndefined());

        const bool bBodyFirst = gen.Chance(50);
        CDOMElement body, head;
        if (bBodyFirst)
            body = dom.getBody();
        head = dom.getHead();
        if (!bBodyFirst)
            body = dom.getBody();
        CDOMElement html = dom.getHtml();
        ASSERT_EQ(html.isUndefined(), !page.bHtml);
        ASSERT_EQ(head.isUndefined(), !page.bHead) << page.csText;
        ASSERT_EQ(body.isUndefined(), !page.bBody) << page.csText;

        // Where each script's address lies is checked by the edits below, made through these tags.
        if (page.bHead) {
            ASSERT_EQ(head.getStartTagsByTagName("SCRIPT").size(), page.vScripts.size()) << page.csText;
        }

        // Random edits, recorded both through the facade and in the model.
        CBufferInstructionList list;
        std::vector<CModelEdit> vModel;
        std::vector<bool> vRewritten(page.vScripts.size(), false);
        const uint32_t nEdits = 1 + gen.Next(6);
        for (uint32_t nEdit = 0; nEdit < nEdits; ++nEdit) {
            const std::string csText = "[" + std::to_string(nEdit) + "]";
            const uint32_t nKind = gen.Next(4);
            const std::tuple<CDOMElement*, size_t, bool> rgElements[] = {
                {&head, page.nHeadContentEnd, page.bHead},
                {&body, page.nBodyContentEnd, page.bBody},
                {&html, page.nHtmlContentEnd, page.bHtml}};
            if (nKind < 3 && std::get<2>(rgElements[nKind])) {
                ASSERT_EQ(std::get<0>(rgElements[nKind])->appendContentData(csText.c_str(), &list),
                          ERROR_SUCCESS);
                vModel.push_back(
                    {std::get<1>(rgElements[nKind]), BUFFER_INSTRUCTION_INSERT, csText, 0, vModel.size()});
            } else if (nKind == 3 && !page.vScripts.empty()) {
                const size_t nScript = gen.Next(static_cast<uint32_t>(page.vScripts.size()));
                const CGenScript& script = page.vScripts[nScript];
                if (!script.bHasSrc || vRewritten[nScript])
                    continue;
                CDOMAttribute src = head.getStartTagsByTagName("script").at(nScript).getAttribute("SRC");
                const uint64_t nOffset = gen.Next(static_cast<uint32_t>(script.csValue.size()) + 3);
                const bool bValid = script.bHasValue ? nOffset <= script.csValue.size() : nOffset == 0;
                if (!bValid) {
                    EXPECT_THROW(src.insertValueData(nOffset, csText.c_str(), &list),
                                 CDOMParserIllegalArgumentException);
                    ++nExceptions;
                    continue;
                }
                ASSERT_EQ(src.insertValueData(nOffset, csText.c_str(), &list), ERROR_SUCCESS);
                if (script.bHasValue) {
                    vModel.push_back({script.nValueBegin + static_cast<size_t>(nOffset),
                                      BUFFER_INSTRUCTION_INSERT, csText, 0, vModel.size()});
                } else {
                    vRewritten[nScript] = true;
                    vModel.push_back({script.nAttributeBegin, BUFFER_INSTRUCTION_DELETE, "",
                                      script.csNameAsWritten.size(), vModel.size()});
                    vModel.push_back({script.nAttributeBegin, BUFFER_INSTRUCTION_INSERT,
                                      script.csNameAsWritten + "=\"" + csText + "\" ", 0, vModel.size()});
                }
            }
        }
        EXPECT_EQ(host.Apply(list), ApplyModel(page.csText, vModel)) << page.csText;
        nEditsChecked += vModel.size();
    }
    // The generator must reach the interesting cases, or the property says little.
    EXPECT_GT(nEditsChecked, PAGES);
    EXPECT_GT(nExceptions, 10u);
}

TEST(DomProperty, GeneratedPagesWithAnyHostAddressesPassTheHarness) {
    // Random header bytes: host addresses right, wrong, below the data or past its end, or located as the
    // host does, and any order of the element getters.
    CGenerator gen(4242);
    for (int nRound = 0; nRound < 300; ++nRound) {
        std::string csInput;
        for (size_t i = 0; i < domfuzz::HEADER_SIZE; ++i)
            csInput += static_cast<char>(gen.Next(256));
        csInput += gen.Generate().csText;
        EXPECT_TRUE(domfuzz::RunInput(reinterpret_cast<const uint8_t*>(csInput.data()), csInput.size()))
            << "round " << nRound;
    }
}
