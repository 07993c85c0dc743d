// The main window telling the truth about what it did and staying alive:
// cancelled writes, the countdown's stage and owner, painting during a
// transfer without a second command starting, the menu bar's prompts, the
// icon, the window's place in the profile, the port's state line, an
// unplugged device and the reader that feeds the Console page.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "AboutDlg.h"
#include "ClockPropSheet.h"
#include "EchoPatience.h"
#include "DlgCommDelay.h"
#include "GuiTestSupport.h"
#include "SheetParts.h"
#include "WindowPlacement.h"
#include "MessageTarget.h"
#include "Messages.h"
#include "Profile.h"
#include "Waits.h"
#include "QtWaitHooks.h"
#include "ControlIds.h"
#include "Resource.h"
#include "SheetPrompts.h"
#include "SimClock.h"
#include "StringTable.h"

namespace {

constexpr int kConsoleTab = 3;
constexpr int kLocationTab = 2;

// The countdown on screen now, if any.
CDlgCommDelay* VisibleCountdown() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dlg = dynamic_cast<CDlgCommDelay*>(w); dlg && dlg->isVisible()) return dlg;
    return nullptr;
}

// Calls fn every few milliseconds for as long as it lives, in whatever loop
// dispatches timers.
class CTicker {
public:
    explicit CTicker(std::function<void()> fn) {
        QObject::connect(&m_timer, &QTimer::timeout, fn);
        m_timer.start(5);
    }

private:
    QTimer m_timer;
};

// Counts the paint events of a widget.
class CPaintCounter : public QObject {
public:
    explicit CPaintCounter(QWidget* w) { w->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++count;
        return false;
    }
};

// A sheet on the simulated clock, shown, its setup loaded, the real dialogs.
class CSimSession {
public:
    CSimSession() {
        // Echoes have time to come back on a loaded machine.
        WriteProfileInt("Communication", "CharDelay", 50);
        CQtWaitHooks::Install();
        started = sim.Start();
        // The clock's line, with a late echo waited for (EchoPatience.h): a
        // resent byte now fails a transfer, as it must on a real line.
        if (started) RegisterPatientPort("CLOCK", sim.DevicePath());
    }
    ~CSimSession() { CQtWaitHooks::Uninstall(); }
    // The window's boxes are caught from here on.
    void Catch(CClockPropSheet& sheet) { prompts = std::make_unique<CSheetPrompts>(sheet); }
    CSimClock sim;
    std::unique_ptr<CSheetPrompts> prompts;
    bool started = false;
};

}  // namespace

class CWindowTest : public QObject {
    Q_OBJECT

private slots:
    void CancelledWriteSaysWhatWasNotDone();
    void TransferKeepsPaintingAndTakesNoSecondCommand();
    void PassOverTheMenuBarKeepsTheStatus();
    void WindowAndAboutHaveTheIcon();
    void PlaceAndSizeComeBackFromTheProfile();
    void StateLineShowsOpenClosedOrWhy();
    void UnpluggedDeviceIsToldAndClosed();
    void ConsoleReadsWhileShown();
    void NetworkPortSaysWhatItCannotDoAndWhenItIsLost();
};

void CWindowTest::CancelledWriteSaysWhatWasNotDone() {
    CGuiProfile profile;
    CSimSession session;
    QVERIFY2(session.started, session.sim.LastError().c_str());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    session.Catch(sheet);
    sheet.show();
    QVERIFY(sheet.GetPort()->Open("CLOCK"));
    MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
    QVERIFY(sheet.GetClockState()->IsValid());
    const TClockConfig stored = session.sim.GetEeprom();
    sheet.GetClockState()->GetConfig()->backLight ^= 1;

    // OK at the first countdown, Cancel at the second; no countdown ends by itself.
    const int savedTick = CDlgCommDelay::GetDefaultTickMs();
    CDlgCommDelay::SetDefaultTickMs(60 * 60 * 1000);
    std::vector<QString> stages;
    std::vector<std::string> statuses;
    QWidget* owner = nullptr;
    {
        CTicker ticker([&] {
            if (statuses.empty() || statuses.back() != StatusText(sheet)) statuses.push_back(StatusText(sheet));
            CDlgCommDelay* dlg = VisibleCountdown();
            if (!dlg) return;
            owner = dlg->parentWidget();
            stages.push_back(dlg->GetStageText());
            QVERIFY(dlg->GetCountText().startsWith(QStringLiteral("Countdown ")));
            (stages.size() == 1 ? dlg->GetOkButton() : dlg->GetCancelButton())->click();
        });
        MenuAction(sheet, ID_FILE_SAVE_COMM)->trigger();
    }
    CDlgCommDelay::SetDefaultTickMs(savedTick);

    std::string boxes;
    for (const std::string& box : session.prompts->boxes) boxes += box + " ";
    QVERIFY2(session.prompts->boxes.empty(), boxes.c_str());
    QCOMPARE(stages, (std::vector<QString>{QString::fromStdString(GetString(IDS_STAGE_TAKING)),
                                           QString::fromStdString(GetString(IDS_STAGE_BEFORE_STORE))}));
    // The countdown belongs to the window.
    QCOMPARE(owner, static_cast<QWidget*>(&sheet));
    QCOMPARE(StatusText(sheet), GetString(IDS_WRITE_CANCELLED_UNSTORED));
    const std::string success = GetString(IDS_SENT_TO_CLOCK);
    for (const std::string& status : statuses) QVERIFY2(status != success, status.c_str());
    QVERIFY(std::find(statuses.begin(), statuses.end(), GetString(IDS_WRITING_TO_CLOCK)) != statuses.end());
    // Nothing was stored after the cancel.
    const TClockConfig after = session.sim.GetEeprom();
    QVERIFY(std::memcmp(&after, &stored, sizeof after) == 0);
    QVERIFY(session.prompts->boxes.empty());
}

