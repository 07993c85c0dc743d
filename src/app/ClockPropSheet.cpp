#include "ClockPropSheet.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include <climits>


#include "AboutDlg.h"
#include "ClockFile.h"
#include "GuiCall.h"
#include "MessageTarget.h"
#include "Messages.h"
#include "Profile.h"
#include "Prompts.h"
#include "QtPromptHooks.h"
#include "Resource.h"
#include "StringTable.h"
#include "TarvelApp.h"
#include "TextUtil.h"
#include "WaitCursor.h"

namespace {

// File names as the system spells them.
std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

constexpr char kWindowSection[] = "Window";

// The manual's start page below a manual directory.
constexpr char kManualStart[] = "index.html";

CClockPropSheet::UrlOpener& UrlOpenerHook() {
    static CClockPropSheet::UrlOpener opener;
    return opener;
}

}  // namespace

const char* const CClockPropSheet::kWebAddress = "https://www.halvern.example/";

CClockPropSheet::CClockPropSheet(unsigned captionId, QWidget* parent, int selectPage)
    : QDialog(parent),
      m_target([this](unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
          return OnMessage(msg, wParam, lParam);
      }),
      m_portReporter([](const std::string& text) { ShowMessageBox(text); },
                     [] {
                         if (CMessageTarget* main = GetMainTarget()) main->Send(WM_PORTSTATECHANGED, 0, 0);
                     }),
      m_port(&m_portReporter) {
    // A new main window: calls from the reader thread are welcome again.
    CGuiCall::SetOpen(true);
    CQtPromptHooks::SetClosePending(false);

    setWindowTitle(QString::fromStdString(GetString(captionId)));
    setWindowIcon(CTarvelApp::GetIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    // The pages in tab order; each knows its sheet before any of them is shown.
    m_tabs = new QTabWidget(this);
    for (CCommPage* page : {static_cast<CCommPage*>(&m_setupPage), static_cast<CCommPage*>(&m_commonPage),
                            static_cast<CCommPage*>(&m_locationPage), static_cast<CCommPage*>(&m_consolePage)})
        m_tabs->addTab(page, page->GetTitle());
    for (CCommPage* page : {static_cast<CCommPage*>(&m_locationPage), static_cast<CCommPage*>(&m_setupPage),
                            static_cast<CCommPage*>(&m_consolePage), static_cast<CCommPage*>(&m_commonPage)})
        page->SetSheet(this);
    if (selectPage >= 0 && selectPage < m_tabs->count()) m_tabs->setCurrentIndex(selectPage);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    BuildMenu();
    layout->setMenuBar(m_menuBar);

    m_pFloatStatus = std::make_unique<CFloatStatus>();
    const bool docked = !CFloatStatus::CanFloat();
    m_pFloatStatus->Create(this, docked);
    if (docked) layout->addWidget(m_pFloatStatus.get());

    // The countdowns and message boxes belong to this window.
    CQtPromptHooks::SetOwner(this);
    RestoreWindowPlacement();

    m_port.SetNotifyWnd(&m_target);
    OnStatusText(IDS_START_PROMPT);
    // The port may have opened during construction: the menu starts from its real state.
    OnPortStateChanged(0, 0);

    // The pages hear when their tab becomes current and when it stops being so.
    connect(m_tabs, &QTabWidget::currentChanged, this, &CClockPropSheet::OnPageChanged);
    OnPageChanged(m_tabs->currentIndex());
}

CClockPropSheet::~CClockPropSheet() {
    if (m_wasShown) SaveWindowPlacement();
    if (CQtPromptHooks::GetOwner() == this) CQtPromptHooks::SetOwner(nullptr);
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
    CGuiCall::SetOpen(false);
    if (GetMainTarget() == &m_target) SetMainTarget(nullptr);
}

void CClockPropSheet::BuildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(tr("&File"));
    QMenu* load = file->addMenu(tr("&Load"));
    AddCommand(load, "From &Comm Port", ID_FILE_LOAD_COMM, &CClockPropSheet::OnLoadFromCommPort);
    AddCommand(load, "From &File", ID_FILE_LOAD_FILE, &CClockPropSheet::OnLoadFromFile);
    QMenu* save = file->addMenu(tr("Save"));
    AddCommand(save, "To &Comm Port", ID_FILE_SAVE_COMM, &CClockPropSheet::OnSaveToCommPort);
    AddCommand(save, "To &File", ID_FILE_SAVE_FILE, &CClockPropSheet::OnSaveToFile);
    file->addSeparator();
    AddCommand(file, "&Dump", ID_FILE_DUMP, &CClockPropSheet::OnDump);
    file->addSeparator();
    AddCommand(file, "E&xit", ID_FILE_EXIT, &CClockPropSheet::OnExit);

    QMenu* help = m_menuBar->addMenu(tr("&Help"));
    AddCommand(help, "&Contents", ID_HELP_CONTENTS, &CClockPropSheet::OnHelpContents);
    AddCommand(help, "&Search", ID_HELP_SEARCH, &CClockPropSheet::OnHelpSearch);
    help->addSeparator();
    AddCommand(help, "&On the web", ID_HELP_WEB, &CClockPropSheet::OnWebSite);
    help->addSeparator();
    AddCommand(help, "&About", ID_HELP_ABOUT, &CClockPropSheet::OnAbout);

    // A submenu is known by its position in its menu, as the prompts have
    // always looked them up.
    load->menuAction()->setData(0u);
    save->menuAction()->setData(1u);
    file->menuAction()->setData(0u);
    help->menuAction()->setData(1u);
    for (QMenu* menu : {file, load, save, help}) WatchMenu(menu);
    // A pass of the mouse over the bar selects nothing: only with a menu
    // open does a highlighted title count.
    connect(m_menuBar, &QMenuBar::hovered, this, [this](QAction* action) {
        if (QApplication::activePopupWidget()) OnMenuSelect(action->data().toUInt());
    });

    // Until the first notification only loading a file, Exit and Help work.
    for (unsigned id : {ID_FILE_LOAD_COMM, ID_FILE_SAVE_COMM, ID_FILE_SAVE_FILE, ID_FILE_DUMP})
        EnableMenuCommand(id, false);
}

