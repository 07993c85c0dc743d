// What the network tests share: tarvel-clocksim run as a child (on a
// pseudo-terminal or listening on TCP), ser2net in front of it, tarvelctl with
// a private profile, and a fixture that skips, saying why, only where ser2net
// cannot run.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "CtlRunner.h"
#include "Ser2net.h"
#include "TestSupport.h"

// tarvel-clocksim as a child process; the first line it prints is what to
// open (a device, or tcp://HOST:PORT with --listen). Another program that
// says where it serves the same way (link-delay) runs as well.
class CClockSimChild {
public:
    CClockSimChild() = default;
    ~CClockSimChild() { Stop(); }
    CClockSimChild(const CClockSimChild&) = delete;
    CClockSimChild& operator=(const CClockSimChild&) = delete;

    // False with the reason when it did not start or printed nothing.
    bool Start(const std::vector<std::string>& args, std::string& reason, const char* program = CLOCKSIM_PATH);
    const std::string& Port() const { return m_port; }
    void Stop();

private:
    pid_t m_pid = -1;
    std::string m_port;
};

class NetClockTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Starts the clock on a pseudo-terminal with its EEPROM kept in
    // EepromFile(), and ser2net in front of it; skips the test (with the
    // reason) when ser2net cannot run. Callers return when IsSkipped().
    void ServeThroughSer2net(CSer2net::TAccepter accepter);
    std::string File(const std::string& name) const { return m_dir.File(name); }
    std::string EepromFile() const { return File("eeprom.hcs"); }

    // read, edit with set, write, read back, all through port; the setup
    // read back is the one written, and the clock stored it.
    void RoundTrip(const std::string& port);

    CTempDir m_dir;
    CCtlRunner m_ctl{m_dir.Path()};
    CClockSimChild m_clock;
    CSer2net m_server;
};

// Texts that say a transfer worked; none may appear after a failure.
inline bool SaysSuccess(const std::string& text) {
    return text.find("successfully") != std::string::npos || text.find("Sent clock") != std::string::npos;
}
