// What tarvelctl's port commands work with: the port, opened with the line
// settings stored in the profile as the program opens it at start-up, and a
// clock state with the chosen model.
//
// The profile is only read: the port given on the command line never becomes
// the program's stored port, and error reports are on, so a failed open says
// why. The port's reasons and the clock state's messages go to stderr.
//
// Ctrl-C: while a countdown runs it only cancels the countdown (see
// BeginCountdown); during a write (StopAfterStep) it, SIGTERM and SIGHUP end
// the write after its current step; otherwise they end the program as usual.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "ClockState.h"
#include "CommPort.h"
#include "CtlClockUi.h"
#include "CtlCommand.h"
#include "PortReporter.h"

class CPortSession {
public:
    CPortSession() = default;
    ~CPortSession();
    CPortSession(const CPortSession&) = delete;
    CPortSession& operator=(const CPortSession&) = delete;

    // The trace every session's port writes to from now on; null for none.
    static void SetTrace(std::shared_ptr<CLineTrace> trace);

    // False, with the reason on stderr, when the port could not be opened.
    bool Open(const std::string& portName, int model);
    // Only after Open succeeded.
    CCommPort& Port() { return *m_port; }
    // Why Open failed, and the system's code for it (EBUSY: another program
    // holds the port); empty and 0 when it did not fail on the port.
    std::string OpenFailure() const;
    int OpenErrorCode() const;
    CClockState& State() { return m_state; }
    CCtlClockUi& Ui() { return m_ui; }

    // From Begin to End, Ctrl-C makes the returned descriptor readable
    // instead of ending the program; -1 when that cannot be arranged.
    static int BeginCountdown();
    static void EndCountdown();

    // On: from now on Ctrl-C, SIGTERM and SIGHUP only take note (StopSignal)
    // and cancel the countdown running or the next one, so a write ends
    // after the step it is in and can say what it left undone. Off: as before.
    static void StopAfterStep(bool on);
    // The signal taken while on; 0 when none came.
    static int StopSignal();

private:
    // A reason of the port, on stderr; once open, each one only once.
    void Say(const std::string& text);

    // The reasons and the port's notice at open go to stderr; no report file.
    CPortReporter m_reporter{[this](const std::string& text) { Say(text); }, {},
                             [](const std::string& text) { ReportError(text); }};
    bool m_sayOnce = false;
    std::set<std::string> m_said;
    std::string m_portName;  // as given: a lost connection is named by it
    CCtlClockUi m_ui;
    std::unique_ptr<CCommPort> m_port;
    CClockState m_state;
};

// The port, model and rate a port command was given, each as given; an
// option not given is empty (the stored one is then used).
struct TPortChoice {
    std::string port;
    bool hasModel = false;
    std::string model;  // "K203", "auto"
    bool hasBaud = false;
    std::string baud;
};

// Opens the port and model the options name (after the command, else before
// it, else the stored ones) for command. CTL_DONE when open; otherwise the
// exit status, the reason already on stderr. portName, when given, receives
// the port's name.
int OpenCommandSession(const char* command, const CCommandLine& global, const CCommandLine& args,
                       CPortSession& session, std::string* portName = nullptr);
// The same for a choice already made (a command that checks its options itself).
int OpenChosenSession(const char* command, const TPortChoice& choice, CPortSession& session);
// Empty when model is one of the models or "auto"; else why not.
std::string RefusedModel(const std::string& model);
// Empty when baud is a rate of the Comm Port page; else why not.
std::string RefusedBaud(const std::string& baud);
