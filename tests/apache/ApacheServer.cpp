#include "tests/apache/ApacheServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>

namespace {

const char APACHE[] = "/usr/sbin/apache2";
const char MODULES[] = "/usr/lib/apache2/modules";
const char READY_FILE[] = "/wk-ready.txt";

// Two free ports, different: both sockets stay bound until both ports are known, or the kernel may hand out
// the first one again.
std::pair<int, int> FreePorts() {
    int anPorts[2] = {0, 0};
    int afd[2];
    for (int i = 0; i < 2; ++i) {
        afd[i] = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t cbAddress = sizeof(address);
        if (::bind(afd[i], reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            ::getsockname(afd[i], reinterpret_cast<sockaddr*>(&address), &cbAddress) == 0)
            anPorts[i] = ntohs(address.sin_port);
    }
    for (const int fd : afd)
        ::close(fd);
    return {anPorts[0], anPorts[1]};
}

int Connect(int nPort) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
        return fd;
    ::close(fd);
    return -1;
}

CHttpReply Parse(const std::string& csText) {
    CHttpReply reply;
    const size_t nHeadEnd = csText.find("\r\n\r\n");
    std::istringstream head(csText.substr(0, nHeadEnd));
    std::string csLine;
    std::getline(head, csLine);
    reply.m_csStatusLine = csLine.substr(0, csLine.find('\r'));
    reply.m_nStatus = reply.m_csStatusLine.size() > 9 ? std::atoi(reply.m_csStatusLine.c_str() + 9) : 0;
    while (std::getline(head, csLine)) {
        const size_t nColon = csLine.find(':');
        if (nColon == std::string::npos)
            continue;
        std::string csName = csLine.substr(0, nColon);
        for (char& ch : csName)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const size_t nValue = csLine.find_first_not_of(' ', nColon + 1);
        reply.m_headers.emplace(csName, csLine.substr(nValue, csLine.find_last_not_of("\r") + 1 - nValue));
    }
    reply.m_csBody = nHeadEnd == std::string::npos ? std::string() : csText.substr(nHeadEnd + 4);
    return reply;
}

std::string Config(const std::string& csRoot, int nPort, int nUpstream, const std::string& csWorker,
                   const std::string& csDirectives) {
    std::ostringstream conf;
    conf << "ServerRoot \"" << csRoot << "\"\nDefaultRuntimeDir \"" << csRoot << "\"\nPidFile \"" << csRoot
         << "/httpd.pid\"\nErrorLog \"" << csRoot << "/error.log\"\nLogLevel warn\nMutex file:" << csRoot
         << " default\nServerName 127.0.0.1\nListen 127.0.0.1:" << nPort << "\nListen 127.0.0.1:" << nUpstream
         << "\n";
    for (const char* pszModule :
         {"mpm_event", "authz_core", "mime", "headers", "filter", "deflate", "proxy", "proxy_http", "dir"})
        conf << "LoadModule " << pszModule << "_module " << MODULES << "/mod_" << pszModule << ".so\n";
    conf << "LoadModule wendrake_module " << WK_MOD_WENDRAKE_PATH << "\nTypesConfig /etc/mime.types\n"
         << "DirectoryIndex index.html\nDocumentRoot \"" << csRoot << "/site\"\n<Directory \"" << csRoot
         << "/site\">\n    Require all granted\n</Directory>\n";
    if (::geteuid() == 0)
        conf << "User nobody\nGroup nogroup\n";
    conf << "WendrakeWorker \"" << csWorker << "\"\n<VirtualHost 127.0.0.1:" << nPort
         << ">\n    WendrakeWebmail /owa\n    WendrakeCsmPrefix /bkcsm/v1\n"
         << csDirectives << "\n    <Location /owa/gz/>\n        ProxyPass http://127.0.0.1:" << nUpstream
         << "/owa/\n    </Location>\n</VirtualHost>\n<VirtualHost 127.0.0.1:" << nUpstream
         << ">\n    RequestHeader set Accept-Encoding gzip early\n    AddOutputFilterByType DEFLATE "
            "text/html\n"
         << "</VirtualHost>\n";
    return conf.str();
}

} // namespace

std::string CHttpReply::Header(const std::string& csLowerName) const {
    auto it = m_headers.find(csLowerName);
    return it == m_headers.end() ? std::string() : it->second;
}