void CWindowTest::TransferKeepsPaintingAndTakesNoSecondCommand() {
    CGuiProfile profile;
    CSimSession session;
    QVERIFY2(session.started, session.sim.LastError().c_str());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    session.Catch(sheet);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    Tabs(sheet)->setCurrentIndex(kLocationTab);
    QVERIFY(sheet.GetPort()->Open("CLOCK"));
    auto* toClock = qobject_cast<QPushButton*>(LocationPage(sheet).FindControl(IDC_PC_TO_CLOCK));
    QVERIFY(toClock && toClock->isEnabled());
    session.sim.ClearCommandLog();

    CPaintCounter paints(Tabs(sheet));
    int ticksWhileBusy = 0;
    std::vector<std::string> statuses;
    {
        CTicker ticker([&] {
            if (!sheet.IsBusy()) return;
            ++ticksWhileBusy;
            statuses.push_back(StatusText(sheet));
            Tabs(sheet)->update();
            // Whatever asks for another command meanwhile is refused.
            MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
            toClock->click();
        });
        paints.count = 0;
        MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
    }
    QVERIFY(ticksWhileBusy > 3);
    QVERIFY(paints.count > 0);
    QCOMPARE(statuses.front(), GetString(IDS_READING_FROM_CLOCK));
    std::string seen;
    for (const std::string& s : session.sim.GetCommandLog()) seen += s + " | ";
    QVERIFY2(StatusText(sheet) == GetString(IDS_GOT_FROM_CLOCK), seen.c_str());
    // One read, nothing else: the clock saw exactly its two commands.
    const std::vector<std::string> log = session.sim.GetCommandLog();
    QCOMPARE(log.size(), std::size_t(2));
    QVERIFY(log[0].ends_with("XO") && log[1].ends_with("XT"));

    // The time to the clock keeps the window painted too, and ends with its result.
    ticksWhileBusy = 0;
    statuses.clear();
    {
        CTicker ticker([&] {
            if (!sheet.IsBusy()) return;
            ++ticksWhileBusy;
            statuses.push_back(StatusText(sheet));
        });
        toClock->click();
    }
    QVERIFY(ticksWhileBusy > 3);
    QCOMPARE(statuses.front(), GetString(IDS_SETTING_CLOCK_TIME));
    QCOMPARE(StatusText(sheet), GetString(IDS_CLOCK_TIME_SET));
    QVERIFY(!sheet.IsBusy());
}

void CWindowTest::PassOverTheMenuBarKeepsTheStatus() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    sheet.ShowStatusText("Got clock configuration data from clock successfully.");
    QMenuBar* bar = MenuBar(sheet);
    QAction* help = bar->actions()[1];
    // The mouse over "Help" with no menu open.
    QTest::mouseMove(bar, bar->actionGeometry(help).center());
    emit bar->hovered(help);
    QCOMPARE(StatusText(sheet), std::string("Got clock configuration data from clock successfully."));

    // With a menu open the highlighted item gives the prompt, as always.
    QMenu* file = bar->actions()[0]->menu();
    file->popup(sheet.mapToGlobal(QPoint(0, 0)));
    QVERIFY(PumpUntil([&] { return QApplication::activePopupWidget() == file; }));
    MenuAction(sheet, ID_FILE_EXIT)->hover();
    QCOMPARE(StatusText(sheet), std::string("Exits this fine application"));
    file->close();
}

