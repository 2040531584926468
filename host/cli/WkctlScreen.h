// wkctl screen: the browser policy of an installation's module, asked about one user agent or many.
#pragma once

#include <ostream>

struct CWkctlOptions;

// Returns the exit status; options are those of the screen command.
int RunWkctlScreen(const CWkctlOptions& options, std::ostream& out, std::ostream& err);