QAction* CClockPropSheet::AddCommand(QMenu* menu, const char* text, unsigned id,
                                     void (CClockPropSheet::*handler)()) {
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setData(id);
    // While a command runs (its pauses paint the window) no other may start.
    connect(action, &QAction::triggered, this, [this, handler] {
        if (!m_busy) (this->*handler)();
    });
    m_actions[id] = action;
    return action;
}

void CClockPropSheet::WatchMenu(QMenu* menu) {
    connect(menu, &QMenu::hovered, this, [this](QAction* action) {
        if (!action->isSeparator()) OnMenuSelect(action->data().toUInt());
    });
}

QAction* CClockPropSheet::GetMenuAction(unsigned id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

bool CClockPropSheet::IsMenuCommandEnabled(unsigned id) const {
    const QAction* action = GetMenuAction(id);
    return action && action->isEnabled();
}

bool CClockPropSheet::EnableMenuCommand(unsigned id, bool enable) {
    QAction* action = GetMenuAction(id);
    if (!action) return false;
    const bool previous = action->isEnabled();
    action->setEnabled(enable);
    return previous;
}

std::string CClockPropSheet::GetStatusText() const { return m_statusText; }

void CClockPropSheet::SetStatus(const std::string& text) {
    m_statusText = text;
    if (m_pFloatStatus) m_pFloatStatus->SetText(text);
}

std::intptr_t CClockPropSheet::OnMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (msg) {
    case WM_COMMSTATUS:
        OnCommStatus(wParam, lParam);
        break;
    case WM_STATUSTEXT:
        OnStatusText(static_cast<unsigned>(wParam));
        break;
    case WM_CONSOLESHOW:
        OnConsoleShow(wParam != 0);
        break;
    case WM_PORTSTATECHANGED:
        OnPortStateChanged(wParam, lParam);
        break;
    case WM_CLOCKSTATECHANGED:
        OnClockStateChanged(wParam, lParam);
        break;
    default:
        break;
    }
    return 0;
}

