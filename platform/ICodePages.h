// Conversion of wide (UTF-16) texts into the byte encodings of Windows code pages.
#pragma once

#include "platform/WinTypes.h"

#include <string>

typedef unsigned int UINT;

constexpr UINT CP_UTF8_CODE_PAGE = 65001;

// What a code page's converter writes for a character it has no byte sequence for.
constexpr char CODE_PAGE_DEFAULT_CHAR = '?';

class ICodePages {
public:
    virtual ~ICodePages() = default;
    // Converts the whole text (zero units included) into the code page. A character the code page lacks,
    // and a surrogate without its partner, becomes the code page's default character; into UTF-8 a lone
    // surrogate becomes U+FFFD instead, as the Windows converter does. False, with a Win32 code, when this
    // system cannot convert into that code page (ERROR_INVALID_PARAMETER) or the conversion itself fails;
    // csOut is then empty.
    virtual bool WideToMultiByte(UINT nCodePage, const std::u16string& wsText, std::string& csOut,
                                 DWORD& dwError) = 0;
    // The code page of the calling thread's narrow texts.
    virtual UINT GetThreadAnsiCodePage() = 0;
};
