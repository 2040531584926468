// Random pages through whole requests: generated from the pieces the pipeline looks for, the parser's
// malformed pages, and the page fuzzer's corpus. The module either submits instructions that apply cleanly
// inside the page or submits nothing, and never lets an exception out.
#include "fuzz/guard/PageFuzzHarness.h"
#include "tests/guard/GuardTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

// The pieces a guarded page is made of, whole and cut, so that random pages reach deep into the pipeline.
const char* const PIECES[] = {
    "<!-- OwaPage = ASP.forms_premium_startpage_aspx -->",
    "<!-- OwaPage = ASP.forms_basic_basicmessageview_aspx -->",
    "<!-- OwaPage = ASP.forms_premium_startpage_aspx",
    "<!-- OwaSubPage = x -->",
    "<html>",
    "<html lang=\"fr\">",
    "<head>",
    "</head>",
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=shift_jis\">",
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">",
    "<meta charset=\"utf-8\">",
    "<script type=\"text/javascript\" src=\"/owa/8.1.240.5/scripts/premium/uglobal.js\"></script>",
    "<script src=\"uglobal.js\">",
    "<script>var a = \"</head>\";</script>",
    "<link type=\"text/css\" rel=\"stylesheet\" href=\"/owa/8.1.240.5/themes/base/premium.css\">",
    "<link rel=stylesheet href=/owa/8.1.240.5/themes/0/owafont.css>",
    "<link href=\"/owa/8.1.240.5/themes/basic/basic.css\" rel=\"stylesheet\">",
    "<body>",
    "<body class=\"owa\" onload=\"f()\">",
    "</body>",
    "</html>",
    "<div>",
    "</div>",
    "<!--",
    "-->",
    "<",
    ">",
    "\"",
    "'",
    "charset=",
    "\r\n",
    "text \xe6\x97\xa5\xe6\x9c\xac ",
    "\x82\xa0\xff",
};

// A sound guarded page (premium start page or basic message view) that then takes a few random blows: a
// piece inserted anywhere, a range deleted, the page cut off. Pages near the sound ones reach the edits.
std::string RandomPage(std::mt19937& random) {
    const bool bPremium = random() & 1;
    std::string csPage = std::string(PIECES[bPremium ? 0 : 1]) + "<html><head>" + PIECES[8 + random() % 3] +
                         PIECES[bPremium ? 14 : 16] + (bPremium ? PIECES[15] : "") + PIECES[11] +
                         "</head><body class=\"owa\"><div>text</div></body></html>";
    std::uniform_int_distribution<size_t> blows(0, 4), piece(0, std::size(PIECES) - 1);
    for (size_t n = blows(random); n > 0; --n) {
        const size_t nAt = random() % (csPage.size() + 1);
        switch (random() % 3) {
        case 0:
            csPage.insert(nAt, PIECES[piece(random)]);
            break;
        case 1:
            csPage.erase(nAt, random() % 24);
            break;
        default:
            csPage.resize(std::max(nAt, csPage.size() / 2));
            break;
        }
    }
    return csPage;
}

std::vector<std::string> FilesIn(const std::string& csDir) {
    std::vector<std::string> vContents;
    for (const auto& entry : std::filesystem::directory_iterator(csDir)) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        vContents.push_back(content.str());
    }
    return vContents;
}

class PageProperty : public GuardTest {
protected:
    void SetUp() override { Start("-"); }
    // Runs the input; counts the runs whose page was edited, so a test can tell that it reached the edits.
    void Check(const std::string& csInput, const std::string& csWhat) {
        const CHostRunRecord record = m_host.Run(
            pagefuzz::BuildRequest(reinterpret_cast<const uint8_t*>(csInput.data()), csInput.size()));
        const std::string csBroken = pagefuzz::CheckRun(record);
        EXPECT_TRUE(csBroken.empty()) << csWhat << ": " << csBroken;
        m_nEdited += record.m_body.m_bEdited ? 1 : 0;
    }

    size_t m_nEdited = 0;
};

TEST_F(PageProperty, GeneratedPagesAreEditedCleanlyOrLeftAlone) {
    std::mt19937 random(20261207);
    for (int i = 0; i < 400; ++i) {
        // Any flags but the error statuses, which end the request before the page.
        const std::string csInput = std::string(1, static_cast<char>(random() & 0x3f)) + RandomPage(random);
        Check(csInput, "generated page " + std::to_string(i));
    }
    // The generator must reach the edits, or the property says nothing about them.
    EXPECT_GT(m_nEdited, 10u);
}

TEST_F(PageProperty, MalformedPagesAndTheFuzzCorpus) {
    for (const std::string& csPage : FilesIn(std::string(WK_SOURCE_DIR) + "/fuzz/html/corpus"))
        for (uint8_t nFlags : {0x01, 0x22, 0x4d})
            Check(std::string(1, static_cast<char>(nFlags)) + csPage, "parser page");
    for (const std::string& csInput : FilesIn(std::string(WK_SOURCE_DIR) + "/fuzz/guard/corpus/fuzz_page"))
        Check(csInput, "fuzz corpus input");
    EXPECT_GT(m_nEdited, 5u);
}

} // namespace
