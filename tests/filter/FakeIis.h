// Scriptable IIS callbacks for unit tests of the request helpers: one fake per test, reached through a
// thread-local pointer because the callbacks are plain C functions.
#pragma once

#include "abi/HostAbi.h"
#include "platform/LastError.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

struct CFakeIis {
    std::map<std::string, std::string> mapHeaders;
    std::map<std::string, std::string> mapServerVariables;
    std::vector<std::pair<std::string, std::string>> vAdded;
    std::vector<std::pair<std::string, std::string>> vSet;
    int nAddHeaderFailAt = -1;                          // index of the AddHeader call that fails, -1 for none
    DWORD dwFirstCallError = ERROR_INSUFFICIENT_BUFFER; // last error of the sizing call
    bool bFailSecondRead = false;
    DWORD dwSecondReadError = ERROR_INVALID_PARAMETER;
    bool bThrowOnAdd = false;
    int nReads = 0;

    HTTP_FILTER_CONTEXT filterContext{};
    HTTP_FILTER_PREPROC_HEADERS headers{};

    CFakeIis();
    ~CFakeIis();
    // Points the context at this fake for the given notification.
    void Attach(CDLLContext& context, DWORD dwNotification);
};
