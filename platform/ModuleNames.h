// File names of this product's binaries on the current platform.
#pragma once

#ifdef _WIN32
constexpr const char* WK_MODULE_FILE_NAME = "WK_ServiceWorker.dll";
constexpr const char* WK_RESOURCE_MODULE_NAME = "WK_Res64.dll";
#else
constexpr const char* WK_MODULE_FILE_NAME = "WK_ServiceWorker.so";
// The resource module is a data file here: it is read, never executed.
constexpr const char* WK_RESOURCE_MODULE_NAME = "WK_Res64.dat";
#endif
