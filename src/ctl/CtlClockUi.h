// What tarvelctl's clock states tell the user: each message one line on
// stderr (naming the setup file it is about, when there is one), and the
// countdown a write waits in.
#pragma once

#include <memory>
#include <string>

#include "ClockUi.h"

// "Countdown N..." on stderr, updated in place once a second down to 0.
// Ctrl-C cancels it.
class CCtlCountdown : public ICountdown {
public:
    explicit CCtlCountdown(int seconds) : m_seconds(seconds) {}

    // IDOK when the count ran out, IDCANCEL on Ctrl-C.
    int DoModal() override;
    // Quiet (-q): the count waits as long and Ctrl-C still cancels it, but
    // nothing is shown but a cancel. For the whole process.
    static void SetQuiet(bool quiet);
    // The length is the user's (--countdown), whatever range the write asks for.
    void SetRange(int, int) override {}

private:
    int m_seconds;
};

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
