#include "host/common/JsonWriter.h"

#include <cstdio>

namespace {

bool IsContinuation(unsigned char ch) {
    return (ch & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence at p (0 when the byte there does not start one). Overlong forms,
// surrogates and code points above U+10FFFF are not valid.
size_t Utf8SequenceLength(const unsigned char* p, size_t cbLeft) {
    unsigned char ch = p[0];
    size_t cbSequence = 0;
    unsigned char chMin = 0x80, chMax = 0xBF; // the range of the second byte
    if (ch >= 0xC2 && ch <= 0xDF) {
        cbSequence = 2;
    } else if (ch >= 0xE0 && ch <= 0xEF) {
        cbSequence = 3;
        if (ch == 0xE0)
            chMin = 0xA0;
        else if (ch == 0xED)
            chMax = 0x9F;
    } else if (ch >= 0xF0 && ch <= 0xF4) {
        cbSequence = 4;
        if (ch == 0xF0)
            chMin = 0x90;
        else if (ch == 0xF4)
            chMax = 0x8F;
    } else {
        return 0;
    }
    if (cbLeft < cbSequence || p[1] < chMin || p[1] > chMax)
        return 0;
    for (size_t i = 2; i < cbSequence; ++i)
        if (!IsContinuation(p[i]))
            return 0;
    return cbSequence;
}

void AppendUnicodeEscape(std::string& csOut, unsigned char ch) {
    char szEscape[8];
    std::snprintf(szEscape, sizeof(szEscape), "\\u%04x", ch);
    csOut += szEscape;
}

} // namespace

std::string JsonQuote(std::string_view svText) {
    std::string csOut;
    csOut.reserve(svText.size() + 2);
    csOut += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(svText.data());
    size_t cb = svText.size();
    for (size_t i = 0; i < cb;) {
        unsigned char ch = p[i];
        if (ch >= 0x80) {
            size_t cbSequence = Utf8SequenceLength(p + i, cb - i);
            if (cbSequence == 0) {
                AppendUnicodeEscape(csOut, ch);
                ++i;
            } else {
                csOut.append(reinterpret_cast<const char*>(p + i), cbSequence);
                i += cbSequence;
            }
            continue;
        }
        switch (ch) {
        case '"':
            csOut += "\\\"";
            break;
        case '\\':
            csOut += "\\\\";
            break;
        case '\b':
            csOut += "\\b";
            break;
        case '\f':
            csOut += "\\f";
            break;
        case '\n':
            csOut += "\\n";
            break;
        case '\r':
            csOut += "\\r";
            break;
        case '\t':
            csOut += "\\t";
            break;
        default:
            if (ch < 0x20 || ch == 0x7F)
                AppendUnicodeEscape(csOut, ch);
            else
                csOut += static_cast<char>(ch);
        }
        ++i;
    }
    csOut += '"';
    return csOut;
}

void CJsonWriter::NewLine() {
    if (!m_bPretty)
        return;
    m_csText += '\n';
    m_csText.append(m_vScopes.size() * 2, ' ');
}

void CJsonWriter::BeforeValue() {
    if (m_bAfterKey) {
        m_bAfterKey = false;
        return;
    }
    if (m_vScopes.empty()) {
        m_bHasRoot = true;
        return;
    }
    CScope& scope = m_vScopes.back();
    if (scope.m_nItems++ > 0)
        m_csText += ',';
    NewLine();
}

CJsonWriter& CJsonWriter::BeginObject() {
    BeforeValue();
    m_csText += '{';
    m_vScopes.push_back({true, 0});
    return *this;
}

CJsonWriter& CJsonWriter::BeginArray() {
    BeforeValue();
    m_csText += '[';
    m_vScopes.push_back({false, 0});
    return *this;
}

void CJsonWriter::Close(char chClose) {
    if (m_vScopes.empty())
        return;
    size_t nItems = m_vScopes.back().m_nItems;
    m_vScopes.pop_back();
    if (nItems > 0)
        NewLine();
    m_csText += chClose;
}

CJsonWriter& CJsonWriter::EndObject() {
    Close('}');
    return *this;
}

CJsonWriter& CJsonWriter::EndArray() {
    Close(']');
    return *this;
}

CJsonWriter& CJsonWriter::Key(std::string_view svKey) {
    BeforeValue();
    m_csText += JsonQuote(svKey);
    m_csText += m_bPretty ? ": " : ":";
    m_bAfterKey = true;
    return *this;
}

CJsonWriter& CJsonWriter::String(std::string_view svText) {
    BeforeValue();
    m_csText += JsonQuote(svText);
    return *this;
}

CJsonWriter& CJsonWriter::Number(uint64_t qwValue) {
    BeforeValue();
    m_csText += std::to_string(qwValue);
    return *this;
}

CJsonWriter& CJsonWriter::Number(int64_t qwValue) {
    BeforeValue();
    m_csText += std::to_string(qwValue);
    return *this;
}

CJsonWriter& CJsonWriter::Bool(bool bValue) {
    BeforeValue();
    m_csText += bValue ? "true" : "false";
    return *this;
}

CJsonWriter& CJsonWriter::Null() {
    BeforeValue();
    m_csText += "null";
    return *this;
}
