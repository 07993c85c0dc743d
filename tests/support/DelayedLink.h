// A clock behind a slow link: what the clock sends reaches the program a
// round trip after the program's bytes left, as through a terminal server
// far away. Bytes in flight are not touched by a purge, as on the network.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "SerialDevice.h"
#include "TermiosDevice.h"

class CDelayedLinkDevice : public CSerialDevice {
    using TClock = std::chrono::steady_clock;

public:
    explicit CDelayedLinkDevice(unsigned roundTripMs) : m_roundTripMs(roundTripMs) {}
    ~CDelayedLinkDevice() override { Close(); }

    bool Open(const std::string& path) override {
        if (!m_inner.Open(path)) return false;
        m_stop = false;
        m_pump = std::thread([this] { Pump(); });
        return true;
    }
    void Close() override {
        m_stop = true;
        if (m_pump.joinable()) m_pump.join();
        m_inner.Close();
    }
    bool IsOpen() const override { return m_inner.IsOpen(); }
    bool GetLineState(TLineSettings& line) override { return m_inner.GetLineState(line); }
    bool SetLineState(const TLineSettings& line) override { return m_inner.SetLineState(line); }
    ssize_t Write(const unsigned char* buf, std::size_t size) override { return m_inner.Write(buf, size); }
    ssize_t Read(unsigned char* buf, std::size_t size) override {
        std::lock_guard lock(m_mutex);
        std::size_t n = 0;
        while (n < size && !m_flight.empty() && m_flight.front().due <= TClock::now()) {
            buf[n++] = static_cast<unsigned char>(m_flight.front().c);
            m_flight.pop_front();
        }
        if (n == 0) errno = EAGAIN;
        return n ? static_cast<ssize_t>(n) : -1;
    }
    TDeviceEvents Wait(TDeviceEvents wanted, int timeoutMs) override {
        if (!HasAny(wanted, TDeviceEvents::Input)) return m_inner.Wait(wanted, timeoutMs);
        std::unique_lock lock(m_mutex);
        const auto end = TClock::now() + std::chrono::milliseconds(timeoutMs);
        while (!Arrived()) {
            if (m_interrupted) {
                m_interrupted = false;
                return TDeviceEvents::Interrupted;
            }
            if (timeoutMs >= 0 && TClock::now() >= end) return TDeviceEvents::TimedOut;
            m_changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        return TDeviceEvents::Input;
    }
    void InterruptWait() override {
        std::lock_guard lock(m_mutex);
        m_interrupted = true;
        m_changed.notify_all();
    }
    bool Drain(unsigned stallMs) override { return m_inner.Drain(stallMs); }
    bool Purge(bool input, bool output) override {
        if (input) {
            std::lock_guard lock(m_mutex);
            while (Arrived()) m_flight.pop_front();
        }
        return m_inner.Purge(input, output);
    }
    bool SetBreak(bool on) override { return m_inner.SetBreak(on); }
    bool QueuedInput(unsigned& count) override {
        std::lock_guard lock(m_mutex);
        count = 0;
        for (const auto& b : m_flight) count += b.due <= TClock::now() ? 1 : 0;
        return true;
    }
    bool GetErrorCounts(TErrorCounts& counts) override { return m_inner.GetErrorCounts(counts); }
    unsigned RoundTripMs() const override { return m_roundTripMs; }
    bool IsNetworkLink() const override { return m_roundTripMs > 0; }

private:
    struct TByte {
        char c;
        TClock::time_point due;
    };
    bool Arrived() const { return !m_flight.empty() && m_flight.front().due <= TClock::now(); }
    void Pump() {
        while (!m_stop) {
            if (!HasAny(m_inner.Wait(TDeviceEvents::Input, 20), TDeviceEvents::Input | TDeviceEvents::HungUp)) continue;
            unsigned char buf[256];
            const ssize_t n = m_inner.Read(buf, sizeof buf);
            if (n <= 0) {  // hung up: nothing more will come
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            const auto due = TClock::now() + std::chrono::milliseconds(m_roundTripMs);
            std::lock_guard lock(m_mutex);
            for (ssize_t i = 0; i < n; ++i) m_flight.push_back({static_cast<char>(buf[i]), due});
            m_changed.notify_all();
        }
    }

    const unsigned m_roundTripMs;
    CTermiosDevice m_inner;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<TByte> m_flight;
    bool m_interrupted = false;  // under m_mutex
    std::atomic<bool> m_stop{false};
    std::thread m_pump;
};
