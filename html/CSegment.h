// Segments and the source document: every parser object is a pair of positions into the response data, owned
// by the source it lies in. Nothing is copied out of the buffer except names and the texts asked for.
#pragma once

#include "html/HtmlBase.h"
#include "html/ITagCache.h"

#include <map>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class CSource;
class CElement;
class CAttributes;
class CTag;
class CStartTag;

class CSegment {
public:
    virtual ~CSegment();
    // The elements whose start tags lie in this segment, computed on the first call.
    virtual const std::vector<CElement*>& getChildElements();
    // The segment's own text read as an attribute list; null when the list is rejected.
    virtual CAttributes* parseAttributes();

    TPos getBegin() const { return m_nBegin; }
    TPos getEnd() const { return m_nEnd; }
    TPos getLength() const { return m_nEnd - m_nBegin; }
    CSource* getSource() const { return m_pSource; }
    // The segment's text (a copy; for tests, names and log lines).
    std::string getText() const;

    static bool checkConstructorArgs(const CSource* pSource, TPos nBegin, TPos nEnd);
    static bool checkConstructorArgs(TPos nBegin, TPos nEnd);
    // A plain segment owned by the source; null when the arguments fail the check.
    static CSegment* CREATE_NEW_INST(CSource* pSource, TPos nBegin, TPos nEnd);

    CSegment(const CSegment&) = delete;
    CSegment& operator=(const CSegment&) = delete;

protected:
    CSegment(CSource* pSource, TPos nBegin, TPos nEnd);

    TPos m_nBegin;
    TPos m_nEnd;
    CSource* m_pSource;
    std::vector<CElement*> m_vChildElements;
    bool m_bChildElementsComputed = false;

    friend class CSource;
    friend class CElement;
};

class CSource : public CSegment {
public:
    ~CSource() override;

    // A source over data[0, nDataLength) whose HTML starts at nHtmlDataBeginPos; null when the positions are
    // not a segment (or the data is missing). The source reads the buffer in place and never owns it.
    static std::unique_ptr<CSource> CREATE_NEW_INST(const char* pData, TPos nHtmlDataBeginPos,
                                                    TPos nDataLength);
    static bool checkConstructorArgs(const char* pData, TPos nHtmlDataBeginPos, TPos nDataLength);

    const std::vector<CElement*>& getChildElements() override;

    const char* getData() const { return m_pData; }
    bool contains(TPos nPos) const { return nPos >= m_nBegin && nPos < m_nEnd; }
    unsigned char byteAt(TPos nPos) const { return static_cast<unsigned char>(m_pData[nPos]); }
    std::string_view view(TPos nBegin, TPos nEnd) const {
        return std::string_view(m_pData + nBegin, static_cast<size_t>(nEnd - nBegin));
    }

    // At most nLength bytes from nPos, never past the end; empty (and logged) when nPos is outside the
    // source.
    std::string substring(TPos nPos, TPos nLength) const;

    // The first position in [nFrom, nFrom + nLength) where csText occurs, ignoring ASCII letter case; the
    // whole occurrence lies in the source. INVALID_POS for no length means "to the end".
    TPos findCaseless(std::string_view csText, TPos nFrom, TPos nLength = INVALID_POS) const;
    // The last occurrence beginning at or before nPos and not before nLowerLimit (the source begin when
    // none).
    TPos findCaselessReverse(std::string_view csText, TPos nPos, TPos nLowerLimit = INVALID_POS) const;
    bool startsWithCaseless(TPos nPos, std::string_view csText) const;
    // Character search in [nFrom, nLimit) forward, or in [nLowerLimit, nFrom] backward, ignoring letter case.
    TPos findChar(char c, TPos nFrom, TPos nLimit = INVALID_POS) const;
    TPos findCharReverse(char c, TPos nFrom, TPos nLowerLimit = INVALID_POS) const;

