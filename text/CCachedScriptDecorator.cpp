#include "text/CCachedScriptDecorator.h"

std::shared_ptr<CCachedScriptDecorator> CCachedScriptDecorator::Create(const std::string& csCsmPrefix) {
    if (csCsmPrefix.size() < SHORT_PREFIX_LENGTH)
        return nullptr;
    return std::shared_ptr<CCachedScriptDecorator>(new CCachedScriptDecorator(csCsmPrefix));
}

CCachedScriptDecorator::CCachedScriptDecorator(const std::string& csCsmPrefix)
    : m_csShortPrefix(csCsmPrefix.substr(0, SHORT_PREFIX_LENGTH)),
      m_csPrefixRemainder(csCsmPrefix.substr(SHORT_PREFIX_LENGTH)) {}

std::string CCachedScriptDecorator::UndecoratePath(const std::string& csPath) const {
    return csPath.size() > SHORT_PREFIX_LENGTH ? csPath.substr(SHORT_PREFIX_LENGTH) : csPath;
}

bool CCachedScriptDecorator::IsDecoratedPath(const std::string& csPath) const {
    return csPath.size() > m_csShortPrefix.size() &&
           csPath.compare(m_csShortPrefix.size(), m_csPrefixRemainder.size(), m_csPrefixRemainder) == 0;
}
