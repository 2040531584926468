#include "host/cli/WkctlOptions.h"

#include "security/CSid.h"

#include <functional>
#include <set>

namespace {

bool HasBlankOrControl(const std::string& csText) {
    for (unsigned char ch : csText)
        if (ch <= 0x20 || ch == 0x7F)
            return true;
    return false;
}

std::string Trim(const std::string& csText) {
    size_t nStart = csText.find_first_not_of(" \t");
    if (nStart == std::string::npos)
        return std::string();
    size_t nEnd = csText.find_last_not_of(" \t");
    return csText.substr(nStart, nEnd - nStart + 1);
}

bool ParseNumberOption(const std::string& csOption, const std::string& csValue, DWORD& dwValue,
                       std::string& csError) {
    if (ParseDword(csValue, dwValue))
        return true;
    csError = "option " + csOption +
              " expects a number from 0 to 4294967295 (decimal or 0x hexadecimal), got '" + csValue + "'";
    return false;
}

// "NAME=VALUE" with a non-empty name.
bool ParseAssignment(const std::string& csOption, const std::string& csValue,
                     std::vector<std::pair<std::string, std::string>>& vInto, std::string& csError) {
    size_t nEquals = csValue.find('=');
    if (nEquals == std::string::npos || nEquals == 0) {
        csError = "option " + csOption + " expects NAME=VALUE, got '" + csValue + "'";
        return false;
    }
    std::string csName = csValue.substr(0, nEquals);
    if (HasBlankOrControl(csName)) {
        csError = "option " + csOption + ": the name '" + csName + "' contains a blank or control character";
        return false;
    }
    vInto.emplace_back(csName, csValue.substr(nEquals + 1));
    return true;
}

// A SID option's value in its binary form, or a complaint naming the option.
bool ParseSidOption(const char* pszOption, const std::string& csValue, std::vector<BYTE>& vSid,
                    std::string& csError) {
    CSid sid;
    if (CSid::FromString(csValue.c_str(), sid) != ERROR_SUCCESS) {
        csError = std::string("option ") + pszOption + " expects a SID such as S-1-5-21-1-2-3-1105, got '" +
                  csValue + "'";
        return false;
    }
    vSid = sid.GetBytes();
    return true;
}

struct COption {
    const char* pszName;
    bool bTakesValue;
    bool bRepeatable;
    std::function<bool(CWkctlOptions&, const std::string&, std::string&)> fnApply;
};

const std::vector<COption>& Options() {
    static const std::vector<COption> s_vOptions = {
        {"--help", false, true,
         [](CWkctlOptions& o, const std::string&, std::string&) { return o.m_bHelp = true; }},
        {"--json", false, false,
         [](CWkctlOptions& o, const std::string&, std::string&) { return o.m_bJson = true; }},
        {"--install", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csInstall = v;
             return true;
         }},
        {"--module", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csModule = v;
             return true;
         }},
        {"--method", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             if (v.empty() || HasBlankOrControl(v)) {
                 e = "option --method expects a method name such as GET, got '" + v + "'";
                 return false;
             }
             o.m_csMethod = v;
             return true;
         }},
        {"--url", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             if (v.empty() || v[0] != '/' || HasBlankOrControl(v)) {
                 e = "option --url expects a path beginning with '/' and without blanks, got '" + v + "'";
                 return false;
             }
             o.m_csUrl = v;
             return true;
         }},
        {"--user-agent", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csUserAgent = v;
             return o.m_bUserAgent = true;
         }},
        {"--cookie", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csCookie = v;
             return o.m_bCookie = true;
         }},
        {"--accept-language", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csAcceptLanguage = v;
             return o.m_bAcceptLanguage = true;
         }},
        {"--referer", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csReferer = v;
             return o.m_bReferer = true;
         }},
        {"--subscription-type", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             return ParseNumberOption("--subscription-type", v, o.m_dwSubscriptionType, e);
         }},
        {"--link-criteria", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             return ParseNumberOption("--link-criteria", v, o.m_dwLinkCriteria, e);
         }},
        {"--status", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             DWORD dwStatus = 0;
             if (!ParseDword(v, dwStatus) || dwStatus < 100 || dwStatus > 999) {
                 e = "option --status expects an HTTP status from 100 to 999, got '" + v + "'";
                 return false;
             }
             o.m_dwStatus = dwStatus;
             return true;
         }},
        {"--header", true, true,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             size_t nColon = v.find(':');
             std::string csName = nColon == std::string::npos ? std::string() : Trim(v.substr(0, nColon));
             if (csName.empty() || HasBlankOrControl(csName)) {
                 e = "option --header expects \"Name: value\", got '" + v + "'";
                 return false;
             }
             o.m_vHeaders.emplace_back(csName, Trim(v.substr(nColon + 1)));
             return true;
         }},
        {"--server-variable", true, true,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             return ParseAssignment("--server-variable", v, o.m_vServerVariables, e);
         }},
        {"--request-value", true, true,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             return ParseAssignment("--request-value", v, o.m_vRequestValues, e);
         }},
        {"--server", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csServer = v;
             return true;
         }},
        {"--virtual-dir", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csVirtualDir = v;
             return true;
         }},
        {"--body-file", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csBodyFile = v;
             return true;
         }},
        {"--user", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             const size_t nSlash = v.find('\\');
             o.m_csUser = nSlash == std::string::npos ? v : v.substr(nSlash + 1);
             o.m_csUserDomain = nSlash == std::string::npos ? std::string() : v.substr(0, nSlash);
             if (o.m_csUser.empty() || HasBlankOrControl(o.m_csUser) || HasBlankOrControl(o.m_csUserDomain)) {
                 e = "option --user expects DOMAIN\\name or name, got '" + v + "'";
                 return false;
             }
             return o.m_bIdentity = true;
         }},
        {"--user-sid", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             if (!ParseSidOption("--user-sid", v, o.m_vUserSid, e))
                 return false;
             return o.m_bIdentity = true;
         }},
        {"--group-sid", true, true,
         [](CWkctlOptions& o, const std::string& v, std::string& e) {
             std::vector<BYTE> vSid;
             if (!ParseSidOption("--group-sid", v, vSid, e))
                 return false;
             o.m_vGroupSids.push_back(std::move(vSid));
             return o.m_bIdentity = true;
         }},
        {"--show-log", true, false,
         [](CWkctlOptions& o, const std::string& v, std::string&) {
             o.m_csShowLog = v;
             return true;
         }},
    };
    return s_vOptions;
}

} // namespace