    // findCaseless to the source end, remembering the last answer per text: walks that ask again from a later
    // position before the remembered hit get it without rescanning, which keeps repeated forward searches for
    // the same delimiter or name linear over the page.
    TPos findCaselessToEnd(std::string_view csText, TPos nFrom);
    // The first occurrence beginning in [nFrom, nLimit): answered from the remembered search when it covers
    // nFrom, else by a search that stops at nLimit, so that a walk bounded by an element never scans past it.
    TPos findCaselessBefore(std::string_view csText, TPos nFrom, TPos nLimit);
    // The first tag a finder takes among the occurrences of csPattern beginning in [nFrom, nLimit) (the
    // source end for no limit), accept giving the tag at an occurrence or null. The stretches the finder has
    // gone through are remembered per finder and text: asking again from inside one is answered from it, and
    // a search that runs into one stops there, so occurrences the finder passes over (end tags hidden in a
    // comment, say) are read once, not once per question from before them.
    template <class TAccept>
    CTag* findNextTagRemembered(const void* pFinder, std::string_view csPattern, TPos nFrom, TPos nLimit,
                                TAccept accept);
    // How often the two remembering searches were asked, answered from memory or not: a walk that asks
    // them once per tag stays linear, one that asks again per enclosing tag does not.
    size_t getRememberedSearchCount() const { return m_nRememberedSearches; }

    // The cache switches (both on from construction) and the tag cache behind the finders (created with the
    // source). Switching off, or dropping the cache, makes the finders search the text directly; do it before
    // the first question, because the tags found until then stay with the records that found them.
    bool isAllTypesCacheOn() const { return m_bAllTypesCache; }
    bool isTypedCacheOn() const { return m_bTypedCache; }
    void setCacheSwitches(bool bAllTypes, bool bTyped) {
        m_bAllTypesCache = bAllTypes;
        m_bTypedCache = bTyped;
    }
    ITagCache* getCache() const { return m_pCache.get(); }
    void setCache(std::unique_ptr<ITagCache> pCache) { m_pCache = std::move(pCache); }

    // Creates a parser object owned by this source; null when the allocation fails. The objects live in the
    // source's arena and die with it: a page makes hundreds of them and frees none before the source goes.
    template <class T, class... Args> T* createOwned(Args&&... args) noexcept {
        try {
            m_vOwnedSegments.emplace_back(nullptr);
            T* p = new (m_arena.allocate(sizeof(T), alignof(T))) T(std::forward<Args>(args)...);
            m_vOwnedSegments.back() = p;
            return p;
        } catch (...) {
            // Arena memory is only given back with the source; a half-made slot is dropped.
            if (!m_vOwnedSegments.empty() && !m_vOwnedSegments.back())
                m_vOwnedSegments.pop_back();
            return nullptr;
        }
    }
    size_t getOwnedSegmentCount() const { return m_vOwnedSegments.size(); }

private:
    CSource(const char* pData, TPos nHtmlDataBeginPos, TPos nDataLength);

    // A stretch [nFrom, the hit it is keyed by] holding no tag the finder takes before the hit; the hit is
    // INVALID_POS when the stretch runs to the source end.
    struct CTagStretch {
        TPos nFrom;
        CTag* pTag;
    };
    using CTagStretches = std::pmr::map<TPos, CTagStretch>;
    // The stretches of a finder and text; null when they cannot be stored.
    CTagStretches* getTagStretches(const void* pFinder, std::string_view csPattern) noexcept;
    static void rememberTagStretch(CTagStretches* pStretches, TPos nFrom, TPos nHit, CTag* pTag) noexcept;

