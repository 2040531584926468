// The seam behind the tag finders: a source may own a tag cache that answers "tag at a position" and "nearest
// tag before or after a position" from what earlier searches recorded. While a source has none, the finders
// search the text directly; a cache must give exactly the answers of that direct search.
#pragma once

#include "html/HtmlBase.h"

class CTag;
class CTagType;

class ITagCache {
public:
    virtual ~ITagCache() = default;
    // The tag at exactly the position (through the all-types record).
    virtual CTag* getTagAt(TPos nPos) = 0;
    // The nearest registered tag beginning at or after (bNext) or at or before the position; with a type, the
    // nearest tag of that type. Null when nothing is found.
    virtual CTag* findPreviousOrNextTag(TPos nPos, const CTagType* pTagType, bool bNext) = 0;
    // True when the cache keeps a typed record for the type (the types whose content hides markup).
    virtual bool hasSubCacheFor(const CTagType* pTagType) const = 0;
};
