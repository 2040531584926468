#include "host/common/HostSession.h"
#include "host/testing/TestHost.h"
#include "platform/ThreadIdentity.h"
#include "security/CSid.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <memory>
#include <string>

namespace {

typedef void (*PFN_PROBE_WATCH)();
typedef void (*PFN_PROBE_SEEN)(char*, size_t);

CIdentityToken Alice() {
    auto spIdentity = std::make_shared<CRequestIdentity>();
    spIdentity->csUser = "alice";
    spIdentity->csDomain = "EXAMPLE";
    CSid sid;
    EXPECT_EQ(CSid::FromString("S-1-5-21-1-2-3-1105", sid), ERROR_SUCCESS);
    spIdentity->vUserSid = sid.GetBytes();
    return spIdentity;
}

// The module keeps its own thread identity; the only way in is the identity the host puts in the record.
TEST(HostIdentityTest, LoadedModuleRunsNotificationsUnderTheHostsIdentity) {
    CTempInstallation installation;
    ASSERT_TRUE(installation.IsValid());
    ASSERT_TRUE(installation.CopySampleInstallation());
    ASSERT_TRUE(installation.InstallModule(WK_IDENTITY_PROBE_PATH)) << WK_IDENTITY_PROBE_PATH;
    std::string csError;
    std::unique_ptr<CHostModule> spModule = CHostModule::Load(installation.ModulePath(), csError);
    ASSERT_TRUE(spModule) << csError;
    CHostSession session(spModule->EntryPoints());
    ASSERT_EQ(session.GetFilterVersion(), TRUE);

    void* hProbe = ::dlopen(installation.ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(hProbe, nullptr);
    auto pfnWatch = reinterpret_cast<PFN_PROBE_WATCH>(::dlsym(hProbe, "WkProbeWatch"));
    auto pfnSeen = reinterpret_cast<PFN_PROBE_SEEN>(::dlsym(hProbe, "WkProbeSeen"));
    ASSERT_TRUE(pfnWatch && pfnSeen);

    struct CCase {
        const char* pszName;
        CIdentityToken spIdentity;
        const char* pszSeen; // every distinct identity of the log lines, then the one after the run
    };
    const CCase aCases[] = {
        {"authenticated", Alice(), "EXAMPLE\\alice S-1-5-21-1-2-3-1105;error 1008;"},
        {"anonymous", nullptr, "error 1008;"},
    };
    for (const CCase& c : aCases) {
        pfnWatch();
        CHostRunRecord record = session.Run(CHostRequest()
                                                .Url("/owa/")
                                                .UserAgent("Mozilla/5.0 (Windows NT 10.0; Win64; x64)")
                                                .SubscriptionType(ST_OWA_FOLDER)
                                                .Identity(c.spIdentity));
        ASSERT_FALSE(record.m_vNotifications.empty()) << c.pszName;
        char szSeen[512] = {};
        pfnSeen(szSeen, sizeof(szSeen));
        EXPECT_STREQ(szSeen, c.pszSeen) << c.pszName;
    }
    // The host's own thread is back to the process identity too.
    CIdentityToken spAfter;
    EXPECT_EQ(CThreadIdentity::OpenThreadToken(spAfter), ERROR_NO_TOKEN);
    ::dlclose(hProbe);
    session.TerminateFilter(0);
}

} // namespace
