// The built module file, loaded as a host loads it. These tests need the finished filter core: the module
// must export its entry points and start in an empty installation.
#include "host/common/HostSession.h"
#include "host/testing/TestHost.h"

#include <gtest/gtest.h>

namespace {

TEST(RealModuleTest, RegistersRunsARequestAndTerminates) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.IsValid());
    ASSERT_TRUE(installation.CopySampleInstallation());
    ASSERT_TRUE(installation.InstallModule(WK_MODULE_PATH)) << WK_MODULE_PATH;
    std::string csError;
    std::unique_ptr<CHostModule> spModule = CHostModule::Load(installation.ModulePath(), csError);
    ASSERT_TRUE(spModule) << csError;

    CHostSession session(spModule->EntryPoints());
    ASSERT_EQ(session.GetFilterVersion(), TRUE);
    const CFilterVersionRecord& version = session.GetVersionRecord();
    EXPECT_EQ(version.m_dwFilterVersion, 0x60000u);
    EXPECT_EQ(version.m_dwFlags, 0x40264C0u);
    EXPECT_EQ(version.m_csDescription, "Brindlemark Wendrake");
    EXPECT_TRUE(version.m_bDescriptionTerminated);

    CHostRunRecord record =
        session.Run(CHostRequest()
                        .Method("GET")
                        .Url("/owa/")
                        .UserAgent("Mozilla/5.0 (Windows NT 10.0; Win64; x64) Chrome/120.0")
                        .SubscriptionType(ST_OWA_FOLDER)
                        .ResponseStatus(200));
    const CHostNotificationRecord* pEnd = record.Find(SF_NOTIFY_END_OF_REQUEST);
    ASSERT_NE(pEnd, nullptr);
    EXPECT_EQ(pEnd->m_dwResult, 0u);
    EXPECT_FALSE(pEnd->m_bWorkerContext);
    for (const auto& notification : record.m_vNotifications)
        EXPECT_FALSE(notification.m_bException)
            << notification.m_csName << ": " << notification.m_csException;
    EXPECT_TRUE(record.m_vAnomalies.empty()) << record.m_vAnomalies.front();
    // A null context is answered with zero.
    EXPECT_EQ(spModule->EntryPoints().pfnHttpFilterProc(nullptr), 0u);

    session.TerminateFilter(0);
    EXPECT_TRUE(session.GetTerminateRecord().m_bCalled);
    EXPECT_FALSE(session.GetTerminateRecord().m_bException);
}

} // namespace
