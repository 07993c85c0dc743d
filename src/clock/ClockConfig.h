// The clock's 130-byte configuration record: the clock's memory image, the
// payload of the hex records on the line and the body of a setup file.
// Multi-byte fields are big-endian byte arrays; use the accessors below.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct TAnalogChannel {
    std::uint8_t signal;
    std::uint8_t range;
    std::uint8_t rate;
    std::uint8_t calFac;
};

struct TClockConfig {
    std::uint8_t model;                   // 0x00
    std::uint8_t external;                // 0x01
    std::uint8_t mainBaud;                // 0x02
    std::uint8_t mainDataBits;            // 0x03
    std::uint8_t mainStopBits;            // 0x04
    std::uint8_t mainParity;              // 0x05
    std::uint8_t optionBaud;              // 0x06
    std::uint8_t optionDataBits;          // 0x07
    std::uint8_t optionStopBits;          // 0x08
    std::uint8_t optionParity;            // 0x09
    std::uint8_t backLight;               // 0x0A
    std::uint8_t keyLock;                 // 0x0B
    std::uint8_t localOffset[2];          // 0x0C s16
    std::uint8_t daySaving;               // 0x0E
    std::uint8_t dstMinutes;              // 0x0F
    std::uint8_t dstHours;                // 0x10
    std::uint8_t lockTime[2];             // 0x11 u16
    std::uint8_t cableDelay[4];           // 0x13 u32
    std::uint8_t systemDelay[4];          // 0x17 u32
    std::uint8_t chATimeSelect;           // 0x1B
    std::uint8_t chBTimeSelect;           // 0x1C
    std::uint8_t chCTimeSelect;           // 0x1D
    std::uint8_t irigTimeSelect;          // 0x1E bits
    std::uint8_t chASelect;               // 0x1F
    std::uint8_t chBSelect;               // 0x20
    std::uint8_t recorderSelect;          // 0x21
    std::uint8_t broadcastSelect;         // 0x22
    std::uint8_t broadcastTimeSelect;     // 0x23
    std::uint8_t markTimeType;            // 0x24
    std::uint8_t markFSeconds;            // 0x25
    std::uint8_t markSeconds;             // 0x26
    std::uint8_t markMinutes;             // 0x27
    std::uint8_t markHours;               // 0x28
    std::uint8_t markDay[2];              // 0x29 u16
    std::uint8_t pulseMode;               // 0x2B
    std::uint8_t secondsPerPulse[2];      // 0x2C u16
    std::uint8_t pulseWidth[2];           // 0x2E u16
    std::uint8_t positionHold;            // 0x30 bits
    std::uint8_t surveyMode;              // 0x31 bits
    std::uint8_t surveyDuration;          // 0x32
    std::uint8_t fixN[4];                 // 0x33 s32
    std::uint8_t fixCount[4];             // 0x37 s32
    std::uint8_t longitudeSum[4];         // 0x3B s32
    std::uint8_t latitudeSum[4];          // 0x3F s32
    std::uint8_t altitudeSum[4];          // 0x43 s32
    std::uint8_t sTimeYear[2];            // 0x47 u16
    std::uint8_t sTimeDayOfYear[2];       // 0x49 u16
    std::int8_t sTimeHours;               // 0x4B
    std::int8_t sTimeMinutes;             // 0x4C
    std::int8_t sTimeSeconds;             // 0x4D
    std::uint8_t lonMSec[4];              // 0x4E s32
    std::int8_t lonSign;                  // 0x52 'N' 'S' 'E' 'W'
    std::uint8_t lonDeg[2];               // 0x53 u16
    std::uint8_t lonMin[2];               // 0x55 u16
    std::uint8_t lonSec[2];               // 0x57 u16
    std::uint8_t lonFSec[2];              // 0x59 u16
    std::uint8_t latMSec[4];              // 0x5B s32
    std::int8_t latSign;                  // 0x5F
    std::uint8_t latDeg[2];               // 0x60 u16
    std::uint8_t latMin[2];               // 0x62 u16
    std::uint8_t latSec[2];               // 0x64 u16
    std::uint8_t latFSec[2];              // 0x66 u16
    std::uint8_t mslAltitude[4];          // 0x68 s32
    std::uint8_t optionA;                 // 0x6C
    std::uint8_t optionB;                 // 0x6D
    std::uint8_t option4;                 // 0x6E
    std::uint8_t option16;                // 0x6F
    std::uint8_t option18;                // 0x70
    std::uint8_t option24;                // 0x71
    std::uint8_t optBroadcastSelect;      // 0x72
    std::uint8_t optBroadcastTimeSelect;  // 0x73
    TAnalogChannel analog[3];             // 0x74
    std::uint8_t option23a;               // 0x80
    std::uint8_t option23b;               // 0x81
};
#pragma pack(pop)

constexpr std::size_t CLOCK_CONFIG_SIZE = 130;
static_assert(sizeof(TClockConfig) == CLOCK_CONFIG_SIZE, "the record is a wire and file format");
static_assert(sizeof(TAnalogChannel) == 4);

