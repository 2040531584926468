#include "platform/CPlatform.h"
#include "platform/posix/PosixServices.h"
#include "settings/CHandleSWSettings.h"
#include "tests/TableFile.h"
#include "tests/settings/store/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <thread>

namespace {

TEST(HandleSWSettings, LinkCriteriaPathBesideTheProductFolder) {
    for (const tabletest::TRow& row : tabletest::ReadTable("settings/link-criteria-paths.txt"))
        EXPECT_EQ(
            CHandleSWSettings::LinkCriteriaPath(tabletest::Bytes(row.at(0)), tabletest::Bytes(row.at(1))[0]),
            tabletest::Bytes(row.at(2)))
            << row.at(0);
}

// An installation in a temporary folder whose files the tests rewrite.
class HandleSWSettingsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_temp.IsValid());
        WriteText(m_temp.CommonSettingsDir() + "/LinkCriteriaSettings.xml",
                  "<SERVICEWORKERS><SW ID=\"4\" DESCR=\"w\"><LINK CRITERIA_ID=\"7\" SETTINGS_ID=\"2\"/></SW>"
                  "</SERVICEWORKERS>");
        m_handler.SetServiceWorkerNumber(4);
    }

    std::string SettingsFolder() const { return m_temp.SettingsDir() + "/"; }
    void WriteSettings(const std::string& csGeneralItems) {
        const std::string csPath = SettingsFolder() + "SWSettings.xml";
        WriteText(csPath, "<SETTINGS><GENERALSETTINGS>" + csGeneralItems + "</GENERALSETTINGS></SETTINGS>");
        // Distinct, ordered file times without sleeping.
        static int64_t s_llClock = 1000000000;
        SetFileTimeOfUnixSeconds(csPath, s_llClock += 100);
    }
    static std::string Item(int nId, const std::string& csValue) {
        return "<ITEM ID=\"" + std::to_string(nId) + "\" DESCR=\"d\" VALUE=\"" + csValue + "\"/>";
    }
    HRESULT Load() {
        std::string csPath = SettingsFolder();
        return m_handler.LoadSettings(csPath);
    }
    int32_t Read(DWORD dwId) {
        int32_t nValue = -12345;
        m_handler.GetSettingFromID(dwId, nValue, 0xFFFFFFFF);
        return nValue;
    }

    CTempInstallation m_temp;
    CHandleSWSettings m_handler;
};

TEST_F(HandleSWSettingsFiles, LoadNeedsBothFilesAndResolvesLinks) {
    std::filesystem::remove(m_temp.CommonSettingsDir() + "/LinkCriteriaSettings.xml");
    WriteSettings(Item(110, "1"));
    EXPECT_EQ(Load(), HRESULT_FILE_NOT_FOUND); // the worker settings are not even read
    EXPECT_EQ(Read(110), -12345);
    SetUp();
    WriteSettings(Item(110, "1"));
    std::string csPath = SettingsFolder();
    ASSERT_EQ(m_handler.LoadSettings(csPath), S_OK);
    EXPECT_EQ(csPath, SettingsFolder() + "SWSettings.xml");
    EXPECT_EQ(Read(110), 1);
    DWORD dwGroup = 99;
    EXPECT_TRUE(m_handler.GetLinkCriteriaSettingsID(7, dwGroup));
    EXPECT_EQ(dwGroup, 2u);
    EXPECT_FALSE(m_handler.GetLinkCriteriaSettingsID(8, dwGroup));
    EXPECT_EQ(dwGroup, 0u);
    std::string csEmpty;
    EXPECT_EQ(m_handler.LoadSettings(csEmpty), E_FAIL);
}

