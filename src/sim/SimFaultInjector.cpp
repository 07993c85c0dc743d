#include "SimFaultInjector.h"

TSimFaults CSimFaultInjector::Get() const {
    std::lock_guard lock(m_mutex);
    return m_faults;
}

void CSimFaultInjector::Set(const TSimFaults& faults) {
    std::lock_guard lock(m_mutex);
    m_faults = faults;
    ++m_generation;
    m_noise.seed(faults.noiseSeed);
}

TSimFaults CSimFaultInjector::ForInput() {
    std::lock_guard lock(m_mutex);
    if (m_seenGeneration != m_generation) m_commandBytes = 0;
    m_seenGeneration = m_generation;
    return m_faults;
}

void CSimFaultInjector::ResetLine() {
    std::lock_guard lock(m_mutex);
    m_commandBytes = 0;
}

std::optional<char> CSimFaultInjector::Echo(char c, const TSimFaults& faults) {
    std::uint64_t count = 0;
    {
        std::lock_guard lock(m_mutex);
        count = ++m_commandBytes;
    }
    const bool dropped = faults.dropEchoEvery > 0 && count % static_cast<std::uint64_t>(faults.dropEchoEvery) == 0;
    if (faults.noEcho || dropped) return std::nullopt;
    return faults.wrongEcho ? static_cast<char>(c ^ 0x01) : c;
}

std::string CSimFaultInjector::Reply(const std::string& text, const TSimFaults& faults) {
    std::string out;
    if (faults.lineNoise) {
        std::lock_guard lock(m_mutex);
        if (m_noise() % 2 == 0) out = NoiseLocked();
    }
    return out + text;
}

std::string CSimFaultInjector::Records(std::string text, const TSimFaults& faults) {
    constexpr std::size_t FIRST_DATA_DIGIT = 9;
    if (faults.badDigit && text.size() > RECORD_LENGTH + FIRST_DATA_DIGIT) {
        char& digit = text[RECORD_LENGTH + FIRST_DATA_DIGIT];
        digit = digit == '0' ? '1' : '0';
    }
    if (!faults.lineNoise) return text;

    std::string noisy;
    std::lock_guard lock(m_mutex);
    for (std::size_t start = 0; start < text.size(); start += RECORD_LENGTH) {
        if (start > 0 && m_noise() % 3 == 0) noisy += NoiseLocked();
        noisy.append(text, start, RECORD_LENGTH);
    }
    return noisy;
}

void CSimFaultInjector::Taken(TClockConfig& received, const TSimFaults& faults) const {
    if (faults.differAfterWrite) ConfigBytes(received)[CLOCK_CONFIG_SIZE - 1] ^= 0x01;
}

std::string CSimFaultInjector::NoiseLocked() {
    std::string noise(1 + m_noise() % 3, '\0');
    // Garbled characters: bytes a clean line never carries, never ':' or '?'.
    for (char& c : noise) c = static_cast<char>(0x80 + m_noise() % 0x80);
    return noise;
}
