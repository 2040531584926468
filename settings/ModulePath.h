// Where the installation lies, found from the loaded module's own path.
#pragma once

#include <string>

// The folder of a module file with nLevels trailing folders removed, ending with the separator
// ("/opt/x/Wendrake/bin/WK_ServiceWorker.so" with 1 gives "/opt/x/Wendrake/"). Empty when the path has no
// folder or fewer folders than asked to remove. A leading "\\?\" is dropped; both separators are accepted.
std::string ModuleFolderFromPath(const std::string& csModulePath, int nLevels, char chSeparator);

// The path of the binary that holds this code; false when the platform cannot tell.
bool GetOwnModulePath(std::string& csPath);
