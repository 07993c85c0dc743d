// The main window: menu states, status line texts, menu prompts, the file
// commands, the status window's place and closing.
#include <QAction>
#include <QMenuBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <sstream>

#include "AboutDlg.h"
#include "ClockPropSheet.h"
#include "DlgCommDelay.h"
#include "EchoPatience.h"
#include "SimClock.h"
#include "GuiTestSupport.h"
#include "SheetParts.h"
#include "MessageTarget.h"
#include "Messages.h"
#include "Waits.h"
#include "QtWaitHooks.h"
#include "ControlIds.h"
#include "Resource.h"
#include "SheetPrompts.h"
#include "SimClock.h"
#include "StringTable.h"

namespace {

std::string ValidSetupFile() {
    CClockState fresh;
    std::ostringstream out;
    fresh.Serialize(out);
    return out.str();
}

}  // namespace

class CSheetTest : public QObject {
    Q_OBJECT

private slots:
    void StartsWithResourceMenuAndPrompt();
    void OpenPortEnablesLoadFromClock();
    void TransfersStayGrayedWhileConsoleIsCurrent();
    void FileLoadWithoutPortEnablesFileCommands();
    void RefusedAndMissingFilesShowTheirMessages();
    void SaveAndDumpWriteFilesOrReport();
    void StatusCodesBecomeTexts();
    void MenuHoverShowsFirstLineOfPrompt();
    void AboutShowsProductVersion();
    void StatusWindowFollowsSheet();
    void CloseDuringWaitIsDeferred();
    void ExitClosesAndEscapeDoesNot();
    void TransfersWithTheClock();
};

void CSheetTest::StartsWithResourceMenuAndPrompt() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    QCOMPARE(sheet.windowTitle(), QStringLiteral("Halvern Systems"));
    QCOMPARE(Tabs(sheet)->count(), 4);
    const QStringList titles = {"Comm Port", "Clock Setup", "Location", "Console"};
    for (int i = 0; i < 4; ++i) QCOMPARE(Tabs(sheet)->tabText(i), titles[i]);
    QCOMPARE(Tabs(sheet)->currentIndex(), 0);

    for (unsigned id : {ID_FILE_LOAD_COMM, ID_FILE_SAVE_COMM, ID_FILE_SAVE_FILE, ID_FILE_DUMP})
        QVERIFY2(!IsMenuEnabled(sheet, id), qPrintable(QString::number(id)));
    for (unsigned id : {ID_FILE_LOAD_FILE, ID_FILE_EXIT, ID_HELP_CONTENTS, ID_HELP_SEARCH, ID_HELP_WEB, ID_HELP_ABOUT})
        QVERIFY2(IsMenuEnabled(sheet, id), qPrintable(QString::number(id)));
    QCOMPARE(MenuAction(sheet, ID_FILE_LOAD_COMM)->text(), QStringLiteral("From &Comm Port"));
    QCOMPARE(MenuAction(sheet, ID_FILE_EXIT)->text(), QStringLiteral("E&xit"));
    QCOMPARE(StatusText(sheet),
             std::string("Click on \"Open Comm Port\" to start communication with your Halvern Systems Clock."));
    QCOMPARE(StatusLine(sheet)->GetText(), StatusText(sheet));

    // The menu bar in its order, with the unmarked "Save" submenu.
    const auto menus = MenuBar(sheet)->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus[0]->text(), QStringLiteral("&File"));
    QCOMPARE(menus[1]->text(), QStringLiteral("&Help"));
    QStringList fileItems;
    for (QAction* a : menus[0]->menu()->actions()) fileItems << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(fileItems, (QStringList{"&Load", "Save", "&Compare...", "-", "&Dump", "-", "E&xit"}));
    QStringList helpItems;
    for (QAction* a : menus[1]->menu()->actions()) helpItems << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(helpItems, (QStringList{"&Contents", "&Search", "-", "&On the web", "-", "&About"}));
}

void CSheetTest::OpenPortEnablesLoadFromClock() {
    CGuiProfile profile;
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);

    // The open itself tells the main window; the menu follows at once.
    QVERIFY(sheet.GetPort()->Open(pty.SlaveName()));
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));
    QVERIFY(!IsMenuEnabled(sheet, ID_FILE_SAVE_COMM));
    QCOMPARE(StatusText(sheet), std::string("Comm port is idle."));

    // With a configuration present as well, saving to the clock is offered.
    CTempDir dir;
    WriteWholeFile(dir.File("a.hcs"), ValidSetupFile());
    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("a.hcs"))));
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_SAVE_COMM));

    // Between notifications the menu keeps its state, even with the port closed.
    sheet.GetPort()->Close();
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));
    sheet.GetEvents()->NotifyPortStateChanged();
    QVERIFY(!IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));
    QVERIFY(!IsMenuEnabled(sheet, ID_FILE_SAVE_COMM));
    QVERIFY(prompts.boxes.empty());
}

