#include "platform/CFileVersionInfo.h"

#include "platform/CPlatform.h"
#include "platform/VersionBlock.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace VersionBlock;

constexpr DWORD c_dwEnglish = 0x040904B0;
constexpr DWORD c_dwGerman = 0x040704E4;

constexpr CVersionString c_aEnglish[] = {
    {"FileVersion", "9.8.7.6"}, {"ProductVersion", "9.8"}, {"CompanyName", "Brindlemark"}};
constexpr CVersionString c_aGerman[] = {{"FileVersion", "9,8,7,6"}};
constexpr CVersionTable c_aTables[] = {{c_dwEnglish, c_aEnglish}, {c_dwGerman, c_aGerman}};

// Built at run time only, so this test program itself holds no valid block.
std::vector<BYTE> BuildBlock(std::span<const CVersionTable> spTables = c_aTables) {
    std::vector<BYTE> vBlock(BuildSize(spTables));
    Build(spTables, vBlock.data(), vBlock.size());
    return vBlock;
}

struct CRawEntry {
    std::string csKey;
    BYTE bKind;
    std::string csValue;
};

const std::string c_csEnglishPair("\x09\x04\xB0\x04", 4);

std::vector<BYTE> RawBlock(const std::vector<CRawEntry>& vEntries) {
    size_t cb = c_cbHeader;
    for (const CRawEntry& entry : vEntries)
        cb += c_cbEntryHeader + entry.csKey.size() + entry.csValue.size();
    std::vector<BYTE> vBlock(cb);
    BYTE* p = vBlock.data() + c_cbHeader;
    for (const CRawEntry& entry : vEntries)
        p = WriteEntry(p, entry.bKind, {entry.csKey}, entry.csValue);
    Seal(vBlock.data(), cb, static_cast<DWORD>(vEntries.size()));
    return vBlock;
}

// Recomputes the checksum after a deliberate change, so that the change itself is what gets tested.
void Reseal(std::vector<BYTE>& vBlock) {
    size_t cb = std::min<size_t>(ReadDword(vBlock.data() + c_ofsBlockSize), vBlock.size());
    WriteDword(vBlock.data() + c_ofsChecksum, Checksum(vBlock.data(), cb));
}

ECheck CheckOf(const std::vector<BYTE>& vBlock) {
    size_t cbBlock = 0;
    return Check(vBlock.data(), vBlock.size(), cbBlock);
}

// Files in memory, for the tests that open many files and for read errors.
class CMemoryFiles : public IFileSystem {
public:
    class CMemoryFile : public IFile {
    public:
        explicit CMemoryFile(CMemoryFiles& files) : m_files(files) {}
        bool ReadAt(uint64_t qwOffset, void* pBuffer, size_t cb, size_t& cbRead) override {
            cbRead = 0;
            if (m_files.m_cReads++ == m_files.m_nFailRead)
                return false;
            const std::vector<BYTE>& vBytes = m_files.m_vBytes;
            if (qwOffset < vBytes.size())
                cbRead = std::min<size_t>(cb, vBytes.size() - qwOffset);
            if (cbRead)
                std::memcpy(pBuffer, vBytes.data() + qwOffset, cbRead);
            return true;
        }
        bool WriteAt(uint64_t, const void*, size_t) override { return false; }
        bool Append(const void*, size_t) override { return false; }
        bool Flush() override { return false; }
        // A file that shrank after its size was taken reads short.
        uint64_t Size() override { return m_files.m_vBytes.size() + m_files.m_cbVanished; }

    private:
        CMemoryFiles& m_files;
    };

