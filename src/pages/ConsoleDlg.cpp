#include "ConsoleDlg.h"

#include <QDateTime>
#include <QEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLocale>
#include <QPlainTextEdit>
#include <QHideEvent>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include "CommPort.h"
#include "ControlIds.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

bool IsKept(unsigned char c) { return (c >= 0x20 && c <= 0x7E) || c == '\r' || c == '\n'; }

std::string WithLineFeeds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

CConsoleDlg::CConsoleDlg(QWidget* parent) : CCommPage(IDD_CONSOLE, parent), m_showTimer(new QTimer(this)) {
    m_showTimer->setSingleShot(true);
    m_showTimer->setInterval(kShowIntervalMs);
    connect(m_showTimer, &QTimer::timeout, this, [this] {
        if (m_strReady.empty()) return;
        ShowReady();
        m_showTimer->start();
    });
}

CConsoleDlg::~CConsoleDlg() = default;

bool CConsoleDlg::OnInitDialog() {
    CCommPage::OnInitDialog();

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    m_editOutput = TagControl(new QPlainTextEdit(this), static_cast<int>(IDC_CONSOLE_OUTPUT));
    m_editOutput->setReadOnly(true);
    m_editOutput->setFont(fixed);
    m_editOutput->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_editOutput->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A clock left talking for days must not eat the memory: old lines go,
    // and nothing is kept for undo.
    m_editOutput->setMaximumBlockCount(kMaxOutputLines);
    m_editOutput->setUndoRedoEnabled(false);

    // One line high: every Enter starts a new line and scrolls the finished
    // one out of sight; it stays in the edit above.
    m_editInput = TagControl(new QPlainTextEdit(this), static_cast<int>(IDC_CONSOLE_INPUT));
    m_editInput->setFont(fixed);
    m_editInput->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_editInput->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editInput->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_editInput->document()->setDocumentMargin(2);
    m_editInput->setFixedHeight(QFontMetrics(fixed).lineSpacing() + 2 * 2 + 2 * m_editInput->frameWidth() + 2);
    m_editInput->setTabChangesFocus(true);
    m_editInput->setEnabled(false);
    // Neither edit has a label: a screen reader is given their names, and
    // the empty input says what it is for.
    m_editOutput->setAccessibleName(QString::fromStdString(GetString(IDS_NAME_CONSOLE_OUTPUT)));
    m_editInput->setAccessibleName(QString::fromStdString(GetString(IDS_NAME_CONSOLE_INPUT)));
    m_editInput->setPlaceholderText(QString::fromStdString(GetString(IDS_HINT_CONSOLE_INPUT)));
    // Typing is meant for the input: a click anywhere on the page, or the
    // page coming up, puts the caret there (EnableInput).
    setFocusProxy(m_editInput);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_editOutput, 1);
    layout->addWidget(m_editInput);

    m_editInput->installEventFilter(this);
    m_editOutput->installEventFilter(this);

    const QString now = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    const std::string started = FormatString(GetString(IDS_CONSOLE_STARTED).c_str(), now.toLocal8Bit().constData());
    m_editOutput->setPlainText(QString::fromLocal8Bit(WithLineFeeds(started)));

    EnableInput();
    return true;
}

void CConsoleDlg::showEvent(QShowEvent* event) {
    CCommPage::showEvent(event);
    // A minimised window is not a hidden page.
    if (!event->spontaneous()) emit ShownChanged(true);
}

void CConsoleDlg::hideEvent(QHideEvent* event) {
    CCommPage::hideEvent(event);
    if (!event->spontaneous()) emit ShownChanged(false);
}

void CConsoleDlg::EnableInput() {
    const CCommPort* port = GetPort();
    if (!m_editInput) return;
    m_editInput->setEnabled(port && port->IsOpen());
    // A click on the page takes the focus to the input only while it takes typing.
    setFocusPolicy(m_editInput->isEnabled() ? Qt::ClickFocus : Qt::NoFocus);
}

void CConsoleDlg::OnPortStateChanged() { EnableInput(); }

void CConsoleDlg::OnSetActive() {
    m_active = true;
    if (IPageHost* sheet = GetSheet()) sheet->BlockTransfers(true);
    // Once the click on the tab is over: the tab bar takes the focus on it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_active && m_editInput && m_editInput->isEnabled()) m_editInput->setFocus(Qt::OtherFocusReason);
        },
        Qt::QueuedConnection);
}

