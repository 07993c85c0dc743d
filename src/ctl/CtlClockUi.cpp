#include "CtlClockUi.h"

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include "CtlCommand.h"
#include "Messages.h"
#include "PortSession.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

bool g_quiet = false;

// Waits until the deadline; false when Ctrl-C came first.
bool WaitUntil(std::chrono::steady_clock::time_point deadline, int interruptFd) {
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
        pollfd fd{interruptFd, POLLIN, 0};
        const int ready = ::poll(&fd, interruptFd >= 0 ? 1 : 0, static_cast<int>(ms));
        if (ready > 0) return false;
        if (ready < 0 && errno != EINTR) return true;
    }
}

}  // namespace

void CCtlCountdown::SetQuiet(bool quiet) { g_quiet = quiet; }

int CCtlCountdown::DoModal() {
    std::string format;
    if (!LoadString(IDS_COUNTDOWN, format)) format = "Countdown %d...";
    std::size_t width = 0;
    // Shorter texts overwrite the longer first one completely.
    auto show = [&](int count, bool first) {
        if (g_quiet) return;
        std::string text = FormatString(format.c_str(), count);
        if (first) width = text.size();
        if (text.size() < width) text.resize(width, ' ');
        std::fprintf(stderr, "%s%s", first ? "" : "\r", text.c_str());
        std::fflush(stderr);
    };

    const int interruptFd = CPortSession::BeginCountdown();
    int result = IDOK;
    auto tick = std::chrono::steady_clock::now();
    const int start = m_seconds > 0 ? m_seconds : 0;
    show(start, true);
    for (int left = start; left > 0; --left) {
        tick += std::chrono::seconds(1);
        if (!WaitUntil(tick, interruptFd)) {
            result = IDCANCEL;
            break;
        }
        show(left - 1, false);
    }
    CPortSession::EndCountdown();
    // Quiet: the write itself says what a cancel left out.
    if (!g_quiet) std::fputs(result == IDCANCEL ? " cancelled\n" : "\n", stderr);
    std::fflush(stderr);
    return result;
}

void CCtlClockUi::ShowMessage(const std::string& text) {
    if (m_file.empty()) {
        ReportError(text);
        return;
    }
    ReportError(FormatString(GetString(IDS_CTL_FILE_REASON).c_str(), m_file.c_str(), text.c_str()));
}

std::unique_ptr<ICountdown> CCtlClockUi::MakeCountdown(int, int, int) {
    return std::make_unique<CCtlCountdown>(m_seconds);
}
