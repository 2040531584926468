#include "host/common/HostSession.h"
#include "host/testing/TestHost.h"
#include "platform/LastError.h"
#include "platform/ThreadIdentity.h"
#include "security/CSecurityAccess.h"
#include "security/CSid.h"
#include "security/TokenMembership.h"
#include "tests/TableFile.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<BYTE> SidBytes(const char* pszText) {
    CSid sid;
    EXPECT_EQ(CSid::FromString(pszText, sid), ERROR_SUCCESS) << pszText;
    return sid.GetBytes();
}

CIdentityToken MakeIdentity(const char* pszUser, const char* pszDomain, const char* pszUserSid,
                            std::vector<const char*> vGroups = {}) {
    auto spIdentity = std::make_shared<CRequestIdentity>();
    spIdentity->csUser = pszUser;
    spIdentity->csDomain = pszDomain;
    if (pszUserSid)
        spIdentity->vUserSid = SidBytes(pszUserSid);
    for (const char* pszGroup : vGroups)
        spIdentity->vGroupSids.push_back(SidBytes(pszGroup));
    return spIdentity;
}

// Every test leaves its thread running as the process.
class SecurityContextTest : public testing::Test {
protected:
    void TearDown() override { CThreadIdentity::RevertToSelf(); }
};

// The lookup, by the class and by the free helper (which logs and hands out nothing after a failure); the
// thread's identity is the same afterwards.
TEST_F(SecurityContextTest, LookupGivesTheIdentityOrTheFailureAndKeepsTheIdentity) {
    auto spBadSid = std::make_shared<CRequestIdentity>();
    spBadSid->csUser = "bob";
    spBadSid->vUserSid = {1, 3, 0, 0, 0, 0, 0, 5};
    const struct {
        const char* pszName;
        CIdentityToken spIdentity;
        DWORD dwExpected;
        const char* pszFound; // domain/user/SID the class hands out
    } aCases[] = {
        {"no identity", nullptr, ERROR_NO_TOKEN, "//"},
        {"alice", MakeIdentity("alice", "EXAMPLE", "S-1-5-21-1-2-3-1105"), ERROR_SUCCESS,
         "EXAMPLE/alice/S-1-5-21-1-2-3-1105"},
        {"no account name", MakeIdentity("", "", "S-1-5-21-9-9-9-500"), ERROR_NONE_MAPPED,
         "//S-1-5-21-9-9-9-500"},
        {"invalid user SID", spBadSid, ERROR_INVALID_SID, "//"},
        {"no user SID", MakeIdentity("carol", "EXAMPLE", nullptr), ERROR_INVALID_SID, "//"},
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        CThreadIdentity::Impersonate(c.spIdentity);
        std::string csUser = "u", csDomain = "d", csSid = "s";
        CSecurityAccess access;
        EXPECT_EQ(access.GetThreadUserInfo(csUser, csDomain, csSid), c.dwExpected);
        EXPECT_EQ(csDomain + "/" + csUser + "/" + csSid, c.pszFound);
        CLogCapture log;
        csSid = "x";
        EXPECT_EQ(GetThreadUser(csUser, csDomain, csSid), c.dwExpected);
        if (c.dwExpected == ERROR_SUCCESS || !c.spIdentity) {
            EXPECT_EQ(log.Count(std::string("GetThreadUser Domain/User/Sid ") + c.pszFound), 1u);
        } else {
            EXPECT_EQ(csSid, "");
        }
        CIdentityToken spAfter;
        EXPECT_EQ(CThreadIdentity::OpenThreadToken(spAfter), c.spIdentity ? ERROR_SUCCESS : ERROR_NO_TOKEN);
        EXPECT_EQ(spAfter, c.spIdentity);
    }
    std::string csUser, csDomain, csSid;
    CSecurityAccess access;
    EXPECT_EQ(access.GetTokenUser(csUser, csDomain, csSid, nullptr), ERROR_INVALID_HANDLE);
}

