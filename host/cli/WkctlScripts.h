// "wkctl scripts": where the web server serves each of the guard's files of an installation, the address the
// worker writes into pages and redirects (the short cached-script prefix in front of the file name).
#pragma once

#include "host/cli/WkctlOptions.h"

#include <ostream>

// Exit status: 0 listed, 1 the installation has no guard files.
int RunWkctlScripts(const CWkctlOptions& options, std::ostream& out, std::ostream& err);
