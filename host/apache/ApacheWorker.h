// The worker module in an Apache server process: checked once when the configuration is loaded (in a child
// process of its own, so that the server's parent never carries the worker's state), then loaded and
// registered in every server process, and terminated when that process ends.
#pragma once

#include "abi/HostAbi.h"

#include <httpd.h>

#include <string>

struct CWorkerEntryPoints {
    PFN_HTTP_FILTER_PROC pfnHttpFilterProc = nullptr;
    DWORD dwFlags = 0; // the notifications the worker registered
};

// True when the worker loads and GetFilterVersion returns TRUE; otherwise the reason, with what the worker
// wrote to standard error (its start-up events).
bool CheckWorker(const char* pszPath, std::string& csReason);

// Loads and registers the worker in this process; TerminateFilter runs when pProcessPool is destroyed.
bool StartWorker(const char* pszPath, apr_pool_t* pProcessPool, std::string& csReason);

// The registered worker of this process; null when none is running.
const CWorkerEntryPoints* RunningWorker();
