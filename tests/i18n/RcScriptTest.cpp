// The resource compiler: its reading of resource scripts, its checks, and the tool as the build runs it.
#include "tools/rescompile/RcScript.h"

#include "i18n/ResourceModuleData.h"
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
    const struct {
        const char* pszLiteral;
        std::u16string wsExpected;
    } aCases[] = {
        {R"("plain")", u"plain"},
        {R"("")", u""},
        {R"("say ""hi""")", u"say \"hi\""},
        {R"("a\"b")", u"a\"b"},
        {R"("line\nnext\ttab\rret")", u"line\nnext\ttab\rret"},
        {R"("back\\slash")", u"back\\slash"},
        {R"("\x41\x20AC!")", u"A\u20AC!"},
        {R"("\x4g")", u"\x04g"},
        {R"("\101\0z")", std::u16string(u"A\0z", 3)},
        {R"("%sL%sog off")", u"%sL%sog off"},
        {"\"D\xC3\xA9part \xE6\x97\xA5\xE6\x9C\xAC\"", u"Départ 日本"},
        {"\"\xF0\x9F\x98\x80\"", u"\U0001F600"},
        {"L\"wide\"", u"wide"},
        {", \"after a comma\"", u"after a comma"},
        {"\"with\ttab\"", u"with\ttab"},
        {"\"a // not a comment\"", u"a // not a comment"},
    };
    for (const auto& c : aCases) {
        std::string csError;
        EXPECT_EQ(ParseOne(c.pszLiteral, csError), c.wsExpected) << c.pszLiteral << " " << csError;
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
    const struct {
        std::string csScript;
        std::string csError;
    } aCases[] = {
        {c_csHead + "    102 \"abc\nEND\n", "t.rc:4: unterminated string"},
        {c_csHead + "    102 \"abc", "t.rc:4: unterminated string"},
        {c_csHead + "    102 \"abc\\", "t.rc:4: unterminated string"},
        {c_csHead + "    102 \"a\\qb\"\nEND\n", "t.rc:4: bad escape sequence '\\q'"},
        {c_csHead + "    102 \"a\\xZ\"\nEND\n",
         "t.rc:4: bad escape sequence '\\x' without hexadecimal digits"},
        {c_csHead + "    102 \"a\\\x01\"\nEND\n", "t.rc:4: bad escape sequence '\\<0x01>'"},
        {c_csHead + "    65536 \"x\"\nEND\n", "t.rc:4: string ID 65536 is out of range (0 to 65535)"},
        {c_csHead + "    4294967296 \"x\"\nEND\n", "t.rc:4: number too large"},
        {c_csHead + "    0x \"x\"\nEND\n", "t.rc:4: hexadecimal number without digits"},
        {c_csHead + "    12ab \"x\"\nEND\n", "t.rc:4: malformed number"},
        {"STRINGTABLE\nBEGIN\n    102 \"x\"\nEND\n",
         "t.rc:1: STRINGTABLE without a LANGUAGE statement before it"},
        {"\n\nSTRINGTABLE LANGUAGE 9 BEGIN\n",
         "t.rc:3: expected ',' between the primary language and the sublanguage"},
        {"LANGUAGE 0x400, 1\n", "t.rc:1: primary language 0x400 is out of range (0 to 0x3FF)"},
        {"LANGUAGE 9, 0x40\n", "t.rc:1: sublanguage 0x40 is out of range (0 to 0x3F)"},
        {"LANGUAGE 9,\n", "t.rc:2: expected the sublanguage number, found the end of the file"},
        {c_csHead + "    102 \"x\"\n", "t.rc:5: end of file inside the STRINGTABLE of line 2 (missing END)"},
        {c_csHead + "    \"x\"\nEND\n", "t.rc:4: expected a string ID or END, found a string"},
        {c_csHead + "    102\nEND\n", "t.rc:5: expected a string after ID 102, found 'END'"},
        {c_csHead + "    102 \"x\" \"y\"\nEND\n", "t.rc:4: expected a string ID or END, found a string"},
        {"LANGUAGE 9, 4\nSTRINGTABLE PRELOAD 102\n",
         "t.rc:2: expected BEGIN after STRINGTABLE, found the number 102"},
        {c_csHead + "    102 \"\xC3\x28\"\nEND\n", "t.rc:4: invalid UTF-8 in string"},
        {c_csHead + "    102 \"\xC0\xAF\"\nEND\n", "t.rc:4: invalid UTF-8 in string"},
        {c_csHead + "    102 \"\xED\xA0\x80\"\nEND\n", "t.rc:4: invalid UTF-8 in string"},
        {c_csHead + "    102 \"\xF4\x90\x80\x80\"\nEND\n", "t.rc:4: invalid UTF-8 in string"},
        {c_csHead + "    102 \"\xE6\x97\"", "t.rc:4: invalid UTF-8 in string"},
        {c_csHead + "    102 \"a\x01\"\nEND\n", "t.rc:4: control character in string; write it as an escape"},
        {"/* open\n\n", "t.rc:1: unterminated comment"},
        {"#include \"x.h\"\n", "t.rc:1: unsupported directive '#include'"},
        {"\n#pragma code_page(1252)\n",
         "t.rc:2: only '#pragma code_page(65001)' is supported: the scripts are UTF-8"},
        {"LANGUAGE 9, 4\n1 DIALOG\n",
         "t.rc:2: expected LANGUAGE or STRINGTABLE, found the number 1 (only string "
         "tables are read)"},
        {"LANGUAGE 9, 4\n$", "t.rc:2: unexpected character '$'"},
        {"LANGUAGE 9, 4\n\xC3\xA9", "t.rc:2: unexpected byte 0xC3"},
    };
    for (const auto& c : aCases) {
        std::vector<CRcString> vStrings;
        std::string csError;
        EXPECT_FALSE(ParseResourceScript("t.rc", c.csScript, vStrings, csError)) << c.csScript;
        EXPECT_EQ(csError, c.csError) << c.csScript;
        EXPECT_TRUE(vStrings.empty()) << c.csScript;
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
