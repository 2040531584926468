#include "platform/CPlatform.h"
#include "screening/CBrowser.h"
#include "tests/TableFile.h"
#include "text/CCachedScriptDecorator.h"
#include "text/CSWFormException.h"
#include "text/CSWFormScriptPath.h"
#include "text/CWildCharParser.h"

#include <gtest/gtest.h>

namespace {

using tabletest::Bytes;
using tabletest::ReadTable;
using tabletest::TRow;

std::string Predicates(const std::string& csAgent) {
    std::string cs;
    for (auto [pfn, pszName] : {std::pair{&IsMacPlatform, "mac"},
                                {&IsIE6OrLaterOnWindows, "ie6win"},
                                {&IsIE4OrLaterOnMac, "ie4mac"},
                                {&IsOwaAuthOnWindows, "owaauth"}})
        if (pfn(csAgent))
            cs += (cs.empty() ? "" : ",") + std::string(pszName);
    return cs.empty() ? "-" : cs;
}

std::string GeckoFields(const CBrowser& browser) {
    const auto* pGecko = dynamic_cast<const CBrowserGecko*>(&browser);
    if (!pGecko)
        return "-";
    return ToPlain(pGecko->GetSecurity() + "," + pGecko->GetOsCpu() + "," + pGecko->GetLocale() + "," +
                   pGecko->GetRevision());
}

class UserAgentCorpus : public ::testing::TestWithParam<TRow> {};

TEST_P(UserAgentCorpus, IdentifiesTheBrowser) {
    const TRow& row = GetParam();
    const std::string csAgent = Bytes(row.at(1));
    CBrowserPtr spBrowser;
    const int nFound = CBrowser::CreateBrowser(csAgent, spBrowser);
    ASSERT_EQ(nFound, row.at(2) == "none" ? 0 : 1) << csAgent;
    if (nFound) {
        ASSERT_TRUE(spBrowser);
        EXPECT_EQ(ToPlain(spBrowser->GetBrowserName()), row.at(2));
        EXPECT_EQ(ToPlain(spBrowser->GetBrowserVersion()), row.at(3));
        EXPECT_EQ(spBrowser->GetPlatform().empty() ? "-" : ToPlain(spBrowser->GetPlatform()), row.at(4));
        EXPECT_EQ(GeckoFields(*spBrowser), row.at(6));
        EXPECT_TRUE(spBrowser->GetMozillaVersion().empty());
        EXPECT_EQ(ToPlain(spBrowser->GetUserAgent()->GetUserAgent()), csAgent);
    } else {
        EXPECT_FALSE(spBrowser);
    }
    EXPECT_EQ(Predicates(csAgent), row.at(5));
}

INSTANTIATE_TEST_SUITE_P(Corpus, UserAgentCorpus, ::testing::ValuesIn(ReadTable("screening/user-agents.txt")),
                         tabletest::RowName);

class CRecordingDebug : public IDebugOutput {
public:
    CRecordingDebug() { CPlatform::SetDebug(this); }
    ~CRecordingDebug() override { CPlatform::SetDebug(nullptr); }
    void Write(const char* pszText) override {
        m_csNotes += (m_csNotes.empty() ? "" : ", ") + std::string(pszText);
    }
    std::string m_csNotes;
};

TEST(UserAgentParse, SplitsTokensAndWritesItsNotes) {
    for (const TRow& row : ReadTable("screening/user-agent-parse.txt")) {
        const std::string csAgent = Bytes(row.at(0));
        SCOPED_TRACE(row[0]);
        CRecordingDebug debug;
        CUserAgent agent(ToCaseless(csAgent));
        EXPECT_EQ(debug.m_csNotes.empty() ? "-" : debug.m_csNotes, row.at(7));
        EXPECT_EQ(agent.IsParsed(), row.at(1) == "1");
        EXPECT_EQ(ToPlain(agent.GetProductToken()), row.at(2));
        EXPECT_EQ(ToPlain(agent.GetComment()), row.at(3));
        EXPECT_EQ(ToPlain(agent.GetVendorProductToken()), row.at(4));
        EXPECT_EQ(ToPlain(agent.GetProductName()), row.at(5));
        EXPECT_EQ(ToPlain(agent.GetProductVersion()), row.at(6));
    }
}

// Inputs that would carry a reader past the end of a text or a token list: every one is identified or refused
// within its bounds (AddressSanitizer watches the reads).
TEST(UserAgentParse, LargeAndCutOffInputsStayInBounds) {
    std::string csManyTokens = "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8) Gecko/1";
    for (int n = 0; n < 5000; ++n)
        csManyTokens += " Product" + std::to_string(n) + "/" + std::to_string(n);
    const std::string aInputs[] = {
        "Mozilla/5.0 (" + std::string(100000, '('),
        "Mozilla/4.0 (" + std::string(100000, '(') + std::string(100000, ')') + ")",
        csManyTokens,
        csManyTokens + " Firefox/3.0",
        "Mozilla/4.0 (" + std::string(20000, ';') + " MSIE ",
    };
    const std::string aExpected[] = {"none", "none", "Mozilla/1.8", "Firefox/3.0", "none"};
    for (size_t n = 0; n < std::size(aInputs); ++n) {
        CBrowserPtr spBrowser;
        const bool bFound = CBrowser::CreateBrowser(aInputs[n], spBrowser) != 0;
        EXPECT_EQ(bFound ? ToPlain(spBrowser->GetBrowserName() + "/" + spBrowser->GetBrowserVersion())
                         : "none",
                  aExpected[n])
            << n;
    }
    for (const char* psz : {"MSIE ", "x Windows MSIE ", "MAC MSIE "})
        EXPECT_FALSE(IsIE6OrLaterOnWindows(psz) || IsIE4OrLaterOnMac(psz)) << psz;
    EXPECT_EQ(ToPlain(GetTextBetween("Safari/", "/", " ", 7)), "");
    EXPECT_EQ(ToPlain(GetTextBetween("Safari/412", "/", " ", 0)), "412");
}

// Each recognizer refuses on its own a missing, unparsed or non-Mozilla agent, whoever calls it.
TEST(UserAgentParse, RecognizersRefuseUnusableAgents) {
    for (auto pfnCreate :
         {&CBrowserMsie::Create, &CBrowserNetscape::Create, &CBrowserSafari::Create, &CBrowserGecko::Create})
        for (const char* pszAgent :
             {"", "Mozilla/4.0 (", "Opera/5.0 (compatible; MSIE 6.0; X) Netscape/1 Gecko/1 Safari/1"}) {
            CBrowserPtr spBrowser;
            EXPECT_EQ(pfnCreate(*pszAgent ? std::make_shared<CUserAgent>(pszAgent) : nullptr, spBrowser), 0)
                << pszAgent;
            EXPECT_FALSE(spBrowser);
        }
}

std::string Tokens(const std::string& csPattern) {
    CWildCharParser parser(ToCaseless(csPattern));
    std::string cs;
    CaselessString csToken;
    EWildCharToken eKind;
    do {
        eKind = parser.NextToken(csToken);
        cs += (cs.empty() ? "" : " ") + std::to_string(eKind) + ":" + ToPlain(csToken);
    } while (eKind != WILDCHAR_TOKEN_END);
    return cs;
}

TEST(Wildcard, MatchListsAndTokens) {
    for (const TRow& row : ReadTable("screening/wildcard.txt")) {
        SCOPED_TRACE(row.at(0) + " [" + row.at(1) + "] [" + row.at(2) + "]");
        if (row[0] == "tokens")
            EXPECT_EQ(Tokens(row[1]), row.at(3));
        else if (row[0] == "list")
            EXPECT_EQ(MatchWildcardList(row[2], row[1]), std::stoi(row.at(3)));
        else
            EXPECT_EQ(CWildCharParser(ToCaseless(row[1])).Match(ToCaseless(row[2])), row.at(3) == "1");
    }
}

std::string RunScriptPathOperation(const TRow& row) {
    const auto spDecorator = CCachedScriptDecorator::Create(row.at(0));
    const std::string& csOperation = row.at(1);
    const std::string& csArgument = row.at(2);
    if (csOperation == "exists")
        return spDecorator ? "1" : "0";
    CSWFormScriptPath path("Wendrake", "1.2");
    if (csOperation == "path")
        return path.GetScriptPath(csArgument);
    if (csOperation == "scriptpath")
        return path.GetScriptPath(csArgument, spDecorator.get());
    if (!spDecorator)
        return "no decorator";
    if (csOperation == "short")
        return spDecorator->GetShortPrefix();
    if (csOperation == "remainder")
        return spDecorator->GetPrefixRemainder();
    if (csOperation == "full")
        return spDecorator->GetFullPrefix();
    if (csOperation == "decorate")
        return spDecorator->DecoratePath(csArgument);
    if (csOperation == "undecorate")
        return spDecorator->UndecoratePath(csArgument);
    return spDecorator->IsDecoratedPath(csArgument) ? "1" : "0";
}

TEST(ScriptPath, PathsAndDecorator) {
    for (const TRow& row : ReadTable("screening/script-paths.txt"))
        EXPECT_EQ(RunScriptPathOperation(row), row.size() > 3 ? row[3] : "") << row.at(0) << " " << row.at(1);
}

TEST(ScriptPath, EmptyPartsAreRefusedInOrder) {
    const struct {
        const char *pszBase, *pszProduct, *pszVersion, *pszMessage;
    } aCases[] = {
        {"", "", "", "Initialize CSWFormScriptPath failed: empty base folder"},
        {"B", "", "", "Initialize CSWFormScriptPath failed: empty product name"},
        {"B", "P", "", "Initialize CSWFormScriptPath failed: empty version info"},
    };
    CSWFormScriptPath path("Wendrake", "1.2");
    for (const auto& c : aCases) {
        try {
            path.Initialize(c.pszBase, c.pszProduct, c.pszVersion);
            ADD_FAILURE() << "no exception for " << c.pszMessage;
        } catch (const CSWFormException& e) {
            EXPECT_STREQ(e.what(), c.pszMessage);
        }
    }
    // A refused initialization leaves the earlier parts in place.
    EXPECT_EQ(path.GetScriptPath("f.js"), "BKScripts/Wendrake/1.2/f.js");
    EXPECT_THROW(CSWFormScriptPath("", "1.2"), CSWFormException);
    path.Initialize("Other", "P", "2");
    EXPECT_EQ(path.GetScriptPath("f.js"), "Other/P/2/f.js");
}

} // namespace