bool ParseDword(const std::string& csText, DWORD& dwValue) {
    size_t nStart = 0;
    unsigned nBase = 10;
    if (csText.size() > 2 && csText[0] == '0' && (csText[1] == 'x' || csText[1] == 'X')) {
        nStart = 2;
        nBase = 16;
    }
    if (nStart >= csText.size())
        return false;
    uint64_t qwValue = 0;
    for (size_t i = nStart; i < csText.size(); ++i) {
        char ch = csText[i];
        unsigned nDigit;
        if (ch >= '0' && ch <= '9')
            nDigit = static_cast<unsigned>(ch - '0');
        else if (nBase == 16 && ch >= 'a' && ch <= 'f')
            nDigit = static_cast<unsigned>(ch - 'a' + 10);
        else if (nBase == 16 && ch >= 'A' && ch <= 'F')
            nDigit = static_cast<unsigned>(ch - 'A' + 10);
        else
            return false;
        qwValue = qwValue * nBase + nDigit;
        if (qwValue > 0xFFFFFFFFull)
            return false;
    }
    dwValue = static_cast<DWORD>(qwValue);
    return true;
}

std::string CWkctlOptions::ModulePath() const {
    if (!m_csModule.empty())
        return m_csModule;
    std::string csPrefix = m_csInstall;
    while (csPrefix.size() > 1 && csPrefix.back() == '/')
        csPrefix.pop_back();
    return csPrefix + "/Wendrake/bin/WK_ServiceWorker.so";
}

CHostRequest CWkctlOptions::BuildRequest(const std::string* pcsBody) const {
    CHostRequest request;
    request.Method(m_csMethod)
        .Url(m_csUrl)
        .SubscriptionType(m_dwSubscriptionType)
        .LinkCriteria(m_dwLinkCriteria)
        .ResponseStatus(m_dwStatus);
    if (m_bUserAgent)
        request.UserAgent(m_csUserAgent);
    if (m_bCookie)
        request.Cookie(m_csCookie);
    if (m_bAcceptLanguage)
        request.AcceptLanguage(m_csAcceptLanguage);
    if (m_bReferer)
        request.Referer(m_csReferer);
    for (const auto& [csName, csValue] : m_vHeaders)
        request.Header(csName, csValue);
    for (const auto& [csName, csValue] : m_vServerVariables)
        request.ServerVariable(csName, csValue);
    for (const auto& [csName, csValue] : m_vRequestValues)
        request.RequestValue(csName, csValue);
    if (!m_csServer.empty())
        request.ExchangeServer(m_csServer);
    if (!m_csVirtualDir.empty())
        request.VirtualDir(m_csVirtualDir);
    if (pcsBody)
        request.ResponseBody(*pcsBody);
    if (m_bIdentity) {
        auto spIdentity = std::make_shared<CRequestIdentity>();
        spIdentity->csUser = m_csUser;
        spIdentity->csDomain = m_csUserDomain;
        spIdentity->vUserSid = m_vUserSid;
        spIdentity->vGroupSids = m_vGroupSids;
        request.Identity(std::move(spIdentity));
    }
    return request;
}

