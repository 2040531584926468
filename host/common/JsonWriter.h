// A small JSON writer for the hosts' records. Texts are byte strings: valid UTF-8 sequences pass through
// unchanged, and every byte that is not part of one is written as \u00XX (read as Latin-1), so the output is
// always valid UTF-8 whatever the module or the request contained. Control characters use the short escapes
// (\b \f \n \r \t) where JSON has them and \u00XX otherwise; DEL is written as \u007f.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The JSON string literal of a text, with its quotes.
std::string JsonQuote(std::string_view svText);

class CJsonWriter {
public:
    // Pretty output indents by two blanks per level; compact output has no blank at all.
    explicit CJsonWriter(bool bPretty = true) : m_bPretty(bPretty) {}

    CJsonWriter& BeginObject();
    CJsonWriter& EndObject();
    CJsonWriter& BeginArray();
    CJsonWriter& EndArray();
    CJsonWriter& Key(std::string_view svKey);
    CJsonWriter& String(std::string_view svText);
    CJsonWriter& Number(uint64_t qwValue);
    CJsonWriter& Number(int64_t qwValue);
    CJsonWriter& Number(uint32_t dwValue) { return Number(static_cast<uint64_t>(dwValue)); }
    CJsonWriter& Number(int32_t nValue) { return Number(static_cast<int64_t>(nValue)); }
    CJsonWriter& Bool(bool bValue);
    CJsonWriter& Null();

    // The text so far; complete once every object and array is closed.
    const std::string& Text() const { return m_csText; }
    bool IsComplete() const { return m_vScopes.empty() && m_bHasRoot; }

private:
    struct CScope {
        bool m_bObject;
        size_t m_nItems;
    };
    void BeforeValue();
    void Close(char chClose);
    void NewLine();

    bool m_bPretty;
    bool m_bAfterKey = false;
    bool m_bHasRoot = false;
    std::vector<CScope> m_vScopes;
    std::string m_csText;
};
