#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ClockConfig.h"
#include "SetupItems.h"
#include "TestSupport.h"

namespace {

const std::string UNEXPECTED = "Unexpected Value!";

TClockConfig Filled(std::uint8_t byte = 0) {
    TClockConfig c;
    std::memset(&c, byte, sizeof c);
    return c;
}

std::uint8_t At(const TClockConfig& c, int offset) { return ConfigBytes(c)[offset]; }

std::string Text(const TClockConfig& c, int item) {
    std::string s;
    return GetItemText(c, item, s) ? s : "<failed>";
}

bool Same(const TClockConfig& a, const TClockConfig& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(SetupItems, LocalOffsetAndTheRangeMessage) {
    TClockConfig c = Filled();
    ASSERT_TRUE(SetItem(c, 13, -45));  // whole half hours, toward zero
    EXPECT_EQ(At(c, 0x0C), 0xFF);
    EXPECT_EQ(At(c, 0x0D), 0xE2);
    EXPECT_EQ(Text(c, 13), "-30");

    const TClockConfig before = c;
    EXPECT_FALSE(SetItem(c, 13, 721));
    EXPECT_TRUE(Same(c, before));
    std::string message;
    ASSERT_TRUE(GetRangeMessage(13, message));
    EXPECT_EQ(message, "Input Error!  The valid range is -720 to 720.");
}

TEST(SetupItems, LockTimeTakesZeroOneOrWholeMinutes) {
    TClockConfig c = Filled();
    EXPECT_FALSE(SetItem(c, 17, 90));
    std::string message;
    ASSERT_TRUE(GetRangeMessage(17, message));  // names the range, not the rule
    EXPECT_EQ(message, "Input Error!  The valid range is 0 to 5940.");
    for (int ok : {1, 120, 5940}) {
        EXPECT_TRUE(SetItem(c, 17, ok)) << ok;
        EXPECT_EQ(Text(c, 17), std::to_string(ok));
    }
    EXPECT_FALSE(CheckItemValue(17, -60));
    EXPECT_FALSE(CheckItemValue(17, 6000));
}

TEST(SetupItems, ConvertedItems) {
    TClockConfig c = Filled();
    ASSERT_TRUE(SetItem(c, 11, 1));
    EXPECT_EQ(c.backLight, 30);
    ASSERT_TRUE(SetItem(c, 11, 2));
    EXPECT_EQ(c.backLight, 255);
    EXPECT_EQ(Text(c, 11), "On");
    c.backLight = 200;
    int choice = -1;
    ASSERT_TRUE(GetItemChoice(c, 11, choice));
    EXPECT_EQ(choice, 1);
    EXPECT_EQ(Text(c, 11), "Auto");

    ASSERT_TRUE(SetItem(c, 56, 3));
    EXPECT_EQ(At(c, 0x52), 'W');
    EXPECT_EQ(Text(c, 56), "West");
    ASSERT_TRUE(SetItem(c, 62, 1));
    EXPECT_EQ(At(c, 0x5F), 'S');
    for (std::int8_t bad : {std::int8_t('X'), std::int8_t(0), std::int8_t('n')}) {
        c.lonSign = bad;
        choice = 7;
        EXPECT_FALSE(GetItemChoice(c, 56, choice));
        EXPECT_EQ(choice, 7);
        EXPECT_EQ(Text(c, 56), "<failed>");
    }

    EXPECT_FALSE(SetItem(c, 1, 0));  // the model item takes the letter codes
    ASSERT_TRUE(SetItem(c, 1, 66));
    EXPECT_EQ(c.model, 'B');
}

TEST(SetupItems, BitItemsChangeOnlyTheirBit) {
    TClockConfig c = Filled();
    c.irigTimeSelect = 0xF1;
    ASSERT_TRUE(SetItem(c, 24, 1));
    EXPECT_EQ(c.irigTimeSelect, 0xF3);
    ASSERT_TRUE(SetItem(c, 23, 0));
    EXPECT_EQ(c.irigTimeSelect, 0xF2);
    EXPECT_EQ(Text(c, 23), "UTC");
    EXPECT_EQ(Text(c, 24), "On");
    // Anything but 0 or 1 would store nothing: refused rather than reported as stored.
    EXPECT_FALSE(SetItem(c, 24, 5));
    EXPECT_EQ(c.irigTimeSelect, 0xF2);
    std::string message;
    ASSERT_TRUE(GetRangeMessage(24, message));
    EXPECT_EQ(message, "Input Error!  The valid range is 0 to 1.");
}

TEST(SetupItems, WordsAreBigEndianAndWhole) {
    TClockConfig c = Filled(0x5A);
    ASSERT_TRUE(SetItem(c, 37, 60000));
    EXPECT_EQ(At(c, 0x2C), 0xEA);
    EXPECT_EQ(At(c, 0x2D), 0x60);
    EXPECT_EQ(Text(c, 37), "60000");
    EXPECT_FALSE(SetItem(c, 37, 0));

    const struct {
        int item;
        const std::uint8_t* word;
        int value;
    } parts[] = {{57, c.lonDeg, 180}, {58, c.lonMin, 59}, {59, c.lonSec, 58}, {60, c.lonFSec, 999},
                 {63, c.latDeg, 180}, {64, c.latMin, 59}, {65, c.latSec, 58}, {66, c.latFSec, 999}};
    for (const auto& p : parts) {
        ASSERT_TRUE(SetItem(c, p.item, p.value)) << p.item;
        EXPECT_EQ(GetBE16(p.word), p.value) << p.item;
        EXPECT_EQ(Text(c, p.item), std::to_string(p.value)) << p.item;
    }
    EXPECT_EQ(At(c, 0x59), 0x03);
    EXPECT_EQ(At(c, 0x5A), 0xE7);
    EXPECT_TRUE(At(c, 0x52) == 0x5A && At(c, 0x5B) == 0x5A && At(c, 0x68) == 0x5A);  // neighbours
    EXPECT_FALSE(SetItem(c, 57, 181));

    ASSERT_TRUE(SetItem(c, 47, INT_MIN));
    EXPECT_EQ(Text(c, 47), "-2147483648");
}

TEST(SetupItems, UnexpectedAndPlaceholderValues) {
    TClockConfig c = Filled();
    c.mainParity = 7;
    EXPECT_EQ(Text(c, 6), UNEXPECTED);
    std::string s;
    ASSERT_TRUE(GetChoiceText(6, -1, s));
    EXPECT_EQ(s, UNEXPECTED);
    ASSERT_TRUE(GetChoiceText(6, 1, s));
    EXPECT_EQ(s, "Even");

    // Option-board items have only the placeholder choice: edited and shown as numbers.
    for (int item : {69, 70, 71, 72, 73, 76, 77, 79, 81, 87}) {
        std::vector<std::string> list{"kept"};
        EXPECT_FALSE(GetChoiceList(item, list)) << item;
        EXPECT_EQ(list.size(), 1u);
    }
    ASSERT_TRUE(SetItem(c, 69, 6));
    EXPECT_EQ(Text(c, 69), "6");
    EXPECT_FALSE(SetItem(c, 77, 256));  // would wrap to 0
    ASSERT_TRUE(SetItem(c, 85, 255));
    EXPECT_EQ(c.analog[2].range, 255);
}

TEST(SetupItems, TheModelIsKeptAsItsLetterAndShownByName) {
    TClockConfig c = Filled();
    // The record keeps 'A' to 'C'; the choice index alone is refused.
    EXPECT_FALSE(SetItem(c, 1, 0));
    for (int letter : {'A', 'B', 'C'}) {
        ASSERT_TRUE(SetItem(c, 1, letter));
        EXPECT_EQ(c.model, letter);
        EXPECT_EQ(Text(c, 1), std::string("Model ") + char(letter));
    }
    for (std::uint8_t stored : {0, 64, 68, 255}) {
        c.model = stored;
        EXPECT_EQ(Text(c, 1), UNEXPECTED) << int(stored);
    }
    EXPECT_EQ(GetFirstChoiceValue(1), 'A');
    EXPECT_EQ(GetFirstChoiceValue(3), 0);
}

TEST(SetupItems, ItemsWithoutAFieldFailWithoutEffect) {
    TClockConfig c = Filled();
    for (int item : {-1, 90, INT_MIN, INT_MAX}) {
        int n = 42, lo = 42;
        std::string s = "x";
        std::vector<std::string> list;
        EXPECT_FALSE(SetItem(c, item, 0));
        EXPECT_FALSE(GetItemChoice(c, item, n) || GetItemText(c, item, s) || GetItemKind(item, n) ||
                     GetItemLabel(item, s) || GetValueType(item, n) || GetItemRange(item, lo, n) ||
                     GetChoiceCount(item, n) || GetChoiceText(item, 0, s) || GetChoiceList(item, list) ||
                     GetRangeMessage(item, s));
        EXPECT_EQ(n + lo, 84);
        EXPECT_EQ(s, "x");
    }
    int n = 0;
    std::string s;
    EXPECT_FALSE(SetItem(c, 0, 0));
    EXPECT_FALSE(CheckItemValue(0, 0));
    EXPECT_FALSE(GetItemChoice(c, 0, n) || GetItemText(c, 0, s));
    EXPECT_TRUE(Same(c, Filled()));
    EXPECT_FALSE(GetRangeMessage(0, s));
    ASSERT_TRUE(GetItemLabel(0, s));
    EXPECT_EQ(s, "Error - this should never be seen.");
}

// The groups agree with the string table and the items: each has a name of
// its own and lists, in ascending order, items with a field and a label that
// no other group lists.
TEST(SetupItems, GroupsAgreeWithTheirNamesAndItems) {
    std::vector<std::string> names{"earlier"};
    ASSERT_TRUE(GetGroupNames(names));
    ASSERT_EQ(names.size(), GROUP_COUNT + 1u);
    EXPECT_EQ(names[0], "earlier");
    const std::set<std::string> distinct(names.begin() + 1, names.end());
    EXPECT_EQ(distinct.size(), std::size_t(GROUP_COUNT));
    EXPECT_EQ(distinct.count(""), 0u);
    std::set<int> grouped;
    for (int g = 0; g < GROUP_COUNT; ++g) {
        std::vector<std::string> labels{"a"};
        std::vector<int> items;
        ASSERT_TRUE(GetGroupItems(g, labels, items));
        ASSERT_EQ(labels.size(), items.size() + 1);
        EXPECT_TRUE(std::is_sorted(items.begin(), items.end())) << names[std::size_t(g) + 1];
        for (std::size_t i = 0; i < items.size(); ++i) {
            std::string label;
            int offset = -1;
            EXPECT_TRUE(grouped.insert(items[i]).second) << items[i] << " is in two groups";
            EXPECT_TRUE(GetItemOffset(items[i], offset) && GetItemLabel(items[i], label)) << items[i];
            EXPECT_EQ(labels[i + 1], label) << items[i];
        }
    }
    std::vector<std::string> labels;
    std::vector<int> items;
    EXPECT_FALSE(GetGroupItems(GROUP_COUNT, labels, items) || GetGroupItems(-1, labels, items));
}

TEST(SetupItems, EveryChoiceCountMatchesItsList) {
    int withCounts = 0;
    for (int item = 0; item < ITEM_COUNT; ++item) {
        std::string s;
        EXPECT_TRUE(GetItemLabel(item, s)) << item;
        int count = 0;
        if (!GetChoiceCount(item, count)) continue;
        ++withCounts;
        ASSERT_TRUE(GetChoiceText(item, count - 1, s));
        EXPECT_NE(s, UNEXPECTED) << item;
        ASSERT_TRUE(GetChoiceText(item, count, s));
        EXPECT_EQ(s, UNEXPECTED) << item;
        std::vector<std::string> list;
        if (!GetChoiceList(item, list)) continue;
        ASSERT_EQ(int(list.size()), count) << item;
        // The range is the run of choices; Back Light (11) also takes any
        // byte, read as Auto, and Option A (68) a value without a text.
        int min = 0, max = 0;
        ASSERT_TRUE(GetItemRange(item, min, max));
        EXPECT_EQ(min, GetFirstChoiceValue(item)) << item;
        if (item != 11) {
            EXPECT_EQ(max, min + count - 1 + (item == 68)) << item;
        }
        // A picked entry is stored by its index (from the item's first value),
        // so the last one must be accepted and shown with its own text.
        TClockConfig c = Filled();
        const int last = GetFirstChoiceValue(item) + count - 1;
        int choice = -1;
        EXPECT_TRUE(SetItem(c, item, last) && GetItemChoice(c, item, choice)) << item;
        EXPECT_EQ(choice, last) << item;
        EXPECT_EQ(Text(c, item), list.back()) << item;
    }
    EXPECT_EQ(withCounts, 53);
}

TEST(SetupItems, EveryItemKeepsToItsOwnField) {
    // Every item gets a value of its own, then all are read back: a store that
    // strays outside the record or into another item's field shows up here.
    struct {
        std::uint8_t before[8];
        TClockConfig config;
        std::uint8_t after[8];
    } g;
    std::memset(&g, 0xCC, sizeof g);
    g.config = Filled();
    std::vector<int> values(ITEM_COUNT);
    for (int item = 1; item < ITEM_COUNT; ++item) {
        int lo = 0, hi = 0, count = 0;
        std::vector<std::string> list;
        ASSERT_TRUE(GetItemRange(item, lo, hi));
        int& v = values[std::size_t(item)];
        if (GetChoiceList(item, list) && GetChoiceCount(item, count))
            v = item == 1 ? 'A' + item % 3 : item % count;
        else
            v = item == 13 ? -690 : item == 17 ? 4200
                : int(lo + (item * 2654435761LL) % (static_cast<long long>(hi) - lo + 1));
        ASSERT_TRUE(SetItem(g.config, item, v)) << item << " " << v;
    }
    for (int b = 0; b < 8; ++b) EXPECT_TRUE(g.before[b] == 0xCC && g.after[b] == 0xCC);
    for (int item = 1; item < ITEM_COUNT; ++item) {
        const int v = values[std::size_t(item)];
        std::vector<std::string> list;
        int choice = -1;
        if (GetChoiceList(item, list)) {
            EXPECT_TRUE(GetItemChoice(g.config, item, choice) && choice == v) << item;
            EXPECT_EQ(Text(g.config, item), list[std::size_t(v - GetFirstChoiceValue(item))]) << item;
        } else {
            EXPECT_EQ(Text(g.config, item), std::to_string(v)) << item;
        }
    }
    EXPECT_EQ(g.config.analog[1].signal, values[80]);
    EXPECT_EQ(GetBE32(g.config.systemDelay), unsigned(values[19]));
}
