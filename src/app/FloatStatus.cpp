#include "FloatStatus.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QStatusBar>
#include <QToolTip>
#include <QVBoxLayout>

#include "ElidedLabel.h"
#include "ControlIds.h"
#include "ToolTipPage.h"

CFloatStatus::CFloatStatus() : QWidget(nullptr) {
    setWindowTitle(QStringLiteral("FloatStatus"));
    m_statusBar = CToolTipPage::TagControl(new QStatusBar(this), IDC_STATUS_BAR);
    m_statusBar->setSizeGripEnabled(false);
    m_pane = new CElidedLabel(m_statusBar);
    m_pane->setTextInteractionFlags(Qt::NoTextInteraction);
    m_pane->SetFullText(QStringLiteral("status1"));
    m_statusBar->addWidget(m_pane, 1);
    m_text = "status1";
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_statusBar);
    // Qt shows tool tips only in the active window, which this one never is.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    m_pane->installEventFilter(this);
    m_countTimer.setSingleShot(true);
    m_countTimer.setInterval(kCountIntervalMs);
    connect(&m_countTimer, &QTimer::timeout, this, [this] {
        if (!m_countWaiting) return;
        m_countWaiting = false;
        Show(m_text, std::string());
        m_countTimer.start();
    });
}

CFloatStatus::~CFloatStatus() = default;

bool CFloatStatus::CanFloat() {
    return QGuiApplication::platformName() != QLatin1String("wayland");
}

void CFloatStatus::Create(QWidget* parent, bool docked) {
    m_pParent = parent;
    m_docked = docked;
    if (docked) {
        setParent(parent);
        return;
    }
    // Its own top-level window: no taskbar entry, no frame, never takes focus.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    if (parent) {
        parent->installEventFilter(this);
        if (parent->isVisible()) {
            show();
            Reposition();
        }
    }
}

void CFloatStatus::Reposition() {
    if (m_docked || !m_pParent) return;
    const QRect frame = m_pParent->frameGeometry();
    const int height = m_statusBar->sizeHint().height();
    setGeometry(frame.left(), frame.bottom() + 1, frame.width(), height);
}

void CFloatStatus::SetText(const std::string& text, const std::string& toolTip) {
    m_text = text;
    m_countWaiting = false;
    Show(text, toolTip);
}

void CFloatStatus::SetCountText(const std::string& text) {
    m_text = text;
    if (m_countTimer.isActive()) {
        m_countWaiting = true;
        return;
    }
    m_countWaiting = false;
    Show(text, std::string());
    m_countTimer.start();
}

void CFloatStatus::Show(const std::string& text, const std::string& toolTip) {
    // Shown on one line: a trailing line feed would only make the pane taller.
    QString shown = QString::fromStdString(text);
    while (shown.endsWith(QLatin1Char('\n')) || shown.endsWith(QLatin1Char('\r'))) shown.chop(1);
    m_pane->SetFullText(shown, QString::fromStdString(toolTip));
}

QString CFloatStatus::GetShownText() const { return m_pane->text(); }

QString CFloatStatus::GetToolTip() const { return m_pane->toolTip(); }

bool CFloatStatus::eventFilter(QObject* watched, QEvent* event) {
    // A click shows the tool tip at once: the whole text, or more than it says.
    if (watched == m_pane && event->type() == QEvent::MouseButtonRelease && !m_pane->toolTip().isEmpty()) {
        const auto* click = static_cast<QMouseEvent*>(event);
        QToolTip::showText(click->globalPosition().toPoint(), m_pane->toolTip(), m_pane);
        return true;
    }
    if (watched == m_pParent && !m_docked) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            Reposition();
            break;
        case QEvent::Show:
            show();
            Reposition();
            // The window manager adds its frame after the window is shown;
            // only then is the frame's bottom known. It tells of it without
            // a move, so look again once it has had its turn.
            QTimer::singleShot(0, this, [this] { Reposition(); });
            QTimer::singleShot(250, this, [this] { Reposition(); });
            break;
        case QEvent::WindowActivate:
            Reposition();
            break;
        case QEvent::Hide:
            hide();
            break;
        case QEvent::WindowStateChange:
            // A minimised main window takes its status line along.
            if (m_pParent->isMinimized())
                hide();
            else if (m_pParent->isVisible()) {
                show();
                Reposition();
            }
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
