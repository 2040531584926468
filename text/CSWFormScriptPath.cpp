#include "text/CSWFormScriptPath.h"

#include "text/CCachedScriptDecorator.h"
#include "text/CSWFormException.h"

CSWFormScriptPath::CSWFormScriptPath(const std::string& csProductName, const std::string& csVersion) {
    // Only this class's own initializer can run while it is being constructed.
    CSWFormScriptPath::InitializeDefault(csProductName, csVersion);
}

void CSWFormScriptPath::InitializeDefault(const std::string& csProductName, const std::string& csVersion) {
    CSWFormScriptPath::Initialize("BKScripts", csProductName, csVersion);
}

void CSWFormScriptPath::Initialize(const std::string& csBaseFolder, const std::string& csProductName,
                                   const std::string& csVersion) {
    if (csBaseFolder.empty())
        throw CSWFormException("Initialize CSWFormScriptPath failed: empty base folder");
    if (csProductName.empty())
        throw CSWFormException("Initialize CSWFormScriptPath failed: empty product name");
    if (csVersion.empty())
        throw CSWFormException("Initialize CSWFormScriptPath failed: empty version info");
    m_csBaseFolder = csBaseFolder;
    m_csProductName = csProductName;
    m_csVersion = csVersion;
}

std::string CSWFormScriptPath::GetScriptPath(const std::string& csFileName) const {
    return m_csBaseFolder + "/" + m_csProductName + "/" + m_csVersion + "/" + csFileName;
}

std::string CSWFormScriptPath::GetScriptPath(const std::string& csFileName,
                                             const CCachedScriptDecorator* pDecorator) const {
    if (!pDecorator)
        return std::string();
    return GetScriptPath(pDecorator->GetShortPrefix() + csFileName);
}
