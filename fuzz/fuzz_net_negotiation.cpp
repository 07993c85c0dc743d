// The RFC 2217 device against whatever a server sends: the input is the
// server's side of the connection (a socket pair stands in for the
// network). What the device sends back and what it delivers as serial data
// stay bounded by what came, its round trip stays within its cap, and every
// run ends in bounded time.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "Rfc2217Device.h"
#include "TelnetStream.h"

namespace {

using TClock = std::chrono::steady_clock;

// What the device may send of its own beside its answers: the option
// requests, one round of line settings (every byte an escaped IAC at
// worst), a break on and off, a purge and two data bytes.
constexpr std::size_t kOwnBytes = 512;
constexpr auto kBound = std::chrono::seconds(5);

bool SendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Everything the device sent, until it closed its end.
std::string ReadToEnd(int fd) {
    std::string got;
    const auto end = TClock::now() + kBound;
    char buf[4096];
    while (TClock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    return got;
}

// The serial data the device delivers until the connection's end.
std::string DataToEnd(CSerialDevice& device) {
    std::string got;
    const auto end = TClock::now() + kBound;
    while (TClock::now() < end) {
        if (!HasAny(device.Wait(TDeviceEvents::Input, 100), TDeviceEvents::Input | TDeviceEvents::HungUp)) continue;
        unsigned char buf[4096];
        const ssize_t n = device.Read(buf, sizeof buf);
        if (n > 0) got.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return got;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte: whether the server agrees to everything first, and a
    // rate to ask for.
    const std::uint8_t mode = data[0];
    const bool agreeFirst = (mode & 1) != 0;
    ++data;
    --size;

    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
    using namespace Telnet;
    std::string server;
    if (agreeFirst)
        server = Command(DO, OPT_BINARY) + Command(DO, OPT_SGA) + Command(DO, OPT_COM_PORT) + Command(WILL, OPT_BINARY) +
                 Command(WILL, OPT_SGA);
    server.append(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(SendAll(pair[1], server));
    // A server that did not agree first ends its side now, so the open
    // waits for nothing that cannot come.
    if (!agreeFirst) ::shutdown(pair[1], SHUT_WR);

    const auto start = TClock::now();
    std::string delivered;
    {
        CRfc2217Device device;
        device.SetOpenTimeouts(1000, 1000);
        device.SetAnswerWait(0);
        if (device.OpenConnected(pair[0], "rfc2217://fuzz.invalid:2217")) {
            TLineSettings line;
            if (device.GetLineState(line)) {
                line.rate = 1200u * (1u + (mode >> 4));
                device.SetLineState(line);
            }
            device.SetBreak(true);
            device.SetBreak(false);
            device.Purge(true, true);
            const unsigned char ask[] = {'v', 0xFF};
            device.Write(ask, sizeof ask);
            ::shutdown(pair[1], SHUT_WR);
            delivered = DataToEnd(device);
            FUZZ_CHECK(device.RoundTripMs() <= 3000);
        }
        device.Close();
    }
    const std::string sent = ReadToEnd(pair[1]);
    ::close(pair[1]);

    // An answer is never longer than the command it answers (three bytes),
    // and serial data never more than the bytes that carried it.
    FUZZ_CHECK(sent.size() <= kOwnBytes + size);
    FUZZ_CHECK(delivered.size() <= size);
    FUZZ_CHECK(TClock::now() - start < 2 * kBound);
    return 0;
}
