// The one reading of a setting's text as a number, shared by the settings store, the general settings and the
// log configuration, so that the same text means the same number to each of them.
#pragma once

#include <cstdint>
#include <string>

// Leading decimal integer of a text, the C library's atoi way (blanks, sign, digits; anything else stops
// it; non-numeric text gives 0), saturated at the 32-bit limits.
int32_t SettingsAtoi(const std::string& csText);
