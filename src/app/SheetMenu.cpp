// The menu bar with its prompts in the status line, the status line itself,
// and the Help menu's commands.
#include "ClockPropSheet.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "AboutDlg.h"
#include "Resource.h"
#include "StringTable.h"
#include "TextUtil.h"
#include "WaitCursor.h"

namespace {

// The manual's start page below a manual directory.
constexpr char kManualStart[] = "index.html";
// How long the question for a browser may take, in ms.
constexpr int kHandlerQueryMs = 3000;

CClockPropSheet::UrlOpener& UrlOpenerHook() {
    static CClockPropSheet::UrlOpener opener;
    return opener;
}

}  // namespace

const char* const CClockPropSheet::kWebAddress = "https://www.halvern.example/";
const char* const CClockPropSheet::kBuiltInManual = ":/tarvel/manual/index.html";

void CClockPropSheet::BuildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(tr("&File"));
    QMenu* load = file->addMenu(tr("&Load"));
    AddCommand(load, "From &Comm Port", ID_FILE_LOAD_COMM, &CClockPropSheet::OnLoadFromCommPort);
    AddCommand(load, "From &File", ID_FILE_LOAD_FILE, &CClockPropSheet::OnLoadFromFile);
    QMenu* save = file->addMenu(tr("Save"));
    AddCommand(save, "To &Comm Port", ID_FILE_SAVE_COMM, &CClockPropSheet::OnSaveToCommPort);
    AddCommand(save, "To &File", ID_FILE_SAVE_FILE, &CClockPropSheet::OnSaveToFile);
    AddCommand(file, "&Compare...", ID_FILE_COMPARE, &CClockPropSheet::OnCompare);
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
    for (unsigned id : {ID_FILE_LOAD_COMM, ID_FILE_SAVE_COMM, ID_FILE_SAVE_FILE, ID_FILE_COMPARE, ID_FILE_DUMP})
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

void CClockPropSheet::SetStatus(const std::string& text, const std::string& toolTip) {
    m_statusText = text;
    if (m_pFloatStatus) m_pFloatStatus->SetText(text, toolTip);
}

QString CClockPropSheet::GetStatusToolTip() const { return m_pFloatStatus ? m_pFloatStatus->GetToolTip() : QString(); }

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

bool CClockPropSheet::HasHtmlHandler() {
    // The desktop's launcher says it took a page even when nothing can show
    // it, so ask first which program web pages go to. Without the tool that
    // answers there is no launcher either; an answer too slow to wait for
    // leaves it to the desktop.
    CWaitCursor wait;
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!query.waitForStarted(kHandlerQueryMs)) return false;
    if (!query.waitForFinished(kHandlerQueryMs)) {
        query.kill();
        query.waitForFinished(kHandlerQueryMs);
        return true;
    }
    return query.exitStatus() == QProcess::NormalExit && query.exitCode() == 0 &&
           !query.readAllStandardOutput().trimmed().isEmpty();
}

void CClockPropSheet::OpenManual(const QString& fragment) {
    // The installed file first, so the desktop's browser shows it; where it
    // was left out (minimal images drop share/doc) or no browser is set up,
    // the built-in copy.
    const QString manual = FindManual();
    bool handled = false;
    if (manual.isEmpty() || !HasHtmlHandler()) handled = ShowBuiltInManual(fragment);
    if (handled) return;
    if (manual.isEmpty()) {
        ShowMessage(FormatString(GetString(IDS_MANUAL_MISSING).c_str(),
                                    InstalledManualPath().toLocal8Bit().constData()));
        return;
    }
    OpenInBrowser(manual, fragment);
}

bool CClockPropSheet::OpenInBrowser(const QString& manual, const QString& fragment) {
    QUrl url = QUrl::fromLocalFile(manual);
    if (!fragment.isEmpty()) url.setFragment(fragment);
    const UrlOpener& opener = UrlOpenerHook();
    const bool opened = opener ? opener(url) : QDesktopServices::openUrl(url);
    // No browser or desktop launcher: at least say where the manual is.
    if (!opened) ShowMessage(FormatString(GetString(IDS_MANUAL_NO_VIEWER).c_str(), manual.toLocal8Bit().constData()));
    return opened;
}

bool CClockPropSheet::ShowBuiltInManual(const QString& fragment) {
    // Shown in a browser of our own rather than copied to a temporary file:
    // nothing is left behind or removed under a browser still loading it, and
    // it works where no browser is installed at all.
    const QString resource = QString::fromLatin1(kBuiltInManual);
    if (!QFileInfo::exists(resource)) return false;
    if (!m_manualDlg) {
        auto* dialog = new QDialog(this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowTitle(QString::fromStdString(GetString(IDS_MANUAL_WINDOW_TITLE)));
        auto* browser = new QTextBrowser(dialog);
        browser->setOpenExternalLinks(true);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
        connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
        // The installed file, at the place shown, for a browser the user may
        // know better than the desktop does.
        QPushButton* toBrowser = buttons->addButton(QString::fromStdString(GetString(IDS_MANUAL_OPEN_BROWSER)),
                                                    QDialogButtonBox::ActionRole);
        if (FindManual().isEmpty()) {
            toBrowser->setEnabled(false);
            toBrowser->setToolTip(QString::fromStdString(GetString(IDS_MANUAL_NOT_INSTALLED)));
        }
        connect(toBrowser, &QPushButton::clicked, this, [this, browser] {
            const QString manual = FindManual();
            if (!manual.isEmpty()) OpenInBrowser(manual, browser->source().fragment());
        });
        auto* layout = new QVBoxLayout(dialog);
        layout->addWidget(browser);
        layout->addWidget(buttons);
        dialog->resize(720, 560);
        m_manualDlg = dialog;
    }
    QUrl url(QStringLiteral("qrc") + resource);
    if (!fragment.isEmpty()) url.setFragment(fragment);
    QTextBrowser* browser = GetManualBrowser();
    browser->setSource(url);
    if (fragment.isEmpty()) browser->verticalScrollBar()->setValue(0);
    m_manualDlg->show();
    m_manualDlg->raise();
    m_manualDlg->activateWindow();
    return true;
}

QTextBrowser* CClockPropSheet::GetManualBrowser() const {
    return m_manualDlg ? m_manualDlg->findChild<QTextBrowser*>() : nullptr;
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
