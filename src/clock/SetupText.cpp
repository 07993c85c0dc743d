#include "SetupText.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Resource.h"
#include "SetupDiff.h"
#include "SetupItems.h"
#include "StringTable.h"
#include "TextUtil.h"

namespace {

constexpr int HEADER_VERSION = 1;

// What a VALUE text means for SetItem, as tarvelctl set reads it: a choice
// text wins over a number of the same spelling; the model also takes its
// letter alone; a number for a choice item is its index. False when the text
// is none of these.
bool ResolveText(int item, const std::string& text, int& value) {
    std::vector<std::string> choices;
    const bool hasChoices = GetChoiceList(item, choices);
    const int first = GetFirstChoiceValue(item);
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (EqualNoCase(choices[i], text)) {
            value = first + static_cast<int>(i);
            return true;
        }
    if (hasChoices && first == 'A' && text.size() == 1) {
        const int letter = text[0] >= 'a' && text[0] <= 'z' ? text[0] - 'a' + 'A' : text[0];
        if (letter >= 'A' && letter < 'A' + static_cast<int>(choices.size())) {
            value = letter;
            return true;
        }
    }
    long long number = 0;
    if (!ParseWhole(text, INT32_MIN, INT32_MAX, number)) return false;
    value = static_cast<int>(number);
    return true;
}

// Applies one item's VALUE to config; false with the reason (without the
// line number) when refused.
bool ApplyValue(TClockConfig& config, int item, const std::string& text, std::string& error) {
    if (text.compare(0, 4, "raw ") == 0) {
        long long raw = 0;
        if (!ParseWhole(std::string(Trim(text.substr(4))), INT64_MIN / 2, INT64_MAX / 2, raw) || !SetItemRaw(config, item, raw)) {
            error = FormatString(GetString(IDS_TEXT_RAW_DOES_NOT_FIT).c_str(), item, text.c_str());
            return false;
        }
        return true;
    }
    int value = 0;
    if (ResolveText(item, text, value) && CheckItemValue(item, value) && SetItem(config, item, value)) return true;
    std::string allowed;
    std::vector<std::string> choices;
    if (GetChoiceList(item, choices)) {
        std::string list;
        for (std::size_t i = 0; i < choices.size(); ++i) list += (i ? ", \"" : "\"") + choices[i] + "\"";
        allowed = FormatString(GetString(IDS_TEXT_CHOICES).c_str(), list.c_str());
    } else {
        int min = 0, max = 0;
        GetItemRange(item, min, max);
        allowed = FormatString(GetString(IDS_TEXT_RANGE).c_str(), min, max);
    }
    error = FormatString(GetString(IDS_TEXT_VALUE_REFUSED).c_str(), item, text.c_str(), allowed.c_str());
    return false;
}

// The comment above an item's line: its label and the values it takes.
std::string ItemComment(int item) {
    std::string line = "# " + GetItemName(item) + ": ";
    std::vector<std::string> choices;
    if (GetChoiceList(item, choices)) {
        for (std::size_t i = 0; i < choices.size(); ++i) line += (i ? ", \"" : "\"") + choices[i] + "\"";
    } else {
        int min = 0, max = 0;
        GetItemRange(item, min, max);
        line += std::to_string(min) + " to " + std::to_string(max);
    }
    return line + "\n";
}

// The VALUE written for an item: its text when reading that text back stores
// the very same field, else the raw number.
std::string ItemValueText(const TClockConfig& config, int item) {
    const TItemValue v = GetItemValue(config, item);
    if (v.hasText && v.text == Trim(v.text) && v.text.compare(0, 4, "raw ") != 0) {
        TClockConfig again = config;
        std::string ignored;
        if (ApplyValue(again, item, v.text, ignored) && std::memcmp(&again, &config, sizeof config) == 0)
            return v.text;
    }
    return "raw " + std::to_string(v.raw);
}

}  // namespace

