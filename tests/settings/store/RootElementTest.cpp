// A file the store cannot take (of another kind, broken, unreadable) is refused, the store keeps what it had,
// and the reason names the file and, for a parse error, the line and position.

#include "settings/CLinkCriteria.h"
#include "settings/CSWSettings.h"
#include "tests/filter/PlatformDoubles.h"
#include "tests/settings/store/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

// The file exists but opening it is refused, as for a file the process may not read.
class CRefusingFiles : public CMemoryFiles {
public:
    std::unique_ptr<IFile> Open(const std::string& csPath, EFileOpen eMode, DWORD& dwError) override {
        if (csPath != m_csPath)
            return CMemoryFiles::Open(csPath, eMode, dwError);
        dwError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
};

struct CRefusal {
    const char* pszContent; // null: the file cannot be opened
    HRESULT hr;
    const char* pszReason;
};

template <class TStore> void ExpectRefusedKeepingContent(const char* pszFixture, const char* pszRoot) {
    const CRefusal aCases[] = {
        {"<OTHER><SETTINGS/><SERVICEWORKERS/></OTHER>", HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
         "\": the root element is not "},
        {"<A>\n  <B x=\"1\">\n  </C>", static_cast<HRESULT>(0xC00CE50E),
         "\" line 3, position 5: Start-end tags mismatch"},
        {nullptr, E_ACCESSDENIED, "\": Access is denied."},
    };
    CTempInstallation temp;
    const std::string csPath = temp.Prefix() + "/" + pszFixture;
    std::filesystem::copy_file(StoreFixture(pszFixture), csPath);
    TStore store;
    ASSERT_EQ(store.LoadSettings(csPath), S_OK);
    const std::string csHash = store.GetVersionHash();
    for (const CRefusal& c : aCases) {
        SCOPED_TRACE(std::string(pszRoot) + " " + (c.pszContent ? c.pszContent : "unreadable"));
        CRefusingFiles files;
        files.m_csPath = csPath;
        if (c.pszContent)
            WriteText(csPath, c.pszContent);
        else
            CPlatform::SetFiles(&files);
        testing::internal::CaptureStderr();
        EXPECT_EQ(store.LoadSettings(csPath), c.hr);
        CPlatform::SetFiles(nullptr);
        EXPECT_NE(testing::internal::GetCapturedStderr().find(csPath), std::string::npos);
        EXPECT_EQ(store.GetLoadFailure().rfind("\"" + csPath + c.pszReason, 0), 0u) << store.GetLoadFailure();
        EXPECT_EQ(store.GetVersionHash(), csHash);
    }
}

TEST(SettingsRootElement, RefusedFilesKeepTheContentAndSayWhy) {
    ExpectRefusedKeepingContent<CSWSettings>("SWSettings.xml", "SETTINGS");
    ExpectRefusedKeepingContent<CLinkCriteria>("LinkCriteriaSettings.xml", "SERVICEWORKERS");
}

} // namespace
