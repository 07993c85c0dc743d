// What tarvelctl's clock states tell the user: each message one line on
// stderr (naming the setup file it is about, when there is one), and the
// countdown a write waits in.
#pragma once

#include <memory>
#include <string>

#include "ClockUi.h"

// "Countdown N..." on stderr once a second down to 0, after the stage of the
// write it waits in. On a terminal the stage and the count share one line,
// updated in place; elsewhere (a log, a pipe) each is a line of its own.
// Ctrl-C, or a stop the port session took (see CPortSession::StopAfterStep),
// cancels it.
class CCtlCountdown : public ICountdown {
public:
    explicit CCtlCountdown(int seconds) : m_seconds(seconds) {}

    // IDOK when the count ran out, IDCANCEL on Ctrl-C. Once it ran out, the
    // step of the write that follows the stage is named on a line.
    int DoModal() override;
    // Quiet (-q): the count waits as long and Ctrl-C still cancels it, but
    // nothing is shown but a cancel. For the whole process.
    static void SetQuiet(bool quiet);
    static bool Quiet();
    // The length is the user's (--countdown), whatever range the write asks for.
    void SetRange(int, int) override {}
    void SetStage(const std::string& stage) override { m_stage = stage; }

private:
    int m_seconds;
    std::string m_stage;
};

// A step of a write, one line on stderr; nothing when quiet.
void ShowWriteStage(const std::string& text);

class CCtlClockUi : public IClockUi {
public:
    static constexpr int DEFAULT_COUNTDOWN_SECONDS = 10;

    // file: the setup file the messages are about ("FILE: text"); empty for none.
    explicit CCtlClockUi(std::string file = std::string()) : m_file(std::move(file)) {}
    void SetCountdownSeconds(int seconds) { m_seconds = seconds; }

    void ShowMessage(const std::string& text) override;
    std::unique_ptr<ICountdown> MakeCountdown(int lower, int upper, int step) override;

private:
    std::string m_file;
    int m_seconds = DEFAULT_COUNTDOWN_SECONDS;
};
