#include "platform/CFileVersionInfo.h"

#include "platform/CPlatform.h"
#include "platform/VersionBlock.h"
#include "platform/posix/PosixServices.h"
#include "tests/TableFile.h"
#include "tests/filter/PlatformDoubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
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

// A sealed block of exactly these entries, for damage the builder would never write.
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
std::vector<BYTE> Resealed(std::vector<BYTE> vBlock) {
    size_t cb = std::min<size_t>(ReadDword(vBlock.data() + c_ofsBlockSize), vBlock.size());
    WriteDword(vBlock.data() + c_ofsChecksum, Checksum(vBlock.data(), cb));
    return vBlock;
}

ECheck CheckOf(const std::vector<BYTE>& vBlock) {
    size_t cbBlock = 0;
    return Check(vBlock.data(), vBlock.size(), cbBlock);
}

class CVersionInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_files.m_csPath = "memory:module";
        CPlatform::SetFiles(&m_files);
    }
    void TearDown() override { CPlatform::SetFiles(nullptr); }

    // Opens a file holding the bytes at the offset, with filler around them that holds no marker.
    bool OpenBytes(CFileVersionInfo& info, const std::vector<BYTE>& vBytes, size_t ofs = 0,
                   size_t cbAfter = 0) {
        m_files.m_vBytes.resize(ofs + vBytes.size() + cbAfter);
        for (size_t i = 0; i < m_files.m_vBytes.size(); ++i)
            m_files.m_vBytes[i] = static_cast<BYTE>(i * 7 + 3);
        std::copy(vBytes.begin(), vBytes.end(), m_files.m_vBytes.begin() + static_cast<std::ptrdiff_t>(ofs));
        return info.Open("memory:module");
    }

    CMemoryFiles m_files;
};

void ExpectNothingRead(bool bOpened, const CFileVersionInfo& info) {
    EXPECT_FALSE(bOpened);
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
        EXPECT_EQ(std::make_tuple(info.GetString("FileVersion"), info.GetString("ProductVersion", 0),
                                  info.GetString("FileVersion", c_dwEnglish), info.GetString("CompanyName"),
                                  info.GetString("OriginalFilename"),
                                  info.GetString("FileVersion", c_dwGerman)),
                  std::make_tuple(WK_PROJECT_VERSION, WK_PROJECT_VERSION, WK_PROJECT_VERSION, "Brindlemark",
                                  "WK_ServiceWorker.so", ""));
        EXPECT_FALSE(info.GetString("ProductName").empty() || info.GetString("FileDescription").empty());
    }
}

// Each time after a good block was read: a failed Open drops it.
TEST_F(CVersionInfoTest, FilesWithoutABlock) {
    std::vector<BYTE> vHeaderOnly = BuildBlock();
    vHeaderOnly.resize(c_cbHeader);
    const std::vector<BYTE> aContents[] = {{},
                                           {'h', 'e', 'l', 'l', 'o'},
                                           std::vector<BYTE>(200 * 1024),
                                           vHeaderOnly,
                                           {std::begin(c_abMarker), std::end(c_abMarker)}};
    for (const std::vector<BYTE>& vBytes : aContents) {
        CFileVersionInfo info;
        ASSERT_TRUE(OpenBytes(info, BuildBlock()));
        ExpectNothingRead(OpenBytes(info, vBytes), info);
    }
    for (const std::string& csPath :
         {std::filesystem::temp_directory_path().string(), std::string("/nonexistent/x")}) {
        CFileVersionInfo info;
        ExpectNothingRead(info.Open(csPath), info);
    }
}

