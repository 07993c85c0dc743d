#include "PollWait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "TextUtil.h"

CPollInterrupt::CPollInterrupt() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CPollInterrupt::~CPollInterrupt() {
    if (m_fd >= 0) ::close(m_fd);
}

void CPollInterrupt::Raise() {
    const std::uint64_t one = 1;
    // Fails only when the counter would overflow: it is raised then anyway.
    [[maybe_unused]] const ssize_t n = ::write(m_fd, &one, sizeof one);
}

void CPollInterrupt::Clear() {
    std::uint64_t count;
    [[maybe_unused]] const ssize_t n = ::read(m_fd, &count, sizeof count);
}

namespace {

TDeviceEvents Seen(short revents) {
    TDeviceEvents seen = TDeviceEvents::None;
    if (revents & POLLIN) seen |= TDeviceEvents::Input;
    if (revents & POLLOUT) seen |= TDeviceEvents::Output;
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) seen |= TDeviceEvents::HungUp;
    return seen;
}

}  // namespace

TDeviceEvents PollWait(int inputFd, int outputFd, TDeviceEvents wanted, int timeoutMs, CPollInterrupt& interrupt) {
    const bool input = HasAny(wanted, TDeviceEvents::Input);
    const bool output = HasAny(wanted, TDeviceEvents::Output);
    const bool oneFd = outputFd == inputFd;
    const long long deadline = timeoutMs < 0 ? 0 : NowMs() + timeoutMs;
    for (;;) {
        pollfd fds[3] = {{interrupt.Fd(), POLLIN, 0},
                         {inputFd, static_cast<short>((input ? POLLIN : 0) | (output && oneFd ? POLLOUT : 0)), 0},
                         {output && !oneFd ? outputFd : -1, POLLOUT, 0}};
        int wait = -1;
        if (timeoutMs >= 0) {
            const long long left = deadline - NowMs();
            wait = left > 0 ? static_cast<int>(left < (1 << 30) ? left : (1 << 30)) : 0;
        }
        const int r = ::poll(fds, 3, wait);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return TDeviceEvents::Failed;
        TDeviceEvents seen = Seen(fds[1].revents) | Seen(fds[2].revents);
        if (fds[0].revents) {
            interrupt.Clear();
            seen |= TDeviceEvents::Interrupted;
        }
        if (seen != TDeviceEvents::None) return seen;
        if (timeoutMs >= 0 && NowMs() >= deadline) return TDeviceEvents::TimedOut;
    }
}
