// The simulated clock's own UTC time, kept exactly as the system clock plus
// an offset that grows at the drift rate. Safe to use from any thread.
#pragma once

#include <ctime>
#include <mutex>

class CSimClockTime {
public:
    // The whole second the clock is in.
    std::time_t GetClockTime() const;
    // The whole second the clock was in at host time hostSeconds; a clock
    // set later than that reads from the moment it was set.
    std::time_t ClockTimeAt(double hostSeconds) const;
    // The system clock now, in seconds since the epoch.
    static double HostNow();
    // Sets the clock to utc exactly, now; the drift goes on.
    void SetClockTime(std::time_t utc);
    // The clock's time minus the system clock's from now on, in seconds
    // (positive: the clock is ahead).
    void SetTimeOffset(double seconds);
    // How fast the clock gains on the system clock, in millionths (negative:
    // it loses); the offset reached so far is kept.
    void SetDriftPpm(double ppm);
    // The exact offset at host time (seconds since the epoch on the system
    // clock): what an estimate of it should find.
    double TimeOffsetAt(double hostSeconds) const;

private:
    mutable std::mutex m_mutex;
    double m_offsetAtBase = 0;  // clock minus host at m_baseHost
    double m_baseHost = 0;
    double m_driftPpm = 0;
};
