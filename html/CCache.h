// The tag cache behind the finders of one source. Every question the parser asks about the text (is there a
// tag here, where is the nearest tag before or after a position, where is the nearest comment) is answered
// from sorted records of what earlier searches found: the tags, and the stretches known to hold none. Element
// matching, child walks and position checks ask the same questions over and over, so without these records a
// page would be scanned again and again.
#pragma once

#include "html/ITagCache.h"

#include <memory>
#include <unordered_map>
#include <vector>

class CSource;
class CCache;

// One record of a sub-cache. A tagless record remembers that no tag (of the sub-cache's kind) starts at the
// position; the completed flags remember that none starts strictly between this record and its neighbour.
struct CCacheEntry {
    TPos m_nPos;
    CTag* m_pTag;
    bool m_bPreviousCompleted;
    bool m_bNextCompleted;
    bool m_bRemove;
};

// The records of a sub-cache in position order, kept in one array with a movable hole. Searches record what
// they find next to what they found last, so an insertion or removal usually happens near the hole and costs
// the distance the hole moves, not the length of the tail behind it. Indices count records only, so they
// are never stored: a record's index changes whenever something is inserted or removed before it.
class CCacheEntryBuffer {
public:
    size_t size() const { return m_vSlots.size() - gapLength(); }
    bool empty() const { return size() == 0; }
    CCacheEntry& operator[](size_t nIndex) { return m_vSlots[slot(nIndex)]; }
    const CCacheEntry& operator[](size_t nIndex) const { return m_vSlots[slot(nIndex)]; }

    void reserve(size_t nCapacity);
    void clear();
    void push_back(const CCacheEntry& entry) { insert(size(), entry); }
    // May throw std::bad_alloc, leaving the records as they were.
    void insert(size_t nIndex, const CCacheEntry& entry);
    // Deletes the records marked for removal among [nFrom, nTo]; the index of the first one deleted, or
    // size() when none was marked.
    size_t removeMarked(size_t nFrom, size_t nTo);
    // How many records were copied to another slot so far, growth included: what insertions and removals
    // cost.
    size_t getMovedCount() const { return m_nMoved; }

private:
    size_t gapLength() const { return m_nGapEnd - m_nGapBegin; }
    size_t slot(size_t nIndex) const { return nIndex < m_nGapBegin ? nIndex : nIndex + gapLength(); }
    void moveGap(size_t nIndex);

    std::vector<CCacheEntry> m_vSlots;
    size_t m_nGapBegin = 0;
    size_t m_nGapEnd = 0;
    size_t m_nMoved = 0;
};

// The records of one kind of search: all tags (no tag type), or the tags of one type whose content hides
// markup. The first and last records are bookends at source begin - 1 and the source end; the first is
// lower than every position even when source begin - 1 wraps to the invalid position.
class CSubCache {
public:
    CSubCache(CCache* pCache, const CTagType* pTagType);

    // Null for the all-types sub-cache.
    const CTagType* getTagType() const { return m_pTagType; }

    // All-types only: the tag at exactly the position, looked up in the text and recorded on a miss.
    CTag* getTagAt(TPos nPos);
    // The nearest registered tag (of the sub-cache's type) at or after (bNext) or at or before the position.
    CTag* findPreviousOrNextTag(TPos nPos, bool bNext);

    // Records what the text holds at the position (a tag, or none) and returns the tag the records hold for
    // it afterwards. A tagless position between two completed neighbours carries no information and is
    // dropped.
    CTag* addTagAt(TPos nPos, CTag* pTag);
    // Records that a search from nPos backward (forward) found pTag (none: reached the source begin or end)
    // and so that no registered tag starts between the two. False when the records contradict the search.
    bool addPreviousTag(TPos nPos, CTag* pTag);
    bool addNextTag(TPos nPos, CTag* pTag);

    // Forgets every record but the bookends.
    void clear();

    size_t size() const { return m_vEntries.size(); }
    const CCacheEntry& getEntry(size_t nIndex) const { return m_vEntries[nIndex]; }
    size_t getMovedEntryCount() const { return m_vEntries.getMovedCount(); }
    // Inserts a record as given, bypassing every consistency rule; for tests of the repair path.
    bool insertEntryUnchecked(TPos nPos, CTag* pTag, bool bPreviousCompleted, bool bNextCompleted);

private:
    // Index of the first record whose position is >= nPos (the bookend at the end for nPos == source end).
    size_t locate(TPos nPos) const;
    // Index of the last record whose position is <= nPos (0, the first bookend, when there is none).
    size_t locateAtOrBefore(TPos nPos) const;
    bool holdsRegisteredTag(const CCacheEntry& entry) const;
    // Walks records and unsearched gaps from the position in the search direction.
    CTag* walk(TPos nPos, bool bNext);
    CTag* searchGap(TPos nFrom, bool bNext, TPos nLimit);
    // Records the found tag and marks the traversed gaps; logs and fails on contradictions.
    bool markTraversed(TPos nPos, CTag* pTag, bool bNext);
    void insertAt(size_t nIndex, TPos nPos, CTag* pTag, bool bPreviousCompleted, bool bNextCompleted);
    // Deletes the records marked for removal; every mark lies among [nFrom, nTo].
    void removeMarked(size_t nFrom, size_t nTo);
    void addBookends();

    CCache* m_pCache;
    CSource* m_pSource;
    const CTagType* m_pTagType;
    CCacheEntryBuffer m_vEntries;
    // Where the last bisection ended; a guess only, checked before use.
    mutable size_t m_nLocateHint = 1;
};

class CCache : public ITagCache {
public:
    // A cache for the source, holding only its bookends; null when the source is missing or memory is short.
    static std::unique_ptr<CCache> CREATE_NEW_INST(CSource* pSource);

    CTag* getTagAt(TPos nPos) override;
    CTag* findPreviousOrNextTag(TPos nPos, const CTagType* pTagType, bool bNext) override;
    bool hasSubCacheFor(const CTagType* pTagType) const override;

    CSource* getSource() const { return m_pSource; }
    CSubCache& getAllTypesSubCache() { return *m_vSubCaches.front(); }
    // The typed sub-cache of the type, or null (the all-types one never matches a type).
    CSubCache* getSubCache(const CTagType* pTagType);

    // How often the cache had to ask the tag types at a position, and how often it searched the text for the
    // nearest tag; what the records answered is not counted.
    size_t getUncachedLookupCount() const { return m_nUncachedLookups; }
    size_t getUncachedSearchCount() const { return m_nUncachedSearches; }

    CCache(const CCache&) = delete;
    CCache& operator=(const CCache&) = delete;

private:
    explicit CCache(CSource* pSource);

    // The tag at the position from the text. Tags that a cleared all-types record held are handed out again,
    // so that every finder keeps seeing one object per position (elements hang off those objects).
    CTag* lookUpUncached(TPos nPos);
    void rescueTags(const CCacheEntryBuffer& vEntries);

    CSource* m_pSource;
    // The all-types sub-cache first, then one per type whose content hides markup.
    std::vector<std::unique_ptr<CSubCache>> m_vSubCaches;
    std::unordered_map<TPos, CTag*> m_mapRescuedTags;
    size_t m_nUncachedLookups = 0;
    size_t m_nUncachedSearches = 0;

    friend class CSubCache;
};
