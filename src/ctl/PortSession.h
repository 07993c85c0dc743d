// What tarvelctl's port commands work with: the port, opened with the line
// settings stored in the profile as the program opens it at start-up, and a
// clock state with the chosen model.
//
// The profile is only read: the port given on the command line never becomes
// the program's stored port, and error reports are on, so a failed open says
// why.
//
// Ctrl-C: while a countdown runs it only cancels the countdown (see
// BeginCountdown); otherwise it ends the program as usual.
#pragma once

#include <memory>
#include <string>

#include "ClockState.h"
#include "CommPort.h"
#include "PortReporter.h"
#include "Prompts.h"

class CPortSession {
public:
    CPortSession() = default;
    ~CPortSession();
    CPortSession(const CPortSession&) = delete;
    CPortSession& operator=(const CPortSession&) = delete;

    // False, with the reason on stderr, when the port could not be opened.
    bool Open(const std::string& portName, int model);
    CCommPort& Port() { return *m_port; }
    CClockState& State() { return m_state; }

    // From Begin to End, Ctrl-C makes the returned descriptor readable
    // instead of ending the program; -1 when that cannot be arranged.
    static int BeginCountdown();
    static void EndCountdown();

private:
    // The reasons go to stderr through the message box; no report file.
    CPortReporter m_reporter{[](const std::string& text) { ShowMessageBox(text); }};
    std::unique_ptr<CCommPort> m_port;
    CClockState m_state;
};
