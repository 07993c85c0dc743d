// Comparing two setups item by item, and the per-item views that comparing,
// the text form and the machine-readable output share: the item's name, its
// stored value as a number, and the record bits no item holds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ClockConfig.h"

// The item's label without its value placeholder ("Baud Rate"); empty for an
// item outside the table.
std::string GetItemName(int item);

// The stored field as its storage type reads it: a bit as 0 or 1, a byte or
// word signed or unsigned as the record keeps it. False for item 0 and items
// outside the table.
bool GetItemRaw(const TClockConfig& config, int item, long long& raw);
// Stores raw into the field as GetItemRaw reads it, without the item's value
// rules: for bringing back exactly what a record held. False, with nothing
// stored, when raw does not fit the field's storage.
bool SetItemRaw(TClockConfig& config, int item, long long raw);

// For each record byte, the bits that some item holds.
const std::array<std::uint8_t, CLOCK_CONFIG_SIZE>& GetItemBits();

// The item's group (its index in GetGroupNames), or -1 for an item the setup
// tree does not show.
int GetItemGroup(int item);

struct TItemValue {
    long long raw = 0;
    bool hasText = false;  // false: the stored value has no text (see GetItemText)
    std::string text;
};
TItemValue GetItemValue(const TClockConfig& config, int item);
// The text, or "(no value, raw N)" when there is none.
std::string ShowItemValue(const TItemValue& value);

struct TItemDifference {
    int item;
    std::string name;
    TItemValue a, b;
};
// Bits of a record byte that no item holds; only those bits are kept.
struct TByteDifference {
    std::size_t offset;
    std::uint8_t a, b;
};
struct TSetupDiff {
    std::vector<TItemDifference> items;  // by item number
    std::vector<TByteDifference> bytes;  // by offset
    bool Equal() const { return items.empty() && bytes.empty(); }
};

// Items differ when their stored fields differ, even where both show the
// same text (a back light byte of 30 and of 100 both read "choice 1").
// Differences no item holds are listed apart, so two records that compare
// equal are equal byte for byte.
TSetupDiff DiffSetups(const TClockConfig& a, const TClockConfig& b);
