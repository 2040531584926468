// Texts written into the base page: into a JavaScript string literal, or into an HTML attribute value.
#pragma once

#include <string>
#include <string_view>

// The text as the body of a JavaScript string literal: printable ASCII as it is (a backslash before '"' and
// '\'), every other code unit and '<' and '>' as a backslash-u escape, so that no text can close the script
// block it stands in.
void EscapeJavaScriptString(std::string& csOut, std::u16string_view wsText);
// The same for a byte text, each byte taken as one code unit.
void EscapeJavaScriptString(std::string& csOut, std::string_view svText);

// The text inside a double-quoted HTML attribute value.
std::string EscapeHtmlAttribute(std::string_view svText);
