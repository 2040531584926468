// Where the general settings find a directory attribute of the request's user (the user's culture for the
// language detection). The directory lookup plugs in here; without one every lookup fails and callers go on
// with their defaults.
#pragma once

#include "platform/WinTypes.h"

#include <string>

class IUserPropertyLookup {
public:
    virtual ~IUserPropertyLookup() = default;
    // S_OK with the value, or the failure of the lookup.
    virtual HRESULT GetADProperty(const std::string& csUser, const std::string& csCookies,
                                  const std::string& csAttribute, std::string& csValue,
                                  const std::string& csMailbox, const std::string& csSid) = 0;
};
