#include "host/testing/TestHost.h"

#include "host/common/HostSession.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

std::string ReadText(const std::filesystem::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Switches the sample installation's log on, into a shared-memory section of a name of this test's own, with
// the log folder inside the installation.
void LogIntoTheInstallation(const CTempInstallation& installation) {
    const std::string csPath = installation.SettingsDir() + "/SWSettings.xml";
    std::string csText = ReadText(csPath);
    const std::pair<const char*, std::string> aValues[] = {
        {"14", "1"},
        {"12", "1"},
        {"23", "teardown-" + std::to_string(::getpid()) + ".log"},
        {"39", installation.Prefix()}};
    for (const auto& [pszId, csValue] : aValues) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(csText, match,
                                      std::regex(std::string("ID=\"") + pszId + "\"[^>]*VALUE=\"([^\"]*)")));
        csText.replace(static_cast<size_t>(match.position(1)), static_cast<size_t>(match.length(1)), csValue);
    }
    std::ofstream(csPath, std::ios::binary | std::ios::trunc) << csText;
}

std::string LogsUnder(const std::string& csFolder) {
    std::string csLogs;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(csFolder))
        if (entry.path().extension() == ".log")
            csLogs += ReadText(entry.path());
    return csLogs;
}

// The module built with the finished filter core: loaded from its file as a host loads it (it must export its
// entry points and start in an empty installation), and linked into this program, driven in-process. Its
// log reaches the file at TerminateFilter, while it is still loaded.
TEST(RealModuleTest, RegistersRunsARequestAndTerminates) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.IsValid());
    ASSERT_TRUE(installation.CopySampleInstallation());
    ASSERT_TRUE(installation.InstallModule(WK_MODULE_PATH)) << WK_MODULE_PATH;
    LogIntoTheInstallation(installation);
    std::string csError;
    std::unique_ptr<CHostModule> spModule = CHostModule::Load(installation.ModulePath(), csError);
    ASSERT_TRUE(spModule) << csError;

    CHostSession session(spModule->EntryPoints());
    ASSERT_EQ(session.GetFilterVersion(), TRUE);
    EXPECT_EQ(session.GetVersionRecord().m_csDescription, "Brindlemark Wendrake");

    CHostRequest request;
    request.Url("/owa/").UserAgent("Mozilla/5.0 (Windows NT 10.0; Win64; x64) Chrome/120.0");
    CHostRunRecord record = session.Run(request.SubscriptionType(ST_OWA_FOLDER));
    const CHostNotificationRecord* pEnd = record.Find(SF_NOTIFY_END_OF_REQUEST);
    ASSERT_NE(pEnd, nullptr);
    EXPECT_EQ(pEnd->m_dwResult, 0u);
    for (const auto& notification : record.m_vNotifications)
        EXPECT_FALSE(notification.m_bException)
            << notification.m_csName << ": " << notification.m_csException;
    EXPECT_TRUE(record.m_vAnomalies.empty()) << record.m_vAnomalies.front();

    EXPECT_EQ(LogsUnder(installation.Prefix()).find("NotifyEndOfRequest] finished"), std::string::npos);
    session.TerminateFilter(0);
    EXPECT_TRUE(session.GetTerminateRecord().m_bCalled);
    EXPECT_FALSE(session.GetTerminateRecord().m_bException);
    EXPECT_NE(LogsUnder(installation.Prefix()).find("NotifyEndOfRequest] finished"), std::string::npos);
}

// The module file reads a record's size and version before anything else: a record of another contract
// gets the mismatch result, is left exactly as it came, and the administrator is told once.
TEST(RealModuleTest, LeavesARecordOfAnotherContractAlone) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.CopySampleInstallation());
    ASSERT_TRUE(installation.InstallModule(WK_MODULE_PATH));
    LogIntoTheInstallation(installation);
    std::string csError;
    std::unique_ptr<CHostModule> spModule = CHostModule::Load(installation.ModulePath(), csError);
    ASSERT_TRUE(spModule) << csError;
    CHostSession session(spModule->EntryPoints());
    ASSERT_EQ(session.GetFilterVersion(), TRUE);

    const struct {
        const char* pszName;
        DWORD cbSize;
        DWORD dwVersion;
    } aRecords[] = {
        {"smaller record", sizeof(CDLLContext) - 8, WK_HOST_ABI_VERSION},
        {"larger record", sizeof(CDLLContext) + 8, WK_HOST_ABI_VERSION},
        {"older version", sizeof(CDLLContext), WK_HOST_ABI_VERSION - 1},
        {"newer version", sizeof(CDLLContext), WK_HOST_ABI_VERSION + 1},
        // A host from before the version: its first words are the notification type and the client flags.
        {"unversioned", SF_NOTIFY_PREPROC_HEADERS, 0},
    };
    for (const auto& r : aRecords) {
        SCOPED_TRACE(r.pszName);
        CDLLContext context;
        context.m_cbSize = r.cbSize;
        context.m_dwAbiVersion = r.dwVersion;
        context.m_dwNotificationType = SF_NOTIFY_PREPROC_HEADERS;
        context.m_dwControlMessage = 77;
        EXPECT_EQ(spModule->EntryPoints().pfnHttpFilterProc(&context), ERROR_REVISION_MISMATCH);
        EXPECT_EQ(context.m_dwControlMessage, 77u);
        EXPECT_EQ(context.m_dwClientFlags, 0u);
        EXPECT_EQ(context.m_pMyOwnContext, nullptr);
    }
    // Requests of a host of its own contract still go through.
    CHostRunRecord record = session.Run(CHostRequest().Url("/owa/").UserAgent("Mozilla/5.0 Chrome/120.0"));
    EXPECT_TRUE(record.WasSent(SF_NOTIFY_END_OF_REQUEST));
    EXPECT_TRUE(record.m_vAnomalies.empty());
    session.TerminateFilter(0);
    const std::string csLogs = LogsUnder(installation.Prefix());
    const std::string csLine = "request records of " + std::to_string(sizeof(CDLLContext) - 8) + " bytes";
    const size_t nFirst = csLogs.find(csLine);
    ASSERT_NE(nFirst, std::string::npos) << csLogs;
    EXPECT_EQ(csLogs.find("leaves this host's requests alone", csLogs.find('\n', nFirst)), std::string::npos);
}

TEST(LinkedModuleTest, RegistersAndRunsARequestInProcess) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.IsValid());
    ASSERT_TRUE(installation.CopySampleInstallation());
    installation.PointProcessHere();
    CTestHost host;
    ASSERT_EQ(host.GetFilterVersion(), TRUE);
    host.Run(CHostRequest().Url("/owa/").UserAgent("Mozilla/5.0 Chrome/120.0"));
    EXPECT_TRUE(
        host.LogContains("[CNotifications::NotifyEndOfRequest] finished.  Win32 RC=0.  Control Message=<"));
    host.TerminateFilter();
}

} // namespace