void CSheetTest::TransfersStayGrayedWhileConsoleIsCurrent() {
    CGuiProfile profile;
    CPseudoTerminal line;
    CTempDir dir;
    WriteWholeFile(dir.File("setup.hcs"), ValidSetupFile());
    const QString setupFile = QString::fromStdString(dir.File("setup.hcs"));
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    auto both = [&](bool enabled) {
        return IsMenuEnabled(sheet, ID_FILE_LOAD_COMM) == enabled &&
               IsMenuEnabled(sheet, ID_FILE_SAVE_COMM) == enabled;
    };
    auto console = [&](bool current) {
        sheet.show();
        Tabs(sheet)->setCurrentIndex(current ? 3 : 0);
        QCoreApplication::sendPostedEvents();
    };

    QVERIFY(sheet.GetPort()->Open(line.SlaveName()));
    QVERIFY(sheet.LoadFromFile(setupFile));
    QVERIFY(both(true));
    console(true);
    QVERIFY(both(false));
    console(false);
    QVERIFY(both(true));

    // Changes while the page is current keep both grayed; leaving gives them
    // the state of the latest change, not the one found on entry.
    console(true);
    QVERIFY(sheet.LoadFromFile(setupFile));
    QVERIFY(both(false));
    sheet.GetPort()->Close();
    sheet.GetEvents()->NotifyPortStateChanged();
    QVERIFY(both(false));
    console(false);
    QVERIFY(both(false));
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_SAVE_FILE));
}

void CSheetTest::FileLoadWithoutPortEnablesFileCommands() {
    CGuiProfile profile;
    CTempDir dir;
    WriteWholeFile(dir.File("setup.hcs"), ValidSetupFile());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);

    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("setup.hcs"))));
    QVERIFY(sheet.GetClockState()->IsValid());
    QCOMPARE(StatusText(sheet), std::string("Read clock configuration file successfully."));
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_SAVE_FILE));
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_DUMP));
    QVERIFY(!IsMenuEnabled(sheet, ID_FILE_SAVE_COMM));
    QVERIFY(!IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));
    QVERIFY(prompts.boxes.empty());
}

