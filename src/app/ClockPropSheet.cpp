#include "ClockPropSheet.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QVBoxLayout>

#include "NetDevice.h"
#include "PortCatalogue.h"
#include "LineTrace.h"
#include "Profile.h"
#include "ProfileKeys.h"
#include "QtWaitHooks.h"
#include "ControlIds.h"
#include "Resource.h"
#include "StringTable.h"
#include "TarvelApp.h"
#include "WindowPlacement.h"

namespace {

// How often the open device is looked at for a hang-up: a loss shows within
// a second, and an idle window wakes for it only twice a second.
constexpr int kHangUpCheckMs = 500;

}  // namespace

CClockPropSheet::CClockPropSheet(unsigned captionId, QWidget* parent, int selectPage)
    : QDialog(parent),
      m_portReporter([this](const std::string& text) { m_events.ReportError(text); },
                     [this] { m_events.NotifyPortStateChanged(); },
                     // After the open's own status texts (and the start prompt
                     // when the port opened with the window), so it stays seen.
                     [this](const std::string& text) {
                         QMetaObject::invokeMethod(this, [this, text] { SetStatus(text); }, Qt::QueuedConnection);
                     }),
      m_port(&m_portReporter) {
    CQtWaitHooks::SetClosePending(false);
    m_clockState.SetUi(&m_ui);

    setWindowTitle(QString::fromStdString(GetString(captionId)));
    setWindowIcon(CTarvelApp::GetIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    // The pages in tab order; each knows its host before any of them is shown.
    m_tabs = new QTabWidget(this);
    for (CCommPage* page : {static_cast<CCommPage*>(&m_setupPage), static_cast<CCommPage*>(&m_commonPage),
                            static_cast<CCommPage*>(&m_locationPage), static_cast<CCommPage*>(&m_consolePage)}) {
        m_tabs->addTab(page, page->GetTitle());
        page->SetSheet(this);
    }
    if (selectPage >= 0 && selectPage < m_tabs->count()) m_tabs->setCurrentIndex(selectPage);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    BuildMenu();
    layout->setMenuBar(m_menuBar);

    const bool docked = !CFloatStatus::CanFloat();
    m_pFloatStatus->Create(this, docked);
    if (docked) layout->addWidget(m_pFloatStatus.get());
    CWindowPlacement::Restore(*this);

    WireEvents();
    m_hangUpTimer.setInterval(kHangUpCheckMs);
    connect(&m_hangUpTimer, &QTimer::timeout, this, &CClockPropSheet::CheckHangUp);
    // Where udev runs, an unplugged adapter is known at once, on any page.
    if (m_deviceWatch.Fd() >= 0) {
        m_watchNotifier = new QSocketNotifier(m_deviceWatch.Fd(), QSocketNotifier::Read, this);
        connect(m_watchNotifier, &QSocketNotifier::activated, this, [this] {
            if (m_deviceWatch.TakeRemoval() && m_port.IsOpen()) OnDeviceGone();
        });
    }
    m_port.SetNotifyWnd(&m_events);
    OnStatusText(IDS_START_PROMPT);
    StartLineTrace();
    // The port may have opened during construction: the menu starts from its real state.
    m_events.NotifyPortStateChanged();
    OnPageChanged(m_tabs->currentIndex());
}

// For support: the profile may name a file that records the line.
void CClockPropSheet::StartLineTrace() {
    const std::string path = GetProfileString(ProfileKeys::DEBUG, ProfileKeys::TRACE, "");
    if (path.empty()) return;
    std::string reason;
    auto trace = CLineTrace::Open(path, reason);
    if (!trace) {
        SetStatus(FormatString(GetString(IDS_TRACE_OPEN_FAILED).c_str(), path.c_str(), reason.c_str()));
        return;
    }
    m_port.SetTrace(std::move(trace));
}

void CClockPropSheet::WireEvents() {
    // The port's reports.
    connect(&m_events, &CPortEvents::CommStatus, this, &CClockPropSheet::OnCommStatus);
    connect(&m_events, &CPortEvents::StatusText, this, &CClockPropSheet::OnStatusText);
    connect(&m_events, &CPortEvents::DeviceGone, this, &CClockPropSheet::OnDeviceGone);
    connect(&m_events, &CPortEvents::ErrorText, this,
            [this](const QString& text) { m_ui.ShowMessage(text.toStdString()); });
    connect(&m_events, &CPortEvents::DataReceived, &m_consolePage,
            qOverload<const QByteArray&>(&CConsoleDlg::OnReceivedData));

    // A change of port or configuration: the menu first, then the Location,
    // Console and Clock Setup pages in that order. The Comm Port page is not
    // told; its state line simply follows the port.
    connect(&m_events, &CPortEvents::PortStateChanged, this, &CClockPropSheet::OnPortStateChanged);
    connect(&m_events, &CPortEvents::ClockStateChanged, this, &CClockPropSheet::OnClockStateChanged);
    for (CCommPage* page : {static_cast<CCommPage*>(&m_locationPage), static_cast<CCommPage*>(&m_consolePage),
                            static_cast<CCommPage*>(&m_commonPage)}) {
        connect(&m_events, &CPortEvents::PortStateChanged, page, &CCommPage::PortStateChanged);
        connect(&m_events, &CPortEvents::ClockStateChanged, page, &CCommPage::ClockStateChanged);
    }
    connect(&m_events, &CPortEvents::PortStateChanged, &m_setupPage, &CSetupDlg::ShowPortState);

    // What the pages say: a port opened, the Console page shown or hidden
    // (queued: reading starts or stops once the page's own handling is over).
    connect(&m_setupPage, &CSetupDlg::PortChanged, &m_events, &CPortEvents::NotifyPortStateChanged);
    connect(&m_consolePage, &CConsoleDlg::ShownChanged, this, &CClockPropSheet::OnConsoleShow,
            Qt::QueuedConnection);
    // The pages hear when their tab becomes current and when it stops being so.
    connect(m_tabs, &QTabWidget::currentChanged, this, &CClockPropSheet::OnPageChanged);
}

CClockPropSheet::~CClockPropSheet() {
    if (m_wasShown) CWindowPlacement::Save(*this);
    // The Comm Port page saves its settings as its window goes, while the
    // port and the configuration (destroyed before the pages) still exist.
    m_setupPage.OnDestroyPage();
    // The pages go before the window: no tab change may reach a page being
    // destroyed, and no page may be shown (and set up) once the port is gone.
    disconnect(m_tabs, &QTabWidget::currentChanged, this, &CClockPropSheet::OnPageChanged);
    hide();
    // Nothing reports to the window any more; the reader (if any) is stopped
    // while the pages can still take its data, then the gate closes so that
    // nothing can keep the GUI thread waiting while the port goes away.
    m_port.SetNotifyWnd(nullptr);
    m_port.ReadStop();
    m_events.DeliverPending();
    m_events.SetOpen(false);
}

void CClockPropSheet::OnCommStatus(int code, int count) {
    std::string text;
    switch (code) {
    case -1:
        text = GetString(IDS_PORT_INVALID);
        QueuePortStateLine();
        break;
    case 0:
        text = GetString(IDS_PORT_IDLE);
        QueuePortStateLine();
        break;
    case 1:
    case 2:
        // During a transfer the line says what the transfer is doing; the
        // byte counts of its every command character would only flicker.
        if (m_busy) return;
        // They come with every block: the line shows the latest a few times a second.
        m_pFloatStatus->SetCountText(
            FormatString(GetString(code == 1 ? IDS_PORT_READ : IDS_PORT_WROTE).c_str(), count));
        return;
    case 3:
        text = GetString(IDS_PORT_ERROR);
        break;
    case 4:
        text = GetString(IDS_PORT_TIMEOUT);
        break;
    default:
        // Any other code is a string id (the line errors).
        if (code < 0 || !LoadString(static_cast<unsigned>(code), text)) text = "Unknown Status Msg!";
        break;
    }
    SetStatus(text);
}

void CClockPropSheet::OnDeviceGone() {
    // Told already (the reader and a look may find the same loss): closing follows.
    if (m_goneQueued) return;
    m_goneQueued = true;
    // A network port has no plug to check: the line names the connection instead.
    std::string name;
    if (m_port.GetPortName(name) && IsNetworkPortName(name))
        SetStatus(FormatString(GetString(IDS_NET_CONNECTION_LOST).c_str(), name.c_str()));
    else
        SetStatus(GetString(IDS_PORT_DEVICE_GONE));
    // Its device is gone for good: a new one comes with the next Open. The
    // port is closed once the reader (or the failed command) is out of its
    // report; the Comm Port page's line then names the device.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_port.IsOpen()) m_port.CloseAsGone();
            m_goneQueued = false;
            m_events.NotifyPortStateChanged();
        },
        Qt::QueuedConnection);
}

