// The base of every XML settings file: where it lies, when it last changed, a version hash of that date, and
// the interval-gated check that tells its owner when to reload. No lock of its own: the settings handler
// serialises every call.
#pragma once

#include "platform/HResultException.h"
#include "platform/IFileSystem.h"
#include "platform/IXmlDocument.h"
#include "platform/WinTypes.h"
#include "text/SettingNumber.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// An attribute value as read from a file: absent, text (possibly the null text), or an integer.
class CSettingValue {
public:
    enum class EType { Empty, NullText, Text, Integer };

    CSettingValue() = default;
    static CSettingValue Text(std::string csText) { return CSettingValue(EType::Text, std::move(csText), 0); }
    static CSettingValue NullText() { return CSettingValue(EType::NullText, std::string(), 0); }
    static CSettingValue Integer(int32_t n) { return CSettingValue(EType::Integer, std::string(), n); }

    EType Type() const { return m_eType; }
    bool IsEmpty() const { return m_eType == EType::Empty; }
    bool IsText() const { return m_eType == EType::Text || m_eType == EType::NullText; }
    const std::string& GetText() const { return m_csText; }
    int32_t GetInteger() const { return m_nValue; }
    bool operator==(const CSettingValue& other) const = default;

private:
    CSettingValue(EType eType, std::string csText, int32_t nValue)
        : m_eType(eType), m_csText(std::move(csText)), m_nValue(nValue) {}
    EType m_eType = EType::Empty;
    std::string m_csText;
    int32_t m_nValue = 0;
};

// Ordered (attribute name, value) slots; the reader fills them in order and drops the rest at the first
// missing attribute, so the slot count tells how many attributes were read.
typedef std::vector<std::pair<std::string, CSettingValue>> CAttributeSlots;

// Action code of DipatchSaveItem that writes an item.
constexpr int SAVE_ACTION_WRITE_ITEM = 1;

class CBasicSettings {
public:
    struct TAGITEM {
        int32_t ID = 0;
        std::optional<std::string> DESCR;
        CSettingValue VALUE;
        bool operator==(const TAGITEM& other) const = default;
    };

    // Turns a filled ("ID", "DESCR", "VALUE") slot list into an item; false when the item is rejected.
    struct _functBaseTrans {
        virtual ~_functBaseTrans() = default;
        virtual bool operator()(const CAttributeSlots& slots, TAGITEM& item) const;
    };

    // Forwards a slot list to a member of T that files it into the container under construction (T's
    // CTransTarget).
    template <class T, class TTarget = typename T::CTransTarget> struct _functTrans : _functBaseTrans {
        typedef bool (T::*PFN_MEMBER)(const CAttributeSlots& slots, TTarget& target);
        _functTrans(T* pObject, PFN_MEMBER pfnMember) : m_pObject(pObject), m_pfnMember(pfnMember) {}
        bool Invoke(const CAttributeSlots& slots, TTarget& target) const {
            return (m_pObject->*m_pfnMember)(slots, target);
        }
        T* m_pObject;
        PFN_MEMBER m_pfnMember;
    };

    CBasicSettings() = default;
    virtual ~CBasicSettings() = default;
    CBasicSettings(const CBasicSettings&) = delete;
    CBasicSettings& operator=(const CBasicSettings&) = delete;

    // Nodes are handles into a document that owns them, so releasing one only forgets it.
    virtual ULONG_PTR ReleaseNode(CXmlNode& node);
    virtual HRESULT LoadSettings(const std::string& csPath) = 0;
    virtual HRESULT SaveSettings(const std::string& csPath);
    // Writes one item under an ITEMS node (action SAVE_ACTION_WRITE_ITEM; any other action does nothing).
    virtual HRESULT DipatchSaveItem(int nAction, IXmlDocument* pDocument, CXmlNode itemsNode,
                                    const TAGITEM* pItem);

    // Reads the file's last-write time and recomputes the version hash from it.
    void HashFileDate();
    // Compares the file's date with the stored one once the refresh interval has passed since the last check.
    HRESULT CheckFileDate(bool& bReloadNeeded);
    HRESULT Refresh();

    int32_t GetRefreshInterval() const { return m_nRefreshInterval; }
    void SetRefreshInterval(int32_t nMinutes) { m_nRefreshInterval = nMinutes; }
    const std::string& GetPath() const { return m_csPath; }
    // Why the last load was refused ("<file>: line L, position P: <reason>" for a parse error); empty after
    // a successful one.
    const std::string& GetLoadFailure() const { return m_csLoadFailure; }
    const std::string& GetVersionHash() const { return m_csVersionHash; }
    FILETIME64 GetLastWriteTime() const { return m_ftLastWrite; }
    FILETIME64 GetLastCheckTime() const { return m_ftLastCheck; }

    // The times-33 hash of a file time's "low_high" decimal text, as unsigned decimal text.
    static std::string HashFileTime(FILETIME64 ftTime);

protected:
    // The current time as a Windows file time; tests give the store a clock of their own.
    virtual FILETIME64 GetSystemTimeAsFileTime() const;

    // Remembers the path, then creates and loads the document; failures are thrown as CHResultException
    // and caught at the edge of the load, their reason kept for GetLoadFailure. Also refuses a well-formed
    // document whose root element is not pszRoot (a file of another kind would otherwise load as "every
    // setting at its default").
    std::unique_ptr<IXmlDocument> OpenDocument(const std::string& csPath, const char* pszRoot);
    void LoadDocument(IXmlDocument& document, const std::string& csPath);
    // Fills the slots named in vecNames from the element's attributes, stopping at the first missing one.
    static CAttributeSlots ReadAttributes(const IXmlDocument& document, CXmlNode element,
                                          const std::vector<const char*>& vecNames);
    // The ID of a slot as a whole number (an integer as it is, text by atoi rules); false for anything else.
    static bool ConvertId(const CSettingValue& value, int32_t& nId);
    // Marks a successful load: both times become now and the hash follows the file's date.
    void CommitLoad();
    // Takes the file's path, times and hash from a store that was loaded from the same file meanwhile.
    void TakeLoadState(const CBasicSettings& loaded);

    FILETIME64 m_ftLastWrite = 0;
    FILETIME64 m_ftLastCheck = 0;
    std::string m_csPath;
    std::string m_csVersionHash;
    std::string m_csLoadFailure;
    int32_t m_nRefreshInterval = 15;
};
