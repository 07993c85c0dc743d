#include "FakeSerialDevice.h"

#include <termios.h>

#include <cerrno>
#include <chrono>
#include <set>

#include "DcbLine.h"
#include "TermiosDevice.h"

namespace {

TLineSettings DriverDefault() {
    TLineSettings line;
    line.rate = 9600;
    return line;
}

bool Fail(int err) {
    errno = err;
    return false;
}

// Paths held open by some fake: a second opener is refused, as by a tty.
std::mutex g_pathsMutex;
std::set<std::string> g_openPaths;

bool TakePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    return g_openPaths.insert(path).second;
}

void ReleasePath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_pathsMutex);
    g_openPaths.erase(path);
}

}  // namespace

CFakeSerialDevice::CFakeSerialDevice() : m_settings(DriverDefault()) {}

CFakeSerialDevice::~CFakeSerialDevice() { Close(); }

bool CFakeSerialDevice::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_path = path;
    if (m_openError) return Fail(m_openError);
    if (m_open || !TakePath(path)) return Fail(EBUSY);
    m_line.SetCapacity(TEnd::Far, m_sendBuffer > 0 ? static_cast<std::size_t>(m_sendBuffer) : SIZE_MAX);
    m_line.Connect();
    m_open = true;
    m_openPath = path;
    m_settings = DriverDefault();
    ++m_opens;
    return true;
}

void CFakeSerialDevice::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return;
    // What was written stays for the far end to read, as on a socket.
    m_line.HangUp(TEnd::Near);
    m_open = false;
    ReleasePath(m_openPath);
    m_closedCv.notify_all();
}

bool CFakeSerialDevice::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

bool CFakeSerialDevice::GetLineState(TLineSettings& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return Fail(EBADF);
    if (m_getError) return Fail(m_getError);
    line = m_settings;
    return true;
}

bool CFakeSerialDevice::SetLineState(const TLineSettings& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_sets;
    if (!m_open) return Fail(EBADF);
    if (m_setError) return Fail(m_setError);
    // Refuse exactly what the termios device refuses.
    termios tio{};
    if (!CTermiosDevice::LineToTermios(line, tio)) return Fail(EINVAL);
    m_settings = line;
    return true;
}

ssize_t CFakeSerialDevice::Read(unsigned char* buf, std::size_t size) { return m_line.Read(TEnd::Near, buf, size); }

ssize_t CFakeSerialDevice::Write(const unsigned char* buf, std::size_t size) {
    return m_line.Write(TEnd::Near, buf, size);
}

TDeviceEvents CFakeSerialDevice::Wait(TDeviceEvents wanted, int timeoutMs) {
    return m_line.Wait(TEnd::Near, wanted, timeoutMs);
}

void CFakeSerialDevice::InterruptWait() { m_line.InterruptWait(TEnd::Near); }

bool CFakeSerialDevice::Drain(unsigned) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_drains;
    if (!m_open) return Fail(EBADF);
    if (m_drainError) return Fail(m_drainError);
    return true;
}

bool CFakeSerialDevice::Purge(bool input, bool output) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return Fail(EBADF);
    ++m_purges;
    m_purgeInput = input;
    m_purgeOutput = output;
    if (input) m_line.Discard(TEnd::Near);
    return true;
}

bool CFakeSerialDevice::SetBreak(bool on) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return Fail(EBADF);
    m_breaks.push_back(on);
    return true;
}

bool CFakeSerialDevice::QueuedInput(unsigned& count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return Fail(EBADF);
    count = static_cast<unsigned>(m_line.Queued(TEnd::Near));
    return true;
}

bool CFakeSerialDevice::GetErrorCounts(TErrorCounts& counts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return Fail(EBADF);
    counts = m_counts;
    return true;
}

void CFakeSerialDevice::SetOpenError(int err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openError = err;
}

void CFakeSerialDevice::SetLineStateError(int err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_setError = err;
}

void CFakeSerialDevice::SetGetStateError(int err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_getError = err;
}

void CFakeSerialDevice::SetDrainError(int err) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_drainError = err;
}

void CFakeSerialDevice::SetErrorCounts(const TErrorCounts& counts) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_counts = counts;
}

void CFakeSerialDevice::SetSendBuffer(int bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sendBuffer = bytes;
}

bool CFakeSerialDevice::PeerWrite(const std::string& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = m_line.Write(TEnd::Far, data + done, bytes.size() - done);
        if (n < 0 && errno == EAGAIN) {
            m_line.Wait(TEnd::Far, TDeviceEvents::Output, 1000);
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string CFakeSerialDevice::PeerReadAll() {
    std::string out;
    unsigned char buf[4096];
    ssize_t n;
    while ((n = m_line.Read(TEnd::Far, buf, sizeof buf)) > 0) out.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    return out;
}

void CFakeSerialDevice::HangUp() { m_line.HangUp(TEnd::Far); }

std::string CFakeSerialDevice::LastPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_path;
}

DCB CFakeSerialDevice::LineState() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return ToDcb(m_settings);
}

std::vector<bool> CFakeSerialDevice::BreakCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_breaks;
}

int CFakeSerialDevice::DrainCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_drains;
}

int CFakeSerialDevice::PurgeCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_purges;
}

bool CFakeSerialDevice::LastPurgeInput() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_purgeInput;
}

bool CFakeSerialDevice::LastPurgeOutput() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_purgeOutput;
}

int CFakeSerialDevice::SetLineStateCalls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sets;
}

int CFakeSerialDevice::OpenCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_opens;
}

bool CFakeSerialDevice::WaitClosed(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_closedCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_open; });
}
