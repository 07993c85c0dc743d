#include "TarvelApp.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>

#include "ClockPropSheet.h"
#include "CommonPage.h"
#include "LocationDlg.h"
#include "CommPort.h"
#include "FloatStatus.h"
#include "MessageTarget.h"
#include "Profile.h"
#include "QtPromptHooks.h"
#include "Resource.h"
#include "SetupDlg.h"

// The icons live in the static library's resource, which the linker drops
// unless it is asked for by name. Outside any namespace, as Qt requires.
static void InitTarvelResource() { Q_INIT_RESOURCE(tarvel); }

namespace {

// argv[0] first: the program name has to be known before the QApplication
// looks at it.
int& NameFromArgs(int& argc, char** argv) {
    if (argc > 0 && argv && argv[0]) SetProgramName(argv[0]);
    return argc;
}

// Opens the first branches and selects an item, as a user looking around would.
// The Clock Setup page as after a change: the daylight saving change-over
// minute set to 30, shown bold, selected, with its value field.
void ShowSomeItems(CClockPropSheet& sheet) {
    CCommonPage& page = sheet.GetCommonPage();
    QTreeWidget* tree = page.GetTree();
    if (!tree || tree->topLevelItemCount() < 4) return;
    constexpr int kChangeOverMinutes = 15;
    if (sheet.GetClockState()->IsValid() && sheet.GetClockState()->SetItem(kChangeOverMinutes, 30, false))
        page.ClockStateChanged();
    tree->topLevelItem(0)->setExpanded(true);
    tree->topLevelItem(2)->setExpanded(true);
    tree->topLevelItem(3)->setExpanded(true);
    if (QTreeWidgetItem* minutes = tree->topLevelItem(2)->child(1)) tree->setCurrentItem(minutes);
}

// The window with the Comm Port combo's list dropped down over it, so every
// port shows with what it is; a null image when the list does not open.
QImage GrabPortList(CClockPropSheet& sheet) {
    auto* combo = qobject_cast<QComboBox*>(sheet.GetSetupPage().FindControl(static_cast<int>(IDC_COMM_PORT)));
    if (!combo) return QImage();
    combo->showPopup();
    QApplication::processEvents();
    QWidget* popup = combo->view()->window();
    if (!popup || !popup->isVisible()) return QImage();
    const QPixmap window = sheet.grab();
    const QPixmap list = popup->grab();
    const QPoint at = popup->mapToGlobal(QPoint(0, 0)) - sheet.mapToGlobal(QPoint(0, 0));
    combo->hidePopup();
    const QRect all = QRect(QPoint(0, 0), window.size()).united(QRect(at, list.size()));
    QImage shot(all.size(), QImage::Format_ARGB32);
    shot.fill(Qt::white);
    QPainter painter(&shot);
    painter.drawPixmap(-all.topLeft(), window);
    painter.drawPixmap(at - all.topLeft(), list);
    painter.end();
    return shot;
}

}  // namespace

CTarvelApp::CTarvelApp(int& argc, char** argv) : m_app(NameFromArgs(argc, argv), argv) {
    QApplication::setApplicationName(QString::fromStdString(GetAppName()));
    QApplication::setWindowIcon(GetIcon());
}

CTarvelApp::~CTarvelApp() { CQtPromptHooks::Uninstall(); }

QIcon CTarvelApp::GetIcon() {
    static const bool initialised = (InitTarvelResource(), true);
    (void)initialised;
    QIcon icon;
    icon.addFile(QStringLiteral(":/tarvel/tarvel-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/tarvel/tarvel-64.png"), QSize(64, 64));
    icon.addFile(QStringLiteral(":/tarvel/tarvel-256.png"), QSize(256, 256));
    return icon;
}

int CTarvelApp::Run() {
    CQtPromptHooks::Install();

    const QStringList args = QApplication::arguments();
    const int shots = static_cast<int>(args.indexOf(QStringLiteral("--screenshots")));
    if (shots >= 0) {
        if (shots + 1 >= args.size()) {
            std::fprintf(stderr, "usage: %s --screenshots DIR\n", GetAppName().c_str());
            return 2;
        }
        return RenderScreenshots(args.at(shots + 1));
    }

    QString file;
    QString error;
    if (!ParseArgs(args, file, error)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", GetAppName().c_str(), error.toLocal8Bit().constData(),
                     GetAppName().c_str());
        return 2;
    }

    // The port may open here already; nobody hears of it until the window runs.
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    if (!file.isEmpty()) OpenAtStart(sheet, file);
    sheet.exec();
    return 0;
}