    std::unique_ptr<IFile> Open(const std::string& csPath, EFileOpen, DWORD& dwError) override {
        if (csPath != "memory:module") {
            dwError = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        dwError = ERROR_SUCCESS;
        return std::make_unique<CMemoryFile>(*this);
    }
    bool Exists(const std::string& csPath) override { return csPath == "memory:module"; }
    bool GetLastWriteTime(const std::string&, FILETIME64&, DWORD&) override { return false; }
    bool CreateDirectories(const std::string&) override { return false; }
    bool Remove(const std::string&) override { return false; }

    std::vector<BYTE> m_vBytes;
    int m_cReads = 0;
    int m_nFailRead = -1;
    size_t m_cbVanished = 0;
};

class CVersionFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = std::filesystem::temp_directory_path() /
                 ("wk-version-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_path);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }

    std::string Write(const std::string& csName, const std::vector<BYTE>& vBytes) {
        std::string csPath = (m_path / csName).string();
        std::ofstream file(csPath, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(vBytes.data()), static_cast<std::streamsize>(vBytes.size()));
        return csPath;
    }

    // A file holding the bytes at the offset, with filler around them that holds no marker.
    std::string WriteAt(const std::string& csName, const std::vector<BYTE>& vBytes, size_t ofs,
                        size_t cbAfter = 37) {
        std::vector<BYTE> vFile(ofs + vBytes.size() + cbAfter);
        for (size_t i = 0; i < vFile.size(); ++i)
            vFile[i] = static_cast<BYTE>(i * 7 + 3);
        std::copy(vBytes.begin(), vBytes.end(), vFile.begin() + static_cast<std::ptrdiff_t>(ofs));
        return Write(csName, vFile);
    }

    // This program holds the marker (the reader looks for it) but no block. A copy, because a running
    // program's own file cannot be opened for writing, and that would fail Open for another reason.
    std::string CopyOfThisProgram() {
        std::filesystem::path path = m_path / "program";
        std::filesystem::copy_file("/proc/self/exe", path);
        std::vector<BYTE> vBytes(std::filesystem::file_size(path));
        std::ifstream(path, std::ios::binary)
            .read(reinterpret_cast<char*>(vBytes.data()), static_cast<std::streamsize>(vBytes.size()));
        EXPECT_NE(std::search(vBytes.begin(), vBytes.end(), std::begin(c_abMarker), std::end(c_abMarker)),
                  vBytes.end());
        return path.string();
    }

    std::filesystem::path m_path;
};

void ExpectNothingRead(CFileVersionInfo& info, const std::string& csPath) {
    EXPECT_FALSE(info.Open(csPath)) << csPath;
    EXPECT_FALSE(info.IsOpen());
    EXPECT_EQ(info.GetTranslation(), 0u);
    EXPECT_EQ(info.GetString("ProductVersion", 0), "");
    EXPECT_EQ(info.GetString("FileVersion", c_dwEnglish), "");
}

TEST(CFileVersionInfoBuilt, BinariesCarryTheProjectVersion) {
    for (const char* pszPath : {WK_MODULE_PATH, WK_VERSION_PROBE_PATH}) {
        SCOPED_TRACE(pszPath);
        CFileVersionInfo info;
        ASSERT_TRUE(info.Open(pszPath));
        EXPECT_EQ(info.GetTranslation(), c_dwEnglish);
        EXPECT_EQ(info.GetString("FileVersion"), WK_PROJECT_VERSION);
        EXPECT_EQ(info.GetString("ProductVersion", 0), WK_PROJECT_VERSION);
        EXPECT_EQ(info.GetString("FileVersion", c_dwEnglish), WK_PROJECT_VERSION);
        EXPECT_EQ(info.GetString("CompanyName"), "Brindlemark");
        EXPECT_EQ(info.GetString("OriginalFilename"), "WK_ServiceWorker.so");
        EXPECT_FALSE(info.GetString("ProductName").empty());
        EXPECT_FALSE(info.GetString("FileDescription").empty());
        EXPECT_EQ(info.GetString("FileVersion", c_dwGerman), "");
    }
}

TEST_F(CVersionFiles, FilesWithoutABlock) {
    std::vector<BYTE> vMarkerOnly(std::begin(c_abMarker), std::end(c_abMarker));
    std::vector<BYTE> vMarkerAndHeader = BuildBlock();
    vMarkerAndHeader.resize(c_cbHeader);
    const std::string aPaths[] = {
        (m_path / "missing").string(),
        m_path.string(),
        Write("empty", {}),
        Write("text", {'h', 'e', 'l', 'l', 'o', '\n'}),
        Write("zeros", std::vector<BYTE>(200 * 1024)),
        Write("marker", vMarkerOnly),
        Write("header", vMarkerAndHeader),
        CopyOfThisProgram(),
    };
    for (const std::string& csPath : aPaths) {
        CFileVersionInfo info;
        ExpectNothingRead(info, csPath);
    }
}

TEST_F(CVersionFiles, BlockIsFoundAtAnyOffset) {
    constexpr size_t c_cbChunk = CFileVersionInfo::c_cbScanChunk;
    const std::vector<BYTE> vBlock = BuildBlock();
    const size_t aOffsets[] = {0,
                               1,
                               4093,
                               c_cbChunk - vBlock.size(),
                               c_cbChunk - 16,
                               c_cbChunk - 15,
                               c_cbChunk - 8,
                               c_cbChunk - 1,
                               c_cbChunk,
                               3 * c_cbChunk + 5};
    for (size_t ofs : aOffsets) {
        for (size_t cbAfter : {size_t(0), size_t(37)}) {
            CFileVersionInfo info;
            ASSERT_TRUE(info.Open(WriteAt("at", vBlock, ofs, cbAfter)))
                << "offset " << ofs << " + " << cbAfter;
            EXPECT_EQ(info.GetString("FileVersion"), "9.8.7.6");
        }
    }
}

TEST_F(CVersionFiles, TruncatedBlocksAreRejected) {
    const std::vector<BYTE> vBlock = BuildBlock();
    for (size_t cb :
         {size_t(15), size_t(16), size_t(31), size_t(32), size_t(33), vBlock.size() / 2, vBlock.size() - 1}) {
        std::vector<BYTE> vCut(vBlock.begin(), vBlock.begin() + static_cast<std::ptrdiff_t>(cb));
        CFileVersionInfo info;
        // At the end of the file, and in the middle of one whose later bytes hold no valid block either.
        ExpectNothingRead(info, Write("cut", vCut));
        ExpectNothingRead(info, WriteAt("cut-inside", vCut, 100, 20));
    }
}

TEST(CFileVersionInfoMemory, EveryChangedByteIsRejected) {
    const std::vector<BYTE> vBlock = BuildBlock();
    CMemoryFiles files;
    CPlatform::SetFiles(&files);
    for (size_t i = 0; i < vBlock.size(); ++i) {
        files.m_vBytes = vBlock;
        files.m_vBytes[i] ^= 0x20;
        CFileVersionInfo info;
        ASSERT_FALSE(info.Open("memory:module")) << "byte " << i;
        EXPECT_EQ(info.GetString("FileVersion"), "");
    }
    CPlatform::SetFiles(nullptr);
}

TEST_F(CVersionFiles, StructuralDamageIsRejected) {
    const std::string csFileVersion = "\\StringFileInfo\\040904b0\\FileVersion";
    const CRawEntry translation{"\\VarFileInfo\\Translation", VALUE_BYTES, c_csEnglishPair};
    const CRawEntry fileVersion{csFileVersion, VALUE_TEXT, "1.0"};
    auto withHeader = [](size_t ofs, DWORD dw, bool bWord) {
        std::vector<BYTE> v =
            RawBlock({{"\\VarFileInfo\\Translation", VALUE_BYTES, std::string("\x09\x04\xB0\x04", 4)}});
        if (bWord)
            WriteWord(v.data() + ofs, static_cast<WORD>(dw));
        else
            WriteDword(v.data() + ofs, dw);
        Reseal(v);
        return v;
    };
    auto withEntryByte = [&](size_t ofsInEntry, BYTE b) {
        std::vector<BYTE> v = RawBlock({translation, fileVersion});
        v[c_cbHeader + ofsInEntry] = b;
        Reseal(v);
        return v;
    };
    const std::vector<BYTE> vValid = RawBlock({translation, fileVersion});
    const size_t cbValid = vValid.size();
    const struct {
        const char* pszName;
        std::vector<BYTE> vBlock;
        ECheck eExpected;
    } aCases[] = {
        {"layout 2", withHeader(c_ofsLayout, 2, true), ECheck::BadLayout},
        {"header size 28", withHeader(c_ofsHeaderSize, 28, true), ECheck::BadHeaderSize},
        {"block size below a header", withHeader(c_ofsBlockSize, 31, false), ECheck::BadBlockSize},
        {"block size above the bound", withHeader(c_ofsBlockSize, c_cbMaxBlock + 1, false),
         ECheck::BadBlockSize},
        {"block size past the file", withHeader(c_ofsBlockSize, 4096, false), ECheck::TooSmall},
        {"too many entries", withHeader(c_ofsEntryCount, c_cMaxEntries + 1, false), ECheck::TooManyEntries},
        {"one entry more than present", withHeader(c_ofsEntryCount, 2, false), ECheck::EntryOverrun},
        {"no entries", withHeader(c_ofsEntryCount, 0, false), ECheck::TrailingBytes},
        {"key size past the block", withEntryByte(1, 0x7F), ECheck::EntryOverrun},
        {"value kind 2", withEntryByte(4, 2), ECheck::BadKind},
        {"reserved byte set", withEntryByte(5, 1), ECheck::BadKind},
        {"empty key", RawBlock({translation, {"", VALUE_TEXT, "x"}}), ECheck::BadKey},
        {"key without backslash", RawBlock({translation, {"StringFileInfo", VALUE_TEXT, "x"}}),
         ECheck::BadKey},
        {"key with a control byte", RawBlock({translation, {"\\Str\x01ng", VALUE_TEXT, "x"}}),
         ECheck::BadKey},
        {"key too long", RawBlock({translation, {"\\" + std::string(c_cbMaxKey, 'k'), VALUE_TEXT, "x"}}),
         ECheck::BadKey},
        {"text with a zero byte",
         RawBlock({translation,
                   {csFileVersion, VALUE_TEXT,
                    std::string("1\0"
                                "2",
                                3)}}),
         ECheck::BadText},
        {"same key in other case",
         RawBlock({translation, fileVersion, {"\\STRINGFILEINFO\\040904B0\\fileversion", VALUE_TEXT, "2"}}),
         ECheck::DuplicateKey},
        {"no translation", RawBlock({fileVersion}), ECheck::NoTranslation},
        {"translation as text", RawBlock({{translation.csKey, VALUE_TEXT, "abcd"}, fileVersion}),
         ECheck::BadTranslation},
        {"half a translation", RawBlock({{translation.csKey, VALUE_BYTES, "ab"}, fileVersion}),
         ECheck::BadTranslation},
        {"no translation pair", RawBlock({{translation.csKey, VALUE_BYTES, ""}, fileVersion}),
         ECheck::BadTranslation},
    };
    ASSERT_EQ(CheckOf(vValid), ECheck::Valid);
    ASSERT_TRUE(CFileVersionInfo().Open(Write("valid", vValid)));
    for (const auto& c : aCases) {
        SCOPED_TRACE(c.pszName);
        EXPECT_EQ(CheckOf(c.vBlock), c.eExpected);
        CFileVersionInfo info;
        ExpectNothingRead(info, WriteAt("damaged", c.vBlock, 3, 0));
    }
    // Bytes after a valid block's end are outside it; a block claiming them is checked against them.
    std::vector<BYTE> vLonger = vValid;
    vLonger.resize(cbValid + 8);
    WriteDword(vLonger.data() + c_ofsBlockSize, static_cast<DWORD>(vLonger.size()));
    Reseal(vLonger);
    EXPECT_EQ(CheckOf(vLonger), ECheck::TrailingBytes);
}

TEST_F(CVersionFiles, FirstValidBlockWins) {
    std::vector<BYTE> vDamaged = BuildBlock();
    vDamaged[vDamaged.size() - 1] ^= 1;
    static constexpr CVersionString c_aOther[] = {{"FileVersion", "5.5"}};
    static constexpr CVersionTable c_aOtherTables[] = {{c_dwEnglish, c_aOther}};
    const std::vector<BYTE> vValid = BuildBlock();
    const std::vector<BYTE> vOther = BuildBlock(c_aOtherTables);

    std::vector<BYTE> vFile = vDamaged;
    vFile.insert(vFile.end(), vValid.begin(), vValid.end());
    vFile.insert(vFile.end(), vOther.begin(), vOther.end());
    CFileVersionInfo info;
    ASSERT_TRUE(info.Open(Write("three", vFile)));
    EXPECT_EQ(info.GetString("FileVersion"), "9.8.7.6");

    // A marker inside a damaged block's bytes does not hide a valid block that starts there.
    std::vector<BYTE> vNested(vValid.begin(), vValid.begin() + 20);
    vNested.insert(vNested.end(), vOther.begin(), vOther.end());
    ASSERT_TRUE(info.Open(Write("nested", vNested)));
    EXPECT_EQ(info.GetString("FileVersion"), "5.5");
}

TEST_F(CVersionFiles, TranslationGivenOrFirst) {
    CFileVersionInfo info;
    ASSERT_TRUE(info.Open(WriteAt("two", BuildBlock(), 500)));
    EXPECT_EQ(info.GetTranslation(), c_dwEnglish);
    const struct {
        const char* pszName;
        DWORD dwTranslation;
        const char* pszExpected;
    } aCases[] = {
        {"FileVersion", 0, "9.8.7.6"},
        {"FileVersion", c_dwEnglish, "9.8.7.6"},
        {"FileVersion", c_dwGerman, "9,8,7,6"},
        {"ProductVersion", c_dwGerman, ""},
        {"FileVersion", 0x041D04B0, ""},
        {"fileVERSION", 0, "9.8.7.6"},
        {"CompanyName", 0, "Brindlemark"},
        {"Comments", 0, ""},
        {"", 0, ""},
        {"%s%n%08lx", 0, ""},
        {"Translation", 0, ""},
    };
    for (const auto& c : aCases)
        EXPECT_EQ(info.GetString(c.pszName, c.dwTranslation), c.pszExpected)
            << c.pszName << " " << std::hex << c.dwTranslation;
    // The translation list is bytes, not a text: no name reaches it.
    EXPECT_EQ(info.GetString("..\\..\\VarFileInfo\\Translation"), "");
}

TEST_F(CVersionFiles, FailedOpenDropsTheEarlierBlock) {
    CFileVersionInfo info;
    ASSERT_TRUE(info.Open(Write("good", BuildBlock())));
    ASSERT_EQ(info.GetString("FileVersion"), "9.8.7.6");
    EXPECT_FALSE(info.Open(Write("bad", {1, 2, 3})));
    EXPECT_EQ(info.GetString("FileVersion"), "");
    EXPECT_EQ(info.GetTranslation(), 0u);
}

// Random damage with a correct checksum, the worst a broken writer could produce: never a crash or a read
// outside the block (the sanitizer build watches), and a block is used only when it passes every check.
TEST(CFileVersionInfoMemory, RandomDamageIsSafe) {
    const std::vector<BYTE> vBlock = BuildBlock();
    std::mt19937 random(20240607);
    CMemoryFiles files;
    CPlatform::SetFiles(&files);
    int cAccepted = 0;
    for (int n = 0; n < 1500; ++n) {
        std::vector<BYTE> vDamaged = vBlock;
        int cChanges = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < cChanges; ++i) {
            size_t ofs = c_cbMarker + random() % (vDamaged.size() - c_cbMarker);
            vDamaged[ofs] = static_cast<BYTE>(random());
        }
        if (random() % 5 == 0)
            vDamaged.resize(c_cbHeader + random() % (vDamaged.size() - c_cbHeader));
        Reseal(vDamaged);
        bool bValid = CheckOf(vDamaged) == ECheck::Valid;
        files.m_vBytes = vDamaged;
        CFileVersionInfo info;
        ASSERT_EQ(info.Open("memory:module"), bValid) << "round " << n;
        for (const char* pszName : {"FileVersion", "ProductVersion", "CompanyName"})
            info.GetString(pszName, n % 2 ? 0 : c_dwGerman);
        cAccepted += bValid;
    }
    CPlatform::SetFiles(nullptr);
    // Changes to text bytes keep a block valid; the rest must have been refused.
    EXPECT_GT(cAccepted, 0);
    EXPECT_LT(cAccepted, 1500);
}

