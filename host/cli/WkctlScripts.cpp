#include "host/cli/WkctlScripts.h"

#include "text/CCachedScriptDecorator.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

int RunWkctlScripts(const CWkctlOptions& options, std::ostream& out, std::ostream& err) {
    const fs::path folder = fs::path(options.m_csInstall) / "Wendrake" / "BKScripts";
    const auto spDecorator = CCachedScriptDecorator::Create(options.m_csCsmPrefix);
    std::vector<std::pair<std::string, std::string>> vServed;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (!it->is_regular_file(error))
            continue;
        const fs::path relative = it->path().lexically_relative(folder);
        std::string csAddress =
            (options.m_csVirtualDir.empty() ? "/owa" : options.m_csVirtualDir) + "/BKScripts/";
        if (relative.has_parent_path())
            csAddress += relative.parent_path().generic_string() + "/";
        csAddress += spDecorator->GetShortPrefix() + relative.filename().string();
        vServed.emplace_back(csAddress, it->path().string());
    }
    if (error || vServed.empty()) {
        err << "wkctl: no guard files under '" << folder.string() << "'"
            << (error ? ": " + error.message() : std::string()) << '\n';
        return 1;
    }
    std::sort(vServed.begin(), vServed.end());
    for (const auto& [csAddress, csFile] : vServed)
        out << csAddress << "  " << csFile << '\n';
    return 0;
}
