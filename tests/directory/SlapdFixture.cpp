#include "tests/directory/SlapdFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace slapdtest {

namespace {

int FreePort() {
    const int nSocket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t nLength = sizeof(address);
    int nPort = 0;
    if (bind(nSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        getsockname(nSocket, reinterpret_cast<sockaddr*>(&address), &nLength) == 0)
        nPort = ntohs(address.sin_port);
    close(nSocket);
    return nPort;
}

bool Accepts(int nPort) {
    const int nSocket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bConnected = connect(nSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(nSocket);
    return bConnected;
}

std::string DataFolder() {
    return std::string(WK_TEST_DATA_DIR) + "/directory";
}

} // namespace

CSlapd::CSlapd() {
    char szFolder[] = "/tmp/wk-slapd-XXXXXX";
    if (!mkdtemp(szFolder))
        return;
    m_csFolder = szFolder;
    m_nPort = FreePort();
    const std::string csUri = "ldap://127.0.0.1:" + std::to_string(m_nPort);
    setenv("LDAPURI", csUri.c_str(), 1);
    setenv("LDAPBASE", "dc=wendrake,dc=test", 1);
    // Long enough for a loaded machine (sanitizer builds, tests in parallel), short enough for the
    // hung-server tests to stay quick.
    setenv("LDAPTIMEOUT", "3", 1);
    setenv("LDAPNETWORK_TIMEOUT", "3", 1);
    setenv("TZ", "UTC", 1);
    if (m_nPort && Load())
        Start();
}

CSlapd::~CSlapd() {
    Stop();
    if (!m_csFolder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_csFolder, error);
    }
}

bool CSlapd::Load() {
    std::ifstream in(DataFolder() + "/slapd.conf.in");
    std::stringstream text;
    text << in.rdbuf();
    std::string csConf = text.str();
    for (const auto& [csFrom, csTo] : {std::pair<std::string, std::string>{"@DIR@", m_csFolder},
                                       std::pair<std::string, std::string>{"@DATA@", DataFolder()}})
        for (size_t nPos; (nPos = csConf.find(csFrom)) != std::string::npos;)
            csConf.replace(nPos, csFrom.size(), csTo);
    std::filesystem::create_directory(m_csFolder + "/db");
    std::ofstream(m_csFolder + "/slapd.conf") << csConf;
    const std::string csLoad = "slapadd -q -f '" + m_csFolder + "/slapd.conf' -l '" + DataFolder() +
                               "/users.ldif' >'" + m_csFolder + "/slapadd.log' 2>&1";
    return std::system(csLoad.c_str()) == 0;
}

bool CSlapd::Start() {
    const std::string csConf = m_csFolder + "/slapd.conf";
    const std::string csListen = "ldap://127.0.0.1:" + std::to_string(m_nPort) + "/";
    const pid_t pid = fork();
    if (pid == 0) {
        // The server goes when the test goes, however it ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execlp("slapd", "slapd", "-f", csConf.c_str(), "-h", csListen.c_str(), "-d", "0", nullptr);
        _exit(127);
    }
    if (pid < 0)
        return false;
    m_pid = pid;
    for (int i = 0; i < 500; ++i) {
        if (Accepts(m_nPort))
            return true;
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return false;
}

void CSlapd::Stop() {
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

void CSlapd::Freeze() {
    if (m_pid > 0 && kill(m_pid, SIGSTOP) == 0)
        m_bFrozen = true;
}

void CSlapd::Thaw() {
    if (m_pid > 0 && m_bFrozen && kill(m_pid, SIGCONT) == 0)
        m_bFrozen = false;
}

} // namespace slapdtest
