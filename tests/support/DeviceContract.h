// What every serial device behind the port's seam does, whatever it drives.
// Each implementation's tests supply a factory for a fixture that knows the
// far end of its line, and instantiate the suite:
//
//   INSTANTIATE_TEST_SUITE_P(Termios, DeviceContract, ::testing::Values(TDeviceMaker{...}));
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "SerialDevice.h"

// One device and the far end of its line.
class CDeviceUnderTest {
public:
    virtual ~CDeviceUnderTest() = default;
    // A fresh, unopened device for the line; a second one is a rival opener.
    virtual std::shared_ptr<CSerialDevice> MakeDevice() = 0;
    virtual std::string Path() = 0;
    // Makes the far end send, through the opened device if it must be asked
    // (a clock answers a command); gives the bytes that will arrive.
    virtual std::string Provoke(CSerialDevice& device) = 0;
    // What the far end has taken from the line, waiting up to timeoutMs for
    // at least count bytes.
    virtual std::string FarEndGot(std::size_t count, int timeoutMs) = 0;
    // The far end goes away, as an unplugged cable.
    virtual void HangUp() = 0;
};

struct TDeviceMaker {
    std::string name;
    std::function<std::unique_ptr<CDeviceUnderTest>()> make;
};

inline void PrintTo(const TDeviceMaker& maker, std::ostream* out) { *out << maker.name; }

class DeviceContract : public ::testing::TestWithParam<TDeviceMaker> {
protected:
    void SetUp() override {
        m_line = GetParam().make();
        ASSERT_TRUE(m_line);
        m_device = m_line->MakeDevice();
        ASSERT_TRUE(m_device);
    }
    void TearDown() override {
        if (m_device) m_device->Close();
        m_device.reset();
        m_line.reset();
    }
    void Open() { ASSERT_TRUE(m_device->Open(m_line->Path())) << std::strerror(errno); }

    // Reads until count bytes came or timeoutMs passed, the way the port does.
    std::string ReadFor(std::size_t count, int timeoutMs) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            if (!HasAny(m_device->Wait(TDeviceEvents::Input, 100), TDeviceEvents::Input)) continue;
            unsigned char buf[256];
            const ssize_t n = m_device->Read(buf, sizeof buf);
            if (n > 0) got.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
        }
        return got;
    }

    std::unique_ptr<CDeviceUnderTest> m_line;
    std::shared_ptr<CSerialDevice> m_device;
};

TEST_P(DeviceContract, ClosedDeviceRefusesEverythingAsClosed) {
    for (int pass = 0; pass < 2; ++pass) {  // never opened, then opened and closed twice
        if (pass == 1) {
            Open();
            m_device->Close();
            m_device->Close();
        }
        EXPECT_FALSE(m_device->IsOpen());
        TLineSettings line;
        unsigned char byte = 'x';
        unsigned queued = 0;
        CSerialDevice::TErrorCounts counts;
        errno = 0;
        EXPECT_FALSE(m_device->GetLineState(line));
        EXPECT_EQ(errno, EBADF);
        errno = 0;
        EXPECT_FALSE(m_device->SetLineState(line));
        EXPECT_EQ(errno, EBADF);
        errno = 0;
        EXPECT_EQ(m_device->Read(&byte, 1), -1);
        EXPECT_EQ(errno, EBADF);
        errno = 0;
        EXPECT_EQ(m_device->Write(&byte, 1), -1);
        EXPECT_EQ(errno, EBADF);
        errno = 0;
        EXPECT_EQ(m_device->Wait(TDeviceEvents::Input, 0), TDeviceEvents::Failed);
        EXPECT_EQ(errno, EBADF);
        EXPECT_FALSE(m_device->Drain(100));
        EXPECT_FALSE(m_device->Purge(true, true));
        EXPECT_FALSE(m_device->SetBreak(true));
        EXPECT_FALSE(m_device->QueuedInput(queued));
        errno = 0;
        EXPECT_FALSE(m_device->GetErrorCounts(counts));
        EXPECT_EQ(errno, EBADF);
    }
}

TEST_P(DeviceContract, SecondOpenerIsRefusedUntilTheFirstCloses) {
    Open();
    EXPECT_TRUE(m_device->IsOpen());
    auto rival = m_line->MakeDevice();
    errno = 0;
    EXPECT_FALSE(rival->Open(m_line->Path()));
    EXPECT_TRUE(errno == EBUSY || errno == EWOULDBLOCK) << std::strerror(errno);
    EXPECT_TRUE(m_device->IsOpen());
    m_device->Close();
    EXPECT_TRUE(rival->Open(m_line->Path())) << std::strerror(errno);
    rival->Close();
}

