// The faults the simulated clock shows on its line, switched on at any time:
// what becomes of an echo, the stray bytes of a noisy line, a changed record
// digit, a setup taken with a byte changed. The noise is repeatable: it
// starts again from its seed whenever the faults are set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "ClockConfig.h"
#include "SimFaults.h"

class CSimFaultInjector {
public:
    // A record of the hex text: ':', 21 pairs of digits, CR LF; the last is shorter.
    static constexpr std::size_t RECORD_LENGTH = 45;

    CSimFaultInjector() : m_noise(1) {}

    TSimFaults Get() const;
    // Takes effect from the next received byte; restarts the noise sequence.
    void Set(const TSimFaults& faults);

    // The faults for the bytes now received. "Every Nth byte" counts from
    // the moment the faults were set, and from a fresh line (ResetLine).
    TSimFaults ForInput();
    void ResetLine();
    // The echo of a command byte; none when the faults lose it.
    std::optional<char> Echo(char c, const TSimFaults& faults);

    // A reply as a noisy line carries it: stray bytes may come first.
    std::string Reply(const std::string& text, const TSimFaults& faults);
    // The records as the faulty clock sends them: a data digit changed,
    // stray bytes between records.
    std::string Records(std::string text, const TSimFaults& faults);
    // A setup the clock took, as it then holds it.
    void Taken(TClockConfig& received, const TSimFaults& faults) const;

private:
    std::string NoiseLocked();  // m_mutex held

    mutable std::mutex m_mutex;
    TSimFaults m_faults;
    std::uint64_t m_generation = 0;      // counts Set calls
    std::uint64_t m_seenGeneration = 0;  // as ForInput last saw it
    std::uint64_t m_commandBytes = 0;    // since the faults were set or the line was fresh
    std::mt19937 m_noise;
};
