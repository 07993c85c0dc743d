// A message target living on the GUI thread: Send runs the handler there and
// waits for it (directly when already there), Post queues it as an event.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>

#include "MessageTarget.h"

class CQtMessageTarget : public QObject, public CMessageTarget {
public:
    using Handler = std::function<std::intptr_t(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)>;

    explicit CQtMessageTarget(Handler handler);
    ~CQtMessageTarget() override;

    // From another thread this is a blocking queued call; it returns 0
    // without running the handler when the call is refused (see CGuiCall).
    std::intptr_t Send(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;
    void Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) override;

    // True while a handler runs for a Send made on another thread (the
    // port's reader).
    static bool IsFromOtherThread();

protected:
    bool event(QEvent* e) override;

private:
    Handler m_handler;
};
