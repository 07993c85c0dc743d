// The device contract on the simulated port: the clock is the far end, so
// it is made to talk by a command, and what it took shows in its log.
#include <cstdlib>

#include "DeviceContract.h"
#include "SimClock.h"
#include "SimPort.h"
#include "TestSupport.h"

namespace {

class CSimLineUnderTest : public CDeviceUnderTest {
public:
    CSimLineUnderTest() {
        // The clock keeps its EEPROM under the data directory: a private one.
        if (const char* old = std::getenv("XDG_DATA_HOME")) m_oldDataHome = old;
        ::setenv("XDG_DATA_HOME", m_data.Path().c_str(), 1);
    }
    ~CSimLineUnderTest() override {
        CSimPort::Shutdown();
        if (m_oldDataHome.empty())
            ::unsetenv("XDG_DATA_HOME");
        else
            ::setenv("XDG_DATA_HOME", m_oldDataHome.c_str(), 1);
    }
    std::shared_ptr<CSerialDevice> MakeDevice() override { return std::make_shared<CSimPort>(); }
    std::string Path() override { return CSimPort::NAME; }
    std::string Provoke(CSerialDevice& device) override {
        const unsigned char v = 'v';
        if (device.Write(&v, 1) != 1) return std::string();
        return std::string("v") + CSimClock::ROM_DATE;  // the echo, then the answer
    }
    std::string FarEndGot(std::size_t count, int timeoutMs) override {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            got.clear();
            if (CSimClock* clock = CSimPort::GetClock())
                for (const auto& command : clock->GetCommandLog()) got += command;
            if (got.size() >= count || std::chrono::steady_clock::now() >= end) return got;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    void HangUp() override { CSimPort::Shutdown(); }

private:
    CTempDir m_data;
    std::string m_oldDataHome;
};

INSTANTIATE_TEST_SUITE_P(Sim, DeviceContract,
                         ::testing::Values(TDeviceMaker{"SimPort", [] { return std::make_unique<CSimLineUnderTest>(); }}),
                         [](const ::testing::TestParamInfo<TDeviceMaker>& info) { return info.param.name; });

}  // namespace