void CClockPropSheet::OnCommStatus(std::uintptr_t code, std::intptr_t value) {
    // The code travels as a signed 32-bit number.
    const int status = static_cast<int>(static_cast<std::int32_t>(code));
    const int count = static_cast<int>(value);
    std::string text;
    switch (status) {
    case -1:
        if (CQtMessageTarget::IsFromOtherThread()) {
            // Only the reader reports from its thread: the device went away.
            // The port is closed once the reader is out of this Send.
            text = GetString(IDS_PORT_DEVICE_GONE);
            QMetaObject::invokeMethod(this, [this] { OnDeviceGone(); }, Qt::QueuedConnection);
        } else {
            text = GetString(IDS_PORT_INVALID);
            QueuePortStateLine();
        }
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
        text = FormatString(GetString(status == 1 ? IDS_PORT_READ : IDS_PORT_WROTE).c_str(), count);
        break;
    case 3:
        text = GetString(IDS_PORT_ERROR);
        break;
    case 4:
        text = GetString(IDS_PORT_TIMEOUT);
        break;
    default:
        // Any other code is a string id (the line errors).
        if (status < 0 || !LoadString(static_cast<unsigned>(status), text)) text = "Unknown Status Msg!";
        break;
    }
    SetStatus(text);
}

void CClockPropSheet::OnDeviceGone() {
    // Its device is gone for good: a new one comes with the next Open.
    if (m_port.IsOpen()) m_port.Close();
    OnPortStateChanged(0, 0);
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
        return;
    }
    // Every showing starts with an empty output.
    QWidget* output = m_consolePage.FindControl(IDC_CONSOLE_OUTPUT);
    if (auto* plain = qobject_cast<QPlainTextEdit*>(output))
        plain->clear();
    else if (auto* rich = qobject_cast<QTextEdit*>(output))
        rich->clear();
    else if (auto* line = qobject_cast<QLineEdit*>(output))
        line->clear();
    m_port.ReadStart(m_consolePage.GetTarget());
}

void CClockPropSheet::OnPortStateChanged(std::uintptr_t wParam, std::intptr_t lParam) {
    const bool open = m_port.IsOpen();
    const bool present = m_clockState.IsValid();
    EnableMenuCommand(ID_FILE_LOAD_COMM, open);
    EnableMenuCommand(ID_FILE_SAVE_COMM, open && present);
    RelayToPages(WM_PORTSTATECHANGED, wParam, lParam);
    // Not a relay: the Comm Port page's state line simply follows the port.
    m_setupPage.ShowPortState();
}

void CClockPropSheet::OnClockStateChanged(std::uintptr_t wParam, std::intptr_t lParam) {
    const bool present = m_clockState.IsValid();
    const bool open = m_port.IsOpen();
    EnableMenuCommand(ID_FILE_DUMP, present);
    EnableMenuCommand(ID_FILE_SAVE_FILE, present);
    EnableMenuCommand(ID_FILE_SAVE_COMM, present && open);
    RelayToPages(WM_CLOCKSTATECHANGED, wParam, lParam);
}

void CClockPropSheet::RelayToPages(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam) {
    // A page that has never been shown has nothing to refresh yet; it brings
    // itself up to date when it is first shown. The Comm Port page is not told.
    for (CCommPage* page : {static_cast<CCommPage*>(&m_locationPage), static_cast<CCommPage*>(&m_consolePage),
                            static_cast<CCommPage*>(&m_commonPage)})
        if (page->IsCreated()) page->GetTarget()->Send(msg, wParam, lParam);
}

void CClockPropSheet::OnPageChanged(int index) {
    auto* page = dynamic_cast<CCommPage*>(m_tabs->widget(index));
    if (page == m_activePage) return;
    if (m_activePage) m_activePage->OnKillActive();
    m_activePage = page;
    if (m_activePage) m_activePage->OnSetActive();
}

void CClockPropSheet::OnMenuSelect(unsigned id) {
    // 0: a separator or the first submenu; the line stays as it is.
    if (id == 0) return;
    std::string text;
    SetStatus(LoadString(id, text) ? FirstLine(text) : std::string());
}

