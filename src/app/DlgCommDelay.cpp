#include "DlgCommDelay.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

#include "Messages.h"
#include "ControlIds.h"
#include "Resource.h"
#include "StringTable.h"
#include "ToolTipPage.h"

namespace {
int g_defaultTickMs = 1000;
}  // namespace

CDlgCommDelay::CDlgCommDelay(int lower, int upper, int step, QWidget* parent)
    : QDialog(parent), m_nLower(lower), m_nUpper(upper), m_nStep(step), m_tickMs(g_defaultTickMs) {
    // No caption of its own: a frame with the count, the bar and two buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
    m_stageText = new QLabel(this);
    m_stageText->setWordWrap(true);
    m_stageText->hide();
    m_countText = CToolTipPage::TagControl(new QLabel(this), IDC_COUNTDOWN_TEXT);
    m_progress = CToolTipPage::TagControl(new QProgressBar(this), IDC_COUNTDOWN_PROGRESS);
    m_progress->setTextVisible(false);
    m_ok = new QPushButton(tr("OK"), this);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    m_cancel->setAutoDefault(false);
    CToolTipPage::SetControlId(m_ok, IDOK);
    CToolTipPage::SetControlId(m_cancel, IDCANCEL);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_ok);
    buttons->addStretch(1);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_stageText);
    layout->addWidget(m_countText);
    layout->addWidget(m_progress);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    setMinimumWidth(280);

    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_timer, &QTimer::timeout, this, &CDlgCommDelay::OnTimer);
}

void CDlgCommDelay::SetDefaultTickMs(int ms) { g_defaultTickMs = ms > 0 ? ms : 1000; }
int CDlgCommDelay::GetDefaultTickMs() { return g_defaultTickMs; }
void CDlgCommDelay::SetTickMs(int ms) { m_tickMs = ms > 0 ? ms : 1000; }

int CDlgCommDelay::DoModal() {
    OnInitDialog();
    PlaceOverParent();
    // The write runs under a wait cursor; the dialog itself takes OK and Cancel.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = exec();
    if (busy) QApplication::restoreOverrideCursor();
    m_timer.stop();
    return result == QDialog::Accepted ? IDOK : IDCANCEL;
}

void CDlgCommDelay::SetRange(int lower, int upper) {
    m_nLower = lower;
    m_nUpper = upper;
    if (isVisible()) {
        m_progress->setRange(m_nLower, m_nUpper);
        update();
    }
}

void CDlgCommDelay::SetStage(const std::string& stage) {
    m_stageText->setText(QString::fromStdString(stage));
    m_stageText->setVisible(!stage.empty());
}

void CDlgCommDelay::OnInitDialog() {
    m_progress->setRange(m_nLower, m_nUpper);
    m_position = m_nLower;
    m_progress->setValue(m_position);
    ShowCount(m_nUpper);
    m_ok->setFocus();
    m_timer.start(m_tickMs);
}

void CDlgCommDelay::PlaceOverParent() {
    const QWidget* parent = parentWidget() ? parentWidget()->window() : nullptr;
    if (!parent || !parent->isVisible()) return;
    const QRect over = parent->frameGeometry();
    // The size its contents ask for now (a stage line may have come or gone).
    adjustSize();
    QRect place(QPoint(0, 0), size());
    place.moveCenter(over.center());
    // A window partly off its screen still gets its countdown on the screen.
    if (const QScreen* screen = parent->screen()) {
        const QRect room = screen->availableGeometry();
        place.moveLeft(std::clamp(place.left(), room.left(), std::max(room.left(), room.right() - place.width() + 1)));
        place.moveTop(std::clamp(place.top(), room.top(), std::max(room.top(), room.bottom() - place.height() + 1)));
    }
    setGeometry(place);
}

void CDlgCommDelay::OnTimer() {
    // Like a progress control's step: report the position before the step,
    // start over from the bottom once the top is passed.
    const int previous = m_position;
    m_position += m_nStep;
    if (m_position > m_nUpper) m_position = m_nLower;
    m_progress->setValue(m_position);
    const int remaining = m_nUpper - previous - 1;
    ShowCount(remaining);
    if (remaining == 0) {
        m_timer.stop();
        accept();
    }
}

void CDlgCommDelay::ShowCount(int count) {
    std::string format;
    if (!LoadString(IDS_COUNTDOWN, format)) return;
    m_countText->setText(QString::fromStdString(FormatString(format.c_str(), count)));
}

QString CDlgCommDelay::GetCountText() const { return m_countText->text(); }
QString CDlgCommDelay::GetStageText() const { return m_stageText->text(); }
int CDlgCommDelay::GetBarValue() const { return m_progress->value(); }
