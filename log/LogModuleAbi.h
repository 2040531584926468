// The contract with the optional log module: a separate library that hands out the locks serialising the
// writers of one log across processes and products. The module is loaded by name and looked up by these
// exports; both store a lock object in the caller's slot and keep ownership of it until the module unloads.
#pragma once

#include "platform/CSync.h"
#include "platform/WinTypes.h"

// The library's base name; the platform turns it into its file name ("libLogModule.so", "LogModule.dll").
constexpr const char* LOG_MODULE_BASE_NAME = "LogModule";
constexpr const char* LOG_MODULE_GET_PRODUCT_CS = "GetProductCS";
constexpr const char* LOG_MODULE_GET_GENERAL_CS = "GetGeneralCS";

// pszName names the product log; the same name gives the same lock in every process. dwOption is the
// administrator's lock option, passed through unchanged. TRUE when a lock was stored in *ppLock.
typedef BOOL (*PFN_GET_PRODUCT_CS)(const char* pszName, CSync** ppLock, DWORD dwOption);
// The lock of the common log that products share.
typedef BOOL (*PFN_GET_GENERAL_CS)(CSync** ppLock, DWORD dwOption);
