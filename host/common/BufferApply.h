// What the core services do with the module's page edits: apply an instruction list to the response data.
#pragma once

#include "html/CBufferInstruction.h"

#include <string>

// Applies the list, in its order, to the page whose first byte lies at address qwDataBegin. Inserts go in
// before the byte at their position; deletes remove bytes from their position on. False, with the reason in
// csError and csOut empty, when an instruction lies outside the page, a delete runs past its end, or an
// edit starts inside bytes an earlier delete removed: a page the host cannot edit safely goes out unchanged.
bool ApplyBufferInstructions(const std::string& csPage, uint64_t qwDataBegin,
                             const CBufferInstructionList& list, std::string& csOut, std::string& csError);
