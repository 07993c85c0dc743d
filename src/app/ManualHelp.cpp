#include "ManualHelp.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "Resource.h"
#include "StringTable.h"
#include "WaitCursor.h"

namespace {

// The manual's start page below a manual directory.
constexpr char kManualStart[] = "index.html";
// How long the question for a browser may take, in ms.
constexpr int kHandlerQueryMs = 3000;

CManualHelp::UrlOpener& UrlOpenerHook() {
    static CManualHelp::UrlOpener opener;
    return opener;
}

bool OpenUrl(const QUrl& url) {
    const CManualHelp::UrlOpener& opener = UrlOpenerHook();
    return opener ? opener(url) : QDesktopServices::openUrl(url);
}

}  // namespace

const char* const CManualHelp::kWebAddress = "https://www.halvern.example/";
const char* const CManualHelp::kBuiltInManual = ":/tarvel/manual/index.html";

CManualHelp::CManualHelp(QWidget* owner, MessageSink showMessage)
    : m_owner(owner), m_showMessage(std::move(showMessage)) {}

QString CManualHelp::InstalledManualPath() {
    const QDir bin(QCoreApplication::applicationDirPath());
    return QDir::cleanPath(bin.filePath(QStringLiteral("../") + QStringLiteral(TARVEL_INSTALL_DOCDIR) +
                                        QStringLiteral("/manual/") + QLatin1String(kManualStart)));
}

QString CManualHelp::FindManual() {
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

void CManualHelp::SetUrlOpener(UrlOpener opener) { UrlOpenerHook() = std::move(opener); }

bool CManualHelp::HasHtmlHandler() {
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

void CManualHelp::OpenManual(const QString& fragment) {
    // The installed file first, so the desktop's browser shows it; where it
    // was left out (minimal images drop share/doc) or no browser is set up,
    // the built-in copy.
    const QString manual = FindManual();
    bool handled = false;
    if (manual.isEmpty() || !HasHtmlHandler()) handled = ShowBuiltInManual(fragment);
    if (handled) return;
    if (manual.isEmpty()) {
        m_showMessage(FormatString(GetString(IDS_MANUAL_MISSING).c_str(),
                                   InstalledManualPath().toLocal8Bit().constData()));
        return;
    }
    OpenInBrowser(manual, fragment);
}

bool CManualHelp::OpenInBrowser(const QString& manual, const QString& fragment) {
    QUrl url = QUrl::fromLocalFile(manual);
    if (!fragment.isEmpty()) url.setFragment(fragment);
    const bool opened = OpenUrl(url);
    // No browser or desktop launcher: at least say where the manual is.
    if (!opened)
        m_showMessage(FormatString(GetString(IDS_MANUAL_NO_VIEWER).c_str(), manual.toLocal8Bit().constData()));
    return opened;
}

bool CManualHelp::ShowBuiltInManual(const QString& fragment) {
    // Shown in a browser of our own rather than copied to a temporary file:
    // nothing is left behind or removed under a browser still loading it, and
    // it works where no browser is installed at all.
    const QString resource = QString::fromLatin1(kBuiltInManual);
    if (!QFileInfo::exists(resource)) return false;
    if (!m_dialog) {
        auto* dialog = new QDialog(m_owner);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowTitle(QString::fromStdString(GetString(IDS_MANUAL_WINDOW_TITLE)));
        auto* browser = new QTextBrowser(dialog);
        browser->setOpenExternalLinks(true);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
        // The installed file, at the place shown, for a browser the user may
        // know better than the desktop does.
        QPushButton* toBrowser = buttons->addButton(QString::fromStdString(GetString(IDS_MANUAL_OPEN_BROWSER)),
                                                    QDialogButtonBox::ActionRole);
        if (FindManual().isEmpty()) {
            toBrowser->setEnabled(false);
            toBrowser->setToolTip(QString::fromStdString(GetString(IDS_MANUAL_NOT_INSTALLED)));
        }
        QObject::connect(toBrowser, &QPushButton::clicked, dialog, [this, browser] {
            const QString manual = FindManual();
            if (!manual.isEmpty()) OpenInBrowser(manual, browser->source().fragment());
        });
        auto* layout = new QVBoxLayout(dialog);
        layout->addWidget(browser);
        layout->addWidget(buttons);
        dialog->resize(720, 560);
        m_dialog = dialog;
    }
    QUrl url(QStringLiteral("qrc") + resource);
    if (!fragment.isEmpty()) url.setFragment(fragment);
    QTextBrowser* browser = GetBrowser();
    browser->setSource(url);
    if (fragment.isEmpty()) browser->verticalScrollBar()->setValue(0);
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
    return true;
}

QTextBrowser* CManualHelp::GetBrowser() const { return m_dialog ? m_dialog->findChild<QTextBrowser*>() : nullptr; }

void CManualHelp::OnWebSite() { OpenUrl(QUrl(QString::fromLatin1(kWebAddress))); }
