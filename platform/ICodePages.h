// Conversion of wide (UTF-16) texts into the byte encodings of Windows code pages.
#pragma once

#include "platform/WinTypes.h"

#include <string>

typedef unsigned int UINT;

constexpr UINT CP_UTF8_CODE_PAGE = 65001;

class ICodePages {
public:
    virtual ~ICodePages() = default;
    // Converts the text into the code page. False, with a Win32 code, when this system cannot convert into
    // that code page or the conversion fails; csOut is then empty.
    virtual bool WideToMultiByte(UINT nCodePage, const std::u16string& wsText, std::string& csOut,
                                 DWORD& dwError) = 0;
    // The code page of the calling thread's narrow texts.
    virtual UINT GetThreadAnsiCodePage() = 0;
};
