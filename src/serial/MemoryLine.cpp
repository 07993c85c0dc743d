#include "MemoryLine.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

void CMemoryLine::Connect() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (TSide& side : m_sides) {
        side.queue.clear();
        side.present = true;
        side.interruptPending = false;
    }
    m_changed.notify_all();
}

void CMemoryLine::HangUp(TEnd end) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sides[Index(end)].present = false;
    m_changed.notify_all();
}

bool CMemoryLine::IsPresent(TEnd end) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sides[Index(end)].present;
}

ssize_t CMemoryLine::Read(TEnd end, unsigned char* buf, std::size_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    TSide& side = m_sides[Index(end)];
    if (!side.present) {
        errno = EBADF;
        return -1;
    }
    if (side.queue.empty() && size > 0) {
        if (!m_sides[OtherIndex(end)].present) return 0;
        errno = EAGAIN;
        return -1;
    }
    const std::size_t n = std::min(size, side.queue.size());
    std::copy_n(side.queue.data(), n, buf);
    side.queue.erase(0, n);
    m_changed.notify_all();  // room for the writer
    return static_cast<ssize_t>(n);
}

ssize_t CMemoryLine::Write(TEnd end, const unsigned char* buf, std::size_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    TSide& other = m_sides[OtherIndex(end)];
    if (!m_sides[Index(end)].present) {
        errno = EBADF;
        return -1;
    }
    if (!other.present) {
        errno = EIO;  // as a hung-up tty says it
        return -1;
    }
    const std::size_t room = other.capacity - std::min(other.capacity, other.queue.size());
    if (room == 0 && size > 0) {
        errno = EAGAIN;
        return -1;
    }
    const std::size_t n = std::min(size, room);
    other.queue.append(reinterpret_cast<const char*>(buf), n);
    m_changed.notify_all();
    return static_cast<ssize_t>(n);
}

std::size_t CMemoryLine::Queued(TEnd end) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sides[Index(end)].queue.size();
}

void CMemoryLine::Discard(TEnd end) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sides[Index(end)].queue.clear();
    m_changed.notify_all();
}

void CMemoryLine::SetCapacity(TEnd end, std::size_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sides[Index(end)].capacity = bytes;
    m_changed.notify_all();
}

bool CMemoryLine::WaitTaken(TEnd end, unsigned stallMs) {
    using TClock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    const TSide& side = m_sides[Index(end)];
    std::size_t last = side.queue.size();
    TClock::time_point movedAt = TClock::now();
    while (!side.queue.empty()) {
        if (!side.present) {
            errno = EIO;
            return false;
        }
        if (side.queue.size() < last) {
            last = side.queue.size();
            movedAt = TClock::now();
        } else if (TClock::now() - movedAt >= std::chrono::milliseconds(stallMs)) {
            errno = ETIMEDOUT;
            return false;
        }
        m_changed.wait_until(lock, movedAt + std::chrono::milliseconds(stallMs));
    }
    return true;
}

TDeviceEvents CMemoryLine::Wait(TEnd end, TDeviceEvents wanted, int timeoutMs) {
    using TClock = std::chrono::steady_clock;
    const auto deadline = TClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::unique_lock<std::mutex> lock(m_mutex);
    TSide& side = m_sides[Index(end)];
    const TSide& other = m_sides[OtherIndex(end)];
    const std::uint64_t interruptsBefore = side.interrupts;
    for (;;) {
        if (!side.present) {
            errno = EBADF;
            return TDeviceEvents::Failed;
        }
        TDeviceEvents seen = TDeviceEvents::None;
        if (HasAny(wanted, TDeviceEvents::Input) && !side.queue.empty()) seen |= TDeviceEvents::Input;
        if (HasAny(wanted, TDeviceEvents::Output) && other.queue.size() < other.capacity) seen |= TDeviceEvents::Output;
        if (!other.present) seen |= TDeviceEvents::HungUp;
        if (side.interruptPending || side.interrupts != interruptsBefore) {
            side.interruptPending = false;
            seen |= TDeviceEvents::Interrupted;
        }
        if (seen != TDeviceEvents::None) return seen;
        if (timeoutMs < 0)
            m_changed.wait(lock);
        else if (TClock::now() >= deadline)
            return TDeviceEvents::TimedOut;
        else
            m_changed.wait_until(lock, deadline);
    }
}

void CMemoryLine::InterruptWait(TEnd end) {
    std::lock_guard<std::mutex> lock(m_mutex);
    TSide& side = m_sides[Index(end)];
    side.interruptPending = true;
    ++side.interrupts;
    m_changed.notify_all();
}
