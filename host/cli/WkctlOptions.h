// The command line of wkctl, the administrator's host: parsed into options, or a precise complaint.
#pragma once

#include "host/common/HostRequest.h"

#include <string>
#include <utility>
#include <vector>

constexpr int WKCTL_EXIT_COMPLETED = 0;
constexpr int WKCTL_EXIT_MODULE_FAILED = 1;
constexpr int WKCTL_EXIT_USAGE = 2;

struct CWkctlOptions {
    std::string m_csCommand;
    // Help was asked for: m_csHelp is the text of the command it was asked for.
    bool m_bHelp = false;
    std::string m_csHelp;
    std::string m_csInstall;
    std::string m_csModule;
    std::string m_csMethod = "GET";
    std::string m_csUrl = "/owa/";
    bool m_bUserAgent = false, m_bCookie = false, m_bAcceptLanguage = false, m_bReferer = false;
    std::string m_csUserAgent, m_csCookie, m_csAcceptLanguage, m_csReferer;
    DWORD m_dwSubscriptionType = 0;
    DWORD m_dwLinkCriteria = 0;
    DWORD m_dwStatus = 200;
    std::vector<std::pair<std::string, std::string>> m_vHeaders;
    std::vector<std::pair<std::string, std::string>> m_vServerVariables;
    std::vector<std::pair<std::string, std::string>> m_vRequestValues;
    std::string m_csServer;
    std::string m_csVirtualDir;
    std::string m_csBodyFile;
    std::string m_csCsmPrefix;   // scripts: the cached-script prefix the server hands the worker
    std::string m_csContentType; // run: the response's Content-Type, handed in a header block before the body
    std::string m_csShowLog;
    std::string m_csOutFile; // run: the delivered response body goes here
    bool m_bJson = false;
    // screen: a file of user agents, one a line, instead of --user-agent.
    std::string m_csUserAgentsFile;
    // texts: the directory culture, which wins over --accept-language.
    bool m_bCulture = false;
    std::string m_csCulture;
    // The request's user: given when any of --user, --user-sid, --group-sid is.
    bool m_bIdentity = false;
    std::string m_csUser, m_csUserDomain;
    std::vector<BYTE> m_vUserSid;
    std::vector<std::vector<BYTE>> m_vGroupSids;

    // --module, or the installation's module file.
    std::string ModulePath() const;
    // The request these options describe; the body is read by the caller.
    CHostRequest BuildRequest(const std::string* pcsBody) const;
};

// vArgs are the arguments after the program name. False with csError set for bad input; the complaints are
// wkctl's own, CLI11's are translated.
bool ParseWkctlArguments(const std::vector<std::string>& vArgs, CWkctlOptions& options, std::string& csError);

// A decimal or 0x-hexadecimal 32-bit number, nothing else around it.
bool ParseDword(const std::string& csText, DWORD& dwValue);
