// The setup items' table: one row per item, the setup tree's groups, and the
// lookups the item operations (SetupItems.cpp) work from. Clock layer only.
#pragma once

#include <cstdint>
#include <span>

#include "SetupItems.h"

// What sets an item apart from the plain rule (store the value, read the
// byte or the bit back as the choice). Most rows have none.
struct TItemQuirks {
    // The stored value of the first choice, counted on from there: the model
    // is kept as its letter.
    int choiceBase = 0;
    // The byte stored for each choice, when it is not the index.
    std::span<const std::uint8_t> codes{};
    // The choice a stored byte not among the codes reads as, and a value
    // beyond the codes is stored as; -1: such a byte has no choice.
    int otherChoice = -1;
    int multipleOf = 0, alsoTakes = -1;  // values taken: multiples of it (0: any), and alsoTakes
    // The value is stored cut toward zero to a multiple of this (0: as given).
    int storedMultipleOf = 0;
};

struct TItemRow {
    unsigned label;
    int kind;
    int min, max;
    int type;
    int offset;
    std::span<const unsigned> choices;  // their count is the item's choice count
    TItemQuirks quirks{};
};

struct TGroup {
    unsigned name;
    std::span<const int> items;
};

constexpr bool IsBitType(int type) { return type >= 0 && type <= 7; }

constexpr int StorageSize(int type) {
    if (IsBitType(type) || type == VALUE_U8 || type == VALUE_S8) return 1;
    if (type == VALUE_U16 || type == VALUE_S16) return 2;
    if (type == VALUE_U32 || type == VALUE_S32) return 4;
    return 0;
}

// The item's row; null beyond the table.
const TItemRow* Row(int item);
// A row that addresses a field (every row but the placeholder).
const TItemRow* ValueRow(int item);
// The group's row; null beyond the groups.
const TGroup* GroupRow(int group);
