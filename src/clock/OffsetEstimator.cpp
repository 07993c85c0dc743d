#include "OffsetEstimator.h"

#include <algorithm>
#include <cmath>

bool COffsetEstimator::Add(const TOffsetPoll& poll) {
    if (!std::isfinite(poll.takenEarliest) || !std::isfinite(poll.takenLatest) || !std::isfinite(poll.clockSecond) ||
        poll.takenLatest < poll.takenEarliest)
        return false;
    // Polls come in host order; one from before the newest (a host clock
    // stepped back) makes the older ones meaningless.
    if (!m_polls.empty() && poll.takenEarliest < m_polls.back().takenEarliest) m_polls.clear();
    m_polls.push_back(poll);
    while (m_polls.size() > kMaxPolls || poll.takenEarliest - m_polls.front().takenEarliest > kMaxAgeSeconds)
        m_polls.pop_front();
    Recompute();
    return true;
}

void COffsetEstimator::Clear() {
    m_polls.clear();
    m_low = m_high = 0;
}

void COffsetEstimator::Recompute() {
    const double now = m_polls.back().takenLatest;
    double low = -INFINITY, high = INFINITY;
    // From the newest back, while the windows still overlap.
    std::size_t kept = 0;
    for (auto it = m_polls.rbegin(); it != m_polls.rend(); ++it, ++kept) {
        const double slack = m_driftPpm * 1e-6 * (now - it->takenEarliest);
        const double pollLow = it->clockSecond - it->takenLatest - slack;
        const double pollHigh = it->clockSecond + 1 - it->takenEarliest + slack;
        const double newLow = std::max(low, pollLow), newHigh = std::min(high, pollHigh);
        if (newLow > newHigh) break;
        low = newLow;
        high = newHigh;
    }
    m_polls.erase(m_polls.begin(), m_polls.end() - static_cast<std::ptrdiff_t>(kept));
    m_low = low;
    m_high = high;
}

double COffsetEstimator::NextTakeAt(double notBefore) const {
    if (m_polls.empty()) return notBefore;
    // The first polls of a window each put a second boundary at the estimate,
    // halving it, as many as it takes to narrow a second to a poll's own
    // width. From then on every other one puts it at points spread over the
    // whole second (golden-ratio steps): they cut nothing while the clock
    // keeps its offset, but a clock set meanwhile soon answers outside the
    // window, which then starts afresh.
    const TOffsetPoll& newest = m_polls.back();
    const double width = std::max(newest.takenLatest - newest.takenEarliest, 1e-3);
    const std::size_t halvings = static_cast<std::size_t>(std::ceil(std::log2(1.0 / width))) + 1;
    double aim = Offset();
    if (m_polls.size() > halvings && m_polls.size() % 2 == 0)
        aim += std::fmod(static_cast<double>(m_polls.size()) * 0.6180339887498949, 1.0);
    return std::ceil(notBefore + aim) - aim;
}
