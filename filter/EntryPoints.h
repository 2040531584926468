// The module's three exported entry points.
#pragma once

#include "abi/HostAbi.h"

#define WK_EXPORT __attribute__((visibility("default")))

// Registration written into the host's version record.
constexpr DWORD WK_FILTER_VERSION = 0x60000;
constexpr DWORD WK_FILTER_FLAGS = SF_NOTIFY_SEND_RESPONSE | SF_NOTIFY_END_OF_REQUEST |
                                  SF_NOTIFY_SEND_RAW_DATA | SF_NOTIFY_AUTHENTICATION |
                                  SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_ORDER_LOW | SF_NOTIFY_AUTH_COMPLETE;
static_assert(WK_FILTER_FLAGS == 0x40264C0);
constexpr const char* WK_FILTER_DESCRIPTION = "Brindlemark Wendrake";
constexpr const char* WK_PRODUCT_NAME = "Brindlemark Wendrake";
constexpr const char* WK_REGISTRY_KEY = "Software\\Brindlemark\\Wendrake";
// The number under which this worker's settings and link criteria are kept.
constexpr DWORD WK_PRODUCT_NUMBER = 4;

constexpr DWORD WK_EVENT_INIT_SUCCEEDED = 0x60000065;
constexpr DWORD WK_EVENT_INIT_FAILED = 0x6000007E;
constexpr DWORD WK_EVENT_ERROR_TEXT = 0x6000006F;

extern "C" {
WK_EXPORT BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer);
WK_EXPORT DWORD HttpFilterProc(CDLLContext* pContext);
WK_EXPORT BOOL TerminateFilter(DWORD dwFlags);
}