bool CTarvelApp::ParseArgs(const QStringList& args, QString& file, QString& error) {
    file.clear();
    bool optionsEnded = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (!optionsEnded && arg == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.size() > 1 && arg.startsWith(QLatin1Char('-'))) {
            error = QStringLiteral("unknown option %1").arg(arg);
            return false;
        }
        if (!file.isEmpty()) {
            error = QStringLiteral("one setup file at a time");
            return false;
        }
        file = arg;
    }
    return true;
}

void CTarvelApp::OpenAtStart(CClockPropSheet& sheet, const QString& file) {
    // Once the window shows, so a refused file's message has a window to belong to.
    QTimer::singleShot(0, &sheet, [&sheet, file] { sheet.LoadFromFile(file); });
}

int CTarvelApp::RenderScreenshots(const QString& dir) {
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "cannot create %s\n", dir.toLocal8Bit().constData());
        return 1;
    }
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.show();
    // With a clock on the stored port (the script uses the simulated one),
    // the pages show a real setup rather than empty controls.
    if (sheet.GetPort()->IsOpen()) sheet.OnLoadFromCommPort();
    QTabWidget* tabs = sheet.GetTabs();
    const char* const names[] = {"comm-port", "clock-setup", "location", "console"};
    int failures = 0;
    for (int i = 0; i < tabs->count() && i < 4; ++i) {
        tabs->setCurrentIndex(i);
        QApplication::processEvents();
        if (tabs->currentWidget() == &sheet.GetCommonPage()) ShowSomeItems(sheet);
        // The time texts appear with the page's first one-second tick.
        if (tabs->currentWidget() == &sheet.GetLocationPage()) {
            QEventLoop wait;
            QTimer::singleShot(1200, &wait, &QEventLoop::quit);
            wait.exec();
        }
        QApplication::processEvents();
        // The main window with its status line under it, as the user sees them.
        const QPixmap window = sheet.grab();
        QPixmap status;
        if (CFloatStatus* floating = sheet.GetFloatStatus(); floating && !floating->IsDocked())
            status = floating->grab();
        QImage shot(window.width(), window.height() + status.height(), QImage::Format_ARGB32);
        shot.fill(Qt::white);
        QPainter painter(&shot);
        painter.drawPixmap(0, 0, window);
        if (!status.isNull()) painter.drawPixmap(0, window.height(), status);
        painter.end();
        const QString file = QDir(dir).filePath(QStringLiteral("%1-%2.png").arg(i + 1).arg(QLatin1String(names[i])));
        if (!shot.save(file)) {
            std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
            ++failures;
        }
        if (tabs->currentWidget() == &sheet.GetSetupPage()) {
            const QString ports = QDir(dir).filePath(QStringLiteral("commport-ports.png"));
            const QImage list = GrabPortList(sheet);
            if (list.isNull() || !list.save(ports)) {
                std::fprintf(stderr, "cannot write %s\n", ports.toLocal8Bit().constData());
                ++failures;
            }
        }
    }
    // A read the clock refuses, with the box that says why.
    // Off the Console page first: its reader would take the clock's answers.
    tabs->setCurrentIndex(0);
    QApplication::processEvents();
    if (m_refuseCommands && sheet.GetPort()->IsOpen() && m_refuseCommands(true)) {
        const QString file = QDir(dir).filePath(QStringLiteral("read-failed.png"));
        sheet.GetUi().SetBoxHandler([&](const std::string& text, const std::string& detail) {
            const std::unique_ptr<QMessageBox> box = sheet.GetUi().MakeBox(text, detail);
            box->show();
            QApplication::processEvents();
            if (!box->grab().save(file)) {
                std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
                ++failures;
            }
        });
        sheet.OnLoadFromCommPort();
        sheet.GetUi().SetBoxHandler(nullptr);
        m_refuseCommands(false);
    }
    sheet.hide();
    return failures ? 1 : 0;
}
