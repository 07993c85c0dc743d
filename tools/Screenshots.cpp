// tarvel-screenshots DIR: renders tarvel's main window on each of its pages
// into DIR (scripts/screenshots), the Comm Port page with its port list open,
// and the box a read the clock refuses shows. It reaches the window as a user
// does, through its widgets and menu. Not installed.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

#include "ClockPropSheet.h"
#include "ClockWatch.h"
#include "CommonPage.h"
#include "ControlIds.h"
#include "FloatStatus.h"
#include "LocationDlg.h"
#include "Profile.h"
#include "QtWaitHooks.h"
#include "Resource.h"
#include "SetupDlg.h"
#include "SimClock.h"
#include "SimPort.h"

namespace {

// The simulated clock refuses commands (on), or answers again; false when
// the window's port is no such clock.
bool RefuseCommands(bool on) {
    CSimClock* clock = CSimPort::GetClock();
    if (!clock) return false;
    TSimFaults faults;
    faults.answerQuestion = on;
    clock->SetFaults(faults);
    return true;
}

// "From Comm Port", as the menu gives it.
void ReadFromClock(CClockPropSheet& sheet) {
    for (QAction* action : sheet.findChildren<QAction*>())
        if (action->data().toUInt() == ID_FILE_LOAD_COMM) action->trigger();
}

// The status line: docked inside the window, or a window of its own.
CFloatStatus* StatusLine(CClockPropSheet& sheet) {
    for (QWidget* widget : sheet.findChildren<QWidget*>())
        if (auto* docked = dynamic_cast<CFloatStatus*>(widget)) return docked;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* floating = dynamic_cast<CFloatStatus*>(widget)) return floating;
    return nullptr;
}

// The Clock Setup page as after a change: the daylight saving change-over
// minute set to 30, shown bold, selected, with its value field; the first
// branches open, as a user looking around would leave them.
void ShowSomeItems(CClockPropSheet& sheet, CCommonPage& page) {
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
QImage GrabPortList(CClockPropSheet& sheet, CSetupDlg& page) {
    auto* combo = qobject_cast<QComboBox*>(page.FindControl(static_cast<int>(IDC_COMM_PORT)));
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

// The main window with its status line under it, as the user sees them.
QImage GrabWindow(CClockPropSheet& sheet) {
    const QPixmap window = sheet.grab();
    QPixmap status;
    if (CFloatStatus* floating = StatusLine(sheet); floating && !floating->IsDocked()) status = floating->grab();
    QImage shot(window.width(), window.height() + status.height(), QImage::Format_ARGB32);
    shot.fill(Qt::white);
    QPainter painter(&shot);
    painter.drawPixmap(0, 0, window);
    if (!status.isNull()) painter.drawPixmap(0, window.height(), status);
    painter.end();
    return shot;
}

bool Save(const QImage& image, const QString& file) {
    if (!image.isNull() && image.save(file)) return true;
    std::fprintf(stderr, "cannot write %s\n", file.toLocal8Bit().constData());
    return false;
}

int Render(const QString& dir) {
    if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "cannot create %s\n", dir.toLocal8Bit().constData());
        return 1;
    }
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.show();
    // With a clock on the stored port (the script uses the simulated one),
    // the pages show a real setup rather than empty controls.
    if (sheet.GetPort()->IsOpen()) ReadFromClock(sheet);
    QTabWidget* tabs = sheet.findChild<QTabWidget*>();
    const char* const names[] = {"comm-port", "clock-setup", "location", "console"};
    int failures = 0;
    for (int i = 0; i < tabs->count() && i < 4; ++i) {
        tabs->setCurrentIndex(i);
        QApplication::processEvents();
        if (auto* page = dynamic_cast<CCommonPage*>(tabs->currentWidget())) ShowSomeItems(sheet, *page);
        // The time texts appear with the page's first one-second tick.
        if (dynamic_cast<CLocationDlg*>(tabs->currentWidget())) {
            QEventLoop wait;
            QTimer::singleShot(1200, &wait, &QEventLoop::quit);
            wait.exec();
        }
        QApplication::processEvents();
        const QDir out(dir);
        if (!Save(GrabWindow(sheet), out.filePath(QStringLiteral("%1-%2.png").arg(i + 1).arg(QLatin1String(names[i])))))
            ++failures;
        if (auto* page = dynamic_cast<CSetupDlg*>(tabs->currentWidget()))
            if (!Save(GrabPortList(sheet, *page), out.filePath(QStringLiteral("commport-ports.png")))) ++failures;
    }
    // The Location page watching a clock 2 s behind, after a dozen polls.
    if (CSimClock* clock = CSimPort::GetClock(); clock && sheet.GetPort()->IsOpen()) {
        clock->SetTimeOffset(-2.0);
        tabs->setCurrentIndex(2);
        auto* page = dynamic_cast<CLocationDlg*>(tabs->currentWidget());
        auto* watch = page ? qobject_cast<QCheckBox*>(page->FindControl(IDC_WATCH)) : nullptr;
        if (watch) watch->click();
        QElapsedTimer waited;
        waited.start();
        while (page && page->GetWatch() && page->GetWatch()->GetPolls() < 12 && waited.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 100);
        if (!page || !page->GetWatch() || !Save(GrabWindow(sheet), QDir(dir).filePath(QStringLiteral("location-watch.png"))))
            ++failures;
        if (watch) watch->click();
        clock->SetTimeOffset(0.0);
    }
    // A read the clock refuses, with the box that says why.
    // Off the Console page first: its reader would take the clock's answers.
    tabs->setCurrentIndex(0);
    QApplication::processEvents();
    if (sheet.GetPort()->IsOpen() && RefuseCommands(true)) {
        const QString file = QDir(dir).filePath(QStringLiteral("read-failed.png"));
        sheet.GetUi().SetBoxHandler([&](const std::string& text, const std::string& detail) {
            const std::unique_ptr<QMessageBox> box = sheet.GetUi().MakeBox(text, detail);
            box->show();
            QApplication::processEvents();
            if (!Save(box->grab().toImage(), file)) ++failures;
        });
        ReadFromClock(sheet);
        sheet.GetUi().SetBoxHandler(nullptr);
        RefuseCommands(false);
    }
    sheet.hide();
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argc > 0 ? argv[0] : "tarvel-screenshots");
        return 2;
    }
    // The program's own name: its profile, its boxes' title.
    SetProgramName("tarvel");
    RegisterSimPort();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromStdString(GetAppName()));
    CQtWaitHooks::Install();
    const int status = Render(QString::fromLocal8Bit(argv[1]));
    CQtWaitHooks::Uninstall();
    return status;
}
