// What one request costs the module in allocations: the host's identity is shared, never copied, and the
// thread's identity slot stays between requests.
#include "filter/EntryPoints.h"
#include "platform/ThreadIdentity.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

thread_local bool t_bCounting = false;
std::atomic<size_t> g_nAllocations{0};

} // namespace

// A counting replacement of the global allocator: malloc underneath, so its delete is free (which the
// compiler cannot see through).
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t cb) {
    if (t_bCounting)
        ++g_nAllocations;
    if (void* p = std::malloc(cb ? cb : 1))
        return p;
    throw std::bad_alloc();
}
// The nothrow form too: under AddressSanitizer it would otherwise come from the sanitizer's allocator and be
// freed by the delete above.
void* operator new(size_t cb, const std::nothrow_t&) noexcept {
    try {
        return operator new(cb);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

size_t AllocationsOfOneRequest(CDLLContext& context) {
    g_nAllocations = 0;
    t_bCounting = true;
    for (DWORD dwType : {SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTH_COMPLETE, SF_NOTIFY_SEND_RESPONSE,
                         SF_NOTIFY_SEND_RAW_DATA, SF_NOTIFY_END_OF_REQUEST}) {
        context.m_dwNotificationType = dwType;
        HttpFilterProc(&context);
    }
    t_bCounting = false;
    return g_nAllocations.load();
}

TEST(RequestCost, AUserInFiftyGroupsCostsNoAllocationPerGroup) {
    auto spIdentity = std::make_shared<CRequestIdentity>();
    spIdentity->csUser = "a-user-name-longer-than-any-short-string";
    spIdentity->csDomain = "A-DOMAIN-NAME-LONGER-THAN-ANY-SHORT-STRING";
    spIdentity->vUserSid.assign(28, 1);
    spIdentity->vGroupSids.assign(50, std::vector<BYTE>(28, 2));
    CDLLContext context;
    context.m_spRequestInfo = std::make_shared<CRequestInfo>();
    context.m_spOutboundContext = std::make_shared<COutboundContext>();
    context.m_spRequestIdentity = spIdentity;
    HTTP_FILTER_PREPROC_HEADERS headers{};
    context.m_pNotification = &headers;
    AllocationsOfOneRequest(context); // the settings object and the thread's slot come with the first one
    EXPECT_LE(AllocationsOfOneRequest(context), 5u);
    EXPECT_EQ(spIdentity.use_count(), 2); // the test's and the record's: the module kept none
}

} // namespace