    struct CSearchMemo {
        TPos nFrom;
        TPos nResult;
    };
    // The memos are keyed by text ignoring letter case, and looked up with the caller's text as it is, so
    // that the searches asked again and again for the same delimiter or name build no key.
    struct CCaselessHash {
        using is_transparent = void;
        size_t operator()(std::string_view csText) const noexcept {
            size_t nHash = 14695981039346656037ull;
            for (char c : csText)
                nHash = (nHash ^ FoldCase(static_cast<unsigned char>(c))) * 1099511628211ull;
            return nHash;
        }
    };
    struct CCaselessEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const noexcept {
            return EqualsCaseless(a, b);
        }
    };
    // Orders finder and text, the text ignoring letter case, so that a lookup needs no folded copy.
    using CStretchKey = std::pair<const void*, std::string_view>;
    struct CStretchKeyLess {
        using is_transparent = void;
        template <class A, class B> bool operator()(const A& a, const B& b) const noexcept {
            return less(a.first, std::string_view(a.second), b.first, std::string_view(b.second));
        }
        static bool less(const void* pA, std::string_view a, const void* pB, std::string_view b) noexcept;
    };

    const char* m_pData;
    std::unique_ptr<ITagCache> m_pCache;
    bool m_bAllTypesCache = true;
    bool m_bTypedCache = true;
    std::vector<CTag*> m_vFullParseTags;
    // The arena outlives what lives in it: ~CSource ends the listed objects, and the containers below that
    // allocate from it are declared after it, so they go first.
    std::pmr::monotonic_buffer_resource m_arena;
    std::vector<CSegment*> m_vOwnedSegments;

    // Without a cache the tag at a position is remembered here, so that every finder sees one object per
    // position (elements and end-tag links hang off those objects).
    std::unordered_map<TPos, CTag*> m_mapTagAt;
    // Keys, nodes and stretches live in the arena: they are made while the page is read and die with it.
    std::pmr::unordered_map<std::pmr::string, CSearchMemo, CCaselessHash, CCaselessEqual> m_mapSearchMemo{
        &m_arena};
    size_t m_nRememberedSearches = 0;
    std::pmr::map<std::pair<const void*, std::pmr::string>, CTagStretches, CStretchKeyLess> m_mapTagStretches{
        &m_arena};
    // Without a cache: the tags that hide markup (comments, CDATA sections), found by one forward walk, per
    // type, in position order; the walk has looked at every position below m_nHidingScanPos.
    std::vector<CStartTag*> m_vHidingTags[2];
    TPos m_nHidingScanPos;
    TPos m_nHidingLastEnd;

    friend class CTag;
};

template <class TAccept>
CTag* CSource::findNextTagRemembered(const void* pFinder, std::string_view csPattern, TPos nFrom, TPos nLimit,
                                     TAccept accept) {
    const TPos nEnd = (nLimit == INVALID_POS || nLimit > m_nEnd) ? m_nEnd : nLimit;
    if (nFrom == INVALID_POS || nFrom >= nEnd)
        return nullptr;
    CTagStretches* pStretches = getTagStretches(pFinder, csPattern);
    // The stretch covering nFrom, or else the first one after it, which a search from nFrom may run into.
    auto it = pStretches ? pStretches->lower_bound(nFrom) : CTagStretches::iterator();
    const bool bKnown = pStretches && it != pStretches->end();
    TPos nHit = INVALID_POS;
    CTag* pTag = nullptr;
    if (bKnown && it->second.nFrom <= nFrom) {
        nHit = it->first;
        pTag = it->second.pTag;
    } else {
        const TPos nNextFrom = bKnown ? it->second.nFrom : INVALID_POS;
        for (TPos nPos = nFrom;; nPos = nHit + 1) {
            nHit = findCaselessBefore(csPattern, nPos, nLimit);
            if (nNextFrom < nEnd && (nHit == INVALID_POS || nHit >= nNextFrom)) {
                nHit = it->first;
                pTag = it->second.pTag;
                break;
            }
            if (nHit == INVALID_POS) {
                // A miss within a limit says nothing about the text beyond it.
                if (nEnd == m_nEnd)
                    rememberTagStretch(pStretches, nFrom, INVALID_POS, nullptr);
                return nullptr;
            }
            if ((pTag = accept(nHit)) != nullptr)
                break;
        }
        rememberTagStretch(pStretches, nFrom, nHit, pTag);
    }
    return nHit < nEnd ? pTag : nullptr;
}
