// A network link's round trip: taken at open from the connection, then kept
// up to date from the serial exchanges (NetDevice.h). The writing thread
// starts a sample, the I/O thread ends it.
//
// A sample runs from a Write to the answer of its first byte, counted in
// serial bytes: bytes still on their way when it starts come back first.
// So when the command bytes leave faster than their echoes return, a sample
// is not ended by the echo of an earlier byte. A clock that sends more than
// it echoes (its records) only moves the count on.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>

#include "NetDevice.h"

namespace {

// An exchange longer than this is a clock that said nothing for a while,
// not a slow link: it is no sample of the round trip.
constexpr long long kMaxRoundTripUs = 3000 * 1000;

}  // namespace

long long CNetDevice::NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long long CNetDevice::KernelRoundTripUs(int sock) {
    // The kernel's smoothed estimate, from the connection's own handshake.
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(sock, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 || size < sizeof info) return -1;
    return info.tcpi_rtt;
}

void CNetDevice::SetOpeningRoundTrip(long long us) {
    if (us >= 0 && us <= kMaxRoundTripUs) m_roundTripUs = static_cast<unsigned>(us);
}

unsigned CNetDevice::RoundTripMs() const {
    // Rounded up: a network link is never said to take no time at all.
    return (m_roundTripUs.load() + 999) / 1000;
}

void CNetDevice::ResetRoundTrip() {
    std::lock_guard<std::mutex> lock(m_sampleMutex);
    m_roundTripUs = 0;
    m_sample = TSample{};
}

long long CNetDevice::StartRoundTripSample(std::size_t count) {
    std::lock_guard<std::mutex> lock(m_sampleMutex);
    const long long now = NowUs();
    long long started = -1;
    // One sample at a time; one whose answer never came is given up once it
    // could no longer count.
    if (m_sample.since < 0 || now - m_sample.since > kMaxRoundTripUs) {
        m_sample.since = started = now;
        m_sample.until = std::max(m_sample.written, m_sample.received) + 1;
    }
    m_sample.written += count;
    return started;
}

void CNetDevice::DropRoundTripSample(long long started) {
    std::lock_guard<std::mutex> lock(m_sampleMutex);
    if (started >= 0 && m_sample.since == started) m_sample.since = -1;
}

void CNetDevice::PurgedRoundTripSample() {
    std::lock_guard<std::mutex> lock(m_sampleMutex);
    // Whatever was on its way is no answer to what is written next.
    m_sample.since = -1;
    m_sample.received = std::max(m_sample.received, m_sample.written);
}

void CNetDevice::EndRoundTripSample(std::size_t count) {
    std::lock_guard<std::mutex> lock(m_sampleMutex);
    m_sample.received += count;
    if (m_sample.since < 0 || m_sample.received < m_sample.until) return;
    const long long us = NowUs() - m_sample.since;
    m_sample.since = -1;
    if (us < 0 || us > kMaxRoundTripUs) return;
    const auto sample = static_cast<unsigned>(us);
    const unsigned estimate = m_roundTripUs;
    // Up at once, so the waits above grow before they run out; down slowly,
    // so one quick answer does not shrink them.
    m_roundTripUs = std::max(sample, (7 * estimate + sample) / 8);
}
