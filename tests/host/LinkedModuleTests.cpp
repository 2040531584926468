// The entry points linked into this program, driven in-process by the test host against a temporary
// installation. Needs the finished filter core.
#include "host/testing/TestHost.h"

#include <gtest/gtest.h>

namespace {

TEST(LinkedModuleTest, RegistersAndRunsARequestInProcess) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.IsValid());
    ASSERT_TRUE(installation.CopySampleInstallation());
    installation.PointProcessHere();
    CTestHost host;
    ASSERT_EQ(host.GetFilterVersion(), TRUE);
    EXPECT_EQ(host.Session().GetVersionRecord().m_dwFlags, 0x40264C0u);
    EXPECT_EQ(host.Session().GetVersionRecord().m_csDescription, "Brindlemark Wendrake");
    CHostRunRecord record = host.Run(CHostRequest().Url("/owa/").UserAgent("Mozilla/5.0 Chrome/120.0"));
    const CHostNotificationRecord* pEnd = record.Find(SF_NOTIFY_END_OF_REQUEST);
    ASSERT_NE(pEnd, nullptr);
    EXPECT_EQ(pEnd->m_dwResult, 0u);
    EXPECT_TRUE(
        host.LogContains("[CNotifications::NotifyEndOfRequest] finished.  Win32 RC=0.  Control Message=<"));
    host.TerminateFilter();
}

} // namespace
