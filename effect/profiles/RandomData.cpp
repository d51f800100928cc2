// CRandomData: fills the lists from the compiled-in data and draws from them.
#include "profiles/RandomData.h"

#include <stdexcept>

#include "platform/RuntimeRandom.h"
#include "profiles/WordLists.h"

namespace quell {

namespace {

void CopyList(wordlists::ListId id, std::vector<std::string>& out)
{
    const wordlists::WordList& list = wordlists::List(id);
    out.clear();
    out.reserve(list.count);
    for (size_t i = 0; i < list.count; ++i) {
        out.emplace_back(list[i]);
    }
}

// Two draws, in this order: which list, then which entry of it.
std::string Pick(const std::vector<std::string>* lists, size_t listCount)
{
    const std::vector<std::string>& list = lists[static_cast<size_t>(Rand()) % listCount];
    const size_t index = static_cast<size_t>(Rand());
    // The drawn lists are always filled; the check only keeps an empty one
    // from becoming a division by zero.
    return list.empty() ? std::string() : list[index % list.size()];
}

}  // namespace

CRandomData::CRandomData()
{
    SrandFromTime();
    Fill();
}

CRandomData::CRandomData(uint32_t seed)
{
    Srand(seed);
    Fill();
}

CRandomData::~CRandomData() = default;

void CRandomData::Fill()
{
    using wordlists::ListId;
    CopyList(ListId::Prefectures, m_origins[0]);
    CopyList(ListId::World, m_origins[1]);
    CopyList(ListId::Places, m_origins[2]);
    CopyList(ListId::FamilyNames, m_names[0]);
    CopyList(ListId::EnglishMale, m_names[1]);
    CopyList(ListId::EnglishFemale, m_names[2]);
    CopyList(ListId::FrenchMale, m_names[3]);
    CopyList(ListId::FrenchFemale, m_names[4]);
}

std::string CRandomData::PickName() const { return Pick(m_names, kDrawnNameLists); }

std::string CRandomData::PickOrigin() const { return Pick(m_origins, kOriginListCount); }

const std::vector<std::string>& CRandomData::Origins(size_t list) const
{
    if (list >= kOriginListCount) {
        throw std::out_of_range("CRandomData::Origins: no such list");
    }
    return m_origins[list];
}

const std::vector<std::string>& CRandomData::Names(size_t list) const
{
    if (list >= kNameListCount) {
        throw std::out_of_range("CRandomData::Names: no such list");
    }
    return m_names[list];
}

}  // namespace quell
