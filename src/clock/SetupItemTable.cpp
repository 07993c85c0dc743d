#include "SetupItemTable.h"

#include <climits>
#include <cstddef>

#include "Resource.h"
#include "SetupStrings.h"

namespace {

// Choice lists: string ids in index order.
constexpr unsigned MODEL[] = {IDS_MODEL_A, IDS_MODEL_B, IDS_MODEL_C};
constexpr unsigned EXTINT[] = {IDS_EXTINT_EXTERNAL, IDS_EXTINT_INTERNAL};
constexpr unsigned BAUD[] = {IDS_BAUD_1200, IDS_BAUD_2400, IDS_BAUD_4800, IDS_BAUD_9600,
                             IDS_BAUD_19200};
constexpr unsigned DATA[] = {IDS_DATA_7, IDS_DATA_8};
constexpr unsigned STOP[] = {IDS_STOP_1, IDS_STOP_2};
constexpr unsigned PARITY[] = {IDS_PARITY_NONE, IDS_PARITY_EVEN, IDS_PARITY_ODD};
constexpr unsigned BACKLIGHT[] = {IDS_BACKLIGHT_OFF, IDS_BACKLIGHT_AUTO, IDS_BACKLIGHT_ON};
constexpr unsigned KEYLOCK[] = {IDS_KEYLOCK_UNLOCKED, IDS_KEYLOCK_LOCKED, IDS_KEYLOCK_STATUS};
constexpr unsigned DST[] = {IDS_DST_OFF, IDS_DST_ON, IDS_DST_AUTO};
constexpr unsigned TIMESEL[] = {IDS_TIMESEL_UTC, IDS_TIMESEL_LOCAL};
constexpr unsigned IRIGMODE[] = {IDS_IRIGMODE_UTC, IDS_IRIGMODE_LOCAL};
constexpr unsigned P1344[] = {IDS_P1344_OFF, IDS_P1344_ON};
constexpr unsigned CHSEL[] = {IDS_CHSEL_DEVIATION, IDS_CHSEL_EVENT_TIMER};
constexpr unsigned RECSEL[] = {IDS_RECSEL_A, IDS_RECSEL_B};
constexpr unsigned BCAST[] = {IDS_BCAST_OFF, IDS_BCAST_ASCII, IDS_BCAST_VORNE, IDS_BCAST_EVENT,
                              IDS_BCAST_STATUS, IDS_BCAST_EXT_ASCII, IDS_BCAST_ASCII_Q1,
                              IDS_BCAST_OPTION16_PPS, IDS_BCAST_OPTION16_10PPS};
constexpr unsigned PULSE[] = {IDS_PULSE_SECONDS, IDS_PULSE_MINUTES, IDS_PULSE_DAILY,
                              IDS_PULSE_SINGLE};
constexpr unsigned POSHOLD[] = {IDS_POSHOLD_ENABLE, IDS_POSHOLD_ACTIVE};
constexpr unsigned POSITION[] = {IDS_POSITION_USER, IDS_POSITION_SURVEY};
constexpr unsigned ONOFF[] = {IDS_ONOFF_OFF, IDS_ONOFF_ON};
constexpr unsigned DURATION[] = {IDS_DURATION_1S, IDS_DURATION_1MIN, IDS_DURATION_5MIN,
                                 IDS_DURATION_15MIN, IDS_DURATION_30MIN, IDS_DURATION_1H,
                                 IDS_DURATION_2H, IDS_DURATION_4H, IDS_DURATION_8H,
                                 IDS_DURATION_12H, IDS_DURATION_24H};
constexpr unsigned SIGN[] = {IDS_SIGN_NORTH, IDS_SIGN_SOUTH, IDS_SIGN_EAST, IDS_SIGN_WEST};
constexpr unsigned OPTA[] = {IDS_OPTA_NONE, IDS_OPTA_19};
constexpr unsigned PLACEHOLDER[] = {IDS_PLACEHOLDER};

// Stored bytes per choice, where a choice is not stored as its index.
constexpr std::uint8_t BACKLIGHT_CODES[] = {0, 30, 255};
constexpr std::uint8_t SIGN_CODES[] = {'N', 'S', 'E', 'W'};

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
    /*  0 */ {IDS_PLACEHOLDER, ITEM_KIND_NONE, 0, 0, NONE, -1, NO_CHOICES},
    /*  1 */ {IDS_ITEM_MODEL, CHO, 65, 67, U8, OFF(model), MODEL, {.choiceBase = 'A'}},
    /*  2 */ {IDS_ITEM_EXTERNAL, CHO, 0, 1, U8, OFF(external), EXTINT},
    /*  3 */ {IDS_ITEM_BAUD_RATE, CHO, 0, 4, U8, OFF(mainBaud), BAUD},
    /*  4 */ {IDS_ITEM_WORD_LENGTH, CHO, 0, 1, U8, OFF(mainDataBits), DATA},
    /*  5 */ {IDS_ITEM_STOP_BITS, CHO, 0, 1, U8, OFF(mainStopBits), STOP},
    /*  6 */ {IDS_ITEM_PARITY, CHO, 0, 2, U8, OFF(mainParity), PARITY},
    /*  7 */ {IDS_ITEM_BAUD_RATE, CHO, 0, 4, U8, OFF(optionBaud), BAUD},
    /*  8 */ {IDS_ITEM_WORD_LENGTH, CHO, 0, 1, U8, OFF(optionDataBits), DATA},
    /*  9 */ {IDS_ITEM_STOP_BITS, CHO, 0, 1, U8, OFF(optionStopBits), STOP},
    /* 10 */ {IDS_ITEM_PARITY, CHO, 0, 2, U8, OFF(optionParity), PARITY},
    /* 11 */ {IDS_ITEM_BACK_LIGHT, CHO, 0, 255, U8, OFF(backLight), BACKLIGHT, {.codes = BACKLIGHT_CODES, .otherChoice = 1}},
    /* 12 */ {IDS_ITEM_KEY_LOCK, CHO, 0, 2, U8, OFF(keyLock), KEYLOCK},
    /* 13 */ {IDS_ITEM_LOCAL_OFFSET, NUM, -720, 720, S16, OFF(localOffset), NO_CHOICES, {.storedMultipleOf = 30}},
    /* 14 */ {IDS_ITEM_DAYLIGHT_SAVINGS, CHO, 0, 2, U8, OFF(daySaving), DST},
    /* 15 */ {IDS_ITEM_CHANGE_OVER_MINUTES, NUM, 0, 59, U8, OFF(dstMinutes), NO_CHOICES},
    /* 16 */ {IDS_ITEM_CHANGE_OVER_HOURS, NUM, 0, 23, U8, OFF(dstHours), NO_CHOICES},
    /* 17 */ {IDS_ITEM_LOCK_TIME, NUM, 0, 5940, S16, OFF(lockTime), NO_CHOICES, {.multipleOf = 60, .alsoTakes = 1}},
    /* 18 */ {IDS_ITEM_CABLE_DELAY, NUM, 0, 999, U32, OFF(cableDelay), NO_CHOICES},
    /* 19 */ {IDS_ITEM_SYSTEM_DELAY, NUM, 0, 999, U32, OFF(systemDelay), NO_CHOICES},
    /* 20 */ {IDS_ITEM_CH_A_TIME_SELECT, CHO, 0, 1, U8, OFF(chATimeSelect), TIMESEL},
    /* 21 */ {IDS_ITEM_CH_B_TIME_SELECT, CHO, 0, 1, U8, OFF(chBTimeSelect), TIMESEL},
    /* 22 */ {IDS_ITEM_CH_C_TIME_SELECT, CHO, 0, 1, U8, OFF(chCTimeSelect), TIMESEL},
    /* 23 */ {IDS_ITEM_IRIG_TIME_MODE, BIT, 0, 1, 0, OFF(irigTimeSelect), IRIGMODE},
    /* 24 */ {IDS_ITEM_P1344, BIT, 0, 1, 1, OFF(irigTimeSelect), P1344},
    /* 25 */ {IDS_ITEM_CH_A_SELECT, CHO, 0, 1, U8, OFF(chASelect), CHSEL},
    /* 26 */ {IDS_ITEM_CH_B_SELECT, CHO, 0, 1, U8, OFF(chBSelect), CHSEL},
    /* 27 */ {IDS_ITEM_RECORDER_SELECT, CHO, 0, 1, U8, OFF(recorderSelect), RECSEL},
    /* 28 */ {IDS_ITEM_BROADCAST_SELECT, CHO, 0, 8, U8, OFF(broadcastSelect), BCAST},
    /* 29 */ {IDS_ITEM_BROADCAST_TIME_SELECT, CHO, 0, 1, U8, OFF(broadcastTimeSelect), TIMESEL},
    /* 30 */ {IDS_ITEM_MARK_TIME_TYPE, CHO, 0, 1, U8, OFF(markTimeType), TIMESEL},
    /* 31 */ {IDS_ITEM_MARK_FLOAT_SECOND, NUM2, 0, 99, U8, OFF(markFSeconds), NO_CHOICES},
    /* 32 */ {IDS_ITEM_MARK_SECOND, NUM, 0, 59, U8, OFF(markSeconds), NO_CHOICES},
    /* 33 */ {IDS_ITEM_MARK_MINUTE, NUM, 0, 59, U8, OFF(markMinutes), NO_CHOICES},
    /* 34 */ {IDS_ITEM_MARK_HOUR, NUM, 0, 23, U8, OFF(markHours), NO_CHOICES},
    /* 35 */ {IDS_ITEM_MARK_DAY, NUM, 0, 366, S16, OFF(markDay), NO_CHOICES},
    /* 36 */ {IDS_ITEM_PULSE_MODE, CHO, 0, 3, U8, OFF(pulseMode), PULSE},
    /* 37 */ {IDS_ITEM_SECONDS_PER_PULSE, NUM, 1, 60000, U16, OFF(secondsPerPulse), NO_CHOICES},
    /* 38 */ {IDS_ITEM_PULSE_WIDTH, NUM2, 1, 60000, U16, OFF(pulseWidth), NO_CHOICES},
    /* 39 */ {IDS_ITEM_POSITION_HOLD, BIT, 0, 1, 0, OFF(positionHold), POSHOLD},
    /* 40 */ {IDS_ITEM_POSITION, BIT, 0, 1, 1, OFF(positionHold), POSITION},
    /* 41 */ {IDS_ITEM_SURVEY, BIT, 0, 1, 0, OFF(surveyMode), ONOFF},
    /* 42 */ {IDS_ITEM_SURVEY_ON_POWER_ON, BIT, 0, 1, 1, OFF(surveyMode), ONOFF},
    /* 43 */ {IDS_ITEM_SURVEY_SUSPEND, BIT, 0, 1, 2, OFF(surveyMode), ONOFF},
    /* 44 */ {IDS_ITEM_SURVEY_DURATION, CHO, 0, 10, U8, OFF(surveyDuration), DURATION},
    /* 45 */ {IDS_ITEM_FIX_N, NUM, 0, 86400, S32, OFF(fixN), NO_CHOICES},
    /* 46 */ {IDS_ITEM_FIX_COUNT, NUM, 0, INT_MAX, S32, OFF(fixCount), NO_CHOICES},
    /* 47 */ {IDS_ITEM_LONGITUDE_SUM, NUM, INT_MIN, INT_MAX, S32, OFF(longitudeSum), NO_CHOICES},
    /* 48 */ {IDS_ITEM_LATITUDE_SUM, NUM, INT_MIN, INT_MAX, S32, OFF(latitudeSum), NO_CHOICES},
    /* 49 */ {IDS_ITEM_ALTITUDE_SUM, NUM, INT_MIN, INT_MAX, S32, OFF(altitudeSum), NO_CHOICES},
    /* 50 */ {IDS_ITEM_SURVEY_YEAR, NUM, 0, 65535, U16, OFF(sTimeYear), NO_CHOICES},
    /* 51 */ {IDS_ITEM_SURVEY_DAY_OF_YEAR, NUM, 0, 65535, U16, OFF(sTimeDayOfYear), NO_CHOICES},
    /* 52 */ {IDS_ITEM_SURVEY_HOUR, NUM, 0, 23, S8, OFF(sTimeHours), NO_CHOICES},
    /* 53 */ {IDS_ITEM_SURVEY_MINUTE, NUM, 0, 59, S8, OFF(sTimeMinutes), NO_CHOICES},
    /* 54 */ {IDS_ITEM_SURVEY_SECOND, NUM, 0, 59, S8, OFF(sTimeSeconds), NO_CHOICES},
    /* 55 */ {IDS_ITEM_LONGITUDE_MS, NUM, -648000000, 648000000, S32, OFF(lonMSec), NO_CHOICES},
    /* 56 */ {IDS_ITEM_LONGITUDE_SIGN, CHO, 0, 3, S8, OFF(lonSign), SIGN, {.codes = SIGN_CODES}},
    /* 57 */ {IDS_ITEM_LONGITUDE_DEGREES, NUM, 0, 180, U16, OFF(lonDeg), NO_CHOICES},
    /* 58 */ {IDS_ITEM_LONGITUDE_MINUTES, NUM, 0, 59, U16, OFF(lonMin), NO_CHOICES},
    /* 59 */ {IDS_ITEM_LONGITUDE_SECONDS, NUM, 0, 59, U16, OFF(lonSec), NO_CHOICES},
    /* 60 */ {IDS_ITEM_LONGITUDE_FLOAT_SECONDS, NUM2, 0, 999, U16, OFF(lonFSec), NO_CHOICES},
    /* 61 */ {IDS_ITEM_LATITUDE_MS, NUM, -648000000, 648000000, S32, OFF(latMSec), NO_CHOICES},
    /* 62 */ {IDS_ITEM_LATITUDE_SIGN, CHO, 0, 3, S8, OFF(latSign), SIGN, {.codes = SIGN_CODES}},
    /* 63 */ {IDS_ITEM_LATITUDE_DEGREES, NUM, 0, 180, U16, OFF(latDeg), NO_CHOICES},
    /* 64 */ {IDS_ITEM_LATITUDE_MINUTES, NUM, 0, 59, U16, OFF(latMin), NO_CHOICES},
    /* 65 */ {IDS_ITEM_LATITUDE_SECONDS, NUM, 0, 59, U16, OFF(latSec), NO_CHOICES},
    /* 66 */ {IDS_ITEM_LATITUDE_FLOAT_SECONDS, NUM2, 0, 999, U16, OFF(latFSec), NO_CHOICES},
    /* 67 */ {IDS_ITEM_MSL_ALTITUDE, NUM, INT_MIN, INT_MAX, S32, OFF(mslAltitude), NO_CHOICES},
    /* 68 */ {IDS_ITEM_OPTION_A, CHO, 0, 2, U8, OFF(optionA), OPTA},
    /* 69 */ {IDS_ITEM_OPTION_B, CHO, 0, 6, U8, OFF(optionB), PLACEHOLDER},
    /* 70 */ {IDS_ITEM_OPTION_4, CHO, 0, 1, U8, OFF(option4), PLACEHOLDER},
    /* 71 */ {IDS_ITEM_OPTION_16, BIT, 0, 17, U8, OFF(option16), PLACEHOLDER},
    /* 72 */ {IDS_ITEM_OPTION_18, CHO, 0, 1, U8, OFF(option18), PLACEHOLDER},
    /* 73 */ {IDS_ITEM_OPTION_24, BIT, 0, 17, U8, OFF(option24), PLACEHOLDER},
    /* 74 */ {IDS_ITEM_OPT_BROADCAST_SELECT, CHO, 0, 8, U8, OFF(optBroadcastSelect), BCAST},
    /* 75 */ {IDS_ITEM_OPT_BROADCAST_TIME_SELECT, CHO, 0, 1, U8, OFF(optBroadcastTimeSelect), TIMESEL},
    /* 76 */ {IDS_ITEM_ANALOG_SIGNAL, CHO, 0, 5, U8, ANALOG + 0, PLACEHOLDER},
    /* 77 */ {IDS_ITEM_ANALOG_RANGE, BIT, 0, 255, U8, ANALOG + 1, PLACEHOLDER},
    /* 78 */ {IDS_ITEM_ANALOG_RATE, CHO, 0, 4, U8, ANALOG + 2, PLACEHOLDER},
    /* 79 */ {IDS_ITEM_ANALOG_CAL_FAC, CHO, 0, 2, U8, ANALOG + 3, PLACEHOLDER},
    /* 80 */ {IDS_ITEM_ANALOG_SIGNAL, CHO, 0, 5, U8, ANALOG + 4, PLACEHOLDER},
    /* 81 */ {IDS_ITEM_ANALOG_RANGE, BIT, 0, 255, U8, ANALOG + 5, PLACEHOLDER},
    /* 82 */ {IDS_ITEM_ANALOG_RATE, CHO, 0, 4, U8, ANALOG + 6, PLACEHOLDER},
    /* 83 */ {IDS_ITEM_ANALOG_CAL_FAC, CHO, 0, 2, U8, ANALOG + 7, PLACEHOLDER},
    /* 84 */ {IDS_ITEM_ANALOG_SIGNAL, CHO, 0, 5, U8, ANALOG + 8, PLACEHOLDER},
    /* 85 */ {IDS_ITEM_ANALOG_RANGE, BIT, 0, 255, U8, ANALOG + 9, PLACEHOLDER},
    /* 86 */ {IDS_ITEM_ANALOG_RATE, CHO, 0, 4, U8, ANALOG + 10, PLACEHOLDER},
    /* 87 */ {IDS_ITEM_ANALOG_CAL_FAC, CHO, 0, 2, U8, ANALOG + 11, PLACEHOLDER},
    /* 88 */ {IDS_ITEM_OPTION_23A, NUM, 0, 255, U8, OFF(option23a), NO_CHOICES},
    /* 89 */ {IDS_ITEM_OPTION_23B, NUM, 0, 255, U8, OFF(option23b), NO_CHOICES},
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

constexpr TGroup GROUPS[GROUP_COUNT] = {
    {IDS_GROUP_MAIN_COMM, GROUP_MAIN}, {IDS_GROUP_OPTION_COMM, GROUP_OPTION_COMM},
    {IDS_GROUP_DST, GROUP_DST},        {IDS_GROUP_MISC, GROUP_MISC},
    {IDS_GROUP_MARK, GROUP_MARK},      {IDS_GROUP_PULSE, GROUP_PULSE},
    {IDS_GROUP_SURVEY, GROUP_SURVEY},  {IDS_GROUP_OPTION, GROUP_OPTION},
};

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

}  // namespace

const TItemRow* Row(int item) {
    if (item < 0 || item >= ITEM_COUNT) return nullptr;
    return &ITEMS[item];
}

const TItemRow* ValueRow(int item) {
    const TItemRow* r = Row(item);
    return (r && r->offset >= 0 && StorageSize(r->type) > 0) ? r : nullptr;
}

const TGroup* GroupRow(int group) {
    if (group < 0 || group >= GROUP_COUNT) return nullptr;
    return &GROUPS[group];
}
