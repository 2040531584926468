// A throwaway directory server for the tests: slapd from a temporary folder with its own configuration,
// schema and users (tests/data/directory), on a free loopback port. The process's LDAP client configuration
// points at it; the server is stopped and its folder removed when the fixture ends, also after a failure.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <sys/types.h>

namespace slapdtest {

class CSlapd {
public:
    CSlapd();
    ~CSlapd();
    CSlapd(const CSlapd&) = delete;
    CSlapd& operator=(const CSlapd&) = delete;

    bool IsRunning() const { return m_pid > 0; }
    // Ends the server (it no longer accepts connections).
    void Stop();
    // Leaves the server's port open but lets it answer nothing (a hung directory), until Thaw.
    void Freeze();
    void Thaw();

private:
    bool Load();
    bool Start();
    std::string m_csFolder;
    int m_nPort = 0;
    pid_t m_pid = -1;
    bool m_bFrozen = false;
};

// Every test of a directory: a running server and timeouts of a second, dates in UTC.
class CDirectoryTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_slapd.IsRunning()) << "slapd did not start"; }
    CSlapd m_slapd;
};

} // namespace slapdtest
