#include "SimOutput.h"

#include <algorithm>

namespace {

// More than any client could want queued; a clock's UART would overrun too.
constexpr std::size_t MAX_QUEUED_OUTPUT = 64 * 1024;

}  // namespace

void CSimOutput::Clear() {
    m_bytes.clear();
    m_lineFree = TClock::now();
}

void CSimOutput::Enqueue(const std::string& text, TClock::time_point earliest, TClock::duration charTime) {
    for (char c : text) {
        if (m_bytes.size() >= MAX_QUEUED_OUTPUT) break;
        const TClock::time_point due = std::max(earliest, m_lineFree);
        m_bytes.push_back({c, due});
        m_lineFree = due + charTime;
    }
}

std::size_t CSimOutput::PeekDue(TClock::time_point now, char* buf, std::size_t size) const {
    std::size_t n = 0;
    while (n < size && n < m_bytes.size() && m_bytes[n].due <= now) {
        buf[n] = m_bytes[n].c;
        ++n;
    }
    return n;
}

void CSimOutput::Consume(std::size_t count) {
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(std::min(count, m_bytes.size())));
}

void CSimOutput::DropDue(TClock::time_point now) {
    while (!m_bytes.empty() && m_bytes.front().due <= now) m_bytes.pop_front();
}
