// "wkctl texts": the language and the localized texts that a user of an installation would get.
#pragma once

#include "host/cli/WkctlOptions.h"

#include <ostream>
#include <string>
#include <vector>

// Exit status as for "run": 0 shown, 1 the resource module could not be loaded.
int RunWkctlTexts(const CWkctlOptions& options, std::ostream& out, std::ostream& err);

// Where the module took a request's language from, read from the log lines of the run (with the log on);
// null when the lines do not tell (the language was not detected, or the log is off).
const char* LanguageSourceFromLog(const std::vector<std::string>& vLines);