void CClockPropSheet::WatchOpenDevice() {
    std::string name;
    if (!m_port.IsOpen() || !m_port.GetPortName(name)) {
        m_deviceWatch.Watch(std::string());
        m_hangUpTimer.stop();
        return;
    }
    m_deviceWatch.Watch(CPortCatalogue::DevicePath(name));
    if (!m_hangUpTimer.isActive()) m_hangUpTimer.start();
}

void CClockPropSheet::CheckHangUp() {
    if (!m_port.IsOpen()) {
        m_hangUpTimer.stop();
        return;
    }
    // A command owns the line: its own failure tells of a loss, after it.
    // The Console page's reader tells for itself. A wait that dispatches
    // (the reader being stopped) must not see the port closed under it.
    if (m_busy || m_goneQueued || m_port.IsReading() || CQtWaitHooks::IsPumping()) return;
    if (m_port.IsHungUp()) OnDeviceGone();
}

void CClockPropSheet::QueuePortStateLine() {
    QMetaObject::invokeMethod(this, [this] { m_setupPage.ShowPortState(); }, Qt::QueuedConnection);
}

void CClockPropSheet::OnStatusText(unsigned id) {
    std::string text;
    if (!LoadString(id, text)) text = "Unknown Status string id!\n";
    SetStatus(text);
}

