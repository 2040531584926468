// The module's own translation unit. The entry points live in the core library, where tests call them
// in-process; referring to them here makes the linker take them (and all they use) into the module.
#include "filter/EntryPoints.h"

namespace {
[[gnu::used]] const void* const g_apEntryPoints[] = {
    reinterpret_cast<const void*>(&GetFilterVersion),
    reinterpret_cast<const void*>(&HttpFilterProc),
    reinterpret_cast<const void*>(&TerminateFilter),
};
} // namespace