void CWindowTest::WindowAndAboutHaveTheIcon() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    QVERIFY(!sheet.windowIcon().pixmap(32, 32).isNull());
    CAboutDlg about(&sheet);
    bool shown = false;
    for (QLabel* label : about.findChildren<QLabel*>())
        if (!label->pixmap().isNull()) shown = true;
    QVERIFY(shown);
}

void CWindowTest::PlaceAndSizeComeBackFromTheProfile() {
    CGuiProfile profile;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QRect kept;
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        const QSize size = sheet.size().expandedTo(QSize(300, 200)) + QSize(13, 7);
        sheet.setGeometry(QRect(screen.topLeft() + QPoint(31, 17), size.boundedTo(screen.size() - QSize(40, 40))));
        QVERIFY(PumpUntil([&] { return sheet.geometry().topLeft() == screen.topLeft() + QPoint(31, 17); }));
        kept = sheet.geometry();
    }
    QCOMPARE(GetProfileInt("Window", "Left", -1), kept.left());
    QCOMPARE(GetProfileInt("Window", "Width", -1), kept.width());
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        QCOMPARE(sheet.geometry(), kept);
    }
    // Off every screen (a monitor since removed): the default place instead.
    WriteProfileInt("Window", "Left", screen.right() + 5000);
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        QVERIFY(!CWindowPlacement::Restore(sheet));
        QVERIFY(sheet.geometry().left() < screen.right());
    }
    // Not written when the window was never shown.
    WriteProfileString("Window", "Left", "garbage");
    { CClockPropSheet sheet(IDS_CAPTION, nullptr, 0); }
    QCOMPARE(GetProfileString("Window", "Left", ""), std::string("garbage"));
}

void CWindowTest::StateLineShowsOpenClosedOrWhy() {
    CGuiProfile profile;
    CTempDir dir;
    const auto oldDir = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());  // failed opens write their report here
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        CSheetPrompts prompts(sheet);
        sheet.show();
        CSetupDlg& page = SetupPage(sheet);
        QCOMPARE(page.GetPortStateText(), std::string("Closed"));
        auto* port = qobject_cast<QComboBox*>(page.FindControl(IDC_COMM_PORT));
        auto* baud = qobject_cast<QComboBox*>(page.FindControl(IDC_BAUD));
        auto* open = qobject_cast<QPushButton*>(page.FindControl(IDC_OPEN_PORT));

        // The menu follows each open from the page, a failed one too.
        QVERIFY(!IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));
        port->setEditText(QString::fromStdString(pty.SlaveName()));
        baud->setEditText(QStringLiteral("19200"));
        open->click();
        QVERIFY2(page.GetPortStateText() == "Open: " + pty.SlaveName() + " 19200 8N1", page.GetPortStateText().c_str());
        QVERIFY(IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));

        // A device that is not there: the reason and what to do.
        port->setEditText(QString::fromStdString(dir.File("no-such-tty")));
        open->click();
        const std::string why = page.GetPortStateText();
        QVERIFY2(why.starts_with("Not open: " + dir.File("no-such-tty") + ": No such file or directory."), why.c_str());
        QVERIFY2(why.find("plugged in?") != std::string::npos, why.c_str());
        QVERIFY2(why.ends_with("Then press \"Open Comm Port\" again."), why.c_str());
        QVERIFY(why.find('\n') == std::string::npos);
        QVERIFY(!IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));
        QVERIFY(!ReadWholeFile(dir.File("commport_err.txt")).empty());

        // A COM name shows the device it stands for, open or not.
        port->setEditText(QStringLiteral("COM4"));
        open->click();
        QVERIFY2(page.GetPortStateText().find("COM4 (/dev/ttyS3)") != std::string::npos,
                 page.GetPortStateText().c_str());

        // Opened again, then closed by the program: "Closed", not an old reason.
        port->setEditText(QString::fromStdString(pty.SlaveName()));
        open->click();
        QVERIFY(sheet.GetPort()->IsOpen());
        sheet.GetPort()->Close();
        sheet.GetEvents()->NotifyPortStateChanged();
        QCOMPARE(page.GetPortStateText(), std::string("Closed"));
        // A model picked now is stored as the window goes.
        for (int i = 0; i < 3; ++i) QTest::keyClick(page.FindControl(IDC_MODEL), Qt::Key_Down);
        QCOMPARE(StoredComm("Model"), std::string("K201"));
    }
    QCOMPARE(StoredComm("Model"), std::string("K204"));
    std::filesystem::current_path(oldDir);
}

