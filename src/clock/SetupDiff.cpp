#include "SetupDiff.h"

#include "Resource.h"
#include "SetupItems.h"
#include "StringTable.h"

namespace {

constexpr bool IsBit(int type) { return type >= 0 && type <= 7; }

// The item's field: storage type and first byte; false for an item without one.
bool FieldOf(int item, int& type, const std::uint8_t*& p, const TClockConfig& config) {
    int offset = -1;
    if (!GetValueType(item, type) || !GetItemOffset(item, offset) || offset < 0) return false;
    p = ConfigBytes(config) + offset;
    return true;
}

}  // namespace

std::string GetItemName(int item) {
    std::string label;
    if (!GetItemLabel(item, label)) return {};
    if (const std::size_t at = label.find("%s"); at != std::string::npos) label.erase(at, 2);
    while (!label.empty() && (label.back() == ' ' || label.back() == ':')) label.pop_back();
    while (!label.empty() && label.front() == ' ') label.erase(0, 1);
    // Some option items carry no real label ("."): they are named by number.
    for (char c : label)
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return label;
    return FormatString(GetString(IDS_TEXT_ITEM_N).c_str(), item);
}

bool GetItemRaw(const TClockConfig& config, int item, long long& raw) {
    int type = VALUE_NONE;
    const std::uint8_t* p = nullptr;
    if (!FieldOf(item, type, p, config)) return false;
    if (IsBit(type)) {
        raw = (p[0] >> type) & 1;
        return true;
    }
    switch (type) {
        case VALUE_U8: raw = p[0]; return true;
        case VALUE_S8: raw = static_cast<std::int8_t>(p[0]); return true;
        case VALUE_U16: raw = GetBE16(p); return true;
        case VALUE_S16: raw = static_cast<std::int16_t>(GetBE16(p)); return true;
        case VALUE_U32: raw = GetBE32(p); return true;
        case VALUE_S32: raw = static_cast<std::int32_t>(GetBE32(p)); return true;
        default: return false;
    }
}

bool SetItemRaw(TClockConfig& config, int item, long long raw) {
    int type = VALUE_NONE, offset = -1;
    if (!GetValueType(item, type) || !GetItemOffset(item, offset) || offset < 0) return false;
    std::uint8_t* p = ConfigBytes(config) + offset;
    long long lo = 0, hi = 1;
    switch (type) {
        case VALUE_U8: hi = 0xFF; break;
        case VALUE_S8: lo = -0x80; hi = 0x7F; break;
        case VALUE_U16: hi = 0xFFFF; break;
        case VALUE_S16: lo = -0x8000; hi = 0x7FFF; break;
        case VALUE_U32: hi = 0xFFFFFFFFLL; break;
        case VALUE_S32: lo = -0x80000000LL; hi = 0x7FFFFFFF; break;
        default: break;  // one bit
    }
    if (raw < lo || raw > hi) return false;
    if (IsBit(type)) {
        const auto mask = static_cast<std::uint8_t>(1u << type);
        p[0] = raw ? static_cast<std::uint8_t>(p[0] | mask) : static_cast<std::uint8_t>(p[0] & ~mask);
        return true;
    }
    const auto u = static_cast<std::uint32_t>(raw);
    switch (type) {
        case VALUE_U8:
        case VALUE_S8: p[0] = static_cast<std::uint8_t>(u); break;
        case VALUE_U16:
        case VALUE_S16: SetBE16(p, static_cast<std::uint16_t>(u)); break;
        default: SetBE32(p, u); break;
    }
    return true;
}

const std::array<std::uint8_t, CLOCK_CONFIG_SIZE>& GetItemBits() {
    static const auto bits = [] {
        std::array<std::uint8_t, CLOCK_CONFIG_SIZE> b{};
        for (int item = 1; item < ITEM_COUNT; ++item) {
            int type = VALUE_NONE, offset = -1;
            if (!GetValueType(item, type) || !GetItemOffset(item, offset) || offset < 0) continue;
            const auto at = static_cast<std::size_t>(offset);
            if (IsBit(type)) {
                b[at] = static_cast<std::uint8_t>(b[at] | (1u << type));
                continue;
            }
            const std::size_t n = type == VALUE_U8 || type == VALUE_S8 ? 1 : type == VALUE_U16 || type == VALUE_S16 ? 2 : 4;
            for (std::size_t k = 0; k < n && at + k < b.size(); ++k) b[at + k] = 0xFF;
        }
        return b;
    }();
    return bits;
}

int GetItemGroup(int item) {
    for (int g = 0; g < GROUP_COUNT; ++g) {
        std::vector<std::string> labels;
        std::vector<int> items;
        if (!GetGroupItems(g, labels, items)) continue;
        for (int i : items)
            if (i == item) return g;
    }
    return -1;
}

TItemValue GetItemValue(const TClockConfig& config, int item) {
    TItemValue v;
    GetItemRaw(config, item, v.raw);
    v.hasText = GetItemText(config, item, v.text);
    if (!v.hasText) v.text.clear();
    return v;
}

std::string ShowItemValue(const TItemValue& value) {
    return value.hasText ? value.text : FormatString(GetString(IDS_TEXT_NO_VALUE).c_str(), value.raw);
}

TSetupDiff DiffSetups(const TClockConfig& a, const TClockConfig& b) {
    TSetupDiff diff;
    for (int item = 1; item < ITEM_COUNT; ++item) {
        long long ra = 0, rb = 0;
        if (!GetItemRaw(a, item, ra) || !GetItemRaw(b, item, rb) || ra == rb) continue;
        diff.items.push_back({item, GetItemName(item), GetItemValue(a, item), GetItemValue(b, item)});
    }
    const auto& held = GetItemBits();
    for (std::size_t k = 0; k < CLOCK_CONFIG_SIZE; ++k) {
        const auto free = static_cast<std::uint8_t>(~held[k]);
        const auto x = static_cast<std::uint8_t>(ConfigBytes(a)[k] & free);
        const auto y = static_cast<std::uint8_t>(ConfigBytes(b)[k] & free);
        if (x != y) diff.bytes.push_back({k, x, y});
    }
    return diff;
}