void CClockPropSheet::OnExit() {
    // Like a posted quit: the window closes once this command has returned.
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

bool CClockPropSheet::RunClockCommand(unsigned busyText, const std::function<void()>& command) {
    if (m_busy) return false;
    m_busy = true;
    CQtPromptHooks::CTransferScope transfer;
    if (busyText != 0) {
        OnStatusText(busyText);
        if (m_pFloatStatus) m_pFloatStatus->repaint();
    }
    command();
    m_busy = false;
    return true;
}

void CClockPropSheet::OnLoadFromCommPort() {
    RunClockCommand(IDS_READING_FROM_CLOCK, [this] {
        bool read = false;
        {
            CWaitCursor wait;
            read = m_clockState.Read(m_port, true);
        }
        if (read) {
            OnStatusText(IDS_GOT_FROM_CLOCK);
        } else {
            // The line no longer says that a read is under way.
            OnStatusText(IDS_READ_FAILED);
            ShowMessageBox(GetString(IDS_READ_FAILED));
        }
        OnClockStateChanged(0, 0);
    });
}

void CClockPropSheet::OnSaveToCommPort() {
    RunClockCommand(IDS_WRITING_TO_CLOCK, [this] {
        TWriteResult result = TWriteResult::Failed;
        {
            CWaitCursor wait;
            result = m_clockState.Write(m_port);
        }
        if (result == TWriteResult::Written) {
            OnStatusText(IDS_SENT_TO_CLOCK);
        } else if (result == TWriteResult::Failed) {
            OnStatusText(IDS_WRITE_FAILED);
            ShowMessageBox(GetString(IDS_WRITE_FAILED));
        } else {
            OnStatusText(CancelledWriteText(result));
        }
    });
}

QString CClockPropSheet::AskFileName(bool save, const QString& suffix) {
    QFileDialog dialog(this);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // A name that does not exist may be typed in; opening it then fails.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted) return QString();
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void CClockPropSheet::OnLoadFromFile() {
    const QString path = AskFileName(false, QStringLiteral("hcs"));
    if (path.isEmpty()) return;
    LoadFromFile(path);
}

bool CClockPropSheet::LoadFromFile(const QString& path) {
    bool loaded = false;
    try {
        // A file refused for its signature or revision has shown its message.
        loaded = LoadConfigFile(m_clockState, LocalPath(path)) == TLoadResult::Loaded;
        if (loaded) OnStatusText(IDS_READ_FILE_OK);
    } catch (...) {
        ShowMessageBox(GetString(IDS_ERROR_OPENING_FILE));
        loaded = false;
    }
    OnClockStateChanged(0, 0);
    return loaded;
}

void CClockPropSheet::OnSaveToFile() {
    const QString path = AskFileName(true, QStringLiteral("hcs"));
    if (path.isEmpty()) return;
    SaveToFile(path);
}

bool CClockPropSheet::SaveToFile(const QString& path) {
    // The old file stays intact unless the new one was written in full.
    bool saved = false;
    try {
        SaveConfigFile(m_clockState, LocalPath(path));
        saved = true;
    } catch (...) {
        saved = false;
    }
    if (saved)
        OnStatusText(IDS_SAVED_FILE_OK);
    else
        ShowMessageBox(GetString(IDS_ERROR_SAVING_FILE));
    return saved;
}

void CClockPropSheet::OnDump() {
    const QString path = AskFileName(true, QStringLiteral("txt"));
    if (path.isEmpty()) return;
    DumpToFile(path);
}

bool CClockPropSheet::DumpToFile(const QString& path) {
    // A dump that cannot be written is told like any file that cannot be saved.
    try {
        DumpConfigFile(m_clockState, LocalPath(path));
    } catch (...) {
        ShowMessageBox(GetString(IDS_ERROR_SAVING_FILE));
        return false;
    }
    OnStatusText(IDS_DUMPED_FILE_OK);
    return true;
}

QString CClockPropSheet::InstalledManualPath() {
    const QDir bin(QCoreApplication::applicationDirPath());
    return QDir::cleanPath(bin.filePath(QStringLiteral("../") + QStringLiteral(TARVEL_INSTALL_DOCDIR) +
                                        QStringLiteral("/manual/") + QLatin1String(kManualStart)));
}

QString CClockPropSheet::FindManual() {
    // Installed: beside the program, under the install prefix. A program run
    // from its build tree finds the manual through a note the build leaves
    // beside it; a test names it in the environment. The program itself
    // holds no path of the source or build tree.
    QStringList candidates = {InstalledManualPath()};
    const QByteArray fromEnvironment = qgetenv("TARVEL_MANUAL_DIR");
    if (!fromEnvironment.isEmpty())
        candidates << QDir(QFile::decodeName(fromEnvironment)).filePath(QLatin1String(kManualStart));
    QFile note(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tarvel-manual-dir")));
    if (note.open(QIODevice::ReadOnly)) {
        const QString dir = QString::fromUtf8(note.readLine(4096)).trimmed();
        if (!dir.isEmpty()) candidates << QDir(dir).filePath(QLatin1String(kManualStart));
    }
    for (const QString& candidate : candidates) {
        const QFileInfo info(candidate);
        if (info.isFile()) return info.canonicalFilePath();
    }
    return QString();
}

void CClockPropSheet::SetUrlOpener(UrlOpener opener) { UrlOpenerHook() = std::move(opener); }

void CClockPropSheet::OpenManual(const QString& fragment) {
    const QString manual = FindManual();
    if (manual.isEmpty()) {
        ShowMessageBox(FormatString(GetString(IDS_MANUAL_MISSING).c_str(),
                                    InstalledManualPath().toLocal8Bit().constData()));
        return;
    }
    QUrl url = QUrl::fromLocalFile(manual);
    if (!fragment.isEmpty()) url.setFragment(fragment);
    const UrlOpener& opener = UrlOpenerHook();
    const bool opened = opener ? opener(url) : QDesktopServices::openUrl(url);
    // No browser or desktop launcher: at least say where the manual is.
    if (!opened) ShowMessageBox(FormatString(GetString(IDS_MANUAL_NO_VIEWER).c_str(), manual.toLocal8Bit().constData()));
}

void CClockPropSheet::OnHelpContents() { OpenManual(QString()); }

void CClockPropSheet::OnHelpSearch() { OpenManual(QStringLiteral("index")); }

void CClockPropSheet::OnWebSite() {
    // Nothing is reported when no browser takes it.
    const QUrl url(QString::fromLatin1(kWebAddress));
    const UrlOpener& opener = UrlOpenerHook();
    opener ? opener(url) : QDesktopServices::openUrl(url);
}

void CClockPropSheet::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CClockPropSheet::closeEvent(QCloseEvent* event) {
    if (CQtPromptHooks::IsPumping()) {
        // Asked to close while a wait is dispatching (ReadStop): the wait ends
        // first, then the close is carried out. From now on no thread may keep
        // the GUI thread waiting.
        CQtPromptHooks::SetClosePending(true);
        CGuiCall::SetOpen(false);
        event->ignore();
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
        return;
    }
    CQtPromptHooks::SetClosePending(false);
    QDialog::closeEvent(event);
}

void CClockPropSheet::showEvent(QShowEvent* event) {
    m_wasShown = true;
    QDialog::showEvent(event);
}

bool CClockPropSheet::RestoreWindowPlacement() {
    const int left = GetProfileInt(kWindowSection, "Left", INT_MIN);
    const int top = GetProfileInt(kWindowSection, "Top", INT_MIN);
    const int width = GetProfileInt(kWindowSection, "Width", 0);
    const int height = GetProfileInt(kWindowSection, "Height", 0);
    if (left == INT_MIN || top == INT_MIN || width <= 0 || height <= 0) return false;
    // The title strip must lie on a screen, enough of it to take the window
    // by; otherwise (a screen since removed) the default place is better.
    const QRect title(left, top, width, 32);
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect available = screen->availableGeometry();
        const QRect seen = available.intersected(title);
        if (seen.width() < 64 || seen.height() < 16) continue;
        const QSize size = QSize(width, height).boundedTo(available.size()).expandedTo(minimumSizeHint());
        setGeometry(QRect(QPoint(left, top), size));
        return true;
    }
    return false;
}

void CClockPropSheet::SaveWindowPlacement() {
    // The normal place, also when the window is minimised at the end.
    const QRect rect = (isMinimized() || isMaximized()) ? normalGeometry() : geometry();
    if (!rect.isValid()) return;
    WriteProfileInt(kWindowSection, "Left", rect.left());
    WriteProfileInt(kWindowSection, "Top", rect.top());
    WriteProfileInt(kWindowSection, "Width", rect.width());
    WriteProfileInt(kWindowSection, "Height", rect.height());
}

void CClockPropSheet::keyPressEvent(QKeyEvent* event) {
    // The window has no Cancel button: Escape does not end the program.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