TEST_P(DeviceContract, LineSettingsReadBackAndWhatNoLineCanDoIsRefused) {
    Open();
    TLineSettings line;
    line.rate = 19200;
    line.dataBits = 8;
    line.parity = TParity::None;
    line.stopBits = TStopBits::One;
    ASSERT_TRUE(m_device->SetLineState(line)) << std::strerror(errno);
    TLineSettings back;
    ASSERT_TRUE(m_device->GetLineState(back));
    EXPECT_EQ(back.rate, 19200u);
    EXPECT_EQ(back.dataBits, 8);
    EXPECT_EQ(back.parity, TParity::None);
    EXPECT_EQ(back.stopBits, TStopBits::One);

    TLineSettings noRate, unknownRate = line, noParity = line;
    unknownRate.rate = 12345;
    noParity.parity = static_cast<TParity>(5);  // a code past the last
    for (const TLineSettings& bad : {noRate, unknownRate, noParity}) {
        errno = 0;
        EXPECT_FALSE(m_device->SetLineState(bad));
        EXPECT_EQ(errno, EINVAL);
    }
    ASSERT_TRUE(m_device->GetLineState(back));
    EXPECT_EQ(back.rate, 19200u);  // a refusal changes nothing
}

TEST_P(DeviceContract, ReadsNeverWaitAndGiveWhatArrivedInOrder) {
    Open();
    unsigned char buf[64];
    const auto start = std::chrono::steady_clock::now();
    errno = 0;
    const ssize_t none = m_device->Read(buf, sizeof buf);
    EXPECT_TRUE(none == 0 || (none < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) << none;
    EXPECT_EQ(m_device->Wait(TDeviceEvents::Input, 0), TDeviceEvents::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    const std::string expected = m_line->Provoke(*m_device);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ReadFor(expected.size(), 10000), expected);
}

TEST_P(DeviceContract, WrittenBytesReachTheFarEndAndDrainReturns) {
    Open();
    const unsigned char v = 'v';
    ASSERT_EQ(m_device->Write(&v, 1), 1) << std::strerror(errno);
    EXPECT_EQ(m_line->FarEndGot(1, 10000), "v");
    EXPECT_TRUE(m_device->Drain(5000)) << std::strerror(errno);
}

TEST_P(DeviceContract, QueuedInputIsCountedAndPurgedAndBreakTakesEffectQuietly) {
    Open();
    const std::string expected = m_line->Provoke(*m_device);
    unsigned queued = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        ASSERT_TRUE(m_device->QueuedInput(queued));
        if (queued >= expected.size()) break;
        m_device->Wait(TDeviceEvents::Input, 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(queued, expected.size());
    EXPECT_TRUE(m_device->Purge(true, false));
    ASSERT_TRUE(m_device->QueuedInput(queued));
    EXPECT_EQ(queued, 0u);

    EXPECT_TRUE(m_device->SetBreak(true));
    EXPECT_TRUE(m_device->SetBreak(false));
    CSerialDevice::TErrorCounts counts;
    EXPECT_TRUE(m_device->GetErrorCounts(counts));
    EXPECT_TRUE(m_device->Purge(true, true));
    EXPECT_TRUE(m_device->Purge(false, false));
}

TEST_P(DeviceContract, WaitTellsInputAndRoomAndAHangUpEvenWhenNothingIsWanted) {
    Open();
    EXPECT_EQ(m_device->Wait(TDeviceEvents::None, 0), TDeviceEvents::TimedOut);
    EXPECT_TRUE(HasAny(m_device->Wait(TDeviceEvents::Output, 10000), TDeviceEvents::Output));
    const std::string expected = m_line->Provoke(*m_device);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(HasAny(m_device->Wait(TDeviceEvents::Input, 10000), TDeviceEvents::Input));
    EXPECT_EQ(ReadFor(expected.size(), 10000), expected);

    m_line->HangUp();
    EXPECT_TRUE(HasAny(m_device->Wait(TDeviceEvents::Input, 10000), TDeviceEvents::HungUp));
    EXPECT_TRUE(HasAny(m_device->Wait(TDeviceEvents::None, 0), TDeviceEvents::HungUp));
    m_device->Close();
    EXPECT_FALSE(m_device->IsOpen());
}

TEST_P(DeviceContract, AnInterruptEndsTheWaitInProgressOrElseTheNextOne) {
    Open();
    m_device->InterruptWait();
    EXPECT_EQ(m_device->Wait(TDeviceEvents::Input, 10000), TDeviceEvents::Interrupted);
    EXPECT_EQ(m_device->Wait(TDeviceEvents::Input, 0), TDeviceEvents::TimedOut);  // taken by that wait

    // From another thread, into a wait in progress.
    std::promise<TDeviceEvents> waited;
    std::thread waiter([&] { waited.set_value(m_device->Wait(TDeviceEvents::Input, 20000)); });
    auto result = waited.get_future();
    // Raised while it waits: no interrupt reached it if it times out.
    while (result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) m_device->InterruptWait();
    waiter.join();
    EXPECT_EQ(result.get(), TDeviceEvents::Interrupted);
}