TEST_F(HandleSWSettingsFiles, EditsAreReadAfterTheIntervalAndRefreshCanBeSwitchedOff) {
    WriteSettings(Item(81, "0") + Item(110, "1"));
    ASSERT_EQ(Load(), S_OK);
    bool bChanged = true;
    EXPECT_EQ(m_handler.CheckRefresh(bChanged), S_OK);
    EXPECT_FALSE(bChanged);
    WriteSettings(Item(81, "0") + Item(110, "0"));
    EXPECT_EQ(m_handler.CheckRefresh(bChanged), S_OK);
    EXPECT_TRUE(bChanged);
    EXPECT_EQ(Read(110), 0);
    // With 74 = 0 the files are never looked at again.
    WriteSettings(Item(81, "0") + Item(74, "0") + Item(110, "5"));
    EXPECT_EQ(m_handler.CheckRefresh(bChanged), S_OK);
    EXPECT_EQ(Read(110), 5);
    EXPECT_FALSE(m_handler.IsRefreshEnabled());
    WriteSettings(Item(81, "0") + Item(74, "1") + Item(110, "6"));
    EXPECT_EQ(m_handler.CheckRefresh(bChanged), S_OK);
    EXPECT_FALSE(bChanged);
    EXPECT_EQ(Read(110), 5);
}

// A change met while another thread holds the lock is reloaded by the next check, not dropped.
TEST_F(HandleSWSettingsFiles, AReloadSkippedForABusyLockIsNotLost) {
    WriteSettings(Item(81, "0") + Item(110, "1"));
    ASSERT_EQ(Load(), S_OK);
    WriteSettings(Item(81, "0") + Item(110, "0"));
    CLogCapture capture;
    std::atomic<bool> bHeld{false}, bRelease{false};
    std::thread holder([&] {
        m_handler.LockForTest().Lock();
        bHeld = true;
        while (!bRelease) {
        }
        m_handler.LockForTest().Unlock();
    });
    while (!bHeld) {
    }
    bool bChanged = false;
    EXPECT_EQ(m_handler.CheckRefresh(bChanged), S_OK);
    EXPECT_TRUE(bChanged);
    EXPECT_TRUE(capture.Contains(
        "Refresh was necessary but Critical Section was locked decided to skip the Refresh"));
    bRelease = true;
    holder.join();
    EXPECT_EQ(Read(110), 1);
    EXPECT_EQ(m_handler.CheckRefresh(bChanged), S_OK);
    EXPECT_TRUE(bChanged);
    EXPECT_EQ(Read(110), 0);
}

// The files of the system, except that a read of m_csPath waits until the test releases it. The wait has a
// ceiling only so that a lookup stuck behind the read fails the test instead of hanging it.
class CGatedFiles : public IFileSystem {
public:
    class CGatedFile : public IFile {
    public:
        CGatedFile(CGatedFiles& files, std::unique_ptr<IFile> spFile)
            : m_files(files), m_spFile(std::move(spFile)) {}
        bool ReadAt(uint64_t qwOffset, void* pBuffer, size_t cb, size_t& cbRead) override {
            m_files.HoldReader();
            return m_spFile->ReadAt(qwOffset, pBuffer, cb, cbRead);
        }
        bool WriteAt(uint64_t, const void*, size_t) override { return false; }
        bool Append(const void*, size_t) override { return false; }
        bool Flush() override { return false; }
        uint64_t Size() override { return m_spFile->Size(); }

    private:
        CGatedFiles& m_files;
        std::unique_ptr<IFile> m_spFile;
    };

    std::unique_ptr<IFile> Open(const std::string& csPath, EFileOpen eMode, DWORD& dwError) override {
        std::unique_ptr<IFile> spFile = PosixFileSystem().Open(csPath, eMode, dwError);
        if (spFile && csPath == m_csPath)
            return std::make_unique<CGatedFile>(*this, std::move(spFile));
        return spFile;
    }
    bool Exists(const std::string& csPath) override { return PosixFileSystem().Exists(csPath); }
    bool GetLastWriteTime(const std::string& csPath, FILETIME64& ftTime, DWORD& dwError) override {
        return PosixFileSystem().GetLastWriteTime(csPath, ftTime, dwError);
    }
    bool CreateDirectories(const std::string& csPath) override {
        return PosixFileSystem().CreateDirectories(csPath);
    }
    bool Remove(const std::string& csPath) override { return PosixFileSystem().Remove(csPath); }

