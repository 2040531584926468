#include "html/CTag.h"

#include "log/Log.h"

CAttribute::CAttribute(CSource* pSource, TPos nBegin, TPos nEnd, const std::string& csKey,
                       CSegment* pNameSegment, CSegment* pValueSegment,
                       CSegment* pValueSegmentIncludingQuotes)
    : CSegment(pSource, nBegin, nEnd), m_csKey(csKey), m_pNameSegment(pNameSegment),
      m_pValueSegment(pValueSegment), m_pValueSegmentIncludingQuotes(pValueSegmentIncludingQuotes) {}

namespace {
TPos AttributeEnd(const CSegment* pNameSegment, const CSegment* pValueSegment,
                  const CSegment* pValueSegmentIncludingQuotes) {
    if (pValueSegmentIncludingQuotes)
        return pValueSegmentIncludingQuotes->getEnd();
    if (pValueSegment)
        return pValueSegment->getEnd();
    return pNameSegment->getEnd();
}
} // namespace

bool CAttribute::checkConstructorArgs(const CSource* pSource, const CSegment* pNameSegment,
                                      const CSegment* pValueSegment,
                                      const CSegment* pValueSegmentIncludingQuotes) {
    if (!pNameSegment) {
        LogMessage("[CAttribute::checkConstructorArgs] pNameSegment is 0");
        return false;
    }
    TPos nBegin = pNameSegment->getBegin();
    TPos nEnd = AttributeEnd(pNameSegment, pValueSegment, pValueSegmentIncludingQuotes);
    if (!CSegment::checkConstructorArgs(pSource, nBegin, nEnd)) {
        LogMessage("[CAttribute::checkConstructorArgs] CSegment::checkConstructorArgs failed. nBegin <%d> "
                   "nEnd <%d> .",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    if (pNameSegment->getSource() != pSource) {
        LogMessage("[CAttribute::checkConstructorArgs] Source of pNameSegment differs from pSource. nBegin "
                   "<%d> nEnd "
                   "<%d> .",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    if (pValueSegment && pValueSegment->getSource() != pSource) {
        LogMessage("[CAttribute::checkConstructorArgs] Source of pValueSegment differs from pSource. nBegin "
                   "<%d> nEnd "
                   "<%d> .",
                   LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    if (pValueSegmentIncludingQuotes && pValueSegmentIncludingQuotes->getSource() != pSource) {
        LogMessage(
            "[CAttribute::checkConstructorArgs] Source of pValueSegmentIncludingQuotes differs from pSource. "
            "nBegin <%d> nEnd <%d> .",
            LogPos(nBegin), LogPos(nEnd));
        return false;
    }
    return true;
}

CAttribute* CAttribute::CREATE_NEW_INST(CSource* pSource, const std::string& csKey, CSegment* pNameSegment,
                                        CSegment* pValueSegment, CSegment* pValueSegmentIncludingQuotes) {
    CAttribute* pAttribute = nullptr;
    if (checkConstructorArgs(pSource, pNameSegment, pValueSegment, pValueSegmentIncludingQuotes))
        pAttribute = pSource->createOwned<CAttribute>(
            pSource, pNameSegment->getBegin(),
            AttributeEnd(pNameSegment, pValueSegment, pValueSegmentIncludingQuotes), csKey, pNameSegment,
            pValueSegment, pValueSegmentIncludingQuotes);
    if (!pAttribute)
        LogMessage("[CAttribute::CREATE_NEW_INST] checkConstructorArgs() failed.");
    return pAttribute;
}
