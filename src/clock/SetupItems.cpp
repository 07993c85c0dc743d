#include "SetupItems.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "StringTable.h"

namespace {

constexpr unsigned RANGE_ERROR_ID = 222;       // "Input Error!  The valid range is %d to %d."
constexpr unsigned UNEXPECTED_VALUE_ID = 57687;  // "Unexpected Value!"

// Choice lists: string ids in index order.
constexpr unsigned MODEL[] = {154, 155, 156};
constexpr unsigned EXTINT[] = {158, 159};
constexpr unsigned BAUD[] = {40009, 40010, 40011, 40012, 40013};
constexpr unsigned DATA[] = {40016, 40017};
constexpr unsigned STOP[] = {40018, 40019};
constexpr unsigned PARITY[] = {40020, 40022, 40021};
constexpr unsigned BACKLIGHT[] = {160, 161, 162};
constexpr unsigned KEYLOCK[] = {163, 164, 165};
constexpr unsigned DST[] = {166, 167, 168};
constexpr unsigned TIMESEL[] = {169, 170};
constexpr unsigned IRIGMODE[] = {171, 173};
constexpr unsigned P1344[] = {217, 174};
constexpr unsigned CHSEL[] = {175, 176};
constexpr unsigned RECSEL[] = {177, 178};
constexpr unsigned BCAST[] = {179, 180, 181, 182, 183, 184, 185, 186, 187};
constexpr unsigned PULSE[] = {188, 189, 190, 191};
constexpr unsigned POSHOLD[] = {57640, 57641};
constexpr unsigned POSITION[] = {57642, 57643};
constexpr unsigned ONOFF[] = {57691, 57690};
constexpr unsigned DURATION[] = {57647, 57648, 57649, 57650, 57651, 57652,
                                 57653, 57654, 57655, 57656, 57657};
constexpr unsigned SIGN[] = {57658, 57659, 57660, 57661};
constexpr unsigned OPTA[] = {57663, 57665};
constexpr unsigned PLACEHOLDER[] = {PLACEHOLDER_STRING_ID};

// Stored bytes per choice, where a choice is not stored as its index.
constexpr std::uint8_t BACKLIGHT_CODES[] = {0, 30, 255};
constexpr std::uint8_t SIGN_CODES[] = {'N', 'S', 'E', 'W'};

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

#define OFF(field) static_cast<int>(offsetof(TClockConfig, field))
constexpr int ANALOG = OFF(analog);
constexpr int NONE = VALUE_NONE;
constexpr int U8 = VALUE_U8;
constexpr int S8 = VALUE_S8;
constexpr int U16 = VALUE_U16;
constexpr int S16 = VALUE_S16;
constexpr int U32 = VALUE_U32;
constexpr int S32 = VALUE_S32;
constexpr int NUM = ITEM_KIND_NUMBER;
constexpr int NUM2 = ITEM_KIND_NUMBER2;
constexpr int CHO = ITEM_KIND_CHOICE;
constexpr int BIT = ITEM_KIND_BIT;
constexpr std::span<const unsigned> NO_CHOICES{};

// Notes on ranges that differ from the historical table:
// - one-bit items accept only 0 and 1; the old 0..16 took 2..16 and then
//   reported success without storing anything;
// - the analog range bytes stop at 255; 256 would have been stored as 0;
// - degrees, minutes, seconds and fractions of the surveyed position are the
//   whole 16-bit words, as the record and the dump read them.
constexpr TItemRow ITEMS[ITEM_COUNT] = {
    /*  0 */ {157, ITEM_KIND_NONE, 0, 0, NONE, -1, NO_CHOICES},
    /*  1 */ {192, CHO, 65, 67, U8, OFF(model), MODEL, {.choiceBase = 'A'}},
    /*  2 */ {197, CHO, 0, 1, U8, OFF(external), EXTINT},
    /*  3 */ {193, CHO, 0, 4, U8, OFF(mainBaud), BAUD},
    /*  4 */ {194, CHO, 0, 1, U8, OFF(mainDataBits), DATA},
    /*  5 */ {195, CHO, 0, 1, U8, OFF(mainStopBits), STOP},
    /*  6 */ {196, CHO, 0, 2, U8, OFF(mainParity), PARITY},
    /*  7 */ {193, CHO, 0, 4, U8, OFF(optionBaud), BAUD},
    /*  8 */ {194, CHO, 0, 1, U8, OFF(optionDataBits), DATA},
    /*  9 */ {195, CHO, 0, 1, U8, OFF(optionStopBits), STOP},
    /* 10 */ {196, CHO, 0, 2, U8, OFF(optionParity), PARITY},
    /* 11 */ {200, CHO, 0, 255, U8, OFF(backLight), BACKLIGHT, {.codes = BACKLIGHT_CODES, .otherChoice = 1}},
    /* 12 */ {201, CHO, 0, 2, U8, OFF(keyLock), KEYLOCK},
    /* 13 */ {202, NUM, -720, 720, S16, OFF(localOffset), NO_CHOICES, {.storedMultipleOf = 30}},
    /* 14 */ {203, CHO, 0, 2, U8, OFF(daySaving), DST},
    /* 15 */ {204, NUM, 0, 59, U8, OFF(dstMinutes), NO_CHOICES},
    /* 16 */ {205, NUM, 0, 23, U8, OFF(dstHours), NO_CHOICES},
    /* 17 */ {206, NUM, 0, 5940, S16, OFF(lockTime), NO_CHOICES, {.multipleOf = 60, .alsoTakes = 1}},
    /* 18 */ {207, NUM, 0, 999, U32, OFF(cableDelay), NO_CHOICES},
    /* 19 */ {208, NUM, 0, 999, U32, OFF(systemDelay), NO_CHOICES},
    /* 20 */ {209, CHO, 0, 1, U8, OFF(chATimeSelect), TIMESEL},
    /* 21 */ {210, CHO, 0, 1, U8, OFF(chBTimeSelect), TIMESEL},
    /* 22 */ {211, CHO, 0, 1, U8, OFF(chCTimeSelect), TIMESEL},
    /* 23 */ {218, BIT, 0, 1, 0, OFF(irigTimeSelect), IRIGMODE},
    /* 24 */ {220, BIT, 0, 1, 1, OFF(irigTimeSelect), P1344},
    /* 25 */ {213, CHO, 0, 1, U8, OFF(chASelect), CHSEL},
    /* 26 */ {214, CHO, 0, 1, U8, OFF(chBSelect), CHSEL},
    /* 27 */ {215, CHO, 0, 1, U8, OFF(recorderSelect), RECSEL},
    /* 28 */ {216, CHO, 0, 8, U8, OFF(broadcastSelect), BCAST},
    /* 29 */ {57601, CHO, 0, 1, U8, OFF(broadcastTimeSelect), TIMESEL},
    /* 30 */ {57602, CHO, 0, 1, U8, OFF(markTimeType), TIMESEL},
    /* 31 */ {57603, NUM2, 0, 99, U8, OFF(markFSeconds), NO_CHOICES},
    /* 32 */ {57604, NUM, 0, 59, U8, OFF(markSeconds), NO_CHOICES},
    /* 33 */ {57605, NUM, 0, 59, U8, OFF(markMinutes), NO_CHOICES},
    /* 34 */ {57606, NUM, 0, 23, U8, OFF(markHours), NO_CHOICES},
    /* 35 */ {57607, NUM, 0, 366, S16, OFF(markDay), NO_CHOICES},
    /* 36 */ {57609, CHO, 0, 3, U8, OFF(pulseMode), PULSE},
    /* 37 */ {57610, NUM, 1, 60000, U16, OFF(secondsPerPulse), NO_CHOICES},
    /* 38 */ {57611, NUM2, 1, 60000, U16, OFF(pulseWidth), NO_CHOICES},
    /* 39 */ {57613, BIT, 0, 1, 0, OFF(positionHold), POSHOLD},
    /* 40 */ {57662, BIT, 0, 1, 1, OFF(positionHold), POSITION},
    /* 41 */ {57644, BIT, 0, 1, 0, OFF(surveyMode), ONOFF},
    /* 42 */ {57645, BIT, 0, 1, 1, OFF(surveyMode), ONOFF},
    /* 43 */ {57646, BIT, 0, 1, 2, OFF(surveyMode), ONOFF},
    /* 44 */ {57615, CHO, 0, 10, U8, OFF(surveyDuration), DURATION},
    /* 45 */ {57616, NUM, 0, 86400, S32, OFF(fixN), NO_CHOICES},
    /* 46 */ {57617, NUM, 0, INT_MAX, S32, OFF(fixCount), NO_CHOICES},
    /* 47 */ {57618, NUM, INT_MIN, INT_MAX, S32, OFF(longitudeSum), NO_CHOICES},
    /* 48 */ {57619, NUM, INT_MIN, INT_MAX, S32, OFF(latitudeSum), NO_CHOICES},
    /* 49 */ {57620, NUM, INT_MIN, INT_MAX, S32, OFF(altitudeSum), NO_CHOICES},
    /* 50 */ {57621, NUM, 0, 65535, U16, OFF(sTimeYear), NO_CHOICES},
    /* 51 */ {57622, NUM, 0, 65535, U16, OFF(sTimeDayOfYear), NO_CHOICES},
    /* 52 */ {57623, NUM, 0, 23, S8, OFF(sTimeHours), NO_CHOICES},
    /* 53 */ {57624, NUM, 0, 59, S8, OFF(sTimeMinutes), NO_CHOICES},
    /* 54 */ {57625, NUM, 0, 59, S8, OFF(sTimeSeconds), NO_CHOICES},
    /* 55 */ {57626, NUM, -648000000, 648000000, S32, OFF(lonMSec), NO_CHOICES},
    /* 56 */ {57627, CHO, 0, 3, S8, OFF(lonSign), SIGN, {.codes = SIGN_CODES}},
    /* 57 */ {57628, NUM, 0, 180, U16, OFF(lonDeg), NO_CHOICES},
    /* 58 */ {57629, NUM, 0, 59, U16, OFF(lonMin), NO_CHOICES},
    /* 59 */ {57630, NUM, 0, 59, U16, OFF(lonSec), NO_CHOICES},
    /* 60 */ {57631, NUM2, 0, 999, U16, OFF(lonFSec), NO_CHOICES},
    /* 61 */ {57632, NUM, -648000000, 648000000, S32, OFF(latMSec), NO_CHOICES},
    /* 62 */ {57633, CHO, 0, 3, S8, OFF(latSign), SIGN, {.codes = SIGN_CODES}},
    /* 63 */ {57634, NUM, 0, 180, U16, OFF(latDeg), NO_CHOICES},
    /* 64 */ {57635, NUM, 0, 59, U16, OFF(latMin), NO_CHOICES},
    /* 65 */ {57636, NUM, 0, 59, U16, OFF(latSec), NO_CHOICES},
    /* 66 */ {57637, NUM2, 0, 999, U16, OFF(latFSec), NO_CHOICES},
    /* 67 */ {57638, NUM, INT_MIN, INT_MAX, S32, OFF(mslAltitude), NO_CHOICES},
    /* 68 */ {57664, CHO, 0, 2, U8, OFF(optionA), OPTA},
    /* 69 */ {57672, CHO, 0, 6, U8, OFF(optionB), PLACEHOLDER},
    /* 70 */ {57673, CHO, 0, 1, U8, OFF(option4), PLACEHOLDER},
    /* 71 */ {57674, BIT, 0, 17, U8, OFF(option16), PLACEHOLDER},
    /* 72 */ {57676, CHO, 0, 1, U8, OFF(option18), PLACEHOLDER},
    /* 73 */ {57675, BIT, 0, 17, U8, OFF(option24), PLACEHOLDER},
    /* 74 */ {57666, CHO, 0, 8, U8, OFF(optBroadcastSelect), BCAST},
    /* 75 */ {57667, CHO, 0, 1, U8, OFF(optBroadcastTimeSelect), TIMESEL},
    /* 76 */ {57668, CHO, 0, 5, U8, ANALOG + 0, PLACEHOLDER},
    /* 77 */ {57669, BIT, 0, 255, U8, ANALOG + 1, PLACEHOLDER},
    /* 78 */ {57670, CHO, 0, 4, U8, ANALOG + 2, PLACEHOLDER},
    /* 79 */ {57671, CHO, 0, 2, U8, ANALOG + 3, PLACEHOLDER},
    /* 80 */ {57668, CHO, 0, 5, U8, ANALOG + 4, PLACEHOLDER},
    /* 81 */ {57669, BIT, 0, 255, U8, ANALOG + 5, PLACEHOLDER},
    /* 82 */ {57670, CHO, 0, 4, U8, ANALOG + 6, PLACEHOLDER},
    /* 83 */ {57671, CHO, 0, 2, U8, ANALOG + 7, PLACEHOLDER},
    /* 84 */ {57668, CHO, 0, 5, U8, ANALOG + 8, PLACEHOLDER},
    /* 85 */ {57669, BIT, 0, 255, U8, ANALOG + 9, PLACEHOLDER},
    /* 86 */ {57670, CHO, 0, 4, U8, ANALOG + 10, PLACEHOLDER},
    /* 87 */ {57671, CHO, 0, 2, U8, ANALOG + 11, PLACEHOLDER},
    /* 88 */ {57677, NUM, 0, 255, U8, OFF(option23a), NO_CHOICES},
    /* 89 */ {57678, NUM, 0, 255, U8, OFF(option23b), NO_CHOICES},
};
#undef OFF

// The setup tree's branches.
constexpr int GROUP_MAIN[] = {3, 4, 5, 6};
constexpr int GROUP_OPTION_COMM[] = {7, 8, 9, 10};
constexpr int GROUP_DST[] = {14, 15, 16};
constexpr int GROUP_MISC[] = {11, 12, 13, 17, 18, 20, 23, 24, 25, 28};
constexpr int GROUP_MARK[] = {30, 31, 32, 33, 34, 35};
constexpr int GROUP_PULSE[] = {36, 37, 38};
constexpr int GROUP_SURVEY[] = {39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53,
                                54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64, 65, 66, 67};
constexpr int GROUP_OPTION[] = {68, 74, 75};

struct TGroup {
    unsigned name;
    std::span<const int> items;
};
constexpr TGroup GROUPS[GROUP_COUNT] = {
    {198, GROUP_MAIN},  {199, GROUP_OPTION_COMM}, {221, GROUP_DST},      {219, GROUP_MISC},
    {57608, GROUP_MARK}, {57612, GROUP_PULSE},    {57639, GROUP_SURVEY}, {57679, GROUP_OPTION},
};

constexpr bool IsBitType(int type) { return type >= 0 && type <= 7; }

constexpr int StorageSize(int type) {
    if (IsBitType(type) || type == VALUE_U8 || type == VALUE_S8) return 1;
    if (type == VALUE_U16 || type == VALUE_S16) return 2;
    if (type == VALUE_U32 || type == VALUE_S32) return 4;
    return 0;
}

// Every accepted value must fit its field, and every field must lie inside
// the record: checked once, at compile time.
constexpr bool TableIsSound() {
    for (int i = 1; i < ITEM_COUNT; ++i) {
        const TItemRow& r = ITEMS[i];
        const int size = StorageSize(r.type);
        if (size == 0 || r.offset < 0 || r.offset + size > int(CLOCK_CONFIG_SIZE)) return false;
        if (r.min > r.max) return false;
        long long lo = 0, hi = 0;
        switch (r.type) {
            case VALUE_U8: lo = 0; hi = 255; break;
            case VALUE_S8: lo = -128; hi = 127; break;
            case VALUE_U16: lo = 0; hi = 65535; break;
            case VALUE_S16: lo = -32768; hi = 32767; break;
            case VALUE_U32: lo = 0; hi = INT_MAX; break;
            case VALUE_S32: lo = INT_MIN; hi = INT_MAX; break;
            default: lo = 0; hi = 1; break;  // one bit
        }
        if (r.min < lo || r.max > hi) return false;
        // Codes, one per choice, must fit the field's byte.
        const TItemQuirks& q = r.quirks;
        if (!q.codes.empty() && (q.codes.size() != r.choices.size() || size != 1)) return false;
        if (q.otherChoice >= int(q.codes.size())) return false;
    }
    return ITEMS[0].type == VALUE_NONE && ITEMS[0].offset == -1;
}
static_assert(TableIsSound(), "a setup item's storage does not fit the record");

const TItemRow* Row(int item) {
    if (item < 0 || item >= ITEM_COUNT) return nullptr;
    return &ITEMS[item];
}

// A row that addresses a field (every row but the placeholder).
const TItemRow* ValueRow(int item) {
    const TItemRow* r = Row(item);
    return (r && r->offset >= 0 && StorageSize(r->type) > 0) ? r : nullptr;
}

// An item whose list holds only the placeholder is edited as a number.
bool HasRealChoices(const TItemRow& r) {
    for (unsigned id : r.choices)
        if (id != PLACEHOLDER_STRING_ID) return true;
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
    text = FormatString(GetString(RANGE_ERROR_ID).c_str(), r->min, r->max);
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
        return LoadString(UNEXPECTED_VALUE_ID, text);
    return LoadString(r->choices[static_cast<std::size_t>(index)], text);
}

bool GetChoiceList(int item, std::vector<std::string>& list) {
    const TItemRow* r = Row(item);
    if (!r) return false;
    // Gather first: a missing text must not leave a list whose positions
    // no longer match the choice indexes.
    std::vector<std::string> texts;
    for (unsigned id : r->choices) {
        if (id == PLACEHOLDER_STRING_ID) continue;
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
    for (const TGroup& g : GROUPS) {
        std::string s;
        if (!LoadString(g.name, s)) return false;
        texts.push_back(std::move(s));
    }
    names.insert(names.end(), texts.begin(), texts.end());
    return !texts.empty();
}

bool GetGroupItems(int group, std::vector<std::string>& labels, std::vector<int>& items) {
    if (group < 0 || group >= GROUP_COUNT) return false;
    std::vector<std::string> texts;
    for (int item : GROUPS[group].items) {
        std::string s;
        if (!GetItemLabel(item, s)) return false;
        texts.push_back(std::move(s));
    }
    if (texts.empty()) return false;
    labels.insert(labels.end(), texts.begin(), texts.end());
    items.insert(items.end(), GROUPS[group].items.begin(), GROUPS[group].items.end());
    return true;
}
