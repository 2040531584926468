// Positions, character classes and the singleton accessor shared by the parser's classes.
#pragma once

#include "platform/CSync.h"
#include "platform/MemManager.h"
#include "text/CaselessString.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// A byte offset into the response data, counted from the buffer's first byte.
typedef uint64_t TPos;

// Not found, none, or no limit.
constexpr TPos INVALID_POS = ~static_cast<TPos>(0);

// The name index of a name that is not an HTML element name.
constexpr int INVALID_NAME_INDEX = -1;

// Positions are logged with %d, so the invalid position reads -1.
// The next position of a scan that did not stop at nHit: one on, or one back; false when a backward scan has
// reached its lower bound.
inline bool StepPastHit(TPos nHit, TPos nLower, bool bNext, TPos& nPos) {
    if (!bNext && nHit == nLower)
        return false;
    nPos = bNext ? nHit + 1 : nHit - 1;
    return true;
}
inline int LogPos(TPos nPos) {
    return static_cast<int>(nPos);
}

// ASCII only: the parser decodes no character set, and bytes above 0x7F are never letters.
inline bool IsAsciiLetter(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool IsAsciiDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
inline bool IsNameStartChar(unsigned char c) {
    return IsAsciiLetter(c) || c == '_' || c == ':';
}
inline bool IsNameChar(unsigned char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c) || c == '.' || c == '-' || c == '_' || c == ':';
}
inline bool IsHtmlWhitespace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
// The byte with an ASCII lower-case letter made upper case, as the caseless text compares it.
inline unsigned char FoldCase(unsigned char c) {
    return static_cast<unsigned char>(CCaselessTraits::Upper(static_cast<char>(c)));
}
// True when the text is a whole name: a name-start character followed by name characters.
inline bool IsValidName(std::string_view csName) {
    if (csName.empty() || !IsNameStartChar(static_cast<unsigned char>(csName[0])))
        return false;
    for (char c : csName)
        if (!IsNameChar(static_cast<unsigned char>(c)))
            return false;
    return true;
}

// Search directions of the finders.
constexpr bool SEARCH_PREVIOUS = false;
constexpr bool SEARCH_NEXT = true;

// The accessor of one process-wide parser singleton: the instance lives in a Static_memory holder, is created
// once under the accessor's lock and is read-only afterwards, so readers after the first creation take no
// lock.
template <class T> class CParserSingleton {
public:
    // The instance, or null when its construction failed (the parser logs and yields none in that case).
    static T* get() noexcept {
        T* p = s_pInstance.load(std::memory_order_acquire);
        if (p)
            return p;
        CAutoLock guard(lock());
        p = s_pInstance.load(std::memory_order_relaxed);
        if (p)
            return p;
        try {
            Mem_Manager::Manger_memory<T>& holderRef = holder();
            p = holderRef.create();
        } catch (...) {
            p = nullptr;
        }
        if (p) {
            s_nCreations.fetch_add(1, std::memory_order_relaxed);
            s_pInstance.store(p, std::memory_order_release);
        }
        return p;
    }
    // How many times the instance was created in this process (1 once it exists).
    static long creations() { return s_nCreations.load(std::memory_order_relaxed); }

private:
    static CCritSec& lock() {
        static CCritSec s_lock;
        return s_lock;
    }
    static Mem_Manager::Static_memory<T>& holder() {
        static Mem_Manager::Static_memory<T> s_holder;
        return s_holder;
    }
    static inline std::atomic<T*> s_pInstance{nullptr};
    static inline std::atomic<long> s_nCreations{0};
};
