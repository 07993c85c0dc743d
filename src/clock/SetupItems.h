// The numbered setup items: the view of the configuration record that the
// setup pages and tarvelctl work through. Each item has a label, an editor
// kind, a valid range, a storage type and a record offset; the groups list
// the items the setup tree shows.
#pragma once

#include <string>
#include <vector>

#include "ClockConfig.h"

constexpr int ITEM_COUNT = 90;   // items 0..89; item 0 is a placeholder without a field
constexpr int GROUP_COUNT = 8;

// Editor kinds.
constexpr int ITEM_KIND_NONE = -1;    // item 0 only
constexpr int ITEM_KIND_NUMBER = 0;   // edit box
constexpr int ITEM_KIND_CHOICE = 1;   // list of texts
constexpr int ITEM_KIND_BIT = 2;      // two texts selected by one bit
constexpr int ITEM_KIND_NUMBER2 = 3;  // handled exactly like ITEM_KIND_NUMBER

// Storage types: 0..7 name a bit of the byte at the offset; the rest are
// whole fields, multi-byte ones big-endian in the record.
constexpr int VALUE_NONE = -1;
constexpr int VALUE_U8 = 8;
constexpr int VALUE_S8 = 9;
constexpr int VALUE_U16 = 10;
constexpr int VALUE_S16 = 11;
constexpr int VALUE_U32 = 12;
constexpr int VALUE_S32 = 13;

// Checks, converts and stores one item. A refused value is never stored.
bool SetItem(TClockConfig& config, int item, int value);
// What the user is told of a refused value: the item's valid range, also
// when a special rule refused it. False for an item without a field.
bool GetRangeMessage(int item, std::string& text);

// The stored value as a choice index (or the byte of a byte item); false when
// the stored value has no index.
bool GetItemChoice(const TClockConfig& config, int item, int& choice);

// The stored value as display text: the choice text for items with choices,
// the number otherwise.
bool GetItemText(const TClockConfig& config, int item, std::string& text);

// What SetItem takes for the first of the item's choices, and GetItemChoice
// gives for it: 0, except for the model (item 1), kept as 'A' to 'C'.
int GetFirstChoiceValue(int item);

bool GetItemKind(int item, int& kind);
bool GetItemLabel(int item, std::string& label);  // a format with at most one %s
bool GetValueType(int item, int& type);
// Where the item's field starts in the record; false for item 0.
bool GetItemOffset(int item, int& offset);
bool GetItemRange(int item, int& min, int& max);   // the limits the range message names

bool GetChoiceCount(int item, int& count);
// The choice's text, or "Unexpected Value!" for an index beyond the list.
bool GetChoiceText(int item, int index, std::string& text);
// Appends the item's real choice texts; false when none were appended.
bool GetChoiceList(int item, std::vector<std::string>& list);

bool CheckItemValue(int item, int value);

// Append; false when nothing was appended.
bool GetGroupNames(std::vector<std::string>& names);
bool GetGroupItems(int group, std::vector<std::string>& labels, std::vector<int>& items);
