// Runs a piece of work on the thread of a Qt object for another thread and
// waits until it has run: the blocking queued call behind a synchronous Send
// and behind message boxes raised by the reader thread.
#pragma once

#include <functional>

class QObject;

class CGuiCall {
public:
    // Runs fn on receiver's thread (directly when called there) and returns
    // true once it has run. Returns false without running it when the gate is
    // closed, or when the gate closes or the receiver goes away before the
    // call was picked up.
    static bool Run(QObject* receiver, const std::function<void()>& fn);

    // While the gate is closed, calls from other threads are refused and the
    // ones still waiting are released. The sheet closes it when the program is
    // about to end, so the GUI thread may then wait for the reader thread
    // without dispatching anything.
    static void SetOpen(bool open);
    static bool IsOpen();

    // Calls from other threads waiting to be picked up.
    static int WaitingCount();
};
