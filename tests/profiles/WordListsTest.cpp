// The compiled-in word lists: sizes, repeats and fixed rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>

#include "profiles/RandomData.h"

namespace {

using quell::CRandomData;
using Rows = std::vector<std::string>;

struct ListFacts {
    const char* label;
    const Rows& (*get)(const CRandomData&);
    size_t size;
    size_t distinct;
    Rows first;
    Rows last;
};

const ListFacts kFacts[] = {
    {"prefectures", [](const CRandomData& d) -> const Rows& { return d.Origins(0); }, 47, 47,
     {"愛知県", "秋田県", "青森県"}, {"山形県", "山口県", "山梨県"}},
    {"world", [](const CRandomData& d) -> const Rows& { return d.Origins(1); }, 214, 211,
     {"アイスランド", "アイルランド", "アフガニスタン", "アメリカ"},
     {"ロシア", "日本", "水星", "金星", "地球", "月", "火星", "木星", "土星", "天王星", "海王星", "冥王星",
      "レバノン", "ロシア", "日本", "過去", "未来", "宇宙", "別世界", "異次元"}},
    {"places", [](const CRandomData& d) -> const Rows& { return d.Origins(2); }, 1274, 1242,
     {"江別", "千歳", "札幌", "岩見沢", "滝川", "深川", "小樽", "函館"},
     {"海老名市", "座間市", "南足柄市", "綾瀬市", "三鷹市"}},
    {"family", [](const CRandomData& d) -> const Rows& { return d.Names(0); }, 985, 263,
     {"佐藤", "高橋", "佐々木", "鈴木", "伊藤"}, {"城間", "新里", "新城"}},
    {"english male", [](const CRandomData& d) -> const Rows& { return d.Names(1); }, 849, 751,
     {"アーロン", "エイブ", "アベル", "アビエル", "アブナー"}, {"ザドク", "ザック", "ズリエル"}},
    {"english female", [](const CRandomData& d) -> const Rows& { return d.Names(2); }, 888, 746,
     {"アビー", "アビゲイル", "アブナー", "アブラ", "エイダ"}, {"ゼノヴィア", "ジラ", "ゾーイ", "ゾーラ"}},
    {"french male", [](const CRandomData& d) -> const Rows& { return d.Names(3); }, 442, 346,
     {"アベル", "アシル", "クロード", "エトナ", "アダム"}, {"イヴォン", "ジネディーヌ", "ズマナ"}},
    {"french female", [](const CRandomData& d) -> const Rows& { return d.Names(4); }, 401, 372,
     {"アデライード", "アデール", "アデリーヌ", "アドリエンヌ", "アガット"},
     {"ザザ", "ゼナイド", "ジヌディーヌ", "ゾエ"}},
};

TEST(WordLists, SizesRepeatsAndFixedRows)
{
    const CRandomData data(1);
    for (const ListFacts& f : kFacts) {
        SCOPED_TRACE(f.label);
        const Rows& list = f.get(data);
        ASSERT_EQ(list.size(), f.size);
        EXPECT_EQ(std::set<std::string>(list.begin(), list.end()).size(), f.distinct);
        EXPECT_TRUE(std::equal(f.first.begin(), f.first.end(), list.begin()));
        EXPECT_TRUE(std::equal(f.last.rbegin(), f.last.rend(), list.rbegin()));
    }
    for (size_t i = CRandomData::kDrawnNameLists; i < CRandomData::kNameListCount; ++i) {
        EXPECT_TRUE(data.Names(i).empty());
    }
    EXPECT_THROW(data.Names(CRandomData::kNameListCount), std::out_of_range);
    EXPECT_THROW(data.Origins(CRandomData::kOriginListCount), std::out_of_range);
}

TEST(WordLists, PrefecturesKeepTheirStoredOrder)
{
    const Rows expected = {"愛知県", "秋田県", "青森県", "千葉県", "愛媛県", "福井県", "福岡県", "福島県",
        "岐阜県", "群馬県", "広島県", "北海道", "兵庫県", "茨城県", "石川県", "岩手県", "香川県", "鹿児島県",
        "神奈川県", "高知県", "熊本県", "京都府", "三重県", "宮城県", "宮崎県", "長野県", "長崎県", "奈良県",
        "新潟県", "岡山県", "沖縄県", "大分県", "大阪府", "佐賀県", "埼玉県", "滋賀県", "島根県", "静岡県",
        "徳島県", "栃木県", "鳥取県", "東京都", "富山県", "和歌山県", "山形県", "山口県", "山梨県"};
    EXPECT_EQ(CRandomData(1).Origins(0), expected);
}

TEST(WordLists, CommonFamilyNamesCarryTheirWeight)
{
    const CRandomData data(1);
    std::map<std::string, int> counts;
    for (const std::string& name : data.Names(0)) ++counts[name];
    const std::map<std::string, int> expected = {{"田中", 41}, {"中村", 37}, {"高橋", 34}, {"山本", 34},
        {"吉田", 33}, {"佐藤", 32}, {"渡辺", 31}, {"山田", 29}, {"伊藤", 29}, {"小林", 25}};
    for (const auto& [name, count] : expected) {
        EXPECT_EQ(counts[name], count) << name;
    }
}

TEST(WordLists, EveryObjectIsFilledAlike)
{
    const CRandomData first(1);
    const CRandomData second(2);
    EXPECT_EQ(first.Origins(2), second.Origins(2));
    EXPECT_EQ(first.Names(4), second.Names(4));
}

}  // namespace