bool ParseWkctlArguments(const std::vector<std::string>& vArgs, CWkctlOptions& options,
                         std::string& csError) {
    options = CWkctlOptions();
    if (vArgs.empty()) {
        csError = "no command given";
        return false;
    }
    const std::string& csCommand = vArgs[0];
    if (csCommand == "--help" || csCommand == "-h" || csCommand == "help") {
        options.m_bHelp = true;
        return true;
    }
    if (csCommand != "run") {
        csError = "unknown command '" + csCommand + "' (the commands are 'run' and 'texts')";
        return false;
    }

    std::set<std::string> setSeen;
    for (size_t i = 1; i < vArgs.size(); ++i) {
        const std::string& csArg = vArgs[i];
        if (csArg == "-h") {
            options.m_bHelp = true;
            continue;
        }
        if (csArg.compare(0, 2, "--") != 0 || csArg.size() == 2) {
            csError = "unexpected argument '" + csArg + "'";
            return false;
        }
        size_t nEquals = csArg.find('=');
        std::string csName = csArg.substr(0, nEquals);
        const COption* pOption = nullptr;
        for (const auto& option : Options())
            if (csName == option.pszName)
                pOption = &option;
        if (!pOption) {
            csError = "unknown option '" + csName + "'";
            return false;
        }
        if (!pOption->bRepeatable && !setSeen.insert(csName).second) {
            csError = "option " + csName + " given more than once";
            return false;
        }
        std::string csValue;
        if (!pOption->bTakesValue) {
            if (nEquals != std::string::npos) {
                csError = "option " + csName + " takes no value";
                return false;
            }
        } else if (nEquals != std::string::npos) {
            csValue = csArg.substr(nEquals + 1);
        } else if (i + 1 < vArgs.size()) {
            csValue = vArgs[++i];
        } else {
            csError = "option " + csName + " needs a value";
            return false;
        }
        if (!pOption->fnApply(options, csValue, csError))
            return false;
    }
    if (options.m_bHelp)
        return true;
    if (options.m_csInstall.empty() && options.m_csModule.empty()) {
        csError = "run needs --install DIR or --module PATH";
        return false;
    }
    return true;
}

std::string WkctlUsage() {
    return R"(Usage: wkctl run --install DIR [options]
       wkctl texts --install DIR [--accept-language TEXT] [--culture TEXT]
       wkctl --help

Loads the worker module of an installation, registers it, runs one request through its notifications
(PREPROC_HEADERS, AUTH_COMPLETE, SEND_RESPONSE, SEND_RAW_DATA, END_OF_REQUEST), terminates it and prints
what it did.

Module:
  --install DIR               installation folder (the module is DIR/Wendrake/bin/WK_ServiceWorker.so)
  --module PATH               load this module file instead

Request:
  --method NAME               request method (default GET)
  --url PATH                  request URL, path and query (default /owa/)
  --user-agent TEXT           User-Agent header
  --cookie TEXT               Cookie header, e.g. "a=b; c=d"
  --accept-language TEXT      Accept-Language header
  --referer URL               Referer header
  --header "Name: value"      another request header (repeatable)
  --server-variable N=V       a server variable (repeatable)
  --request-value N=V         a value of the host's request information (repeatable)
  --subscription-type N       the host's class of the request URL (default 0)
  --link-criteria N           the link criteria of the request (default 0)
  --server URL                webmail server address (default https://localhost)
  --virtual-dir DIR           webmail virtual directory (default /owa)

Identity (the request's authenticated user; none: an anonymous request):
  --user DOMAIN\NAME          user name, with or without its domain
  --user-sid SID              the user's SID, S-1-5-21-...
  --group-sid SID             a group the user belongs to (repeatable)

Response:
  --status N                  HTTP status of the response (default 200)
  --body-file FILE            response body; only with a body is SEND_RAW_DATA sent

Output:
  --json                      one JSON record instead of the readable report
  --show-log FILE             also print the lines the run added to this log file

texts: the language a user gets (the directory culture given with --culture, else the browser's
Accept-Language, else English) and the module's localized texts in it, each marked where it falls back to
English; read from DIR/Wendrake/Resource.

Numbers are decimal or 0x hexadecimal; --name=value works as well as --name value.
Exit status: 0 the run completed (whatever the module decided), 1 the module could not be loaded or
GetFilterVersion returned 0, 2 a usage error.
)";
}
