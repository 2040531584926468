// The one process-wide settings object, created on first use under the process-wide lock.
#pragma once

#include "platform/CSync.h"
#include "settings/CWKGeneralSettings.h"

// The settings object; created on the first call, null once the process's exit has destroyed it. Throws only
// when its construction throws.
CWKGeneralSettings* GetGeneralSettingsInstance();
