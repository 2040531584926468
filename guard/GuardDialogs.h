// The hidden warning dialogs appended to the guarded pages, with their placeholders still in.
#pragma once

extern const char* const BASIC_DIALOG_TEMPLATE;
extern const char* const PREMIUM_DIALOG_TEMPLATE;
