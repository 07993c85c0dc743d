// Helpers for the serial tests: a pseudo-terminal pair, message targets that
// record what the port sends, and a fixture with a private profile and a
// private working directory (a failed open writes its report there).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CommPort.h"
#include "FakeSerialDevice.h"
#include "MessageTarget.h"
#include "Messages.h"
#include "PortReporter.h"
#include "Profile.h"
#include "Waits.h"
#include "TestSupport.h"

// A pseudo-terminal: the port opens the slave by its path, the test plays the
// far end on the master. A second slave descriptor stays open (never read) so
// the master sees no hang-up while the port closes and reopens.
class CPseudoTerminal {
public:
    CPseudoTerminal() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) < 0 || ::unlockpt(m_master) < 0) return;
        char name[128];
        if (::ptsname_r(m_master, name, sizeof name) != 0) return;
        m_path = name;
        m_keeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (m_keeper >= 0 && ::tcgetattr(m_keeper, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_keeper, TCSANOW, &tio);
        }
        ::fcntl(m_master, F_SETFL, O_NONBLOCK);
    }
    ~CPseudoTerminal() {
        if (m_keeper >= 0) ::close(m_keeper);
        CloseMaster();
    }
    CPseudoTerminal(const CPseudoTerminal&) = delete;
    CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

    bool Ok() const { return m_master >= 0 && m_keeper >= 0 && !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    int Master() const { return m_master; }
    int Keeper() const { return m_keeper; }

    // The far end goes away: the slave is hung up.
    void CloseMaster() {
        if (m_master >= 0) ::close(m_master);
        m_master = -1;
    }

    bool Send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            pollfd p{m_master, POLLOUT, 0};
            if (::poll(&p, 1, 5000) <= 0) return false;
        }
        return true;
    }

    // Reads until expected bytes came or timeoutMs passed without any.
    std::string Receive(std::size_t expected, int timeoutMs = 5000) {
        std::string out;
        while (out.size() < expected) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0) break;
            char buf[4096];
            ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    int m_master = -1;
    int m_keeper = -1;
    std::string m_path;
};

struct TSentMessage {
    unsigned msg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    int Code() const { return static_cast<int>(static_cast<std::intptr_t>(wParam)); }
};

// Records every message; copies the bytes of WM_COMMDATA while the sender waits.
class CRecordingTarget : public CMessageTarget {
public:
    std::intptr_t Send(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override {
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_sends;
            m_messages.push_back({msg, wParam, lParam});
            if (msg == WM_COMMDATA) {
                m_data.append(reinterpret_cast<const char*>(lParam), wParam);
                m_blocks.push_back(wParam);
            }
            hook = m_onSend;
        }
        m_cv.notify_all();
        if (hook) hook();
        return 0;
    }
    void Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override { Send(msg, wParam, lParam); }

    std::vector<TSentMessage> Messages() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    std::vector<TSentMessage> Messages(unsigned msg) const {
        std::vector<TSentMessage> out;
        for (const auto& m : Messages())
            if (m.msg == msg) out.push_back(m);
        return out;
    }
    std::string Data() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_data;
    }
    std::vector<std::uintptr_t> Blocks() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_blocks;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.clear();
        m_data.clear();
        m_blocks.clear();
    }
    // Called (outside the lock) on the sending thread after each message.
    void OnSend(std::function<void()> hook) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_onSend = std::move(hook);
    }
    bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            unsigned long seen;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                seen = m_sends;
            }
            if (done()) return true;
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_cv.wait_until(lock, deadline, [&] { return m_sends != seen; })) {
                lock.unlock();
                return done();
            }
        }
    }
    bool WaitForData(std::size_t bytes, int timeoutMs = 5000) {
        return WaitFor([&] { return Data().size() >= bytes; }, timeoutMs);
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<TSentMessage> m_messages;
    std::string m_data;
    std::vector<std::uintptr_t> m_blocks;
    std::function<void()> m_onSend;
    unsigned long m_sends = 0;
};

// Profile and working directory of one test; a port made here opens only
// what the test asks for, and reports as the program's window does: the
// report of a failed open in commport_err.txt, error texts as boxes.
class CSerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_oldDir = std::filesystem::current_path();
        std::filesystem::current_path(m_dir.Path());
        WriteProfileInt("Communication", "AutoOpen", 0);
        WriteProfileInt("Communication", "ReadTimeOut", 300);
        WriteProfileInt("Communication", "WriteTimeOut", 300);
    }
    void TearDown() override { std::filesystem::current_path(m_oldDir); }

    // A port on the fake device (constructed after the profile is written).
    std::unique_ptr<CCommPort> MakeFakePort() {
        auto fake = m_fake;
        return std::make_unique<CCommPort>(&m_reporter, [fake] { return fake; });
    }
    std::string ErrorFile() const { return ReadWholeFile(m_dir.File("commport_err.txt")); }

    CTestProfile m_profile;
    CTempDir m_dir;
    // What the port's reporter was given to show; no prompt hook is installed.
    std::vector<std::string> m_boxes;
    CErrorFileReporter m_reporter{[this](const std::string& text) { m_boxes.push_back(text); }};
    std::shared_ptr<CFakeSerialDevice> m_fake = std::make_shared<CFakeSerialDevice>();
    std::filesystem::path m_oldDir;
};
