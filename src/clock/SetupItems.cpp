#include "SetupItems.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "Resource.h"
#include "SetupItemTable.h"
#include "SetupStrings.h"
#include "StringTable.h"

namespace {

// An item whose list holds only the placeholder is edited as a number.
bool HasRealChoices(const TItemRow& r) {
    for (unsigned id : r.choices)
        if (id != IDS_PLACEHOLDER) return true;
    return false;
}

}  // namespace

bool CheckItemValue(int item, int value) {
    const TItemRow* r = ValueRow(item);
    if (!r) return false;
    if (value < r->min || value > r->max) return false;
    const TItemQuirks& q = r->quirks;
    if (q.multipleOf > 0) return value % q.multipleOf == 0 || value == q.alsoTakes;
    return true;
}

bool GetRangeMessage(int item, std::string& text) {
    const TItemRow* r = ValueRow(item);
    if (!r) return false;
    text = FormatString(GetString(IDS_RANGE_ERROR).c_str(), r->min, r->max);
    return true;
}

bool SetItem(TClockConfig& config, int item, int value) {
    const TItemRow* r = ValueRow(item);
    if (!r || !CheckItemValue(item, value)) return false;

    const TItemQuirks& q = r->quirks;
    if (!q.codes.empty()) {
        const bool listed = value >= 0 && value < int(q.codes.size());
        if (!listed && q.otherChoice < 0) return false;
        value = q.codes[static_cast<std::size_t>(listed ? value : q.otherChoice)];
    } else if (q.storedMultipleOf > 0) {
        value = value / q.storedMultipleOf * q.storedMultipleOf;  // toward zero
    }

    std::uint8_t* p = ConfigBytes(config) + r->offset;
    switch (r->type) {
        case VALUE_U8:
        case VALUE_S8: *p = static_cast<std::uint8_t>(value); break;
        case VALUE_U16:
        case VALUE_S16: SetBE16(p, static_cast<std::uint16_t>(value)); break;
        case VALUE_U32:
        case VALUE_S32: SetBE32(p, static_cast<std::uint32_t>(value)); break;
        default: {
            const auto mask = static_cast<std::uint8_t>(1u << r->type);
            *p = value ? static_cast<std::uint8_t>(*p | mask) : static_cast<std::uint8_t>(*p & ~mask);
            break;
        }
    }
    return true;
}

bool GetItemChoice(const TClockConfig& config, int item, int& choice) {
    const TItemRow* r = ValueRow(item);
    if (!r || StorageSize(r->type) != 1) return false;  // a word has no choice index
    const std::uint8_t byte = ConfigBytes(config)[r->offset];

    const TItemQuirks& q = r->quirks;
    if (!q.codes.empty()) {
        for (std::size_t i = 0; i < q.codes.size(); ++i) {
            if (byte == q.codes[i]) {
                choice = int(i);
                return true;
            }
        }
        if (q.otherChoice < 0) return false;
        choice = q.otherChoice;
    } else if (IsBitType(r->type)) {
        choice = (byte >> r->type) & 1;
    } else {
        choice = byte;
    }
    return true;
}

bool GetItemText(const TClockConfig& config, int item, std::string& text) {
    const TItemRow* r = ValueRow(item);
    if (!r) return false;

    if (HasRealChoices(*r)) {
        int choice = 0;
        if (!GetItemChoice(config, item, choice)) return false;
        return GetChoiceText(item, choice - GetFirstChoiceValue(item), text);
    }

    const std::uint8_t* p = ConfigBytes(config) + r->offset;
    switch (r->type) {
        case VALUE_U8: text = std::to_string(unsigned(p[0])); return true;
        case VALUE_S8: text = std::to_string(int(static_cast<std::int8_t>(p[0]))); return true;
        case VALUE_U16: text = std::to_string(unsigned(GetBE16(p))); return true;
        case VALUE_S16: text = std::to_string(int(static_cast<std::int16_t>(GetBE16(p)))); return true;
        case VALUE_U32: text = std::to_string(GetBE32(p)); return true;
        case VALUE_S32: text = std::to_string(static_cast<std::int32_t>(GetBE32(p))); return true;
        default: return false;
    }
}

int GetFirstChoiceValue(int item) {
    const TItemRow* r = Row(item);
    return r ? r->quirks.choiceBase : 0;
}

bool GetItemKind(int item, int& kind) {
    const TItemRow* r = Row(item);
    if (!r) return false;
    kind = r->kind;
    return true;
}

bool GetItemLabel(int item, std::string& label) {
    const TItemRow* r = Row(item);
    return r && LoadString(r->label, label);
}

bool GetValueType(int item, int& type) {
    const TItemRow* r = Row(item);
    if (!r) return false;
    type = r->type;
    return true;
}

bool GetItemOffset(int item, int& offset) {
    const TItemRow* r = ValueRow(item);
    if (!r) return false;
    offset = r->offset;
    return true;
}

bool GetItemRange(int item, int& min, int& max) {
    const TItemRow* r = Row(item);
    if (!r) return false;
    min = r->min;
    max = r->max;
    return true;
}

bool GetChoiceCount(int item, int& count) {
    const TItemRow* r = Row(item);
    if (!r || r->choices.empty()) return false;
    count = int(r->choices.size());
    return true;
}

bool GetChoiceText(int item, int index, std::string& text) {
    const TItemRow* r = Row(item);
    if (!r) return false;
    const int count = int(r->choices.size());
    if (count == 0) return false;
    if (index < 0 || index >= count)
        return LoadString(IDS_UNEXPECTED_VALUE, text);
    return LoadString(r->choices[static_cast<std::size_t>(index)], text);
}

bool GetChoiceList(int item, std::vector<std::string>& list) {
    const TItemRow* r = Row(item);
    if (!r) return false;
    // Gather first: a missing text must not leave a list whose positions
    // no longer match the choice indexes.
    std::vector<std::string> texts;
    for (unsigned id : r->choices) {
        if (id == IDS_PLACEHOLDER) continue;
        std::string s;
        if (!LoadString(id, s)) return false;
        texts.push_back(std::move(s));
    }
    if (texts.empty()) return false;
    list.insert(list.end(), texts.begin(), texts.end());
    return true;
}

bool GetGroupNames(std::vector<std::string>& names) {
    std::vector<std::string> texts;
    for (int group = 0; group < GROUP_COUNT; ++group) {
        std::string s;
        if (!LoadString(GroupRow(group)->name, s)) return false;
        texts.push_back(std::move(s));
    }
    names.insert(names.end(), texts.begin(), texts.end());
    return !texts.empty();
}

bool GetGroupItems(int group, std::vector<std::string>& labels, std::vector<int>& items) {
    const TGroup* g = GroupRow(group);
    if (!g) return false;
    std::vector<std::string> texts;
    for (int item : g->items) {
        std::string s;
        if (!GetItemLabel(item, s)) return false;
        texts.push_back(std::move(s));
    }
    if (texts.empty()) return false;
    labels.insert(labels.end(), texts.begin(), texts.end());
    items.insert(items.end(), g->items.begin(), g->items.end());
    return true;
}
