// Faults the simulated clock can show on its line, so the program's handling
// of a misbehaving clock can be tried without one. All off by default.
#pragma once

#include <cstdint>

struct TSimFaults {
    bool noEcho = false;            // command bytes are not echoed
    bool wrongEcho = false;         // every echo is a different byte
    int dropEchoEvery = 0;          // N > 0: the echo of every Nth command byte is lost
    bool answerQuestion = false;    // every command is refused with '?'
    bool badDigit = false;          // one data digit of the sent records is changed
    bool oldRom = false;            // "v" gives the old ROM date whose checksums are unreliable
    int replyDelayMs = 0;           // pause before each reply (echoes are not delayed)
    bool differAfterWrite = false;  // one byte of active memory changes after records are taken
    bool lineNoise = false;         // stray bytes before replies and between records
    std::uint32_t noiseSeed = 1;    // the noise is repeatable for a given seed
    bool realisticPace = false;     // characters leave at the line's baud rate, 10 bits each
    std::uint32_t onlyAtRate = 0;   // N > 0: bytes are heard only while the line is set to N baud
    bool strictRate = false;        // bytes are heard only at the clock's own rate (see CSimClock::OwnRate)
};