    void WaitForReader() {
        std::unique_lock<std::mutex> guard(m_lock);
        m_cv.wait(guard, [&] { return m_bReading; });
    }
    // True when the reader was still held, that is, everything before this ran while the file was read.
    bool Release() {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bReleased = true;
        m_cv.notify_all();
        return !m_bGaveUp;
    }

    std::string m_csPath;

private:
    void HoldReader() {
        std::unique_lock<std::mutex> guard(m_lock);
        m_bReading = true;
        m_cv.notify_all();
        m_bGaveUp = !m_cv.wait_for(guard, std::chrono::seconds(20), [&] { return m_bReleased; });
    }

    std::mutex m_lock;
    std::condition_variable m_cv;
    bool m_bReading = false, m_bReleased = false, m_bGaveUp = false;
};

TEST_F(HandleSWSettingsFiles, ALookupDoesNotWaitForAReloadsParse) {
    WriteSettings(Item(81, "0") + Item(110, "1"));
    ASSERT_EQ(Load(), S_OK);
    WriteSettings(Item(81, "0") + Item(110, "2"));
    const std::string csLinks = m_temp.CommonSettingsDir() + "/LinkCriteriaSettings.xml";
    WriteText(csLinks,
              "<SERVICEWORKERS><SW ID=\"4\" DESCR=\"w\"><LINK CRITERIA_ID=\"7\" SETTINGS_ID=\"3\"/></SW>"
              "</SERVICEWORKERS>");
    SetFileTimeOfUnixSeconds(csLinks, 4000000000);
    CGatedFiles files;
    files.m_csPath = SettingsFolder() + "SWSettings.xml";
    CPlatform::SetFiles(&files);
    std::thread reload([&] {
        bool bChanged = false;
        m_handler.CheckRefresh(bChanged);
    });
    files.WaitForReader();
    const int32_t nDuringParse = Read(110);
    const bool bParseWasHeld = files.Release();
    reload.join();
    CPlatform::SetFiles(nullptr);
    EXPECT_TRUE(bParseWasHeld);
    EXPECT_EQ(nDuringParse, 1);
    EXPECT_EQ(Read(110), 2);
    DWORD dwGroup = 0;
    EXPECT_TRUE(m_handler.GetLinkCriteriaSettingsID(7, dwGroup));
    EXPECT_EQ(dwGroup, 3u);
}

TEST_F(HandleSWSettingsFiles, ReadersDuringReloadsSeeOldOrNewContent) {
    WriteSettings(Item(81, "0") + Item(110, "1") + Item(111, "1"));
    ASSERT_EQ(Load(), S_OK);
    std::atomic<bool> bStop{false};
    std::atomic<int> nTorn{0};
    std::vector<std::thread> vReaders;
    for (int t = 0; t < 8; ++t)
        vReaders.emplace_back([&] {
            while (!bStop) {
                // Every lookup answers from the old or the new content, never from a half-loaded one.
                int32_t n110 = 0, n111 = 0;
                m_handler.GetSettingFromID(110, n110, 0xFFFFFFFF);
                m_handler.GetSettingFromID(111, n111, 0xFFFFFFFF);
                if ((n110 != 1 && n110 != 2) || (n111 != 1 && n111 != 2))
                    ++nTorn;
                bool bChanged = false;
                m_handler.CheckRefresh(bChanged);
            }
        });
    for (int i = 0; i < 30; ++i) {
        const std::string csValue = i % 2 ? "1" : "2";
        WriteSettings(Item(81, "0") + Item(110, csValue) + Item(111, csValue));
    }
    bStop = true;
    for (auto& t : vReaders)
        t.join();
    EXPECT_EQ(nTorn.load(), 0);
}

} // namespace
