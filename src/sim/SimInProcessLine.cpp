#include "SimInProcessLine.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "SimLineServer.h"
#include "SimOutput.h"

CSimInProcessLine::CSimInProcessLine() {
    m_settings.rate = 9600;
    m_bytes.SetCapacity(CMemoryLine::TEnd::Near, BUFFER_SIZE);
    m_bytes.SetCapacity(CMemoryLine::TEnd::Far, BUFFER_SIZE);
    m_bytes.Connect();
}

bool CSimInProcessLine::Hold() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_held) return false;
    m_held = true;
    return true;
}

void CSimInProcessLine::Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = false;
}

TLineSettings CSimInProcessLine::Settings() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

void CSimInProcessLine::SetSettings(const TLineSettings& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings = line;
}

bool CSimLineServer::StartInProcess() {
    if (IsRunning()) return true;
    m_inProcess = std::make_shared<CSimInProcessLine>();
    return StartServing();
}

void CSimLineServer::ServeInProcess() {
    using TEnd = CMemoryLine::TEnd;
    CMemoryLine& line = m_inProcess->Bytes();
    char buf[512];
    while (!m_stopServing) {
        const TClock::time_point now = TClock::now();
        bool blocked = false;
        const std::optional<TClock::time_point> wake = ServeDue(now, blocked);
        int waitMs = -1;
        if (wake) {
            // Rounded up: waking early would only find nothing due yet.
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - now).count();
            waitMs = static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
        }
        const TDeviceEvents seen =
            line.Wait(TEnd::Far, TDeviceEvents::Input | (blocked ? TDeviceEvents::Output : TDeviceEvents::None), waitMs);
        if (m_stopServing) return;
        if (HasAny(seen, TDeviceEvents::Input)) {
            ssize_t n;
            while ((n = line.Read(TEnd::Far, reinterpret_cast<unsigned char*>(buf), sizeof buf)) > 0) {
                m_bytesRead += static_cast<std::uint64_t>(n);
                m_protocol.Take(buf, static_cast<std::size_t>(n));
            }
        } else if (HasAny(seen, TDeviceEvents::HungUp | TDeviceEvents::Failed)) {
            // The port's end never leaves while the clock serves; do not
            // spin if it does, but stay stoppable.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}
