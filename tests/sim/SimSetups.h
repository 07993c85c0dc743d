// Setups the transfer tests send through the simulated clock's line.
#pragma once

#include <cstdint>
#include <cstring>

#include "ClockConfig.h"
#include "SimClock.h"

inline bool Same(const TClockConfig& a, const TClockConfig& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A setup unlike the factory one in several places, the last byte included.
inline TClockConfig ChangedSetup() {
    TClockConfig c = CSimClock::MakeFactorySetup();
    c.backLight = 5;
    SetBE16(c.localOffset, static_cast<std::uint16_t>(-120));
    SetBE32(c.cableDelay, 1234567);
    c.option23b = 0x5A;
    return c;
}
