// The resource compiler: its reading of resource scripts, its checks, and the tool as the build runs it.
#include "tools/rescompile/RcScript.h"

#include "i18n/CResource.h"
#include "i18n/ResourceModuleData.h"
#include "tests/TableFile.h"
#include "tests/i18n/ResourceTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sys/wait.h>

namespace {

const std::string c_csHead = "LANGUAGE 0x09, 0x04\nSTRINGTABLE\nBEGIN\n";

// The one string of a table holding only "7 <literal>".
std::u16string ParseOne(const std::string& csLiteral, std::string& csError) {
    std::vector<CRcString> vStrings;
    if (!ParseResourceScript("t.rc", c_csHead + "    7 " + csLiteral + "\nEND\n", vStrings, csError))
        return u"<error>";
    EXPECT_EQ(vStrings.size(), 1u);
    return vStrings.empty() ? u"<none>" : vStrings[0].wsText;
}

TEST(RcScript, StringLiteralsAndEscapes) {
    for (const tabletest::TRow& row : tabletest::ReadTable("i18n/rc-literals.txt")) {
        std::string csError;
        EXPECT_EQ(ParseOne(tabletest::Bytes(row.at(0)), csError), tabletest::Units(row.at(1)))
            << row.at(0) << " " << csError;
    }
}

TEST(RcScript, LanguagesCommentsAndTableForms) {
    const std::vector<BYTE> vScript = ReadFileBytes(std::string(WK_TEST_DATA_DIR) + "/i18n/rc-forms.rc");
    std::vector<CRcString> vStrings;
    std::string csError;
    ASSERT_TRUE(ParseResourceScript("t.rc", std::string(vScript.begin(), vScript.end()), vStrings, csError))
        << csError;
    ASSERT_EQ(vStrings.size(), 3u);
    EXPECT_EQ(vStrings[0].wLangId, 0x040C);
    EXPECT_EQ(vStrings[0].nId, 16u);
    EXPECT_EQ(vStrings[0].nLine, 8);
    EXPECT_EQ(vStrings[1].wLangId, 0x0804); // the table's own LANGUAGE
    EXPECT_EQ(vStrings[2].wLangId, 0x040C); // ...for that table only
    EXPECT_EQ(vStrings[2].nId, 65535u);
    EXPECT_EQ(vStrings[2].csFile, "t.rc");
    EXPECT_EQ(vStrings[2].nLine, 14);
}

TEST(RcScript, BadInputNamesFileAndLine) {
    for (const tabletest::TRow& row : tabletest::ReadTable("i18n/rc-bad-scripts.txt")) {
        SCOPED_TRACE(row.at(1));
        std::vector<CRcString> vStrings;
        std::string csError;
        EXPECT_FALSE(ParseResourceScript("t.rc", tabletest::Bytes(row.at(1)), vStrings, csError));
        EXPECT_EQ(csError, tabletest::Bytes(row.at(0)));
        EXPECT_TRUE(vStrings.empty());
    }
}

TEST(RcScript, StringsLongerThanAnEntryHoldsAreRefused) {
    std::string csError;
    EXPECT_EQ(ParseOne("\"" + std::string(65535, 'x') + "\"", csError).size(), 65535u);
    EXPECT_EQ(ParseOne("\"" + std::string(65536, 'x') + "\"", csError), u"<error>");
    EXPECT_EQ(csError, "t.rc:4: string 7 is longer than 65535 UTF-16 code units");
}

TEST(RcScript, DuplicateIdsInOneLanguageAreRefused) {
    const std::string csA = c_csHead + "    102 \"a\"\n    103 \"b\"\nEND\n";
    CRcCompiler compiler;
    std::string csError;
    EXPECT_FALSE(compiler.AddScript("d.rc", c_csHead + "    102 \"a\"\n    102 \"b\"\nEND\n", csError));
    EXPECT_EQ(csError, "d.rc:5: duplicate string ID 102 in language 0x1009 (first defined at d.rc:4)");
    EXPECT_EQ(compiler.GetStringCount(), 0u);

    ASSERT_TRUE(compiler.AddScript("a.rc", csA, csError)) << csError;
    EXPECT_FALSE(compiler.AddScript("b.rc", "\n" + c_csHead + "    103 \"again\"\nEND\n", csError));
    EXPECT_EQ(csError, "b.rc:5: duplicate string ID 103 in language 0x1009 (first defined at a.rc:5)");
    // The same IDs in another language, and further IDs of the same language from another file, are fine.
    EXPECT_TRUE(compiler.AddScript(
        "c.rc", "LANGUAGE 0x0C, 1\nSTRINGTABLE\nBEGIN\n 102 \"x\"\n 103 \"y\"\nEND\n", csError));
    EXPECT_TRUE(compiler.AddScript("e.rc", c_csHead + "    104 \"c\"\nEND\n", csError));
    EXPECT_EQ(compiler.GetStringCount(), 5u);
}

TEST(RcScript, FormatConversions) {
    for (const tabletest::TRow& row : tabletest::ReadTable("i18n/rc-formats.txt"))
        EXPECT_EQ(FormatConversions(tabletest::Units(row.at(0))), tabletest::TRow(row.begin() + 1, row.end()))
            << row.at(0);
}

TEST(RcScript, ConsistencyAgainstTheReferenceLanguage) {
    for (const tabletest::TRow& row : tabletest::ReadTable("i18n/rc-consistency.txt")) {
        CRcCompiler compiler;
        std::string csError;
        ASSERT_TRUE(compiler.AddScript(
            "en.rc", c_csHead + "    108 \"press %sReturn%s\"\n    109 \"Press\"\nEND\n", csError))
            << csError;
        ASSERT_TRUE(compiler.AddScript(
            "fr.rc", "LANGUAGE 0x0C, 0x01\nSTRINGTABLE\nBEGIN\n" + tabletest::Bytes(row.at(0)) + "END\n",
            csError))
            << csError;
        std::string csErrors;
        EXPECT_EQ(compiler.CheckConsistency(csErrors), row.at(1).empty()) << row.at(0);
        EXPECT_EQ(csErrors, tabletest::Bytes(row.at(1)));
    }
}

// The tool as the build runs it: exit code, message on standard error, and no output after a failure.
class CRcToolTest : public testing::Test {
protected:
    int Run(const std::string& csArguments) {
        const std::string csCommand = std::string("'") + WK_RESCOMPILE_PATH + "' " + csArguments + " 2> '" +
                                      m_folder.Path("stderr") + "'";
        const int nStatus = std::system(csCommand.c_str());
        const std::vector<BYTE> v = ReadFileBytes(m_folder.Path("stderr"));
        m_csStderr.assign(v.begin(), v.end());
        return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }
    std::string Quoted(const std::string& csName) { return "'" + m_folder.Path(csName) + "'"; }

