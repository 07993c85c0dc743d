#include "QtMessageTarget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include "GuiCall.h"

namespace {

// A posted message keeps its number as the event type where Qt's user range
// allows it; other numbers share one registered type.
QEvent::Type PostedType(unsigned msg) {
    static const QEvent::Type shared = static_cast<QEvent::Type>(QEvent::registerEventType());
    if (msg >= static_cast<unsigned>(QEvent::User) && msg <= static_cast<unsigned>(QEvent::MaxUser) &&
        msg != static_cast<unsigned>(shared))
        return static_cast<QEvent::Type>(msg);
    return shared;
}

class CPostedMessage : public QEvent {
public:
    CPostedMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(PostedType(msg)), m_msg(msg), m_wParam(wParam), m_lParam(lParam) {}
    unsigned m_msg;
    std::uintptr_t m_wParam;
    std::intptr_t m_lParam;
};

// Handlers running for Sends from other threads (they may nest on the GUI thread).
int g_fromOtherThread = 0;

}  // namespace

CQtMessageTarget::CQtMessageTarget(Handler handler) : m_handler(std::move(handler)) {}

CQtMessageTarget::~CQtMessageTarget() = default;

std::intptr_t CQtMessageTarget::Send(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    std::intptr_t result = 0;
    const bool other = QThread::currentThread() != thread();
    CGuiCall::Run(this, [&] {
        if (other) ++g_fromOtherThread;
        result = m_handler ? m_handler(msg, wParam, lParam) : 0;
        if (other) --g_fromOtherThread;
    });
    return result;
}

bool CQtMessageTarget::IsFromOtherThread() { return g_fromOtherThread > 0; }

void CQtMessageTarget::Post(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    QCoreApplication::postEvent(this, new CPostedMessage(msg, wParam, lParam));
}

bool CQtMessageTarget::event(QEvent* e) {
    if (auto* posted = dynamic_cast<CPostedMessage*>(e)) {
        if (m_handler) m_handler(posted->m_msg, posted->m_wParam, posted->m_lParam);
        return true;
    }
    return QObject::event(e);
}
