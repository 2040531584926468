// The dialog's texts: resource formats read safely, the 511-byte cap, access keys and placeholders.
#include "guard/CWKForm.h"
#include "text/CCachedScriptDecorator.h"
#include "text/CSWFormScriptPath.h"

#include <gtest/gtest.h>

namespace {

struct CFormatCase {
    const char* pszName;
    std::string csFormat;
    std::string csExpected;
};

TEST(FormText, FormatsOnlyTheTwoArguments) {
    const std::string csLong(510, 'a');
    const CFormatCase aCases[] = {
        {"AccessKeyInTheMiddle", "%sL%sog off", "<u>L</u>og off"},
        {"OtherConversionsStayText", "%d%s%n%x%s%s%%", "%d<u>%n%x</u>%s%%"},
        {"NoConversion", "100% sure", "100% sure"},
        {"PercentAtTheEnd", "%sR%seturn %", "<u>R</u>eturn %"},
        {"OneConversionOnly", "Return %s", "Return <u>"},
        {"CutBeforeATwoByteSequence", csLong + "\xC3\xA9", csLong},
        {"CutBeforeAThreeByteSequence", csLong.substr(1) + "\xE2\x82\xAC", csLong.substr(1)},
        {"ExactlyTheCapKeepsAll", csLong.substr(1) + "\xC3\xA9", csLong.substr(1) + "\xC3\xA9"},
        {"ArgumentsCountTowardsTheCap", csLong.substr(1) + "%s", csLong.substr(1) + "<u"},
    };
    for (const CFormatCase& test : aCases) {
        const std::string csOut = FormatTwoArguments(test.csFormat, "<u>", "</u>");
        EXPECT_EQ(csOut, test.csExpected) << test.pszName;
        EXPECT_LE(csOut.size(), 511u) << test.pszName;
    }
}

TEST(FormText, AccessKeysAndPlaceholders) {
    const std::pair<const char*, const char*> aKeys[] = {{"<u>L</u>og off", "L"},
                                                         {"\xE3\x83\xAD(<u>R</u>)", "R"},
                                                         {"no markup", ""},
                                                         {"a>b", "b"},
                                                         {"<u></u>x", ""}};
    for (const auto& [pszButton, pszKey] : aKeys)
        EXPECT_EQ(AccessKeyOf(pszButton), pszKey) << pszButton;
    struct {
        const char* pszText;
        const char* pszValue;
        const char* pszExpected;
    } aReplacements[] = {
        {"###A### and ###a###", "x", "x and x"},
        {"###A######A###", "###A###",
         "###A######A###"}, // a value holding the placeholder is not replaced again
        {"none here", "x", "none here"},
        {"###A###", "", ""},
    };
    for (const auto& test : aReplacements) {
        std::string csText = test.pszText;
        ReplaceCaseless(csText, "###A###", test.pszValue);
        EXPECT_EQ(csText, test.pszExpected) << test.pszText;
    }
}

} // namespace

// Without a page or an address the form's edits fail with their codes and submit nothing.
TEST(FormEdits, MissingPageOrAddressFailsEachEdit) {
    struct CBareForm : CSWForm {
        DWORD ProcessForm() override { return 0; }
    } form;
    const CSWFormScriptPath path("Wendrake", "1.2");
    const std::shared_ptr<CCachedScriptDecorator> spDecorator = CCachedScriptDecorator::Create("abcde/");
    const std::pair<DWORD, DWORD> aCalls[] = {
        {form.PrefixLinkedScripts(nullptr, "uglobal.js", spDecorator.get(), true), ERROR_INVALID_PARAMETER},
        {form.PrefixLinkedScripts(nullptr, "uglobal.js", true), ERROR_INVALID_DATA},
        {form.InsertScriptLink(nullptr, "", LINK_KIND_SCRIPT, path, false), ERROR_BAD_FORMAT},
        {form.InsertScriptLink(nullptr, "bk_WKWarn.js", LINK_KIND_SCRIPT, path, true), ERROR_BAD_FORMAT},
        {form.InsertScriptLink(nullptr, "bk_WKWarn.js", LINK_KIND_SCRIPT, path, false),
         ERROR_INVALID_PARAMETER},
        {form.InsertScriptLink(nullptr, "x.css", LINK_KIND_STYLE_SHEET, path, false),
         ERROR_INVALID_PARAMETER},
    };
    for (const auto& [dwResult, dwExpected] : aCalls)
        EXPECT_EQ(dwResult, dwExpected);
    EXPECT_EQ(form.GetCachedScriptManager(nullptr), nullptr);
}
