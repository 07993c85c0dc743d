// The device contract on the termios device over a pseudo-terminal, on the
// fake device the other serial tests use, and on the network devices.
#include "DeviceContract.h"
#include "NetContractLine.h"
#include "SerialTestSupport.h"
#include "TermiosDevice.h"

namespace {

class CTermiosLine : public CDeviceUnderTest {
public:
    std::shared_ptr<CSerialDevice> MakeDevice() override { return std::make_shared<CTermiosDevice>(); }
    std::string Path() override { return m_pty.Path(); }
    std::string Provoke(CSerialDevice&) override { return m_pty.Send(kBytes) ? kBytes : std::string(); }
    std::string FarEndGot(std::size_t count, int timeoutMs) override { return m_pty.Receive(count, timeoutMs); }
    void HangUp() override { m_pty.CloseMaster(); }

private:
    static inline const std::string kBytes = std::string("12 Mar\r\n\x00\x11\x13\xff", 12);
    CPseudoTerminal m_pty;
};

// The line of a fake device is its own: the rival is a second fake on the same path.
class CFakeLine : public CDeviceUnderTest {
public:
    std::shared_ptr<CSerialDevice> MakeDevice() override {
        auto device = std::make_shared<CFakeSerialDevice>();
        if (!m_first) m_first = device;
        return device;
    }
    std::string Path() override { return "/dev/ttyFAKE0"; }
    std::string Provoke(CSerialDevice&) override { return m_first->PeerWrite(kBytes) ? kBytes : std::string(); }
    std::string FarEndGot(std::size_t count, int timeoutMs) override {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            got += m_first->PeerReadAll();
            if (got.size() < count) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return got;
    }
    void HangUp() override { m_first->HangUp(); }

private:
    static inline const std::string kBytes = "hello\r\n";
    std::shared_ptr<CFakeSerialDevice> m_first;
};

INSTANTIATE_TEST_SUITE_P(Serial, DeviceContract,
                         ::testing::Values(TDeviceMaker{"Termios", [] { return std::make_unique<CTermiosLine>(); }},
                                           TDeviceMaker{"Fake", [] { return std::make_unique<CFakeLine>(); }},
                                           TDeviceMaker{"Rfc2217", [] { return std::make_unique<CNetLine>(true); }},
                                           TDeviceMaker{"RawTcp", [] { return std::make_unique<CNetLine>(false); }}),
                         [](const ::testing::TestParamInfo<TDeviceMaker>& info) { return info.param.name; });

}  // namespace
