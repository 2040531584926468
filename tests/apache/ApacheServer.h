// A real Apache httpd for mod_wendrake's tests: a temporary server root, a free loopback port (and one for
// an upstream behind mod_proxy), "apache2 -X" started in the background and always stopped.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct CHttpReply {
    int m_nStatus = 0;
    std::string m_csStatusLine;
    std::multimap<std::string, std::string> m_headers; // names in lower case
    std::string m_csBody;
    std::string Header(const std::string& csLowerName) const;
};

class CApacheServer {
public:
    CApacheServer();
    ~CApacheServer();
    CApacheServer(const CApacheServer&) = delete;
    CApacheServer& operator=(const CApacheServer&) = delete;

    static bool Available(std::string& csWhyNot);

    // The site's files (under Root()/site) before Start.
    bool AddFile(const std::string& csPath, const std::string& csBytes) const;
    // Starts Apache with mod_wendrake in front of the worker, the directives given inside the guarded
    // virtual host ("@ROOT@" stands for Root()); false with the error log when it does not come up.
    bool Start(const std::string& csWorker, const std::string& csDirectives, std::string& csError,
               const std::vector<std::string>& vEnvironment = {});
    void Stop();

    // One request over a new connection; with bCloseEarly the connection is closed after the first bytes.
    CHttpReply Get(const std::string& csTarget, const std::vector<std::string>& vHeaders = {},
                   bool bCloseEarly = false) const;
    const std::string& Root() const { return m_csRoot; }
    std::string ReadFile(const std::string& csName) const;

private:
    bool StartOnce(const std::string& csWorker, const std::string& csDirectives, std::string& csError,
                   const std::vector<std::string>& vEnvironment);

    std::string m_csRoot;
    int m_nPort = 0;
    int m_nUpstreamPort = 0;
    pid_t m_pid = -1;
};
