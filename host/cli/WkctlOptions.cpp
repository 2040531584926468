#include "host/cli/WkctlOptions.h"

#include "text/CCachedScriptDecorator.h"

#include "security/CSid.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <functional>

namespace {

using CNamedValue = std::pair<std::string, std::string>;

bool HasBlankOrControl(const std::string& csText) {
    return std::any_of(csText.begin(), csText.end(),
                       [](unsigned char ch) { return ch <= 0x20 || ch == 0x7F; });
}

std::string Trim(const std::string& csText) {
    size_t nStart = csText.find_first_not_of(" \t");
    if (nStart == std::string::npos)
        return std::string();
    return csText.substr(nStart, csText.find_last_not_of(" \t") - nStart + 1);
}

// CLI11 reports a validator's complaint as "NAME: complaint". The complaints here are what follows "option
// NAME" in wkctl's message; Complaint() puts the two together again.
std::string Expects(const char* pszWhat, const std::string& csValue) {
    return std::string(" expects ") + pszWhat + ", got '" + csValue + "'";
}

CLI::Validator Valid(const char* pszWhat, std::function<bool(const std::string&)> fnValid) {
    return CLI::Validator(
        [=](std::string& csValue) { return fnValid(csValue) ? std::string() : Expects(pszWhat, csValue); },
        "");
}

// Handed on in decimal: CLI11's own conversion reads a leading 0 as octal and accepts blanks and signs.
CLI::Validator Number(DWORD dwMin = 0, DWORD dwMax = 0xFFFFFFFF,
                      const char* pszWhat = "a number from 0 to 4294967295 (decimal or 0x hexadecimal)") {
    return CLI::Validator(
        [=](std::string& csValue) {
            DWORD dwValue = 0;
            if (!ParseDword(csValue, dwValue) || dwValue < dwMin || dwValue > dwMax)
                return Expects(pszWhat, csValue);
            csValue = std::to_string(dwValue);
            return std::string();
        },
        "");
}

CLI::Validator Assignment() {
    return CLI::Validator(
        [](std::string& csValue) {
            const size_t nEquals = csValue.find('=');
            if (nEquals == std::string::npos || nEquals == 0)
                return Expects("NAME=VALUE", csValue);
            const std::string csName = csValue.substr(0, nEquals);
            return HasBlankOrControl(csName)
                       ? ": the name '" + csName + "' contains a blank or control character"
                       : std::string();
        },
        "");
}

CNamedValue SplitAt(const std::string& csText, char chSeparator) {
    const size_t nAt = csText.find(chSeparator);
    if (nAt == std::string::npos)
        return {std::string(), csText};
    return {csText.substr(0, nAt), csText.substr(nAt + 1)};
}

// "Name: value", trimmed; an empty name for anything else.
CNamedValue Header(const std::string& csText) {
    if (csText.find(':') == std::string::npos)
        return {};
    auto [csName, csValue] = SplitAt(csText, ':');
    csName = Trim(csName);
    if (HasBlankOrControl(csName))
        return {};
    return {csName, Trim(csValue)};
}

bool IsMethod(const std::string& csText) {
    return !csText.empty() && !HasBlankOrControl(csText);
}

bool IsPath(const std::string& csText) {
    return IsMethod(csText) && csText[0] == '/';
}

bool IsUser(const std::string& csText) {
    const auto [csDomain, csUser] = SplitAt(csText, '\\');
    return IsMethod(csUser) && !HasBlankOrControl(csDomain);
}

std::vector<BYTE> SidBytes(const std::string& csText) {
    CSid sid;
    return CSid::FromString(csText.c_str(), sid) == ERROR_SUCCESS ? sid.GetBytes() : std::vector<BYTE>();
}

bool IsSid(const std::string& csText) {
    return !SidBytes(csText).empty();
}

const char* const SID_EXPECTED = "a SID such as S-1-5-21-1-2-3-1105";

template <typename T>
CLI::Option* Add(CLI::App& app, const char* pszName, T& value, const char* pszValue, const char* pszHelp) {
    return app.add_option(pszName, value, pszHelp)->type_name(pszValue);
}

// An option whose values are handed over one by one, in the order given.
CLI::Option* AddEach(CLI::App& app, const char* pszName, const char* pszValue, const char* pszHelp,
                     CLI::Validator check, const std::function<void(std::string)>& fnEach) {
    return app.add_option(pszName, CLI::callback_t(), pszHelp)
        ->type_name(pszValue)
        ->check(check)
        ->each(fnEach);
}

CLI::Option* AddRepeatable(CLI::App& app, const char* pszName, const char* pszValue, const char* pszHelp,
                           CLI::Validator check, const std::function<void(std::string)>& fnEach) {
    return AddEach(app, pszName, pszValue, pszHelp, std::move(check), fnEach)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void DefineRequest(CLI::App& run, CWkctlOptions& o) {
    run.option_defaults()->group("Request");
    Add(run, "--method", o.m_csMethod, "NAME", "request method (default GET)")
        ->check(Valid("a method name such as GET", IsMethod));
    Add(run, "--url", o.m_csUrl, "PATH", "request URL, path and query (default /owa/)")
        ->check(Valid("a path beginning with '/' and without blanks", IsPath));
    Add(run, "--user-agent", o.m_csUserAgent, "TEXT", "User-Agent header");
    Add(run, "--cookie", o.m_csCookie, "TEXT", "Cookie header, e.g. \"a=b; c=d\"");
    Add(run, "--accept-language", o.m_csAcceptLanguage, "TEXT", "Accept-Language header");
    Add(run, "--referer", o.m_csReferer, "URL", "Referer header");
    AddRepeatable(run, "--header", "\"Name: value\"", "another request header (repeatable)",
                  Valid("\"Name: value\"", [](const std::string& v) { return !Header(v).first.empty(); }),
                  [&o](const std::string& v) { o.m_vHeaders.push_back(Header(v)); });
    AddRepeatable(run, "--server-variable", "N=V", "a server variable (repeatable)", Assignment(),
                  [&o](const std::string& v) { o.m_vServerVariables.push_back(SplitAt(v, '=')); });
    AddRepeatable(run, "--request-value", "N=V", "a value of the host's request information (repeatable)",
                  Assignment(),
                  [&o](const std::string& v) { o.m_vRequestValues.push_back(SplitAt(v, '=')); });
    Add(run, "--subscription-type", o.m_dwSubscriptionType, "N",
        "the host's class of the request URL (default 0)")
        ->transform(Number());
    Add(run, "--link-criteria", o.m_dwLinkCriteria, "N", "the link criteria of the request (default 0)")
        ->transform(Number());
    Add(run, "--server", o.m_csServer, "URL", "webmail server address (default https://localhost)");
    Add(run, "--virtual-dir", o.m_csVirtualDir, "DIR", "webmail virtual directory (default /owa)");
}

void DefineIdentity(CLI::App& run, CWkctlOptions& o) {
    run.option_defaults()->group("Identity (the request's authenticated user; none: an anonymous request)");
    AddEach(run, "--user", "DOMAIN\\NAME", "user name, with or without its domain",
            Valid("DOMAIN\\name or name", IsUser),
            [&o](const std::string& v) { std::tie(o.m_csUserDomain, o.m_csUser) = SplitAt(v, '\\'); });
    AddEach(run, "--user-sid", "SID", "the user's SID, S-1-5-21-...", Valid(SID_EXPECTED, IsSid),
            [&o](const std::string& v) { o.m_vUserSid = SidBytes(v); });
    AddRepeatable(run, "--group-sid", "SID", "a group the user belongs to (repeatable)",
                  Valid(SID_EXPECTED, IsSid),
                  [&o](const std::string& v) { o.m_vGroupSids.push_back(SidBytes(v)); });
}

void DefineRun(CLI::App& run, CWkctlOptions& o) {
    run.option_defaults()->group("Module");
    Add(run, "--install", o.m_csInstall, "DIR",
        "installation folder (the module is DIR/Wendrake/bin/WK_ServiceWorker.so)");
    Add(run, "--module", o.m_csModule, "PATH", "load this module file instead");
    DefineRequest(run, o);
    DefineIdentity(run, o);
    run.option_defaults()->group("Response");
    Add(run, "--status", o.m_dwStatus, "N", "HTTP status of the response (default 200)")
        ->transform(Number(100, 999, "an HTTP status from 100 to 999"));
    Add(run, "--body-file", o.m_csBodyFile, "FILE", "response body; only with a body is SEND_RAW_DATA sent");
    Add(run, "--content-type", o.m_csContentType, "TEXT",
        "Content-Type of the response, e.g. \"text/html; charset=windows-1252\": handed to SEND_RAW_DATA in "
        "the response's header block before the body, where the module finds the page's charset");
    run.option_defaults()->group("Output");
    run.add_flag("--json", o.m_bJson, "one JSON record instead of the readable report")
        ->disable_flag_override();
    Add(run, "--show-log", o.m_csShowLog, "FILE", "also print the lines the run added to this log file");
    Add(run, "--out", o.m_csOutFile, "FILE",
        "write the response body as the browser receives it (edited or not) to this file");
    run.footer(
        "The module is registered, sent PREPROC_HEADERS, AUTH_COMPLETE, SEND_RESPONSE, SEND_RAW_DATA and\n"
        "END_OF_REQUEST as far as it lets the request go on, and terminated.\n"
        "Numbers are decimal or 0x hexadecimal; --name=value works as well as --name value.\n"
        "Exit status: 0 the run completed (whatever the module decided), 1 the module could not be loaded\n"
        "or GetFilterVersion returned 0, 2 a usage error.");
}

void DefineTexts(CLI::App& texts, CWkctlOptions& o) {
    Add(texts, "--install", o.m_csInstall, "DIR",
        "installation folder; the texts are read from DIR/Wendrake/Resource");
    Add(texts, "--accept-language", o.m_csAcceptLanguage, "TEXT", "the browser's Accept-Language");
    Add(texts, "--culture", o.m_csCulture, "TEXT",
        "the user's directory culture, which wins over the browser's");
    Add(texts, "--user", o.m_csUser, "DOMAIN\\NAME",
        "read the user's culture from the directory (the machine's LDAP client configuration)");
    texts.footer("The language is the culture's (--culture, else the directory's for --user), else the "
                 "browser's, else\n"
                 "English; each text is marked where it\n"
                 "falls back to English.\n"
                 "Exit status: 0 shown, 1 the resource module could not be loaded, 2 a usage error.");
}

void DefineScripts(CLI::App& scripts, CWkctlOptions& o) {
    Add(scripts, "--install", o.m_csInstall, "DIR",
        "installation folder; its guard files lie in DIR/Wendrake/BKScripts");
    Add(scripts, "--csm-prefix", o.m_csCsmPrefix, "TEXT",
        "the cached-script prefix the web server hands the worker (HEADER_BK_CSMPREFIX, at least 5 "
        "characters)");
    Add(scripts, "--virtual-dir", o.m_csVirtualDir, "DIR", "webmail virtual directory (default /owa)");
    scripts.footer("Each line is the address a browser asks for (the worker writes it into pages and "
                   "redirects)\nand the file the web server answers it with.\n"
                   "Exit status: 0 listed, 1 the installation has no guard files, 2 a usage error.");
}

void DefineScreen(CLI::App& screen, CWkctlOptions& o) {
    Add(screen, "--install", o.m_csInstall, "DIR",
        "installation folder: its module (DIR/Wendrake/bin/WK_ServiceWorker.so) decides under its settings");
    Add(screen, "--user-agent", o.m_csUserAgent, "TEXT", "the user agent to screen");
    Add(screen, "--user-agents", o.m_csUserAgentsFile, "FILE",
        "screen every line of this file (e.g. the user agents of an access log); empty lines are skipped");
    screen
        .add_flag("--json", o.m_bJson,
                  "one JSON object per user agent on standard output; the summary goes to standard error")
        ->disable_flag_override();
    screen.footer(
        "Each user agent is sent to the module as the PREPROC_HEADERS of a GET request for /owa/; blocked\n"
        "means the module answered it with its blocked-browser redirect. Client flags are those the browser\n"
        "policy sets: 0x1 premium client, 0x2 NC4, 0x4 Safari v1, 0x8 Mac, 0x100 premium experience.\n"
        "Exit status: 0 screened, 1 the module could not be loaded or GetFilterVersion returned 0,\n"
        "2 a usage error or an unreadable file.");
}

// CLI11's own complaints in wkctl's words. Its messages begin with the option's name.
std::string Complaint(const CLI::App& app, const CLI::ParseError& error) {
    const std::vector<std::string> vLeft = app.remaining(true);
    if (app.get_subcommands().empty())
        return vLeft.empty() ? "no command given"
                             : "unknown command '" + vLeft.front() +
                                   "' (the commands are 'run', 'screen', 'texts' and 'scripts')";
    const std::string csWhat = error.what();
    std::string csName = csWhat.substr(0, csWhat.find_first_of(": "));
    if (csName.compare(0, 1, "-") != 0) // a flag given a value is named without its dashes
        csName = "--" + csName;
    if (dynamic_cast<const CLI::ValidationError*>(&error))
        return "option " + csName + csWhat.substr(std::min(csWhat.size(), csName.size() + 2));
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        const CLI::Option* pOption = app.get_subcommands().front()->get_option_no_throw(csName);
        return "option " + csName +
               (pOption && pOption->get_expected_max() == 0 ? " takes no value" : " needs a value");
    }
    if (vLeft.empty())
        return csWhat;
    const std::string& csArg = vLeft.front();
    if (csArg.size() > 2 && csArg.compare(0, 2, "--") == 0)
        return "unknown option '" + csArg.substr(0, csArg.find('=')) + "'";
    return "unexpected argument '" + csArg + "'";
}

// Options that take one value are refused twice rather than having the last one win.
std::string RepeatedOption(const CLI::App& command) {
    for (const CLI::Option* pOption : command.get_options())
        if (pOption->count() > 1 && pOption->get_multi_option_policy() != CLI::MultiOptionPolicy::TakeAll)
            return "option " + pOption->get_name() + " given more than once";
    return std::string();
}

// What the parse left to be worked out: which optional texts were given, and what each command needs.
std::string Complete(const CLI::App& command, CWkctlOptions& o) {
    o.m_csCommand = command.get_name();
    if (o.m_csCommand == "texts") {
        o.m_bCulture = command.count("--culture") > 0;
        o.m_bAcceptLanguage = command.count("--accept-language") > 0;
        return o.m_csInstall.empty() ? "texts needs --install DIR" : std::string();
    }
    if (o.m_csCommand == "scripts") {
        if (o.m_csInstall.empty() || o.m_csCsmPrefix.empty())
            return "scripts needs --install DIR and --csm-prefix TEXT";
        return o.m_csCsmPrefix.size() < CCachedScriptDecorator::SHORT_PREFIX_LENGTH
                   ? "option --csm-prefix: a cached-script prefix has at least 5 characters"
                   : std::string();
    }
    o.m_bUserAgent = command.count("--user-agent") > 0;
    if (o.m_csCommand == "screen") {
        const bool bFile = command.count("--user-agents") > 0;
        if (o.m_csInstall.empty())
            return "screen needs --install DIR";
        if (o.m_bUserAgent == bFile)
            return bFile ? "options --user-agent and --user-agents exclude each other"
                         : "screen needs --user-agent TEXT or --user-agents FILE";
        return std::string();
    }
    o.m_bCookie = command.count("--cookie") > 0;
    o.m_bAcceptLanguage = command.count("--accept-language") > 0;
    o.m_bReferer = command.count("--referer") > 0;
    o.m_bIdentity = command.count("--user") + command.count("--user-sid") + command.count("--group-sid") > 0;
    if (o.m_csInstall.empty() && o.m_csModule.empty())
        return "run needs --install DIR or --module PATH";
    if (!o.m_csContentType.empty() && o.m_csBodyFile.empty())
        return "option --content-type needs --body-file FILE";
    return !o.m_csOutFile.empty() && o.m_csBodyFile.empty() ? "option --out needs --body-file FILE"
                                                            : std::string();
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
    if (pcsBody && !m_csContentType.empty())
        request.ResponseHeaderBlock("HTTP/1.1 " + std::to_string(m_dwStatus) +
                                    "\r\nContent-Type: " + m_csContentType + "\r\n\r\n");
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
    // No command takes arguments of its own, so CLI11's end-of-options mark would only hide a mistake.
    if (std::find(vArgs.begin(), vArgs.end(), "--") != vArgs.end()) {
        csError = "unexpected argument '--'";
        return false;
    }
    CLI::App app(
        "Runs the worker module of an installation, screens user agents with it or shows the texts its "
        "users get.",
        "wkctl");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.require_subcommand(1);
    DefineRun(*app.add_subcommand("run", "run one request through the module and print what it did"),
              options);
    DefineScreen(*app.add_subcommand("screen", "screen user agents as the installation's module does"),
                 options);
    DefineTexts(*app.add_subcommand("texts", "show the language a user gets and the module's texts in it"),
                options);
    DefineScripts(*app.add_subcommand("scripts", "show the address the web server serves each guard file at"),
                  options);
    app.footer("'wkctl COMMAND --help' lists the options of a command.");
    app.add_subcommand("help")->silent()->group("")->parse_complete_callback(
        [] { throw CLI::CallForHelp(); });
    std::vector<std::string> vReversed(vArgs.rbegin(), vArgs.rend());
    try {
        app.parse(vReversed);
    } catch (const CLI::CallForHelp&) {
        options.m_bHelp = true;
        options.m_csHelp = app.help();
        return true;
    } catch (const CLI::ParseError& error) {
        csError = Complaint(app, error);
        return false;
    }
    const CLI::App& command = *app.get_subcommands().front();
    csError = RepeatedOption(command);
    if (csError.empty())
        csError = Complete(command, options);
    return csError.empty();
}