void CWindowTest::UnpluggedDeviceIsToldAndClosed() {
    CGuiProfile profile;
    CSimSession session;
    QVERIFY2(session.started, session.sim.LastError().c_str());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    session.Catch(sheet);
    sheet.show();
    const std::string device = session.sim.DevicePath();
    QVERIFY(sheet.GetPort()->Open(device));
    QVERIFY(SetupPage(sheet).GetPortStateText().starts_with("Open: "));
    // The Console page shown: the reader runs and is the one to notice.
    Tabs(sheet)->setCurrentIndex(kConsoleTab);
    QCoreApplication::sendPostedEvents();
    session.sim.Stop();
    QVERIFY(PumpUntil([&] { return !sheet.GetPort()->IsOpen(); }, 10000));
    QCOMPARE(StatusText(sheet), GetString(IDS_PORT_DEVICE_GONE));
    QCOMPARE(SetupPage(sheet).GetPortStateText(),
             FormatString(GetString(IDS_PORT_STATE_GONE).c_str(), device.c_str()));
    QVERIFY(!IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));
    Tabs(sheet)->setCurrentIndex(0);
    QCoreApplication::sendPostedEvents();
}

void CWindowTest::ConsoleReadsWhileShown() {
    CGuiProfile profile;
    struct THooks {
        THooks() { CQtWaitHooks::Install(); }
        ~THooks() { CQtWaitHooks::Uninstall(); }
    } hooks;
    CPseudoTerminal line;
    QVERIFY(line.IsReady());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    QVERIFY(sheet.GetPort()->Open(line.SlaveName()));
    CConsoleDlg& page = ConsolePage(sheet);
    auto output = [&] { return page.GetOutput()->toPlainText().toStdString(); };
    sheet.show();
    // Each showing is answered once the page's own handling is over (queued,
    // as the page says it): the output emptied and the reader feeding it.
    Tabs(sheet)->setCurrentWidget(&page);
    QVERIFY(!output().empty());  // the start line, for now
    QVERIFY(PumpUntil([&] { return output().empty(); }));
    QVERIFY(line.WriteToPort("one\r\n"));
    QVERIFY(PumpUntil([&] { return output() == "one\n"; }));
    // Another tab: no reader, so what the clock sends stays queued (a reader
    // left running would take it within the wait).
    Tabs(sheet)->setCurrentIndex(0);
    QCoreApplication::sendPostedEvents();
    QVERIFY(line.WriteToPort("two\r\n"));
    QTest::qWait(300);
    QCOMPARE(line.Queued(), 5);
    // Shown again: emptied, and the waiting bytes arrive.
    Tabs(sheet)->setCurrentWidget(&page);
    QCOMPARE(output(), std::string("one\n"));
    QVERIFY(PumpUntil([&] { return output() == "two\n"; }));
    QVERIFY(prompts.boxes.empty());
}

// A raw TCP port: the status line says once that it cannot send a break, and
// a server that closes the connection closes the port with a line naming it.
void CWindowTest::NetworkPortSaysWhatItCannotDoAndWhenItIsLost() {
    CGuiProfile profile;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(listener >= 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
    QVERIFY(::listen(listener, 1) == 0);
    QVERIFY(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) == 0);
    const std::string name = "tcp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.show();
    QVERIFY(sheet.GetPort()->Open(name));
    const std::string notice = FormatString(GetString(IDS_NET_RAW_NOTICE).c_str(), name.c_str());
    QVERIFY(PumpUntil([&] { return StatusText(sheet) == notice; }, 5000));
    QVERIFY(SetupPage(sheet).GetPortStateText().starts_with("Open: " + name));

    const int server = ::accept(listener, nullptr, nullptr);
    QVERIFY(server >= 0);
    Tabs(sheet)->setCurrentIndex(kConsoleTab);
    QCoreApplication::sendPostedEvents();
    ::close(server);
    QVERIFY(PumpUntil([&] { return !sheet.GetPort()->IsOpen(); }, 10000));
    QCOMPARE(StatusText(sheet), FormatString(GetString(IDS_NET_CONNECTION_LOST).c_str(), name.c_str()));
    QCOMPARE(SetupPage(sheet).GetPortStateText(),
             FormatString(GetString(IDS_PORT_STATE_LOST).c_str(), name.c_str()));
    ::close(listener);
    Tabs(sheet)->setCurrentIndex(0);
    QCoreApplication::sendPostedEvents();
}

QTEST_MAIN(CWindowTest)
#include "WindowTest.moc"
