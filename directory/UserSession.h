// The webmail session a request belongs to, from its cookies: the user-property cache keeps a value per user
// and logon session.
#pragma once

#include <string>

// The value after the first caseless occurrence of csKey (which must end with "=") up to the next ";" or the
// end. Anywhere in the text counts, also inside a longer cookie name.
bool extractCookie(const std::string& csCookies, const std::string& csKey, std::string& csValue);

// The "UserContext" cookie, else the "sessionid" cookie, else the user name; false for an empty user name.
bool GetSessionId(const std::string& csUser, const std::string& csCookies, std::string& csSessionId);
