// The webmail's UserContext cookies of a request's cookie text, and how a response makes a browser drop a
// cookie: shared by the blocked-browser redirect and the logoff response.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Calls fnFound with the name of each UserContext cookie ("UserContext", or "UserContext_" and hexadecimal
// digits) of a request's cookie text, in order.
void ScanUserContextCookies(const std::string& csCookies,
                            const std::function<void(const std::string&)>& fnFound);

// A match at nPos starts a cookie: the text begins there, or a ";" or a blank comes before it.
bool StartsCookie(const std::string& csCookies, size_t nPos);

// The value of a "Set-Cookie" header that removes a cookie: its name with an empty value that expired in
// 1970, valid for the whole site.
std::string CookieRemovalValue(const std::string& csName);
// The same removal as a whole header line, line end included.
std::string CookieRemovalLine(const std::string& csName);

// True when a text taken from a request may go into a response header: no carriage return, line feed or other
// control character could start a header of its own.
bool IsSafeHeaderText(std::string_view svText);
