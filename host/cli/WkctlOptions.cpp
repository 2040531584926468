#include "host/cli/WkctlOptions.h"

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

bool IsUser(const std::string& csText) {
    const auto [csDomain, csUser] = SplitAt(csText, '\\');
    return !csUser.empty() && !HasBlankOrControl(csUser) && !HasBlankOrControl(csDomain);
}

std::vector<BYTE> SidBytes(const std::string& csText) {
    CSid sid;
    return CSid::FromString(csText.c_str(), sid) == ERROR_SUCCESS ? sid.GetBytes() : std::vector<BYTE>();
}

const char* const SID_EXPECTED = "a SID such as S-1-5-21-1-2-3-1105";

// An option given any number of times, its values handed over one by one in the order given.
CLI::Option* AddRepeatable(CLI::App& app, const char* pszName, const char* pszValue, const char* pszHelp,
                           CLI::Validator check, const std::function<void(std::string)>& fnEach) {
    return app.add_option(pszName, CLI::callback_t(), pszHelp)
        ->type_name(pszValue)
        ->check(std::move(check))
        ->each(fnEach)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void DefineRequest(CLI::App& run, CWkctlOptions& o) {
    run.option_defaults()->group("Request");
    run.add_option("--method", o.m_csMethod, "request method (default GET)")
        ->type_name("NAME")
        ->check(Valid("a method name such as GET",
                      [](const std::string& v) { return !v.empty() && !HasBlankOrControl(v); }));
    run.add_option("--url", o.m_csUrl, "request URL, path and query (default /owa/)")
        ->type_name("PATH")
        ->check(Valid("a path beginning with '/' and without blanks", [](const std::string& v) {
            return !v.empty() && v[0] == '/' && !HasBlankOrControl(v);
        }));
    run.add_option("--user-agent", o.m_csUserAgent, "User-Agent header");
    run.add_option("--cookie", o.m_csCookie, "Cookie header, e.g. \"a=b; c=d\"");
    run.add_option("--accept-language", o.m_csAcceptLanguage, "Accept-Language header");
    run.add_option("--referer", o.m_csReferer, "Referer header")->type_name("URL");
    AddRepeatable(run, "--header", "\"Name: value\"", "another request header (repeatable)",
                  Valid("\"Name: value\"", [](const std::string& v) { return !Header(v).first.empty(); }),
                  [&o](const std::string& v) { o.m_vHeaders.push_back(Header(v)); });
    AddRepeatable(run, "--server-variable", "N=V", "a server variable (repeatable)", Assignment(),
                  [&o](const std::string& v) { o.m_vServerVariables.push_back(SplitAt(v, '=')); });
    AddRepeatable(run, "--request-value", "N=V", "a value of the host's request information (repeatable)",
                  Assignment(),
                  [&o](const std::string& v) { o.m_vRequestValues.push_back(SplitAt(v, '=')); });
    run.add_option("--subscription-type", o.m_dwSubscriptionType,
                   "the host's class of the request URL (default 0)")
        ->type_name("N")
        ->transform(Number());
    run.add_option("--link-criteria", o.m_dwLinkCriteria, "the link criteria of the request (default 0)")
        ->type_name("N")
        ->transform(Number());
    run.add_option("--server", o.m_csServer, "webmail server address (default https://localhost)")
        ->type_name("URL");
    run.add_option("--virtual-dir", o.m_csVirtualDir, "webmail virtual directory (default /owa)")
        ->type_name("DIR");
}

void DefineIdentity(CLI::App& run, CWkctlOptions& o) {
    run.option_defaults()->group("Identity (the request's authenticated user; none: an anonymous request)");
    run.add_option_function<std::string>(
           "--user",
           [&o](const std::string& v) { std::tie(o.m_csUserDomain, o.m_csUser) = SplitAt(v, '\\'); },
           "user name, with or without its domain")
        ->type_name("DOMAIN\\NAME")
        ->check(Valid("DOMAIN\\name or name", IsUser));
    run.add_option_function<std::string>(
           "--user-sid", [&o](const std::string& v) { o.m_vUserSid = SidBytes(v); },
           "the user's SID, S-1-5-21-...")
        ->type_name("SID")
        ->check(Valid(SID_EXPECTED, [](const std::string& v) { return !SidBytes(v).empty(); }));
    AddRepeatable(run, "--group-sid", "SID", "a group the user belongs to (repeatable)",
                  Valid(SID_EXPECTED, [](const std::string& v) { return !SidBytes(v).empty(); }),
                  [&o](const std::string& v) { o.m_vGroupSids.push_back(SidBytes(v)); });
}

void DefineRun(CLI::App& run, CWkctlOptions& o) {
    run.option_defaults()->group("Module");
    run.add_option("--install", o.m_csInstall,
                   "installation folder (the module is DIR/Wendrake/bin/WK_ServiceWorker.so)")
        ->type_name("DIR");
    run.add_option("--module", o.m_csModule, "load this module file instead")->type_name("PATH");
    DefineRequest(run, o);
    DefineIdentity(run, o);
    run.option_defaults()->group("Response");
    run.add_option("--status", o.m_dwStatus, "HTTP status of the response (default 200)")
        ->type_name("N")
        ->transform(Number(100, 999, "an HTTP status from 100 to 999"));
    run.add_option("--body-file", o.m_csBodyFile, "response body; only with a body is SEND_RAW_DATA sent")
        ->type_name("FILE");
    run.option_defaults()->group("Output");
    run.add_flag("--json", o.m_bJson, "one JSON record instead of the readable report")
        ->disable_flag_override();
    run.add_option("--show-log", o.m_csShowLog, "also print the lines the run added to this log file")
        ->type_name("FILE");
    run.footer(
        "The module is registered, sent PREPROC_HEADERS, AUTH_COMPLETE, SEND_RESPONSE, SEND_RAW_DATA and\n"
        "END_OF_REQUEST as far as it lets the request go on, and terminated.\n"
        "Numbers are decimal or 0x hexadecimal; --name=value works as well as --name value.\n"
        "Exit status: 0 the run completed (whatever the module decided), 1 the module could not be loaded\n"
        "or GetFilterVersion returned 0, 2 a usage error.");
}

void DefineTexts(CLI::App& texts, CWkctlOptions& o) {
    texts
        .add_option("--install", o.m_csInstall,
                    "installation folder; the texts are read from DIR/Wendrake/Resource")
        ->type_name("DIR");
    texts.add_option("--accept-language", o.m_csAcceptLanguage, "the browser's Accept-Language");
    texts.add_option("--culture", o.m_csCulture,
                     "the user's directory culture, which wins over the browser's");
    texts.footer(
        "The language is the culture's, else the browser's, else English; each text is marked where it\n"
        "falls back to English.\n"
        "Exit status: 0 shown, 1 the resource module could not be loaded, 2 a usage error.");
}

// CLI11's own complaints in wkctl's words. Its messages begin with the option's name.
std::string Complaint(const CLI::App& app, const CLI::ParseError& error) {
    const std::vector<std::string> vLeft = app.remaining(true);
    if (app.get_subcommands().empty())
        return vLeft.empty() ? "no command given"
                             : "unknown command '" + vLeft.front() + "' (the commands are 'run' and 'texts')";
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
    o.m_bUserAgent = command.count("--user-agent") > 0;
    o.m_bCookie = command.count("--cookie") > 0;
    o.m_bAcceptLanguage = command.count("--accept-language") > 0;
    o.m_bReferer = command.count("--referer") > 0;
    o.m_bIdentity = command.count("--user") + command.count("--user-sid") + command.count("--group-sid") > 0;
    return o.m_csInstall.empty() && o.m_csModule.empty() ? "run needs --install DIR or --module PATH"
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
    CLI::App app("Runs the worker module of an installation or shows the texts its users get.", "wkctl");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.require_subcommand(1);
    DefineRun(*app.add_subcommand("run", "run one request through the module and print what it did"),
              options);
    DefineTexts(*app.add_subcommand("texts", "show the language a user gets and the module's texts in it"),
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
