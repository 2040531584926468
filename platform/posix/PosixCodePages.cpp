// Code-page conversion through the C library's iconv, and UTF-8 written directly: narrow texts on this system
// are UTF-8, so that is also the thread's code page.
#include "platform/posix/PosixServices.h"

#include "platform/Immortal.h"
#include "platform/ThreadSlot.h"
#include "platform/posix/PosixErrors.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <exception>
#include <iterator>
#include <memory>

namespace {

// The iconv converter behind each Windows code page. Only converters whose bytes were checked against the
// Windows tables are listed; glibc has none for HZ (52936) or the Macintosh Hebrew, Arabic, Japanese and
// Chinese code pages (10005, 10004, 10001, 10002, 10008), and those are refused rather than approximated:
// wrong bytes in a page are worse than a text left out.
struct CIconvName {
    UINT nCodePage;
    const char* pszName;
    const char* pszAlias; // for a C library that knows the converter only by this name
};

constexpr CIconvName g_aIconvNames[] = {
    {1250, "CP1250", "WINDOWS-1250"},
    {1252, "CP1252", "WINDOWS-1252"},
    {1254, "CP1254", "WINDOWS-1254"},
    {1255, "CP1255", "WINDOWS-1255"},
    {1256, "CP1256", "WINDOWS-1256"},
    {28592, "ISO-8859-2", "ISO_8859-2"},
    // The 2003 edition, with the euro at 0xA4, as Windows has it.
    {28597, "ISO-8859-7", "ISO_8859-7:2003"},
    // Microsoft's Shift_JIS (NEC and IBM rows, 0x8160 for U+FF5E); plain SHIFT_JIS lacks both.
    {932, "CP932", "WINDOWS-31J"},
    // GBK with the euro at 0x80.
    {936, "CP936", "GBK"},
    {950, "CP950", "BIG5"},
};
constexpr size_t ICONV_CODE_PAGES = std::size(g_aIconvNames);

const iconv_t INVALID_DESCRIPTOR = reinterpret_cast<iconv_t>(-1);
constexpr size_t ICONV_FAILED = static_cast<size_t>(-1);

const char* WideEncodingName() {
    return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

bool FindIconvName(UINT nCodePage, size_t& nIndex) {
    for (nIndex = 0; nIndex < ICONV_CODE_PAGES; ++nIndex)
        if (g_aIconvNames[nIndex].nCodePage == nCodePage)
            return true;
    return false;
}

iconv_t OpenDescriptor(size_t nIndex, int& nErrno) {
    const CIconvName& name = g_aIconvNames[nIndex];
    iconv_t cd = ::iconv_open(name.pszName, WideEncodingName());
    if (cd == INVALID_DESCRIPTOR)
        cd = ::iconv_open(name.pszAlias, WideEncodingName());
    nErrno = cd == INVALID_DESCRIPTOR ? errno : 0;
    return cd;
}

// The descriptors one thread has opened, one per code page. A descriptor carries conversion state, so it
// never serves two threads; opening one costs about as much as converting a dialog text, hence the cache.
struct CThreadDescriptors {
    iconv_t aDescriptors[ICONV_CODE_PAGES];

    CThreadDescriptors() { std::fill(std::begin(aDescriptors), std::end(aDescriptors), INVALID_DESCRIPTOR); }
    ~CThreadDescriptors() {
        for (iconv_t cd : aDescriptors)
            if (cd != INVALID_DESCRIPTOR)
                ::iconv_close(cd);
    }
    CThreadDescriptors(const CThreadDescriptors&) = delete;
    CThreadDescriptors& operator=(const CThreadDescriptors&) = delete;
};

void ReleaseDescriptors(void* pValue) {
    delete static_cast<CThreadDescriptors*>(pValue);
}

CThreadSlot& DescriptorSlot() {
    static CThreadSlot s_slot(&ReleaseDescriptors);
    return s_slot;
}

// The calling thread's descriptors, created on first use; null when the thread cannot keep them (no slot,
// or the slot is already gone at process exit): the caller then opens a descriptor for the one call.
CThreadDescriptors* ThreadDescriptors() {
    CThreadSlot& slot = DescriptorSlot();
    if (auto* pDescriptors = static_cast<CThreadDescriptors*>(slot.Get()))
        return pDescriptors;
    auto spDescriptors = std::make_unique<CThreadDescriptors>();
    slot.Set(spDescriptors.get());
    if (slot.Get() != spDescriptors.get())
        return nullptr;
    return spDescriptors.release();
}

// A descriptor for one conversion: the thread's cached one, or a private one closed afterwards.
class CDescriptorLease {
public:
    explicit CDescriptorLease(size_t nIndex) {
        CThreadDescriptors* pDescriptors = ThreadDescriptors();
        if (pDescriptors && pDescriptors->aDescriptors[nIndex] != INVALID_DESCRIPTOR) {
            m_cd = pDescriptors->aDescriptors[nIndex];
            return;
        }
        m_cd = OpenDescriptor(nIndex, m_nErrno);
        if (m_cd != INVALID_DESCRIPTOR && pDescriptors)
            pDescriptors->aDescriptors[nIndex] = m_cd;
        else
            m_bOwned = m_cd != INVALID_DESCRIPTOR;
    }
    ~CDescriptorLease() {
        if (m_bOwned)
            ::iconv_close(m_cd);
    }
    CDescriptorLease(const CDescriptorLease&) = delete;
    CDescriptorLease& operator=(const CDescriptorLease&) = delete;

    iconv_t Get() const { return m_cd; }
    int OpenErrno() const { return m_nErrno; }

private:
    iconv_t m_cd = INVALID_DESCRIPTOR;
    int m_nErrno = 0;
    bool m_bOwned = false;
};

bool IsHighSurrogate(char16_t wch) {
    return wch >= 0xD800 && wch <= 0xDBFF;
}
bool IsLowSurrogate(char16_t wch) {
    return wch >= 0xDC00 && wch <= 0xDFFF;
}

// The output buffer of an iconv run; grows when iconv reports it full.
class CIconvOutput {
public:
    CIconvOutput(std::string& csOut, size_t cbInitial) : m_csOut(csOut) {
        m_csOut.resize(cbInitial);
        m_pOut = m_csOut.data();
        m_cbLeft = m_csOut.size();
    }
    char** Next() { return &m_pOut; }
    size_t* Left() { return &m_cbLeft; }
    void Grow() {
        const size_t cbUsed = Used();
        m_csOut.resize(m_csOut.size() * 2 + 16);
        m_pOut = m_csOut.data() + cbUsed;
        m_cbLeft = m_csOut.size() - cbUsed;
    }
    void Finish() { m_csOut.resize(Used()); }

private:
    size_t Used() const { return static_cast<size_t>(m_pOut - m_csOut.data()); }

    std::string& m_csOut;
    char* m_pOut = nullptr;
    size_t m_cbLeft = 0;
};

// Converts units until all are used; stops at a character the code page lacks (EILSEQ) or at a high
// surrogate that ends the text (EINVAL) and returns that errno with pwchNext on the character.
int ConvertRun(iconv_t cd, const char16_t*& pwchNext, const char16_t* pwchEnd, CIconvOutput& output) {
    while (pwchNext < pwchEnd) {
        // iconv's prototype takes a non-const input pointer, but it only reads through it.
        char* pIn = reinterpret_cast<char*>(const_cast<char16_t*>(pwchNext));
        size_t cbIn = static_cast<size_t>(pwchEnd - pwchNext) * sizeof(char16_t);
        const size_t nResult = ::iconv(cd, &pIn, &cbIn, output.Next(), output.Left());
        const int nErrno = errno;
        // iconv stops only between whole input characters, so the remaining byte count stays even.
        pwchNext = pwchEnd - cbIn / sizeof(char16_t);
        if (nResult != ICONV_FAILED)
            continue;
        if (nErrno != E2BIG)
            return nErrno;
        output.Grow();
    }
    return 0;
}

// The default character goes through the converter as well, so that an encoding with shift states leaves
// its current state first.
DWORD WriteDefaultChar(iconv_t cd, CIconvOutput& output) {
    static const char16_t s_wchDefault = static_cast<char16_t>(CODE_PAGE_DEFAULT_CHAR);
    const char16_t* pwchNext = &s_wchDefault;
    return ConvertRun(cd, pwchNext, pwchNext + 1, output) == 0 ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

DWORD ConvertWithIconv(iconv_t cd, const std::u16string& wsText, std::string& csOut) {
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // Two bytes per unit holds every double-byte text; the rare longer outputs grow the buffer.
    CIconvOutput output(csOut, wsText.size() * 2 + 16);
    const char16_t* pwchNext = wsText.data();
    const char16_t* const pwchEnd = pwchNext + wsText.size();
    while (pwchNext < pwchEnd) {
        const int nErrno = ConvertRun(cd, pwchNext, pwchEnd, output);
        if (nErrno == 0)
            break;
        if (nErrno != EILSEQ && nErrno != EINVAL)
            return Win32FromErrno(nErrno);
        // A character the code page lacks (a surrogate pair counts as one), or a surrogate without its
        // partner: one default character each.
        if (DWORD dwError = WriteDefaultChar(cd, output))
            return dwError;
        const bool bPair =
            pwchEnd - pwchNext >= 2 && IsHighSurrogate(pwchNext[0]) && IsLowSurrogate(pwchNext[1]);
        pwchNext += bPair ? 2 : 1;
    }
    // Back to the initial shift state at the end of the text.
    while (::iconv(cd, nullptr, nullptr, output.Next(), output.Left()) == ICONV_FAILED) {
        if (errno != E2BIG)
            return Win32FromErrno(errno);
        output.Grow();
    }
    output.Finish();
    return ERROR_SUCCESS;
}

// UTF-8 as the Windows converter writes it: pairs become four bytes, a lone surrogate becomes U+FFFD.
void ConvertToUtf8(const std::u16string& wsText, std::string& csOut) {
    csOut.resize(wsText.size() * 3);
    unsigned char* pOut = reinterpret_cast<unsigned char*>(csOut.data());
    const size_t nUnits = wsText.size();
    for (size_t i = 0; i < nUnits; ++i) {
        char32_t ch = wsText[i];
        if (ch < 0x80) {
            *pOut++ = static_cast<unsigned char>(ch);
            continue;
        }
        if (ch < 0x800) {
            *pOut++ = static_cast<unsigned char>(0xC0 | (ch >> 6));
            *pOut++ = static_cast<unsigned char>(0x80 | (ch & 0x3F));
            continue;
        }
        if (IsHighSurrogate(static_cast<char16_t>(ch)) && i + 1 < nUnits && IsLowSurrogate(wsText[i + 1])) {
            ch = 0x10000 + ((ch - 0xD800) << 10) + (wsText[++i] - 0xDC00);
            *pOut++ = static_cast<unsigned char>(0xF0 | (ch >> 18));
            *pOut++ = static_cast<unsigned char>(0x80 | ((ch >> 12) & 0x3F));
            *pOut++ = static_cast<unsigned char>(0x80 | ((ch >> 6) & 0x3F));
            *pOut++ = static_cast<unsigned char>(0x80 | (ch & 0x3F));
            continue;
        }
        if (ch >= 0xD800 && ch <= 0xDFFF)
            ch = 0xFFFD;
        *pOut++ = static_cast<unsigned char>(0xE0 | (ch >> 12));
        *pOut++ = static_cast<unsigned char>(0x80 | ((ch >> 6) & 0x3F));
        *pOut++ = static_cast<unsigned char>(0x80 | (ch & 0x3F));
    }
    csOut.resize(static_cast<size_t>(pOut - reinterpret_cast<unsigned char*>(csOut.data())));
}

class CPosixCodePages : public ICodePages {
public:
    bool WideToMultiByte(UINT nCodePage, const std::u16string& wsText, std::string& csOut,
                         DWORD& dwError) override {
        try {
            dwError = Convert(nCodePage, wsText, csOut);
        } catch (const std::exception&) {
            dwError = ERROR_NOT_ENOUGH_MEMORY;
        }
        if (dwError != ERROR_SUCCESS)
            csOut.clear();
        return dwError == ERROR_SUCCESS;
    }

    UINT GetThreadAnsiCodePage() override { return CP_UTF8_CODE_PAGE; }

private:
    static DWORD Convert(UINT nCodePage, const std::u16string& wsText, std::string& csOut) {
        if (nCodePage == CP_UTF8_CODE_PAGE) {
            ConvertToUtf8(wsText, csOut);
            return ERROR_SUCCESS;
        }
        size_t nIndex = 0;
        if (!FindIconvName(nCodePage, nIndex))
            return ERROR_INVALID_PARAMETER;
        CDescriptorLease lease(nIndex);
        if (lease.Get() == INVALID_DESCRIPTOR)
            return lease.OpenErrno() == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INVALID_PARAMETER;
        return ConvertWithIconv(lease.Get(), wsText, csOut);
    }
};

} // namespace

ICodePages& PosixCodePages() {
    return ImmortalInstance<CPosixCodePages>();
}