void CClockPropSheet::OnConsoleShow(bool shown) {
    if (!shown) {
        m_port.ReadStop();
        // What was read before the stop still reaches the page, at once.
        m_events.DeliverPending();
        return;
    }
    // Every showing starts with an empty output.
    m_consolePage.ClearOutput();
    m_port.ReadStart(&m_events);
}

void CClockPropSheet::OnPortStateChanged() {
    WatchOpenDevice();
    const bool open = m_port.IsOpen();
    const bool present = m_clockState.IsValid();
    EnableTransfer(ID_FILE_LOAD_COMM, open);
    EnableTransfer(ID_FILE_SAVE_COMM, open && present);
}

void CClockPropSheet::OnClockStateChanged() {
    const bool present = m_clockState.IsValid();
    const bool open = m_port.IsOpen();
    EnableMenuCommand(ID_FILE_DUMP, present);
    EnableMenuCommand(ID_FILE_SAVE_FILE, present);
    EnableMenuCommand(ID_FILE_COMPARE, present);
    EnableTransfer(ID_FILE_SAVE_COMM, present && open);
}

void CClockPropSheet::EnableTransfer(unsigned id, bool enable) {
    if (m_transfersBlocked)
        m_blockedStates[id] = enable;
    else
        EnableMenuCommand(id, enable);
}

bool CClockPropSheet::OpenPort(const CPortSettings& settings) {
    // As the page always did: the line settings only go to an open port.
    std::string name;
    settings.GetPortName(name);
    if (!m_port.Open(name)) return false;
    m_port.ApplySettings(settings);
    return m_port.IsOpen();
}

void CClockPropSheet::BlockTransfers(bool block) {
    if (block == m_transfersBlocked) return;
    if (block) {
        // What they had on entry, or what the port and the configuration
        // give them meanwhile, is what they get back.
        for (unsigned id : {ID_FILE_LOAD_COMM, ID_FILE_SAVE_COMM}) m_blockedStates[id] = EnableMenuCommand(id, false);
        m_transfersBlocked = true;
        return;
    }
    m_transfersBlocked = false;
    for (const auto& [id, enabled] : m_blockedStates) EnableMenuCommand(id, enabled);
}

void CClockPropSheet::OnPageChanged(int index) {
    auto* page = dynamic_cast<CCommPage*>(m_tabs->widget(index));
    if (page == m_activePage) return;
    if (m_activePage) m_activePage->OnKillActive();
    m_activePage = page;
    if (m_activePage) m_activePage->OnSetActive();
}

void CClockPropSheet::closeEvent(QCloseEvent* event) {
    if (CQtWaitHooks::IsPumping()) {
        // Asked to close while a wait is dispatching (ReadStop): the wait ends
        // first, then the close is carried out. From now on no thread may keep
        // the GUI thread waiting.
        CQtWaitHooks::SetClosePending(true);
        m_events.SetOpen(false);
        event->ignore();
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
        return;
    }
    CQtWaitHooks::SetClosePending(false);
    QDialog::closeEvent(event);
}

void CClockPropSheet::showEvent(QShowEvent* event) {
    m_wasShown = true;
    QDialog::showEvent(event);
}

void CClockPropSheet::keyPressEvent(QKeyEvent* event) {
    // The window has no Cancel button: Escape does not end the program.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
