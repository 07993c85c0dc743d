// What the fault tests share: a working folder with tarvelctl's profile, a
// simulated clock served by the test process that can be unplugged at a
// chosen command, and setup files to compare.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ClockFile.h"
#include "ClockState.h"
#include "CtlRunner.h"
#include "SimClock.h"
#include "TestSupport.h"

inline bool SameSetup(const TClockConfig& a, const TClockConfig& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline TClockConfig ChangedSetup() {
    TClockConfig c = CSimClock::MakeFactorySetup();
    c.backLight = 6;
    SetBE32(c.cableDelay, 777777);
    return c;
}

inline std::string SetupBytes(const TClockConfig& config) {
    CClockState state;
    *state.GetConfig() = config;
    std::ostringstream out;
    state.Serialize(out);
    return out.str();
}

// Texts that say a transfer worked; none may appear after a failure.
inline bool SaysSuccess(const std::string& text) {
    return text.find("successfully") != std::string::npos || text.find("Sent clock") != std::string::npos;
}

// A simulated clock whose cable is pulled once it has carried out a given
// number of commands (0: before the run starts).
class CUnpluggableClock {
public:
    CUnpluggableClock() {
        m_sim.SetCommandHandler([this](const std::string&) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_commands;
            m_cv.notify_all();
        });
    }
    ~CUnpluggableClock() { Disarm(); }
    bool Start() { return m_sim.Start(); }
    CSimClock& Sim() { return m_sim; }

    // Unplugs after `after` commands, from a thread of its own.
    void UnplugAfter(int after) {
        if (after == 0) {
            m_sim.Stop();
            return;
        }
        m_thread = std::thread([this, after] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_cv.wait_for(lock, std::chrono::seconds(60), [&] { return m_commands >= after || m_disarmed; }) &&
                !m_disarmed) {
                lock.unlock();
                m_sim.Stop();
                m_unplugged = true;
            }
        });
    }
    void Disarm() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_disarmed = true;
            m_cv.notify_all();
        }
        if (m_thread.joinable()) m_thread.join();
    }
    bool Unplugged() const { return m_unplugged; }

private:
    CSimClock m_sim;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_commands = 0;
    bool m_disarmed = false;
    std::atomic<bool> m_unplugged{false};
    std::thread m_thread;
};

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CCtlRunner::Available()) GTEST_SKIP() << "tarvelctl is not built";
        // tarvelctl cannot wait for a late echo: it keeps its default pause
        // of 100 ms, well above the simulated clock's delays on a loaded machine.
        m_ctl.WriteProfile(m_profileText);
    }
    std::string File(const std::string& name) const { return m_dir.File(name); }
    std::string WriteSetup(const std::string& name, const TClockConfig& config) {
        WriteWholeFile(File(name), SetupBytes(config));
        return File(name);
    }

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
    std::string m_profileText = "[Communication]\nAutoOpen=0\n";
};
