// Caseless searches of the raw user-agent text that classify the client without identifying its browser;
// the browser screening and the guard script both ask them.
#pragma once

#include <string_view>

bool IsMacPlatform(std::string_view csUserAgent);
bool IsIE6OrLaterOnWindows(std::string_view csUserAgent);
bool IsIE4OrLaterOnMac(std::string_view csUserAgent);
bool IsOwaAuthOnWindows(std::string_view csUserAgent);