// Around the boundary of the reads the file is scanned in, and with or without bytes after the block.
TEST_F(CVersionInfoTest, BlockIsFoundAtAnyOffset) {
    constexpr size_t c_cbChunk = CFileVersionInfo::c_cbScanChunk;
    const std::vector<BYTE> vBlock = BuildBlock();
    for (size_t ofs : {size_t(0), size_t(1), c_cbChunk - vBlock.size(), c_cbChunk - 16, c_cbChunk - 15,
                       c_cbChunk - 1, c_cbChunk, 3 * c_cbChunk + 5}) {
        for (size_t cbAfter : {size_t(0), size_t(37)}) {
            CFileVersionInfo info;
            ASSERT_TRUE(OpenBytes(info, vBlock, ofs, cbAfter)) << "offset " << ofs << " + " << cbAfter;
            EXPECT_EQ(info.GetString("FileVersion"), "9.8.7.6");
        }
    }
}

// Representative damage, each with a correct checksum, at the end of a file and followed by other bytes.
TEST_F(CVersionInfoTest, DamagedBlocksAreRejected) {
    const CRawEntry translation{"\\VarFileInfo\\Translation", VALUE_BYTES,
                                std::string("\x09\x04\xB0\x04", 4)};
    const CRawEntry fileVersion{"\\StringFileInfo\\040904b0\\FileVersion", VALUE_TEXT, "1.0"};
    const std::vector<BYTE> vValid = RawBlock({translation, fileVersion});
    // The valid block with cb bytes at ofs set to dw, little-endian.
    auto patched = [&](size_t ofs, size_t dw, size_t cb) {
        std::vector<BYTE> v = vValid;
        for (size_t i = 0; i < cb; ++i)
            v.at(ofs + i) = static_cast<BYTE>(dw >> (8 * i));
        return Resealed(v);
    };
    // A valid block with one more text entry.
    auto withText = [&](const std::string& csKey, const std::string& csValue) {
        return RawBlock({translation, fileVersion, {csKey, VALUE_TEXT, csValue}});
    };
    std::vector<std::tuple<std::string, std::vector<BYTE>, ECheck>> vCases = {
        {"layout 2", patched(c_ofsLayout, 2, 2), ECheck::BadLayout},
        {"block size above the bound", patched(c_ofsBlockSize, c_cbMaxBlock + 1, 4), ECheck::BadBlockSize},
        {"block size past the file", patched(c_ofsBlockSize, 4096, 4), ECheck::TooSmall},
        {"too many entries", patched(c_ofsEntryCount, c_cMaxEntries + 1, 4), ECheck::TooManyEntries},
        {"one entry more than present", patched(c_ofsEntryCount, 3, 4), ECheck::EntryOverrun},
        {"key size past the block", patched(c_cbHeader + 1, 0x7F, 1), ECheck::EntryOverrun},
        {"value kind 2", patched(c_cbHeader + 4, 2, 1), ECheck::BadKind},
        {"reserved byte set", patched(c_cbHeader + 5, 1, 1), ECheck::BadKind},
        {"control character in a key", withText("\\String\x01", "x"), ECheck::BadKey},
        {"byte above 0x7E in a key", withText("\\String\x7F", "x"), ECheck::BadKey},
        {"zero byte in a text", withText("\\String", std::string("1\0", 2)), ECheck::BadText},
        {"key without backslash", withText("StringFileInfo", "x"), ECheck::BadKey},
        {"same key in other case", withText("\\STRINGFILEINFO\\040904B0\\fileversion", "2"),
         ECheck::DuplicateKey},
        {"no translation", RawBlock({fileVersion}), ECheck::NoTranslation},
        {"half a translation", RawBlock({fileVersion, {translation.csKey, VALUE_BYTES, "ab"}}),
         ECheck::BadTranslation},
    };
    for (size_t cb : {size_t(31), size_t(33), vValid.size() - 1})
        vCases.push_back({"cut to " + std::to_string(cb),
                          {vValid.begin(), vValid.begin() + static_cast<std::ptrdiff_t>(cb)},
                          ECheck::TooSmall});
    CFileVersionInfo valid;
    ASSERT_EQ(CheckOf(vValid), ECheck::Valid);
    ASSERT_TRUE(OpenBytes(valid, vValid, 3));
    for (const auto& [csName, vBlock, eExpected] : vCases) {
        SCOPED_TRACE(csName);
        EXPECT_EQ(CheckOf(vBlock), eExpected);
        CFileVersionInfo info;
        ExpectNothingRead(OpenBytes(info, vBlock, 3), info);
        ExpectNothingRead(OpenBytes(info, vBlock, 100, 20), info);
    }
}

