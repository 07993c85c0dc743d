// What tarvelctl's port commands work with: the port, opened the way the
// program opens it at start-up (stored line settings included), and a clock
// state with the chosen model.
//
// The user's profile is used through a private copy while the session lasts.
// The port object writes its settings back when it ends; into the real
// profile that would make the program open this device at its next start and
// keep error boxes on. In the copy the stored port is the one asked for,
// opening at start is on, and error reports are on, so a failed open says why.
//
// Ctrl-C: while a countdown runs it only cancels the countdown (see
// BeginCountdown); otherwise the copy is removed and the program ends as
// Ctrl-C ends it anyway.
#pragma once

#include <memory>
#include <string>

#include "ClockState.h"
#include "CommPort.h"

class CPortSession {
public:
    CPortSession() = default;
    // Closes the port first, then removes the private profile.
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
    bool MakeProfileCopy(const std::string& portName);
    void RemoveProfileCopy();

    std::string m_dir;
    std::string m_savedProfilePath;
    std::unique_ptr<CCommPort> m_port;
    CClockState m_state;
};
