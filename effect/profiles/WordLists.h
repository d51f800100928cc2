// Read-only access to the word lists compiled into the library from lists/*.txt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quell::wordlists {

// One list: all entries back to back in one UTF-8 text, with the end offset
// of each entry. Kept as plain constant data so that building the string
// vectors from it costs one copy per entry and no parsing.
struct WordList {
    const char* text;
    const uint32_t* ends;
    size_t count;

    std::string_view operator[](size_t i) const
    {
        const uint32_t begin = i == 0 ? 0 : ends[i - 1];
        return {text + begin, ends[i] - begin};
    }
};

// The order here is the order of the files given to the generator in
// CMakeLists.txt.
enum class ListId : int {
    Prefectures,    // lists/origins_prefectures.txt
    World,          // lists/origins_world.txt
    Places,         // lists/origins_places.txt
    FamilyNames,    // lists/names_family.txt
    EnglishMale,    // lists/names_english_male.txt
    EnglishFemale,  // lists/names_english_female.txt
    FrenchMale,     // lists/names_french_male.txt
    FrenchFemale,   // lists/names_french_female.txt
};
inline constexpr int kListCount = 8;

const WordList& List(ListId id);

}  // namespace quell::wordlists