TEST(CFileVersionInfoMemory, ReadsThroughThePlatformFiles) {
    CMemoryFiles files;
    const std::vector<BYTE> vBlock = BuildBlock();
    CPlatform::SetFiles(&files);
    // Reads in order: the first chunk, the second chunk (which holds the marker), the header, the block.
    const struct {
        int nFailRead;
        size_t cbVanished;
        bool bExpected;
    } aCases[] = {{-1, 0, true}, {0, 0, false},      {1, 0, false}, {2, 0, false},
                  {3, 0, false}, {-1, 40000, false}, {4, 0, true}};
    for (const auto& c : aCases) {
        files.m_vBytes.assign(100000, 0x55);
        std::copy(vBlock.begin(), vBlock.end(), files.m_vBytes.begin() + 70000);
        files.m_vBytes.resize(files.m_vBytes.size() - c.cbVanished);
        files.m_cReads = 0;
        files.m_nFailRead = c.nFailRead;
        files.m_cbVanished = c.cbVanished;
        CFileVersionInfo info;
        EXPECT_EQ(info.Open("memory:module"), c.bExpected) << "failing read " << c.nFailRead;
        EXPECT_EQ(info.GetString("ProductVersion"), c.bExpected ? "9.8" : "");
    }
    EXPECT_FALSE(CFileVersionInfo().Open("missing"));
    CPlatform::SetFiles(nullptr);
}

} // namespace
