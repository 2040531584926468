// "wkctl texts": the language and the localized texts that a user of an installation would get.
#pragma once

#include "host/cli/WkctlOptions.h"

#include <ostream>

// Exit status as for "run": 0 shown, 1 the resource module could not be loaded.
int RunWkctlTexts(const CWkctlOptions& options, std::ostream& out, std::ostream& err);
