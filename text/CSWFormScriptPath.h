// The paths of the guard's own files (scripts, the blocked-browser page): base folder, product, version,
// file name, optionally with the cached-script-manager's short prefix in front of the file name.
#pragma once

#include <string>

class CCachedScriptDecorator;

class CSWFormScriptPath {
public:
    // Throws CSWFormException when the product name or version is empty.
    CSWFormScriptPath(const std::string& csProductName, const std::string& csVersion);
    virtual ~CSWFormScriptPath() = default;
    virtual void Initialize(const std::string& csBaseFolder, const std::string& csProductName,
                            const std::string& csVersion);

    std::string GetScriptPath(const std::string& csFileName) const;
    // Empty without a decorator: a guard file is only ever served through the host's cache.
    std::string GetScriptPath(const std::string& csFileName, const CCachedScriptDecorator* pDecorator) const;

protected:
    virtual void InitializeDefault(const std::string& csProductName, const std::string& csVersion);

private:
    std::string m_csBaseFolder;
    std::string m_csVersion;
    std::string m_csProductName;
};