    CTempFolder m_folder;
    std::string m_csStderr;
};

TEST_F(CRcToolTest, GoodScriptsMakeAModule) {
    WriteFileText(m_folder.Path("en.rc"), c_csHead + "    102 \"Leaving\"\nEND\n");
    WriteFileText(m_folder.Path("fr.rc"), "LANGUAGE 12, 1\nSTRINGTABLE\nBEGIN\n 102 \"Départ\"\nEND\n");
    ASSERT_EQ(
        Run("--check-consistency -o " + Quoted("out.dat") + " " + Quoted("en.rc") + " " + Quoted("fr.rc")), 0)
        << m_csStderr;
    DWORD dwError = 0;
    std::string csReason;
    auto spData = CResourceModuleData::Parse(ReadFileBytes(m_folder.Path("out.dat")), dwError, csReason);
    ASSERT_TRUE(spData) << csReason;
    std::u16string ws;
    EXPECT_EQ(spData->FindString(0x040C, 102, ws), ERROR_SUCCESS);
    EXPECT_EQ(ws, u"Départ");
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.dat.tmp")));
}

// Each failure exits 1 (bad input) or 2 (bad command line) with its message, and writes no module.
TEST_F(CRcToolTest, FailuresExitWithTheirMessageAndWriteNothing) {
    WriteFileText(m_folder.Path("en.rc"), c_csHead + "    102 \"Leaving\"\nEND\n");
    WriteFileText(m_folder.Path("open.rc"), c_csHead + "    102 \"ok\"\n    103 \"open\nEND\n");
    WriteFileText(m_folder.Path("fr.rc"), "LANGUAGE 12, 1\nSTRINGTABLE\nBEGIN\n 104 \"autre\"\nEND\n");
    const std::string csOut = "-o " + Quoted("out.dat") + " ";
    const struct {
        std::string csArguments;
        int nExit;
        std::string csMessage;
    } aCases[] = {
        {csOut + Quoted("en.rc") + " " + Quoted("open.rc"), 1,
         m_folder.Path("open.rc") + ":5: unterminated string"},
        {"--check-consistency " + csOut + Quoted("en.rc") + " " + Quoted("fr.rc"), 1,
         m_folder.Path("fr.rc") + ":4: string 104 is not in the reference language 0x1009"},
        {csOut + Quoted("missing.rc"), 1, m_folder.Path("missing.rc") + ": cannot read"},
        {"", 2, "usage: wk_rescompile"},
        {"-o x.dat", 2, "usage: wk_rescompile"},
        {"--unknown -o x.dat x.rc", 2, "usage: wk_rescompile"},
    };
    for (const auto& c : aCases) {
        EXPECT_EQ(Run(c.csArguments), c.nExit) << c.csArguments;
        EXPECT_NE(m_csStderr.find(c.csMessage), std::string::npos) << m_csStderr;
        EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.dat"))) << c.csArguments;
    }
}

size_t CountOf(const std::u16string& ws, const std::u16string& wsPart) {
    size_t c = 0;
    for (size_t n = ws.find(wsPart); n != std::u16string::npos; n = ws.find(wsPart, n + wsPart.size()))
        ++c;
    return c;
}

// No blanks at the ends (the dialog puts its own between the pieces) and no control characters; the formats
// hold exactly two string arguments and the others none; the button captions give a one-character access
// key (the text between the first ">" and the next "<" once the format is filled with "<u>" and "</u>").
void ExpectFitsTheDialog(UINT nId, std::u16string ws) {
    ASSERT_FALSE(ws.empty());
    EXPECT_NE(ws.front(), u' ');
    EXPECT_NE(ws.back(), u' ');
    EXPECT_TRUE(std::all_of(ws.begin(), ws.end(), [](char16_t ch) { return ch >= 0x20; }));
    const bool bFormat = nId == 108 || nId == 110 || nId == 111;
    EXPECT_EQ(CountOf(ws, u"%"), bFormat ? 2u : 0u);
    EXPECT_EQ(CountOf(ws, u"%s"), bFormat ? 2u : 0u);
    if (bFormat && nId != 108) {
        ws.replace(ws.find(u"%s"), 2, u"<u>");
        ws.replace(ws.find(u"%s"), 2, u"</u>");
        EXPECT_EQ(ws.find(u'<', ws.find(u'>')), ws.find(u'>') + 2);
    }
}

// The product's scripts, one for each language of the resource's list and in that language, pass every
// check, make the module the build made, and hold strings that fit the dialog.
TEST_F(CRcToolTest, ProductScriptsAreConsistentAndFitTheDialog) {
    CRcCompiler compiler;
    const CResource resource;
    for (const auto& [csName, wLangId] : resource.GetLanguages()) {
        const std::string csPath = std::string(WK_RESOURCE_SCRIPTS_DIR) + "/" + csName + ".rc";
        const std::vector<BYTE> v = ReadFileBytes(csPath);
        const std::string csText(v.begin(), v.end());
        std::string csError;
        ASSERT_TRUE(compiler.AddScript(csPath, csText, csError)) << csError;
        std::vector<CRcString> vStrings;
        ASSERT_TRUE(ParseResourceScript(csPath, csText, vStrings, csError)) << csError;
        for (const CRcString& str : vStrings) {
            SCOPED_TRACE(csName + " " + std::to_string(str.nId));
            EXPECT_EQ(str.wLangId, wLangId);
            ExpectFitsTheDialog(str.nId, str.wsText);
        }
    }
    std::string csErrors;
    EXPECT_TRUE(compiler.CheckConsistency(csErrors)) << csErrors;
    EXPECT_EQ(compiler.GetStringCount(), 20u * 13u);
    EXPECT_EQ(compiler.Build(), ReadFileBytes(WK_RESOURCE_MODULE_PATH));
}

} // namespace
