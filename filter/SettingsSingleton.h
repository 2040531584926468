// The one process-wide settings object, created on first use under the process-wide lock.
#pragma once

#include "platform/CSync.h"
#include "settings/CWKGeneralSettings.h"

// The settings object; created on the first call. Throws only when its construction throws.
CWKGeneralSettings* GetGeneralSettingsInstance();
// The process-wide lock guarding the creation of the settings object and the reading of its address.
CCritSec& GetProcessLock();

// Reports an error text through the settings object's event source; never throws.
void ReportProcessErrorText(WORD wType, const char* pszText);