void CSheetTest::RefusedAndMissingFilesShowTheirMessages() {
    CGuiProfile profile;
    CTempDir dir;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    const std::string before = StatusText(sheet);

    std::string wrong = ValidSetupFile();
    wrong[4] = 'X';  // first byte of the signature
    WriteWholeFile(dir.File("wrong.hcs"), wrong);
    QVERIFY(!sheet.LoadFromFile(QString::fromStdString(dir.File("wrong.hcs"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Unknown file type!"}));
    QCOMPARE(StatusText(sheet), before);
    QVERIFY(!sheet.GetClockState()->IsValid());
    QVERIFY(!IsMenuEnabled(sheet, ID_FILE_SAVE_FILE));

    prompts.boxes.clear();
    QVERIFY(!sheet.LoadFromFile(QString::fromStdString(dir.File("no-such-file.hcs"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error Opening File!"}));
    QCOMPARE(StatusText(sheet), before);

    // Too short to hold a setup: unreadable, and the loaded setup stays.
    WriteWholeFile(dir.File("good.hcs"), ValidSetupFile());
    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("good.hcs"))));
    WriteWholeFile(dir.File("short.hcs"), ValidSetupFile().substr(0, 40));
    prompts.boxes.clear();
    QVERIFY(!sheet.LoadFromFile(QString::fromStdString(dir.File("short.hcs"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error Opening File!"}));
    QVERIFY(sheet.GetClockState()->IsValid());
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_SAVE_FILE));
}

void CSheetTest::SaveAndDumpWriteFilesOrReport() {
    CGuiProfile profile;
    CTempDir dir;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    WriteWholeFile(dir.File("in.hcs"), ValidSetupFile());
    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("in.hcs"))));

    // Saving over a longer file leaves exactly the new setup.
    WriteWholeFile(dir.File("out.hcs"), std::string(4000, 'z'));
    QVERIFY(sheet.SaveToFile(QString::fromStdString(dir.File("out.hcs"))));
    QCOMPARE(ReadWholeFile(dir.File("out.hcs")), ValidSetupFile());
    QCOMPARE(StatusText(sheet), std::string("Saved clock configuration file successfully."));

    const std::string before = StatusText(sheet);
    QVERIFY(!sheet.SaveToFile(QString::fromStdString(dir.File("missing-dir/out.hcs"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error Saving File!"}));
    QCOMPARE(StatusText(sheet), before);

    // The dump is the configuration's listing; a failed dump says so as a
    // failed save does, a written one in the status line.
    prompts.boxes.clear();
    QVERIFY(sheet.DumpToFile(QString::fromStdString(dir.File("dump.txt"))));
    QCOMPARE(StatusText(sheet), GetString(IDS_DUMPED_FILE_OK));
    std::ostringstream expected;
    sheet.GetClockState()->Dump(expected);
    QCOMPARE(ReadWholeFile(dir.File("dump.txt")), expected.str());
    QVERIFY(!expected.str().empty());
    sheet.ShowStatusText(before);
    QVERIFY(!sheet.DumpToFile(QString::fromStdString(dir.File("missing-dir/dump.txt"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error Saving File!"}));
    QCOMPARE(StatusText(sheet), before);
}

void CSheetTest::StatusCodesBecomeTexts() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CMessageTarget* target = sheet.GetEvents();
    const struct {
        int code;
        int value;
        const char* text;
    } cases[] = {
        {-2, 0, "Unknown Status Msg!"},
        {-1, 0, "Invalid comm port state."},
        {0, 0, "Comm port is idle."},
        {1, 17, "Read 17 bytes."},
        {2, 377, "Wrote 377 bytes."},
        {3, 0, "Comm port err."},
        {4, 0, "Comm port time out"},
        {40001, 0, "Break detected."},
        {40007, 0, "Parity error detected."},
        {12345, 0, "Unknown Status Msg!"},
    };
    for (const auto& c : cases) {
        target->Send(WM_COMMSTATUS, static_cast<std::uintptr_t>(static_cast<std::intptr_t>(c.code)), c.value);
        QVERIFY2(StatusText(sheet) == c.text, c.text);
    }
    target->Send(WM_STATUSTEXT, 40002, 0);
    QCOMPARE(StatusText(sheet), GetString(40002));
    QVERIFY(!StatusText(sheet).empty());
    target->Send(WM_STATUSTEXT, 9, 0);
    QCOMPARE(StatusText(sheet), std::string("Unknown Status string id!\n"));
    QCOMPARE(StatusLine(sheet)->GetText(), std::string("Unknown Status string id!\n"));
}

void CSheetTest::MenuHoverShowsFirstLineOfPrompt() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    MenuAction(sheet, ID_FILE_EXIT)->hover();
    QCOMPARE(StatusText(sheet), std::string("Exits this fine application"));
    MenuAction(sheet, ID_FILE_DUMP)->hover();
    QCOMPARE(StatusText(sheet), std::string("Dumps the clock config to an ascii text file."));
    // A disabled item still shows its prompt.
    MenuAction(sheet, ID_FILE_SAVE_COMM)->hover();
    QCOMPARE(StatusText(sheet), std::string("Save clock config to clock."));

    // The first submenu leaves the line alone; the second looks up its
    // position and finds nothing.
    QMenu* file = MenuBar(sheet)->actions()[0]->menu();
    file->actions()[0]->hover();
    QCOMPARE(StatusText(sheet), std::string("Save clock config to clock."));
    file->actions()[1]->hover();
    QCOMPARE(StatusText(sheet), std::string());
    MenuAction(sheet, ID_HELP_WEB)->hover();
    QCOMPARE(StatusText(sheet), std::string("Halvern's web site"));
}

void CSheetTest::AboutShowsProductVersion() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About tarvel"));
    QCOMPARE(about.GetVersionText(), QStringLiteral("Mirvane Version 1.4.1.8"));
}

void CSheetTest::StatusWindowFollowsSheet() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CFloatStatus* status = StatusLine(sheet);
    QVERIFY(!status->IsDocked());
    QVERIFY(!status->isVisible());
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    auto under = [&] {
        const QRect frame = sheet.frameGeometry();
        const QRect mine = status->frameGeometry();
        return status->isVisible() && mine.left() == frame.left() && mine.top() == frame.bottom() + 1 &&
               mine.width() == frame.width() && mine.height() > 0;
    };
    QVERIFY(PumpUntil(under));
    sheet.move(sheet.x() + 37, sheet.y() + 21);
    QVERIFY(PumpUntil(under));
    sheet.resize(sheet.width() + 80, sheet.height() + 40);
    QVERIFY(PumpUntil(under));
    sheet.hide();
    QVERIFY(PumpUntil([&] { return !status->isVisible(); }));
}

void CSheetTest::CloseDuringWaitIsDeferred() {
    CGuiProfile profile;
    CQtWaitHooks::Install();
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        sheet.show();
        QVERIFY(QTest::qWaitForWindowExposed(&sheet));
        QVERIFY(PumpWaitingMessages());

        // A close arriving while the wait dispatches ends the wait, not the window.
        QTimer::singleShot(0, &sheet, [&] { sheet.close(); });
        bool ended = false;
        for (int i = 0; i < 200 && !ended; ++i) ended = !PumpWaitingMessages();
        QVERIFY(ended);
        QVERIFY(sheet.isVisible());
        QVERIFY(CQtWaitHooks::IsClosePending());
        QVERIFY(!sheet.GetEvents()->IsOpen());
        QVERIFY(!PumpWaitingMessages());  // still pending: dispatches nothing

        // Back in the ordinary loop the close is carried out.
        QVERIFY(PumpUntil([&] { return !sheet.isVisible(); }));
        QVERIFY(!CQtWaitHooks::IsClosePending());
    }
    CQtWaitHooks::Uninstall();
}

void CSheetTest::ExitClosesAndEscapeDoesNot() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    QTest::keyClick(&sheet, Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(sheet.isVisible());
    MenuAction(sheet, ID_FILE_EXIT)->trigger();
    QVERIFY(PumpUntil([&] { return !sheet.isVisible(); }));
    QCOMPARE(sheet.result(), static_cast<int>(QDialog::Rejected));
}

void CSheetTest::TransfersWithTheClock() {
    CGuiProfile profile;
    // The clock's echo has time to come back on a loaded machine.
    WriteProfileInt("Communication", "CharDelay", 50);
    CQtWaitHooks::Install();
    const int savedTick = CDlgCommDelay::GetDefaultTickMs();
    CDlgCommDelay::SetDefaultTickMs(1);
    CSimClock sim;
    QVERIFY2(sim.Start(), sim.LastError().c_str());
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        CSheetPrompts prompts(sheet);
        // The clock's line, with a late echo waited for (EchoPatience.h).
        RegisterPatientPort("CLOCK", sim.DevicePath());
        QVERIFY(sheet.GetPort()->Open("CLOCK"));

        MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
        QCOMPARE(StatusText(sheet), std::string("Got clock configuration data from clock successfully."));
        QVERIFY(sheet.GetClockState()->IsValid());
        const TClockConfig active = sim.GetActive();
        QVERIFY(std::memcmp(sheet.GetClockState()->GetConfig(), &active, sizeof(TClockConfig)) == 0);
        for (unsigned id : {ID_FILE_SAVE_COMM, ID_FILE_SAVE_FILE, ID_FILE_DUMP})
            QVERIFY(IsMenuEnabled(sheet, id));

        // A changed setup goes into the clock's memory, countdowns and all.
        sheet.GetClockState()->GetConfig()->backLight = 5;
        MenuAction(sheet, ID_FILE_SAVE_COMM)->trigger();
        QCOMPARE(StatusText(sheet).rfind("Sent clock configuration data to clock successfully. Backup: CLOCK@", 0),
                 std::size_t(0));
        QVERIFY(StatusToolTip(sheet).startsWith(QString::fromStdString(
            "Sent clock configuration data to clock successfully. Backup: " + profile.DataFolder() +
            "/tarvel/backups/CLOCK@")));
        QCOMPARE(static_cast<int>(sim.GetEeprom().backLight), 5);
        QVERIFY(prompts.boxes.empty());

        // A failed read says why, in the box and in the status line.
        TSimFaults refusing;
        refusing.answerQuestion = true;
        sim.SetFaults(refusing);
        MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
        std::string model;
        sheet.GetClockState()->GetModelName(model);
        const std::string why = "The clock answered '?' to the command 1," + model + "XT.";
        QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error reading from comm port."}));
        QCOMPARE(prompts.details, (std::vector<std::string>{why}));
        QCOMPARE(StatusText(sheet), "Error reading from comm port. " + why);
        sim.SetFaults(TSimFaults{});
        prompts.boxes.clear();

        // With the port gone both transfers fail and say so; the setup stays.
        sheet.GetPort()->Close();
        MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
        QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error reading from comm port."}));
        QVERIFY(sheet.GetClockState()->IsValid());
        QCOMPARE(static_cast<int>(sheet.GetClockState()->GetConfig()->backLight), 5);
        prompts.boxes.clear();
        // The clock's setup cannot be read to keep it: nothing is sent. (The
        // failed read grayed the item; a command already chosen still runs.)
        QVERIFY(!IsMenuEnabled(sheet, ID_FILE_SAVE_COMM));
        MenuAction(sheet, ID_FILE_SAVE_COMM)->setEnabled(true);
        MenuAction(sheet, ID_FILE_SAVE_COMM)->trigger();
        QCOMPARE(prompts.boxes,
                 (std::vector<std::string>{"Reading the clock's setup for a backup failed: nothing was sent."}));
    }
    CDlgCommDelay::SetDefaultTickMs(savedTick);
    CQtWaitHooks::Uninstall();
}

QTEST_MAIN(CSheetTest)
#include "SheetTest.moc"
