// The resource compiler: its reading of resource scripts, its checks, and the tool as the build runs it.
#include "tools/rescompile/RcScript.h"

#include "i18n/ResourceModuleData.h"
#include "tests/TableFile.h"
#include "tests/i18n/ResourceTestSupport.h"

#include <gtest/gtest.h>

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
    const std::string csScript = "\xEF\xBB\xBF// header\n"
                                 "#pragma code_page(65001) // UTF-8\n"
                                 "/* a comment\n   over two lines */\n"
                                 "LANGUAGE 12, 1\n"
                                 "stringtable discardable\n"
                                 "{\n"
                                 "    0x10L \"sixteen\"\n"
                                 "}\n"
                                 "STRINGTABLE LANGUAGE 0x04, 0x02 VERSION 3 CHARACTERISTICS 0\n"
                                 "begin 1 \"chs\" end\n"
                                 "STRINGTABLE\n"
                                 "BEGIN\n"
                                 "    65535, \"last\"\n"
                                 "END\n";
    std::vector<CRcString> vStrings;
    std::string csError;
    ASSERT_TRUE(ParseResourceScript("t.rc", csScript, vStrings, csError)) << csError;
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
    const struct {
        std::u16string wsText;
        std::vector<std::string> vExpected;
    } aCases[] = {
        {u"no format", {}},
        {u"%sL%sog off", {"%s", "%s"}},
        {u"100%% sure", {}},
        {u"%-5d of %ls", {"%-5d", "%ls"}},
        {u"%.*s and %08.3f", {"%.*s", "%08.3f"}},
        {u"ends with %", {"%"}},
        {u"%I64u", {"%I64u"}},
        {u"%\u00e9", {"%?"}},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(FormatConversions(c.wsText), c.vExpected);
}

TEST(RcScript, ConsistencyAgainstTheReferenceLanguage) {
    const std::string csEnglish = c_csHead + "    108 \"press %sReturn%s\"\n    109 \"Press\"\nEND\n";
    auto french = [](const std::string& csBody) {
        return "LANGUAGE 0x0C, 0x01\nSTRINGTABLE\nBEGIN\n" + csBody + "END\n";
    };
    const struct {
        std::string csFrench;
        std::string csErrors;
    } aCases[] = {
        {french("    108 \"appuyez sur %sRetour%s\"\n    109 \"Appuyez sur\"\n"), ""},
        {french("    108 \"appuyez sur %sRetour\"\n    109 \"Appuyez sur\"\n"),
         "fr.rc:4: string 108 has the conversions \"%s\" where the reference language 0x1009 has \"%s\" "
         "\"%s\" "
         "(en.rc:4)"},
        {french("    108 \"%d%sRetour\"\n    109 \"100 %% sur\"\n"),
         "fr.rc:4: string 108 has the conversions \"%d\" \"%s\" where the reference language 0x1009 has "
         "\"%s\" "
         "\"%s\" (en.rc:4)"},
        {french("    109 \"Appuyez sur %s\"\n"),
         "fr.rc: language 0x040C has no string 108 (the reference language 0x1009 has it at en.rc:4)\n"
         "fr.rc:4: string 109 has the conversions \"%s\" where the reference language 0x1009 has none "
         "(en.rc:5)"},
        {french("    108 \"%sRetour%s\"\n    109 \"Appuyez\"\n    110 \"en trop\"\n"),
         "fr.rc:6: string 110 is not in the reference language 0x1009"},
    };
    for (const auto& c : aCases) {
        CRcCompiler compiler;
        std::string csError;
        ASSERT_TRUE(compiler.AddScript("en.rc", csEnglish, csError)) << csError;
        ASSERT_TRUE(compiler.AddScript("fr.rc", c.csFrench, csError)) << csError;
        std::string csErrors;
        EXPECT_EQ(compiler.CheckConsistency(csErrors), c.csErrors.empty()) << c.csFrench;
        EXPECT_EQ(csErrors, c.csErrors);
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

TEST_F(CRcToolTest, BadInputFailsWithFileAndLineAndWritesNothing) {
    const std::string csBad = m_folder.Path("bad.rc");
    WriteFileText(m_folder.Path("en.rc"), c_csHead + "    102 \"Leaving\"\nEND\n");
    WriteFileText(csBad, c_csHead + "    102 \"ok\"\n    103 \"open\nEND\n");
    EXPECT_EQ(Run("-o " + Quoted("out.dat") + " " + Quoted("en.rc") + " " + Quoted("bad.rc")), 1);
    EXPECT_EQ(m_csStderr, csBad + ":5: unterminated string\n");
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.dat")));

    WriteFileText(csBad, "LANGUAGE 12, 1\nSTRINGTABLE\nBEGIN\n 104 \"autre\"\nEND\n");
    EXPECT_EQ(
        Run("--check-consistency -o " + Quoted("out.dat") + " " + Quoted("en.rc") + " " + Quoted("bad.rc")),
        1);
    EXPECT_NE(m_csStderr.find("has no string 102"), std::string::npos) << m_csStderr;
    EXPECT_NE(m_csStderr.find(csBad + ":4: string 104 is not in the reference language 0x1009"),
              std::string::npos)
        << m_csStderr;
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("out.dat")));

    EXPECT_EQ(Run("-o " + Quoted("out.dat") + " " + Quoted("missing.rc")), 1);
    EXPECT_EQ(m_csStderr.rfind(m_folder.Path("missing.rc") + ": cannot read", 0), 0u) << m_csStderr;
}

TEST_F(CRcToolTest, BadCommandLinesShowTheUsage) {
    for (const char* pszArguments :
         {"", "-o", "-o x.dat", "x.rc", "--unknown -o x.dat x.rc", "-o a -o b x.rc"}) {
        EXPECT_EQ(Run(pszArguments), 2) << pszArguments;
        EXPECT_EQ(m_csStderr.rfind("usage: wk_rescompile", 0), 0u) << pszArguments;
    }
}

// The product's own scripts, as checked in, pass every check.
TEST_F(CRcToolTest, ProductScriptsAreConsistent) {
    CRcCompiler compiler;
    for (const char* pszName : {"en", "fr", "de", "es", "pt-br", "pt",  "da",  "sv", "hu", "fi",
                                "he", "it", "ar", "ja", "no",    "chs", "cht", "nl", "tr", "el"}) {
        const std::string csPath = std::string(WK_RESOURCE_SCRIPTS_DIR) + "/" + pszName + ".rc";
        const std::vector<BYTE> v = ReadFileBytes(csPath);
        ASSERT_FALSE(v.empty()) << csPath;
        std::string csError;
        ASSERT_TRUE(compiler.AddScript(csPath, std::string(v.begin(), v.end()), csError)) << csError;
    }
    std::string csErrors;
    EXPECT_TRUE(compiler.CheckConsistency(csErrors)) << csErrors;
    EXPECT_EQ(compiler.GetStringCount(), 20u * 13u);
    EXPECT_EQ(compiler.Build(), ReadFileBytes(WK_RESOURCE_MODULE_PATH));
}

} // namespace
