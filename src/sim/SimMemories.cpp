#include "SimMemories.h"

#include <array>

#include "HexCodec.h"

namespace {

// The rates the clock's main port can be set to, by the setup's rate byte.
// The clock's own list, on purpose: it plays a peer that must not share the
// program's mistakes, and a test checks that the two agree.
constexpr std::array<std::uint32_t, 5> kMainPortRates = {1200, 2400, 4800, 9600, 19200};

void SetArcPosition(std::uint8_t* msec, std::int8_t& sign, std::uint8_t* deg, std::uint8_t* min,
                    std::uint8_t* sec, std::uint8_t* fsec, char hemisphere, int d, int m, int s,
                    int f) {
    const std::int32_t total = ((d * 60 + m) * 60 + s) * 1000 + f;
    const bool negative = hemisphere == 'W' || hemisphere == 'S';
    SetBE32(msec, static_cast<std::uint32_t>(negative ? -total : total));
    sign = static_cast<std::int8_t>(hemisphere);
    SetBE16(deg, static_cast<std::uint16_t>(d));
    SetBE16(min, static_cast<std::uint16_t>(m));
    SetBE16(sec, static_cast<std::uint16_t>(s));
    SetBE16(fsec, static_cast<std::uint16_t>(f));
}

}  // namespace

CSimMemories::CSimMemories() : m_eeprom(MakeFactorySetup()), m_active(m_eeprom), m_ownRate(RateOf(m_eeprom)) {}

TClockConfig CSimMemories::MakeFactorySetup() {
    TClockConfig c{};
    c.model = 'B';
    c.external = 1;        // internal receiver
    c.mainBaud = 3;        // 9600
    c.mainDataBits = 1;    // 8
    c.mainStopBits = 0;    // 1
    c.mainParity = 0;      // none
    c.optionBaud = 3;
    c.optionDataBits = 1;
    c.optionStopBits = 0;
    c.optionParity = 0;
    c.backLight = 30;      // Auto
    c.keyLock = 0;
    SetBE16(c.localOffset, 0);
    c.daySaving = 0;
    c.dstMinutes = 0;
    c.dstHours = 2;
    SetBE16(c.lockTime, 60);
    SetBE32(c.cableDelay, 50);
    SetBE32(c.systemDelay, 0);
    c.broadcastSelect = 1;  // ASCII
    c.pulseMode = 0;        // Seconds
    SetBE16(c.secondsPerPulse, 1);
    SetBE16(c.pulseWidth, 10);
    c.positionHold = 0x02;  // position from the survey
    c.surveyMode = 0x03;    // survey, and again at power-on
    c.surveyDuration = 5;   // 1 hour
    SetBE32(c.fixN, 3600);
    SetBE32(c.fixCount, 3600);
    SetBE16(c.sTimeYear, 1998);
    SetBE16(c.sTimeDayOfYear, 71);
    c.sTimeHours = 14;
    c.sTimeMinutes = 30;
    c.sTimeSeconds = 0;
    SetArcPosition(c.lonMSec, c.lonSign, c.lonDeg, c.lonMin, c.lonSec, c.lonFSec, 'W', 105, 16, 14,
                   250);
    SetArcPosition(c.latMSec, c.latSign, c.latDeg, c.latMin, c.latSec, c.latFSec, 'N', 40, 0, 54,
                   500);
    SetBE32(c.mslAltitude, 1655);
    c.optBroadcastSelect = 0;
    return c;
}

std::uint32_t CSimMemories::RateOf(const TClockConfig& config) {
    return config.mainBaud < kMainPortRates.size() ? kMainPortRates[config.mainBaud] : 0;
}

TClockConfig CSimMemories::GetEeprom() const {
    std::lock_guard lock(m_mutex);
    return m_eeprom;
}

void CSimMemories::SetEeprom(const TClockConfig& config) {
    std::lock_guard lock(m_mutex);
    m_eeprom = config;
    m_ownRate = RateOf(config);
}

TClockConfig CSimMemories::GetActive() const {
    std::lock_guard lock(m_mutex);
    return m_active;
}

void CSimMemories::SetActive(const TClockConfig& config) {
    std::lock_guard lock(m_mutex);
    m_active = config;
}

std::uint32_t CSimMemories::OwnRate() const {
    std::lock_guard lock(m_mutex);
    return m_ownRate;
}

void CSimMemories::LoadStored() {
    std::lock_guard lock(m_mutex);
    m_active = m_eeprom;
}

void CSimMemories::Restart() {
    std::lock_guard lock(m_mutex);
    m_active = m_eeprom;
    m_ownRate = RateOf(m_eeprom);
}

TClockConfig CSimMemories::Store() {
    std::lock_guard lock(m_mutex);
    m_eeprom = m_active;
    return m_eeprom;
}
