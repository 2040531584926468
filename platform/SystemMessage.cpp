#include "platform/SystemMessage.h"

#include "platform/IXmlDocument.h"

#include <cstdio>

namespace {

struct CMessageEntry {
    DWORD dwCode;
    const char* pszText;
};

// The system's texts for the codes this module reports or receives from its callers.
constexpr CMessageEntry g_aMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {7, "The storage control blocks were destroyed."},
    {8, "Not enough memory resources are available to process this command."},
    {11, "An attempt was made to load a program with an incorrect format."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {50, "The request is not supported."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {232, "The pipe is being closed."},
    {234, "More data is available."},
    {1008, "An attempt was made to reference a token that does not exist."},
    {1332, "No mapping between account names and security IDs was done."},
    {1337, "The security ID structure is invalid."},
    {1413, "Invalid index."},
    {1813, "The specified resource type cannot be found in the image file."},
    {1814, "The specified resource name cannot be found in the image file."},
    {1815, "The specified resource language ID cannot be found in the image file."},
    {0x80004001, "Not implemented"},
    {0x80004003, "Invalid pointer"},
    {0x80004005, "Unspecified error"},
    {0x8000FFFF, "Catastrophic failure"},
    {0x80010106, "Cannot change thread mode after it is set."},
};

const char* FindMessage(DWORD dwCode) {
    for (const CMessageEntry& entry : g_aMessages) {
        if (entry.dwCode == dwCode)
            return entry.pszText;
    }
    return nullptr;
}

} // namespace

bool GetSystemMessageText(DWORD dwCode, std::string& csText) {
    const char* pszText = FindMessage(dwCode);
    // A Win32 code wrapped in an HRESULT reads as the code itself.
    if (!pszText && (dwCode & 0xFFFF0000u) == 0x80070000u)
        pszText = FindMessage(dwCode & 0xFFFFu);
    // The XML parser's codes: the details (line, position, reason) travel beside the code.
    if (!pszText && (dwCode & 0xFFFFFF00u) == static_cast<DWORD>(XML_E_PARSE_FIRST))
        pszText = "The XML document is not well-formed.";
    if (!pszText)
        return false;
    csText = pszText;
    csText += "\r\n";
    return true;
}

std::string SystemMessageOrFallback(DWORD dwCode) {
    std::string csText;
    if (GetSystemMessageText(dwCode, csText))
        return csText;
    char szText[48];
    std::snprintf(szText, sizeof(szText), "Unknown error 0x%08X", static_cast<unsigned>(dwCode));
    return szText;
}
