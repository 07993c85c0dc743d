#include "SimClockTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

double SystemSeconds() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

double CSimClockTime::TimeOffsetAt(double hostSeconds) const {
    std::lock_guard lock(m_mutex);
    return m_offsetAtBase + m_driftPpm * 1e-6 * (hostSeconds - m_baseHost);
}

std::time_t CSimClockTime::GetClockTime() const { return ClockTimeAt(SystemSeconds()); }

std::time_t CSimClockTime::ClockTimeAt(double hostSeconds) const {
    {
        std::lock_guard lock(m_mutex);
        hostSeconds = std::max(hostSeconds, m_baseHost);
    }
    return static_cast<std::time_t>(std::floor(hostSeconds + TimeOffsetAt(hostSeconds)));
}

double CSimClockTime::HostNow() { return SystemSeconds(); }

void CSimClockTime::SetClockTime(std::time_t utc) {
    const double host = SystemSeconds();
    std::lock_guard lock(m_mutex);
    m_baseHost = host;
    m_offsetAtBase = static_cast<double>(utc) - host;
}

void CSimClockTime::SetTimeOffset(double seconds) {
    const double host = SystemSeconds();
    std::lock_guard lock(m_mutex);
    m_baseHost = host;
    m_offsetAtBase = seconds;
}

void CSimClockTime::SetDriftPpm(double ppm) {
    const double host = SystemSeconds();
    const double reached = TimeOffsetAt(host);
    std::lock_guard lock(m_mutex);
    m_baseHost = host;
    m_offsetAtBase = reached;
    m_driftPpm = ppm;
}
