// How far a clock is from the host, to better than the whole seconds it
// tells. It rests on one assumption: the clock answers with the second it is
// in when it takes the command's last byte. A reply S then says the clock's
// time lay in [S, S+1) at some host moment between writing that byte and
// reading its echo, which bounds the offset (clock minus host) to a window a
// second wide plus that moment's spread. Polls taken at other fractions of a
// second cut the window down; the estimate is its middle and the uncertainty
// half its width, so the truth lies within it whenever the assumption holds.
#pragma once

#include <cstddef>
#include <deque>

// One poll, all on the host's time scale in seconds.
struct TOffsetPoll {
    double takenEarliest = 0;  // the command's last byte written
    double takenLatest = 0;    // its echo read: the clock had it by then
    double clockSecond = 0;    // the whole second the clock told
};

class COffsetEstimator {
public:
    // Crystal clocks free-running without their GPS stay within this; older
    // polls are widened by it, so a drifting clock still fits its window.
    static constexpr double kDefaultDriftPpm = 100.0;
    // Polls older than this are let go, so a change the polls happened not
    // to contradict is forgotten within that time.
    static constexpr double kMaxAgeSeconds = 600;
    static constexpr std::size_t kMaxPolls = 4096;

    explicit COffsetEstimator(double driftPpm = kDefaultDriftPpm) : m_driftPpm(driftPpm) {}

    // Learns from a poll; false, learning nothing, for one whose times are
    // not in order or not finite. A poll that contradicts older ones (the
    // clock was set, or drifted beyond the bound) starts the window afresh
    // from the newest polls that agree.
    bool Add(const TOffsetPoll& poll);
    void Clear();

    bool HasEstimate() const { return !m_polls.empty(); }
    // The clock's time minus the host's at the newest poll, in seconds.
    double Offset() const { return (m_low + m_high) / 2; }
    // The truth lies within Offset() plus or minus this.
    double Uncertainty() const { return (m_high - m_low) / 2; }
    // The polls the window rests on.
    std::size_t Polls() const { return m_polls.size(); }

    // When (host time, not before notBefore) the clock should take the next
    // command: where the estimate puts a second boundary, so that the reply
    // halves the window whichever side the truth is on; once the window is
    // as narrow as a poll's, every other poll elsewhere in the second.
    double NextTakeAt(double notBefore) const;

private:
    void Recompute();

    double m_driftPpm;
    std::deque<TOffsetPoll> m_polls;
    double m_low = 0;
    double m_high = 0;
};