void CConsoleDlg::OnKillActive() {
    if (!m_active) return;
    m_active = false;
    if (IPageHost* sheet = GetSheet()) sheet->BlockTransfers(false);
}

bool CConsoleDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyRelease && (watched == m_editInput || watched == m_editOutput)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Held keys repeat their presses; the line goes once, when let go.
        if (!key->isAutoRepeat()) {
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                SendInputLine();
            } else if (key->key() == Qt::Key_Escape) {
                // Reception stays off until the page is shown again.
                if (CCommPort* port = GetPort()) port->ReadStop();
            }
        }
    }
    return CCommPage::eventFilter(watched, event);
}

void CConsoleDlg::ClearOutput() {
    // Ready text belongs to the output being emptied.
    m_strReady.clear();
    if (m_editOutput) m_editOutput->clear();
}

void CConsoleDlg::SendInputLine() {
    if (!m_editInput) return;
    // The line above the caret's is the one Enter has just finished.
    const QTextBlock finished = m_editInput->textCursor().block().previous();
    if (!finished.isValid()) return;
    const QString line = finished.text().left(kMaxSentLength);
    if (line.isEmpty()) return;
    CCommPort* port = GetPort();
    // A closed port has nothing to say to the clock; it would only report itself.
    if (!port || !port->IsOpen()) return;
    const QByteArray bytes = line.toLatin1();
    // A failed write is the port's to report.
    port->Write(reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<unsigned>(bytes.size()));
}

std::string CConsoleDlg::FilterReceived(const unsigned char* data, std::size_t count, bool& lineEnd) {
    lineEnd = false;
    std::string kept;
    if (!data) return kept;
    kept.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char c = data[i];
        if (c == '\r' || c == '\n') lineEnd = true;
        if (IsKept(c)) kept += static_cast<char>(c);
    }
    return kept;
}

void CConsoleDlg::OnReceivedData(const QByteArray& bytes) {
    OnReceivedData(reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

void CConsoleDlg::OnReceivedData(const unsigned char* data, std::size_t count) {
    bool lineEnd = false;
    m_strPending += FilterReceived(data, count, lineEnd);
    // Text is shown a line at a time; a clock that never ends its line still
    // gets shown once the held-back text has grown large.
    if (!lineEnd && m_strPending.size() < kMaxPending) return;
    if (!m_editOutput) {
        // Not set up yet: keep the latest part for later.
        if (m_strPending.size() > kMaxPending) m_strPending.erase(0, m_strPending.size() - kMaxPending);
        return;
    }
    m_strReady += m_strPending;
    m_strPending.clear();
    // The first text after a quiet spell shows at once (a typed command's
    // answer); what follows it within the interval waits and goes in together.
    if (!m_showTimer->isActive() || m_strReady.size() >= kMaxUnshown) {
        ShowReady();
        m_showTimer->start();
    }
}

void CConsoleDlg::ShowReady() {
    std::string ready;
    ready.swap(m_strReady);
    AppendOutput(ready);
}

void CConsoleDlg::AppendOutput(const std::string& text) {
    // CR LF and a lone CR each become one line feed; a CR LF split over two
    // blocks is one line end too. A line reaching the longest length goes on
    // on a new one.
    const QTextBlock last = m_editOutput->document()->lastBlock();
    int column = last.isValid() ? last.length() - 1 : 0;
    std::string lines;
    lines.reserve(text.size() + text.size() / kMaxLineLength + 1);
    for (const char c : text) {
        if (c == '\n' && m_lastWasCR) {
            m_lastWasCR = false;
            continue;
        }
        m_lastWasCR = (c == '\r');
        if (m_lastWasCR || c == '\n') {
            lines += '\n';
            column = 0;
            continue;
        }
        if (column >= kMaxLineLength) {
            lines += '\n';
            column = 0;
        }
        lines += c;
        ++column;
    }
    if (lines.empty()) return;

    // The view follows the new text while it shows the end; a user who
    // scrolled back, or is selecting, keeps the place (and the selection).
    QScrollBar* bar = m_editOutput->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(m_editOutput->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromLatin1(lines.data(), static_cast<qsizetype>(lines.size())));
    if (atEnd) bar->setValue(bar->maximum());
}