CApacheServer::CApacheServer() {
    char szRoot[] = "/tmp/wk-apache-test.XXXXXX";
    if (::mkdtemp(szRoot)) {
        m_csRoot = szRoot;
        // The server's children run as nobody when the tests run as root: they read the site, write logs.
        ::chmod(szRoot, 0777);
        std::filesystem::create_directories(m_csRoot + "/site/owa");
    }
}

CApacheServer::~CApacheServer() {
    Stop();
    std::error_code ec;
    if (!m_csRoot.empty())
        std::filesystem::remove_all(m_csRoot, ec);
}

bool CApacheServer::Available(std::string& csWhyNot) {
    if (::access(APACHE, X_OK) != 0) {
        csWhyNot = std::string(APACHE) + " is not installed (Debian package apache2)";
        return false;
    }
    return true;
}

bool CApacheServer::AddFile(const std::string& csPath, const std::string& csBytes) const {
    const std::filesystem::path path = m_csRoot + "/site" + csPath;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary);
    file << csBytes;
    return static_cast<bool>(file);
}

std::string CApacheServer::ReadFile(const std::string& csName) const {
    std::ifstream file(m_csRoot + "/" + csName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool CApacheServer::Start(const std::string& csWorker, const std::string& csDirectives, std::string& csError,
                          const std::vector<std::string>& vEnvironment) {
    // A port found free can be taken by another test's server before this one binds it: then new ports.
    for (int nAttempt = 0; nAttempt < 3; ++nAttempt) {
        std::filesystem::remove(m_csRoot + "/error.log");
        if (StartOnce(csWorker, csDirectives, csError, vEnvironment))
            return true;
        if (csError.find("Address already in use") == std::string::npos)
            return false;
    }
    return false;
}

bool CApacheServer::StartOnce(const std::string& csWorker, const std::string& csDirectives,
                              std::string& csError, const std::vector<std::string>& vEnvironment) {
    std::tie(m_nPort, m_nUpstreamPort) = FreePorts();
    std::string csOwn = csDirectives;
    for (size_t nAt; (nAt = csOwn.find("@ROOT@")) != std::string::npos;)
        csOwn.replace(nAt, 6, m_csRoot);
    std::ofstream(m_csRoot + "/httpd.conf") << Config(m_csRoot, m_nPort, m_nUpstreamPort, csWorker, csOwn);
    AddFile(READY_FILE, m_csRoot);
    m_pid = ::fork();
    if (m_pid == 0) {
        const int fd = ::open((m_csRoot + "/stderr.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        for (const std::string& csVariable : vEnvironment)
            ::putenv(const_cast<char*>(csVariable.c_str()));
        const std::string csConf = m_csRoot + "/httpd.conf";
        ::execl(APACHE, "apache2", "-X", "-d", m_csRoot.c_str(), "-f", csConf.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int nStatus = 0;
        if (::waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
            m_pid = -1;
            break;
        }
        // Apache listens before its modules' start-up checks ran: ready is when it answers. The answer must
        // be this server's own: a server of a test running beside this one may hold the port.
        if (Get(READY_FILE).m_csBody == m_csRoot)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    csError = ReadFile("stderr.log") + ReadFile("error.log");
    return false;
}

void CApacheServer::Stop() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 250; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

CHttpReply CApacheServer::Get(const std::string& csTarget, const std::vector<std::string>& vHeaders,
                              bool bCloseEarly) const {
    const int fd = Connect(m_nPort);
    if (fd < 0)
        return CHttpReply();
    std::string csRequest =
        "GET " + csTarget + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(m_nPort) + "\r\n";
    for (const std::string& csHeader : vHeaders)
        csRequest += csHeader + "\r\n";
    csRequest += "\r\n";
    std::string csText;
    if (::send(fd, csRequest.data(), csRequest.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(csRequest.size())) {
        char aBuffer[16384];
        for (ssize_t cb;
             (cb = ::recv(fd, aBuffer, sizeof(aBuffer), 0)) > 0 && !(bCloseEarly && !csText.empty());)
            csText.append(aBuffer, static_cast<size_t>(cb));
    }
    ::close(fd);
    return Parse(csText);
}
