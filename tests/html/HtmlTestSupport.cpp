#include "HtmlTestSupport.h"

#include <fstream>
#include <iterator>

namespace htmltest {

CPage::CPage(std::string csText, TPos nBegin) : m_csText(std::move(csText)) {
    m_pSource = CSource::CREATE_NEW_INST(m_csText.data(), nBegin, m_csText.size());
}

std::string ReadFile(const std::string& csPath) {
    std::ifstream in(csPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadFixture(const std::string& csName) {
    return ReadFile(std::string(WK_TEST_DATA_DIR) + "/html/" + csName);
}

TPos CRow::pos(size_t n) const {
    return operator[](n) == "-" ? INVALID_POS : static_cast<TPos>(std::stoull(operator[](n)));
}

std::vector<CRow> ReadTable(const std::string& csName) {
    std::vector<CRow> vRows;
    for (const tabletest::TRow& row : tabletest::ReadTable("html/" + csName)) {
        vRows.emplace_back();
        for (const std::string& csField : row)
            vRows.back().m_vFields.push_back(tabletest::Bytes(csField));
    }
    return vRows;
}

CStartTag* NthStartTag(CSource* pSource, const std::string& csName, int n) {
    CStartTag* pTag = nullptr;
    for (TPos nPos = pSource->getBegin(); n-- >= 0; nPos = pTag->getEnd())
        if (!(pTag = CStartTag::findPreviousOrNext(pSource, nPos, csName, SEARCH_NEXT)))
            return nullptr;
    return pTag;
}

std::string Repeated(const std::string& csText, int nTimes) {
    std::string cs;
    while (nTimes-- > 0)
        cs += csText;
    return cs;
}

std::string FragmentPage(std::mt19937& rng, size_t nMaxPieces) {
    static const std::vector<CRow> s_vFragments = ReadTable("fragments.txt");
    const size_t nFragments = s_vFragments.size();
    std::string csText;
    for (size_t i = 0, nPieces = rng() % (nMaxPieces + 1); i < nPieces; ++i) {
        const size_t k = rng() % (nFragments + 1);
        if (k == nFragments)
            csText.push_back('\0');
        else
            csText += s_vFragments[k][0];
    }
    return csText;
}

} // namespace htmltest
