// What the port tells its owner beyond the numbered status messages it sends
// to its notify target: why an open failed, the failures to show the user,
// and that the port changed. The GUI, tarvelctl and the tests each hand the
// port their own reporter; without one the port tells nobody.
//
// ShowError may be called on the reader thread; the others are called on the
// thread that called the port.
#pragma once

#include <functional>
#include <string>

class IPortReporter {
public:
    virtual ~IPortReporter() = default;

    // An Open failed. reason: the system's text and what to do about it, a
    // line each (never the failed call's name). report() makes the state
    // report for diagnosis (the failed call's name and the reason first, then
    // the port and its line settings); it reads the device, so call it at
    // once or not at all.
    virtual void OpenFailed(const std::string& reason, const std::function<std::string()>& report) = 0;
    // A failure for the user's eyes, in the same form as reason above. Only
    // sent while the port is verbose.
    virtual void ShowError(const std::string& text) = 0;
    // An Open succeeded: menus and pages that follow the port look again.
    virtual void PortStateChanged() = 0;
    // Something the user should know once about the port just opened (a
    // network port that cannot send a break, say): one sentence, told after
    // PortStateChanged. Ignored unless a reporter shows it.
    virtual void Notice(const std::string&) {}
};

// Hands the error text, the state change and the notices to callbacks (an empty one does
// nothing) and keeps no report of a failed open.
class CPortReporter : public IPortReporter {
public:
    using TextHandler = std::function<void(const std::string& text)>;
    using StateHandler = std::function<void()>;

    explicit CPortReporter(TextHandler showError = {}, StateHandler stateChanged = {}, TextHandler notice = {});

    void OpenFailed(const std::string& reason, const std::function<std::string()>& report) override;
    void ShowError(const std::string& text) override;
    void PortStateChanged() override;
    void Notice(const std::string& text) override;

private:
    const TextHandler m_showError;
    const StateHandler m_stateChanged;
    const TextHandler m_notice;
};

// The same, and the report of a failed open replaces "commport_err.txt" in
// the current folder: never through a link, never into a pipe or device, and
// never waiting on one.
class CErrorFileReporter : public CPortReporter {
public:
    using CPortReporter::CPortReporter;
    static constexpr const char* FILE_NAME = "commport_err.txt";

    void OpenFailed(const std::string& reason, const std::function<std::string()>& report) override;
};
