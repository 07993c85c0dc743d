// What a page may ask of the window that holds it: the one port, opening it
// with line settings the page chose, the one configuration, running a transfer with the clock (no second one meanwhile),
// keeping the File menu's two transfers off while the page needs the line,
// the status line and a message box. Pages know this, never the window.
#pragma once

#include <functional>
#include <string>

class CCommPort;
class CClockState;
class CPortSettings;

class IPageHost {
public:
    virtual ~IPageHost() = default;

    virtual CCommPort* GetPort() = 0;
    virtual CClockState* GetClockState() = 0;
    // Opens the port settings names and, once it is open, applies the line
    // settings it holds; true when the port is open after all. The port
    // reports its own failures.
    virtual bool OpenPort(const CPortSettings& settings) = 0;

    // Runs a command that talks to the clock: busyText (a string id, 0: none)
    // shows at once and the window stays painted during the protocol's
    // pauses. False, without running it, when another command is running.
    virtual bool RunClockCommand(unsigned busyText, const std::function<void()>& command) = 0;
    // True while such a command runs.
    virtual bool IsBusy() const = 0;
    // While blocked, "From Comm Port" and "To Comm Port" stay grayed; once
    // unblocked they follow the port and the configuration again.
    virtual void BlockTransfers(bool block) = 0;

    // The status line: a string of the table by id, or a text of our own.
    virtual void ShowStatus(unsigned id) = 0;
    virtual void ShowStatusText(const std::string& text) = 0;
    // A message with an OK button, belonging to the window.
    virtual void ShowMessage(const std::string& text) = 0;
};
