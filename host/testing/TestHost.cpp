#include "host/testing/TestHost.h"

#include "log/Log.h"
#include "platform/CPlatform.h"

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>

namespace {

std::mutex g_captureLock;
std::vector<std::string> g_vCapturedLines;
bool g_bCaptureActive = false;
PFN_LOG_SINK g_pfnPreviousSink = nullptr;
DWORD g_dwPreviousLevel = LOG_LEVEL_OFF;

void CaptureLogLine(const char* pszText) {
    std::lock_guard<std::mutex> guard(g_captureLock);
    g_vCapturedLines.emplace_back(pszText ? pszText : "");
}

// Answers the path of this program's own code with the installation's module path: in-process, the core
// is linked into the test program, and it finds its folders from its own path.
class CInstallationModules : public IModules {
public:
    CInstallationModules(IModules& os, std::string csModulePath)
        : m_os(os), m_csModulePath(std::move(csModulePath)) {
        m_os.GetModulePathOf(reinterpret_cast<const void*>(&CaptureLogLine), m_csProgramPath);
    }

    bool GetModulePathOf(const void* pAddress, std::string& csPath) override {
        std::string csOsPath;
        if (!m_os.GetModulePathOf(pAddress, csOsPath))
            return false;
        csPath = csOsPath == m_csProgramPath ? m_csModulePath : csOsPath;
        return true;
    }
    bool FindLoadedModule(const std::string& csName, std::string& csPath) override {
        return m_os.FindLoadedModule(csName, csPath);
    }
    void* LoadLibrary(const std::string& csPath, DWORD& dwError) override {
        return m_os.LoadLibrary(csPath, dwError);
    }
    void* GetProcAddress(void* hModule, const char* pszName) override {
        return m_os.GetProcAddress(hModule, pszName);
    }
    void FreeLibrary(void* hModule) override { m_os.FreeLibrary(hModule); }
    std::string LibraryFileName(const std::string& csBaseName) override {
        return m_os.LibraryFileName(csBaseName);
    }

private:
    IModules& m_os;
    std::string m_csModulePath;
    std::string m_csProgramPath;
};

} // namespace

CLogCapture::CLogCapture() {
    std::lock_guard<std::mutex> guard(g_captureLock);
    if (!g_bCaptureActive) {
        g_pfnPreviousSink = GetLogSink();
        g_dwPreviousLevel = GetLogLevel();
        g_bCaptureActive = true;
    }
    g_vCapturedLines.clear();
    SetLogSink(&CaptureLogLine);
    SetLogLevel(LOG_LEVEL_ON);
}

CLogCapture::~CLogCapture() {
    std::lock_guard<std::mutex> guard(g_captureLock);
    if (!g_bCaptureActive)
        return;
    SetLogSink(g_pfnPreviousSink);
    SetLogLevel(g_dwPreviousLevel);
    g_bCaptureActive = false;
}

std::vector<std::string> CLogCapture::Lines() const {
    std::lock_guard<std::mutex> guard(g_captureLock);
    return g_vCapturedLines;
}

void CLogCapture::Rearm() {
    SetLogSink(&CaptureLogLine);
    SetLogLevel(LOG_LEVEL_ON);
}

void CLogCapture::Clear() {
    std::lock_guard<std::mutex> guard(g_captureLock);
    g_vCapturedLines.clear();
}

bool CLogCapture::Contains(std::string_view svText) const {
    return Count(svText) > 0;
}

size_t CLogCapture::Count(std::string_view svText) const {
    std::lock_guard<std::mutex> guard(g_captureLock);
    return static_cast<size_t>(
        std::count_if(g_vCapturedLines.begin(), g_vCapturedLines.end(),
                      [&](const std::string& csLine) { return csLine.find(svText) != std::string::npos; }));
}

CTestHost::CTestHost(const CModuleEntryPoints& entryPoints) : m_session(entryPoints) {}

BOOL CTestHost::GetFilterVersion() {
    BOOL bResult = m_session.GetFilterVersion();
    m_log.Rearm();
    return bResult;
}

CHostRunRecord CTestHost::Run(const CHostRequest& request) {
    m_log.Rearm();
    return m_session.Run(request);
}

CTempInstallation::CTempInstallation() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path root = fs::temp_directory_path(ec);
    if (ec)
        return;
    std::random_device random;
    for (int nAttempt = 0; nAttempt < 16; ++nAttempt) {
        fs::path candidate = root / ("wk-install-" + std::to_string(random()));
        if (!fs::create_directory(candidate, ec) || ec)
            continue;
        m_csPrefix = candidate.string();
        break;
    }
    if (m_csPrefix.empty())
        return;
    for (const std::string& csDir : {BinDir(), SettingsDir(), ResourceDir(), CommonSettingsDir()}) {
        fs::create_directories(csDir, ec);
        if (ec) {
            fs::remove_all(m_csPrefix, ec);
            m_csPrefix.clear();
            return;
        }
    }
}

CTempInstallation::~CTempInstallation() {
    StopPointing();
    if (m_csPrefix.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(m_csPrefix, ec);
}

std::string CTempInstallation::FixturesDir() {
    return WK_TEST_DATA_DIR;
}

bool CTempInstallation::CopyFixture(const std::string& csFixture, const std::string& csTargetDir,
                                    const std::string& csTargetName) const {
    namespace fs = std::filesystem;
    if (!IsValid())
        return false;
    fs::path source = fs::path(FixturesDir()) / csFixture;
    fs::path target =
        fs::path(csTargetDir) / (csTargetName.empty() ? source.filename() : fs::path(csTargetName));
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    return fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec) && !ec;
}

bool CTempInstallation::CopySampleInstallation() const {
    namespace fs = std::filesystem;
    if (!IsValid())
        return false;
    std::error_code ec;
    fs::copy(WK_SAMPLE_INSTALLATION_DIR, m_csPrefix,
             fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
    if (ec)
        return false;
    // The resource module is built from resources/, not checked in.
    const fs::path resourceModule(WK_BUILT_RESOURCE_MODULE);
    fs::create_directories(ResourceDir(), ec);
    return !ec &&
           fs::copy_file(resourceModule, fs::path(ResourceDir()) / resourceModule.filename(),
                         fs::copy_options::overwrite_existing, ec) &&
           !ec;
}

bool CTempInstallation::InstallModule(const std::string& csBuiltModule) const {
    namespace fs = std::filesystem;
    if (!IsValid())
        return false;
    std::error_code ec;
    return fs::copy_file(csBuiltModule, ModulePath(), fs::copy_options::overwrite_existing, ec) && !ec;
}

void CTempInstallation::PointProcessHere() {
    StopPointing();
    m_spModules = std::make_unique<CInstallationModules>(CPlatform::Modules(), ModulePath());
    CPlatform::SetModules(m_spModules.get());
}

void CTempInstallation::StopPointing() {
    if (!m_spModules)
        return;
    CPlatform::SetModules(nullptr);
    m_spModules.reset();
}
