// A well-formed file of another kind (its root element is not the store's) is refused like a broken one, and
// the store keeps what it had.

#include "settings/CLinkCriteria.h"
#include "settings/CSWSettings.h"
#include "tests/settings/store/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

template <class TStore> void ExpectRefusedKeepingContent(const char* pszFixture, const char* pszRoot) {
    SCOPED_TRACE(pszRoot);
    CTempInstallation temp;
    const std::string csPath = temp.Prefix() + "/" + pszFixture;
    std::filesystem::copy_file(StoreFixture(pszFixture), csPath);
    TStore store;
    ASSERT_EQ(store.LoadSettings(csPath), S_OK);
    const std::string csHash = store.GetVersionHash();

    WriteText(csPath, "<OTHER><SETTINGS/><SERVICEWORKERS/></OTHER>");
    testing::internal::CaptureStderr();
    EXPECT_EQ(store.LoadSettings(csPath), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
    EXPECT_NE(testing::internal::GetCapturedStderr().find(std::string("is not ") + pszRoot),
              std::string::npos);
    EXPECT_EQ(store.GetVersionHash(), csHash);
}

TEST(SettingsRootElement, FileOfAnotherKindIsRefused) {
    ExpectRefusedKeepingContent<CSWSettings>("SWSettings.xml", "SETTINGS");
    ExpectRefusedKeepingContent<CLinkCriteria>("LinkCriteriaSettings.xml", "SERVICEWORKERS");
}

} // namespace
