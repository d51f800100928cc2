// CRandomData: the origin and name lists a profile is drawn from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quell {

class CRandomData {
public:
    static constexpr size_t kOriginListCount = 3;
    // Slots 5..9 are spare and stay empty; only the first five are drawn from.
    static constexpr size_t kNameListCount = 10;
    static constexpr size_t kDrawnNameLists = 5;

    // Seeds the calling thread's generator with the calendar time, then fills the lists.
    CRandomData();
    // Seeds the calling thread's generator with `seed`, then fills the lists.
    explicit CRandomData(uint32_t seed);
    virtual ~CRandomData();

    // A name from one of the five filled name lists, each list equally likely.
    std::string PickName() const;
    // A place of origin from one of the three origin lists, each equally likely.
    std::string PickOrigin() const;

    // Throw std::out_of_range for an index past the last list.
    const std::vector<std::string>& Origins(size_t list) const;
    const std::vector<std::string>& Names(size_t list) const;

private:
    void Fill();

    std::vector<std::string> m_origins[kOriginListCount];
    std::vector<std::string> m_names[kNameListCount];
};

}  // namespace quell
