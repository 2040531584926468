// The text of a directory column's values, as the user-property lookup hands it on: strings as they are,
// SIDs in their S-1-... form, GUIDs in braces, times as dates, and "  Never Expires" for an account time that
// never comes.
#pragma once

#include "platform/IDirectoryService.h"

#include <string>

constexpr const char* NEVER_EXPIRES_TEXT = "  Never Expires";

// The state of one search's output: the joined values, the search's trace, and whether an account time
// said "never" (which then stands for the whole output).
struct CColumnOutput {
    std::string csText;
    std::string csTrace;
    bool bNeverExpires = false;
};

// Appends the column's values (joined with ";") and its type to the trace.
void AppendColumnText(const CDirectoryColumn& column, CColumnOutput& output);

// "M/D/YYYY h:mm:ss AM" (the date alone at midnight), as a date value is shown as text.
std::string FormatDateText(const CSystemTime& st);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from the 16 bytes of a GUID; empty for another size.
std::string FormatGuidText(const std::string& csBytes);
