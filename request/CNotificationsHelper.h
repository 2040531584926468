// Response-header helpers shared by the handlers.
#pragma once

#include "abi/HostAbi.h"
#include "text/CCachedScriptDecorator.h"

#include <array>
#include <memory>
#include <utility>

class CNotificationsHelper {
public:
    // Adds the nine anti-caching headers in order; stops at the first one the host refuses.
    static bool AddNoCacheHeaders(CDLLContext* pContext);
    // The decorator of the request's cached-script-manager prefix; null without one.
    static std::shared_ptr<CCachedScriptDecorator> GetCachedScriptDecorator(CDLLContext* pContext);
};

// Name and value of each no-cache header, in the order they are sent.
extern const std::array<std::pair<const char*, const char*>, 9> g_aNoCacheHeaders;
