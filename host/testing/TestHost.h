// The in-process test host: the host engine driving the entry points linked into the test program, with the
// module's log lines captured in memory, and a temporary installation folder the process can be pointed at.
#pragma once

#include "host/common/HostSession.h"
#include "platform/IModules.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Captures the log into memory for the lifetime of the object (the log sink is process-wide, so only one
// capture may be active at a time). Switches writing on; the previous sink and level come back at the end.
class CLogCapture {
public:
    CLogCapture();
    ~CLogCapture();
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    std::vector<std::string> Lines() const;
    void Clear();
    // Takes the log back after the module configured it from its settings (which may switch it off).
    void Rearm();
    bool Contains(std::string_view svText) const;
    size_t Count(std::string_view svText) const;
};

class CTestHost {
public:
    // Against the entry points linked into this program (the core library's).
    CTestHost();
    // Against given entry points (a fake module made of test functions).
    explicit CTestHost(const CModuleEntryPoints& entryPoints);

    static CModuleEntryPoints LinkedEntryPoints();

    CHostSession& Session() { return m_session; }
    // The module configures its log from its settings while it starts, and again when they change; the test
    // host takes the log back after registration and before each request, so that tests see every line the
    // requests write.
    BOOL GetFilterVersion();
    CHostRunRecord Run(const CHostRequest& request);
    BOOL TerminateFilter(DWORD dwFlags = 0) { return m_session.TerminateFilter(dwFlags); }

    CLogCapture& Log() { return m_log; }
    std::vector<std::string> LogLines() const { return m_log.Lines(); }
    bool LogContains(std::string_view svText) const { return m_log.Contains(svText); }

private:
    CHostSession m_session;
    CLogCapture m_log;
};

// A throwaway installation tree in the temporary folder:
//     PREFIX/Wendrake/bin, PREFIX/Wendrake/Settings, PREFIX/Wendrake/Resource, PREFIX/Common Files/Settings
// removed again at the end.
class CTempInstallation {
public:
    CTempInstallation();
    ~CTempInstallation();
    CTempInstallation(const CTempInstallation&) = delete;
    CTempInstallation& operator=(const CTempInstallation&) = delete;

    bool IsValid() const { return !m_csPrefix.empty(); }
    const std::string& Prefix() const { return m_csPrefix; }
    std::string BinDir() const { return m_csPrefix + "/Wendrake/bin"; }
    std::string SettingsDir() const { return m_csPrefix + "/Wendrake/Settings"; }
    std::string ResourceDir() const { return m_csPrefix + "/Wendrake/Resource"; }
    std::string CommonSettingsDir() const { return m_csPrefix + "/Common Files/Settings"; }
    // Where the module file of this installation lies.
    std::string ModulePath() const { return BinDir() + "/WK_ServiceWorker.so"; }

    // Copies a file from the test fixtures folder (tests/data, relative name) into a folder of this
    // installation, under its own name or the one given.
    bool CopyFixture(const std::string& csFixture, const std::string& csTargetDir,
                     const std::string& csTargetName = std::string()) const;
    // Copies the repository's sample installation files (settings of the product and the common folder) and
    // the resource module the build made.
    bool CopySampleInstallation() const;
    // Copies a built module file to ModulePath().
    bool InstallModule(const std::string& csBuiltModule) const;

    // Makes the code linked into this process find its own path at ModulePath(), so that the folders it
    // derives from it are this installation's. Undone by StopPointing() or the destructor.
    void PointProcessHere();
    void StopPointing();

    static std::string FixturesDir();

private:
    std::string m_csPrefix;
    std::unique_ptr<IModules> m_spModules;
};