TEST_F(SecurityContextTest, MembershipOfUserGroupsAndWellKnownSids) {
    CIdentityToken spIdentity =
        MakeIdentity("alice", "EXAMPLE", "S-1-5-21-1-2-3-1105", {"S-1-5-21-1-2-3-513", "S-1-5-32-545"});
    for (const tabletest::TRow& row : tabletest::ReadTable("security/membership.txt")) {
        SCOPED_TRACE(row[0]);
        const BOOL bExpected = row.at(2) == "member";
        CSid sid;
        ASSERT_EQ(CSid::FromString(row[1].c_str(), sid), ERROR_SUCCESS);
        BOOL bIsMember = !bExpected;
        EXPECT_TRUE(CheckTokenMembership(&spIdentity, sid, bIsMember));
        EXPECT_EQ(bIsMember, bExpected);

        CThreadIdentity::Impersonate(spIdentity);
        bIsMember = !bExpected;
        EXPECT_TRUE(CheckTokenMembership(nullptr, sid, bIsMember));
        EXPECT_EQ(bIsMember, bExpected);

        // The process is no request user, not even one of everyone.
        CThreadIdentity::RevertToSelf();
        bIsMember = TRUE;
        EXPECT_TRUE(CheckTokenMembership(nullptr, sid, bIsMember));
        EXPECT_FALSE(bIsMember);
    }
}

TEST_F(SecurityContextTest, MembershipCheckFailures) {
    CIdentityToken spIdentity = MakeIdentity("alice", "EXAMPLE", "S-1-5-21-1-2-3-1105");
    BOOL bIsMember = TRUE;
    PlatformSetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CheckTokenMembership(&spIdentity, CSid(), bIsMember));
    EXPECT_EQ(PlatformGetLastError(), ERROR_INVALID_SID);
    EXPECT_FALSE(bIsMember);

    CIdentityToken spNone;
    bIsMember = TRUE;
    EXPECT_FALSE(CheckTokenMembership(&spNone, EveryoneSid(), bIsMember));
    EXPECT_EQ(PlatformGetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(bIsMember);
}

TEST_F(SecurityContextTest, ConcurrentChecksSeeOnlyTheirOwnThreadsIdentity) {
    constexpr int nThreads = 6;
    constexpr int nRounds = 2000;
    std::atomic<int> nWrong{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < nThreads; ++t) {
        vThreads.emplace_back([t, &nWrong] {
            const std::string csOwn = "S-1-5-21-7-7-7-" + std::to_string(1000 + t);
            const std::string csGroup = "S-1-5-21-7-7-7-" + std::to_string(2000 + t % 2);
            CThreadIdentity::Impersonate(MakeIdentity("user", "EXAMPLE", csOwn.c_str(), {csGroup.c_str()}));
            for (int n = 0; n < nRounds; ++n) {
                const int nOther = n % nThreads;
                // Another thread's user, then its group: a member only of what is this thread's own.
                for (auto [nRid, bOwn] : {std::pair(1000 + nOther, nOther == t),
                                          std::pair(2000 + nOther % 2, nOther % 2 == t % 2)}) {
                    CSid sid;
                    CSid::FromString(("S-1-5-21-7-7-7-" + std::to_string(nRid)).c_str(), sid);
                    BOOL bIsMember = FALSE;
                    nWrong += !CheckTokenMembership(nullptr, sid, bIsMember) || (bIsMember != FALSE) != bOwn;
                }
                if (n % 100 == 0) {
                    std::string csUser, csDomain, csSid;
                    CSecurityAccess access;
                    if (access.GetThreadUserInfo(csUser, csDomain, csSid) != ERROR_SUCCESS || csSid != csOwn)
                        ++nWrong;
                }
            }
            CThreadIdentity::RevertToSelf();
        });
    }
    for (std::thread& thread : vThreads)
        thread.join();
    EXPECT_EQ(nWrong.load(), 0);
}

typedef void (*PFN_PROBE_WATCH)();
typedef void (*PFN_PROBE_SEEN)(char*, size_t);

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
        {"authenticated", MakeIdentity("alice", "EXAMPLE", "S-1-5-21-1-2-3-1105"),
         "EXAMPLE\\alice S-1-5-21-1-2-3-1105;error 1008;"},
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