std::string SetupToText(const TClockConfig& config) {
    std::string out = "# tarvel setup text " + std::to_string(HEADER_VERSION) +
                      ": ITEM = VALUE, one line per setup item; \"raw N\" stores N unchecked.\n";
    std::vector<std::string> groups;
    GetGroupNames(groups);
    std::array<bool, ITEM_COUNT> written{};
    auto writeItem = [&](int item) {
        out += ItemComment(item) + std::to_string(item) + " = " + ItemValueText(config, item) + "\n";
        written[static_cast<std::size_t>(item)] = true;
    };
    for (int g = 0; g < static_cast<int>(groups.size()); ++g) {
        std::vector<std::string> labels;
        std::vector<int> items;
        if (!GetGroupItems(g, labels, items)) continue;
        out += "\n## " + groups[static_cast<std::size_t>(g)] + "\n";
        for (int item : items) writeItem(item);
    }
    out += "\n## " + GetString(IDS_TEXT_OTHER_ITEMS) + "\n";
    for (int item = 1; item < ITEM_COUNT; ++item) {
        long long raw = 0;
        if (!written[static_cast<std::size_t>(item)] && GetItemRaw(config, item, raw)) writeItem(item);
    }
    const auto& held = GetItemBits();
    std::string bytes;
    for (std::size_t k = 0; k < CLOCK_CONFIG_SIZE; ++k)
        if (const int free = ConfigBytes(config)[k] & ~held[k]; free != 0)
            bytes += "byte " + std::to_string(k) + " = " + std::to_string(free) + "\n";
    if (!bytes.empty()) out += "\n## " + GetString(IDS_TEXT_OTHER_BITS) + "\n" + bytes;
    return out;
}

bool SetupFromText(const std::string& text, TClockConfig& config, std::string& error) {
    if (text.size() > SETUP_TEXT_MAX_SIZE) {
        error = GetString(IDS_TEXT_TOO_LARGE);
        return false;
    }
    TClockConfig built{};
    std::array<int, ITEM_COUNT> itemLine{};          // 0: not given yet
    std::array<int, CLOCK_CONFIG_SIZE> byteLine{};
    const auto& held = GetItemBits();
    auto fail = [&](int line, const std::string& why) {
        error = "line " + std::to_string(line) + ": " + why;
        return false;
    };

    std::size_t pos = 0;
    for (int lineNo = 1; pos < text.size(); ++lineNo) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view whole = std::string_view(text).substr(pos, end - pos);
        if (!whole.empty() && whole.back() == '\r') whole.remove_suffix(1);  // a CRLF line end
        const std::string line(Trim(whole));
        pos = end + 1;
        if (line.empty() || line[0] == '#') continue;
        if (line.find('\0') != std::string::npos) return fail(lineNo, GetString(IDS_TEXT_NOT_A_LINE));
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) return fail(lineNo, GetString(IDS_TEXT_NOT_A_LINE));
        const std::string key(Trim(line.substr(0, eq)));
        const std::string value(Trim(line.substr(eq + 1)));

        long long n = 0;
        if (key.compare(0, 5, "byte ") == 0) {
            long long bits = 0;
            if (!ParseWhole(std::string(Trim(key.substr(5))), 0, CLOCK_CONFIG_SIZE - 1, n) || !ParseWhole(value, 0, 255, bits))
                return fail(lineNo, GetString(IDS_TEXT_NOT_A_LINE));
            const auto at = static_cast<std::size_t>(n);
            if (byteLine[at] != 0)
                return fail(lineNo, FormatString(GetString(IDS_TEXT_GIVEN_TWICE).c_str(), key.c_str(), byteLine[at]));
            if ((bits & held[at]) != 0)
                return fail(lineNo, FormatString(GetString(IDS_TEXT_BITS_HELD).c_str(), static_cast<int>(n), held[at]));
            byteLine[at] = lineNo;
            ConfigBytes(built)[at] = static_cast<std::uint8_t>(ConfigBytes(built)[at] | bits);
            continue;
        }
        long long raw = 0;
        if (!ParseWhole(key, 0, ITEM_COUNT - 1, n) || key[0] == '+' || key[0] == '-' ||
            !GetItemRaw(built, static_cast<int>(n), raw))
            return fail(lineNo, FormatString(GetString(IDS_TEXT_UNKNOWN_ITEM).c_str(), key.c_str()));
        const int item = static_cast<int>(n);
        if (itemLine[static_cast<std::size_t>(item)] != 0)
            return fail(lineNo, FormatString(GetString(IDS_TEXT_GIVEN_TWICE).c_str(), key.c_str(),
                                             itemLine[static_cast<std::size_t>(item)]));
        std::string why;
        if (!ApplyValue(built, item, value, why)) return fail(lineNo, why);
        itemLine[static_cast<std::size_t>(item)] = lineNo;
    }
    for (int item = 1; item < ITEM_COUNT; ++item) {
        long long raw = 0;
        if (itemLine[static_cast<std::size_t>(item)] == 0 && GetItemRaw(built, item, raw)) {
            error = FormatString(GetString(IDS_TEXT_ITEM_MISSING).c_str(), item, GetItemName(item).c_str());
            return false;
        }
    }
    config = built;
    return true;
}
