#include "guard/JavaScriptText.h"

#include <cstdio>

namespace {

template <class TView> void Escape(std::string& csOut, TView text) {
    csOut.clear();
    csOut.reserve(text.size() * 6);
    for (auto ch : text) {
        const unsigned nUnit = static_cast<std::make_unsigned_t<decltype(ch)>>(ch);
        if (nUnit == '<') {
            csOut += "\\u003C";
        } else if (nUnit == '>') {
            csOut += "\\u003E";
        } else if (nUnit >= 32 && nUnit <= 126) {
            if (nUnit == '"' || nUnit == '\\')
                csOut += '\\';
            csOut += static_cast<char>(nUnit);
        } else {
            char szEscape[8];
            std::snprintf(szEscape, sizeof(szEscape), "\\u%04x", nUnit);
            csOut += szEscape;
        }
    }
}

} // namespace

void EscapeJavaScriptString(std::string& csOut, std::u16string_view wsText) {
    Escape(csOut, wsText);
}

void EscapeJavaScriptString(std::string& csOut, std::string_view svText) {
    Escape(csOut, svText);
}

std::string EscapeHtmlAttribute(std::string_view svText) {
    std::string csOut;
    csOut.reserve(svText.size());
    for (char ch : svText) {
        switch (ch) {
        case '&':
            csOut += "&amp;";
            break;
        case '"':
            csOut += "&quot;";
            break;
        case '\'':
            csOut += "&#39;";
            break;
        case '<':
            csOut += "&lt;";
            break;
        case '>':
            csOut += "&gt;";
            break;
        default:
            csOut += ch;
        }
    }
    return csOut;
}