#define TARVEL_CHECK_OFFSET(field, off) \
    static_assert(offsetof(TClockConfig, field) == (off), #field " moved")
TARVEL_CHECK_OFFSET(model, 0x00);
TARVEL_CHECK_OFFSET(external, 0x01);
TARVEL_CHECK_OFFSET(mainBaud, 0x02);
TARVEL_CHECK_OFFSET(mainDataBits, 0x03);
TARVEL_CHECK_OFFSET(mainStopBits, 0x04);
TARVEL_CHECK_OFFSET(mainParity, 0x05);
TARVEL_CHECK_OFFSET(optionBaud, 0x06);
TARVEL_CHECK_OFFSET(optionDataBits, 0x07);
TARVEL_CHECK_OFFSET(optionStopBits, 0x08);
TARVEL_CHECK_OFFSET(optionParity, 0x09);
TARVEL_CHECK_OFFSET(backLight, 0x0A);
TARVEL_CHECK_OFFSET(keyLock, 0x0B);
TARVEL_CHECK_OFFSET(localOffset, 0x0C);
TARVEL_CHECK_OFFSET(daySaving, 0x0E);
TARVEL_CHECK_OFFSET(dstMinutes, 0x0F);
TARVEL_CHECK_OFFSET(dstHours, 0x10);
TARVEL_CHECK_OFFSET(lockTime, 0x11);
TARVEL_CHECK_OFFSET(cableDelay, 0x13);
TARVEL_CHECK_OFFSET(systemDelay, 0x17);
TARVEL_CHECK_OFFSET(chATimeSelect, 0x1B);
TARVEL_CHECK_OFFSET(chBTimeSelect, 0x1C);
TARVEL_CHECK_OFFSET(chCTimeSelect, 0x1D);
TARVEL_CHECK_OFFSET(irigTimeSelect, 0x1E);
TARVEL_CHECK_OFFSET(chASelect, 0x1F);
TARVEL_CHECK_OFFSET(chBSelect, 0x20);
TARVEL_CHECK_OFFSET(recorderSelect, 0x21);
TARVEL_CHECK_OFFSET(broadcastSelect, 0x22);
TARVEL_CHECK_OFFSET(broadcastTimeSelect, 0x23);
TARVEL_CHECK_OFFSET(markTimeType, 0x24);
TARVEL_CHECK_OFFSET(markFSeconds, 0x25);
TARVEL_CHECK_OFFSET(markSeconds, 0x26);
TARVEL_CHECK_OFFSET(markMinutes, 0x27);
TARVEL_CHECK_OFFSET(markHours, 0x28);
TARVEL_CHECK_OFFSET(markDay, 0x29);
TARVEL_CHECK_OFFSET(pulseMode, 0x2B);
TARVEL_CHECK_OFFSET(secondsPerPulse, 0x2C);
TARVEL_CHECK_OFFSET(pulseWidth, 0x2E);
TARVEL_CHECK_OFFSET(positionHold, 0x30);
TARVEL_CHECK_OFFSET(surveyMode, 0x31);
TARVEL_CHECK_OFFSET(surveyDuration, 0x32);
TARVEL_CHECK_OFFSET(fixN, 0x33);
TARVEL_CHECK_OFFSET(fixCount, 0x37);
TARVEL_CHECK_OFFSET(longitudeSum, 0x3B);
TARVEL_CHECK_OFFSET(latitudeSum, 0x3F);
TARVEL_CHECK_OFFSET(altitudeSum, 0x43);
TARVEL_CHECK_OFFSET(sTimeYear, 0x47);
TARVEL_CHECK_OFFSET(sTimeDayOfYear, 0x49);
TARVEL_CHECK_OFFSET(sTimeHours, 0x4B);
TARVEL_CHECK_OFFSET(sTimeMinutes, 0x4C);
TARVEL_CHECK_OFFSET(sTimeSeconds, 0x4D);
TARVEL_CHECK_OFFSET(lonMSec, 0x4E);
TARVEL_CHECK_OFFSET(lonSign, 0x52);
TARVEL_CHECK_OFFSET(lonDeg, 0x53);
TARVEL_CHECK_OFFSET(lonMin, 0x55);
TARVEL_CHECK_OFFSET(lonSec, 0x57);
TARVEL_CHECK_OFFSET(lonFSec, 0x59);
TARVEL_CHECK_OFFSET(latMSec, 0x5B);
TARVEL_CHECK_OFFSET(latSign, 0x5F);
TARVEL_CHECK_OFFSET(latDeg, 0x60);
TARVEL_CHECK_OFFSET(latMin, 0x62);
TARVEL_CHECK_OFFSET(latSec, 0x64);
TARVEL_CHECK_OFFSET(latFSec, 0x66);
TARVEL_CHECK_OFFSET(mslAltitude, 0x68);
TARVEL_CHECK_OFFSET(optionA, 0x6C);
TARVEL_CHECK_OFFSET(optionB, 0x6D);
TARVEL_CHECK_OFFSET(option4, 0x6E);
TARVEL_CHECK_OFFSET(option16, 0x6F);
TARVEL_CHECK_OFFSET(option18, 0x70);
TARVEL_CHECK_OFFSET(option24, 0x71);
TARVEL_CHECK_OFFSET(optBroadcastSelect, 0x72);
TARVEL_CHECK_OFFSET(optBroadcastTimeSelect, 0x73);
TARVEL_CHECK_OFFSET(analog, 0x74);
TARVEL_CHECK_OFFSET(option23a, 0x80);
TARVEL_CHECK_OFFSET(option23b, 0x81);
#undef TARVEL_CHECK_OFFSET

// The record as raw bytes, for whole-record copies, the codec and files.
inline std::uint8_t* ConfigBytes(TClockConfig& c) { return reinterpret_cast<std::uint8_t*>(&c); }
inline const std::uint8_t* ConfigBytes(const TClockConfig& c) {
    return reinterpret_cast<const std::uint8_t*>(&c);
}

// Big-endian field access; p points at the field's first byte.
inline std::uint16_t GetBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t GetBE32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}
inline void SetBE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void SetBE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}
