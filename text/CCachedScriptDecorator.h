// The host's cached-script-manager prefix, split into the short prefix that goes in front of a guard file's
// name and the remainder that completes it for the webmail's own scripts.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class CCachedScriptDecorator {
public:
    static constexpr size_t SHORT_PREFIX_LENGTH = 5;

    // No decorator for a prefix shorter than the short prefix.
    static std::shared_ptr<CCachedScriptDecorator> Create(const std::string& csCsmPrefix);

    virtual ~CCachedScriptDecorator() = default;
    virtual std::string GetShortPrefix() const { return m_csShortPrefix; }
    virtual std::string GetPrefixRemainder() const { return m_csPrefixRemainder; }
    virtual std::string GetFullPrefix() const { return m_csShortPrefix + m_csPrefixRemainder; }
    virtual std::string DecoratePath(const std::string& csPath) const { return GetFullPrefix() + csPath; }
    virtual std::string UndecoratePath(const std::string& csPath) const;
    virtual bool IsDecoratedPath(const std::string& csPath) const;

protected:
    explicit CCachedScriptDecorator(const std::string& csCsmPrefix);

private:
    std::string m_csShortPrefix;
    std::string m_csPrefixRemainder;
};
