// The simulated clock's two memories, its EEPROM and its active setup, and
// the baud rate its main port runs at, which the stored setup gives when the
// clock starts or is reset. Safe to use from any thread.
#pragma once

#include <cstdint>
#include <mutex>

#include "ClockConfig.h"

class CSimMemories {
public:
    // Both memories start with the factory setup.
    CSimMemories();

    // A plausible setup as a clock leaves the factory.
    static TClockConfig MakeFactorySetup();
    // The main port's rate the setup gives, from the clock's own list of
    // rates; 0 for a rate byte outside it.
    static std::uint32_t RateOf(const TClockConfig& config);

    TClockConfig GetEeprom() const;
    // The clock then runs at the rate config gives, as if switched on with it.
    void SetEeprom(const TClockConfig& config);
    TClockConfig GetActive() const;
    void SetActive(const TClockConfig& config);
    // The rate as the setup gave it when the clock last started or was reset.
    std::uint32_t OwnRate() const;

    // The stored setup into active memory.
    void LoadStored();
    // A restart: the stored setup into active memory, and its rate.
    void Restart();
    // The active setup into EEPROM; returns what was stored.
    TClockConfig Store();

private:
    mutable std::mutex m_mutex;
    TClockConfig m_eeprom;
    TClockConfig m_active;
    std::uint32_t m_ownRate = 0;
};
