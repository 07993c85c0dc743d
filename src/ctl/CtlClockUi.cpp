#include "CtlClockUi.h"

#include <poll.h>
#include <unistd.h>

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

// What the write does once the count it waited in ran out.
struct TStageStep {
    unsigned waiting;  // the stage the clock layer names the countdown with
    unsigned next;
};
constexpr TStageStep kStageSteps[] = {
    {IDS_STAGE_TAKING, IDS_CTL_STAGE_VERIFYING},
    {IDS_STAGE_BEFORE_STORE, IDS_CTL_STAGE_STORING},
    {IDS_STAGE_BEFORE_RESET, IDS_CTL_STAGE_RESETTING},
};

// A log or a pipe gets whole lines; a carriage return is for a terminal.
bool OnTerminal() {
    static const bool terminal = ::isatty(STDERR_FILENO) == 1;
    return terminal;
}

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
bool CCtlCountdown::Quiet() { return g_quiet; }

void ShowWriteStage(const std::string& text) {
    if (g_quiet) return;
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

int CCtlCountdown::DoModal() {
    std::string format;
    if (!LoadString(IDS_COUNTDOWN, format)) format = "Countdown %d...";
    const bool terminal = OnTerminal();
    std::size_t width = 0;
    auto show = [&](int count, bool first) {
        if (g_quiet) return;
        std::string text = FormatString(format.c_str(), count);
        if (terminal) {
            // The stage and its count on one line; shorter texts overwrite
            // the longer first one completely.
            if (!m_stage.empty()) text = m_stage + " " + text;
            if (first) width = text.size();
            if (text.size() < width) text.resize(width, ' ');
            std::fprintf(stderr, "%s%s", first ? "" : "\r", text.c_str());
        } else {
            if (first && !m_stage.empty()) std::fprintf(stderr, "%s\n", m_stage.c_str());
            std::fprintf(stderr, "%s\n", text.c_str());
        }
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
    // A stop that came as the count ran out still ends the write here.
    if (result == IDOK && CPortSession::StopSignal() != 0) result = IDCANCEL;
    CPortSession::EndCountdown();
    // Quiet: the write itself says what a cancel left out.
    if (!g_quiet && terminal) std::fputs(result == IDCANCEL ? " cancelled\n" : "\n", stderr);
    std::fflush(stderr);
    if (result == IDOK)
        for (const auto& step : kStageSteps)
            if (m_stage == GetString(step.waiting)) ShowWriteStage(GetString(step.next));
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
