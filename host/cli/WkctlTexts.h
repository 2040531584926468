// "wkctl texts": the language and the localized texts that a user of an installation would get.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// vArgs are the arguments after "texts". Exit status as for "run": 0 shown, 1 the resource module could not
// be loaded, 2 a usage error.
int RunWkctlTexts(const std::vector<std::string>& vArgs, std::ostream& out, std::ostream& err);