// Every single changed byte is refused: the checksum covers the whole block, the marker included.
TEST_F(CVersionInfoTest, ChangedBytesAreRefused) {
    const std::vector<BYTE> vBlock = BuildBlock();
    for (size_t i = 0; i < vBlock.size(); ++i) {
        std::vector<BYTE> vChanged = vBlock;
        vChanged[i] ^= 0x20;
        CFileVersionInfo info;
        SCOPED_TRACE("byte " + std::to_string(i));
        ExpectNothingRead(OpenBytes(info, vChanged), info);
    }
}

TEST_F(CVersionInfoTest, FirstValidBlockWins) {
    static constexpr CVersionString c_aOther[] = {{"FileVersion", "5.5"}};
    static constexpr CVersionTable c_aOtherTables[] = {{c_dwEnglish, c_aOther}};
    const std::vector<BYTE> vValid = BuildBlock();
    const std::vector<BYTE> vOther = BuildBlock(c_aOtherTables);
    std::vector<BYTE> vFile = vValid;
    vFile.back() ^= 1;
    vFile.insert(vFile.end(), vValid.begin(), vValid.end());
    vFile.insert(vFile.end(), vOther.begin(), vOther.end());
    CFileVersionInfo info;
    ASSERT_TRUE(OpenBytes(info, vFile));
    EXPECT_EQ(info.GetString("FileVersion"), "9.8.7.6");
    // A marker inside a damaged block's bytes does not hide a valid block that starts there.
    std::vector<BYTE> vNested(vValid.begin(), vValid.begin() + 20);
    vNested.insert(vNested.end(), vOther.begin(), vOther.end());
    ASSERT_TRUE(OpenBytes(info, vNested));
    EXPECT_EQ(info.GetString("FileVersion"), "5.5");
}

TEST_F(CVersionInfoTest, TranslationGivenOrFirst) {
    CFileVersionInfo info;
    ASSERT_TRUE(OpenBytes(info, BuildBlock(), 500));
    for (const tabletest::TRow& row : tabletest::ReadTable("platform/version-strings.txt"))
        EXPECT_EQ(info.GetString(tabletest::Bytes(row[0]).c_str(),
                                 static_cast<DWORD>(std::stoul(row[1], nullptr, 16))),
                  row[2])
            << row[0] << " " << row[1];
}

// Reads in order: the first chunk, the second chunk (which holds the marker), the header, the block. A failed
// read, or a file that shrank after its size was taken, gives no block.
TEST_F(CVersionInfoTest, ReadErrors) {
    std::vector<BYTE> vFile(100000, 0x55);
    const std::vector<BYTE> vBlock = BuildBlock();
    std::copy(vBlock.begin(), vBlock.end(), vFile.begin() + 70000);
    const struct {
        int nFailRead;
        size_t cbVanished;
        bool bExpected;
    } aCases[] = {{-1, 0, true}, {0, 0, false},      {1, 0, false}, {2, 0, false},
                  {3, 0, false}, {-1, 40000, false}, {4, 0, true}};
    for (const auto& c : aCases) {
        m_files.m_vBytes.assign(vFile.begin(), vFile.end() - static_cast<std::ptrdiff_t>(c.cbVanished));
        m_files.m_fault.nFailRead = c.nFailRead;
        m_files.m_fault.cbVanished = c.cbVanished;
        CFileVersionInfo info;
        EXPECT_EQ(info.Open("memory:module"), c.bExpected) << "failing read " << c.nFailRead;
        EXPECT_EQ(info.GetString("ProductVersion"), c.bExpected ? "9.8" : "");
    }
}

} // namespace
