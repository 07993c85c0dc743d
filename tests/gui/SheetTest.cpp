// The main window: menu states, status line texts, menu prompts, the file
// commands, help, the status window's place and closing.
#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cstring>
#include <sstream>

#include "AboutDlg.h"
#include "ClockPropSheet.h"
#include "DlgCommDelay.h"
#include "EchoPatience.h"
#include "SimClock.h"
#include "GuiTestSupport.h"
#include "MessageTarget.h"
#include "Messages.h"
#include "Prompts.h"
#include "QtPromptHooks.h"
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

class CUrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void Open(const QUrl& url) { urls.append(url); }
};

class CSheetTest : public QObject {
    Q_OBJECT

private slots:
    void StartsWithResourceMenuAndPrompt();
    void OpenPortEnablesLoadFromClock();
    void FileLoadWithoutPortEnablesFileCommands();
    void RefusedAndMissingFilesShowTheirMessages();
    void SaveAndDumpWriteFilesOrReport();
    void StatusCodesBecomeTexts();
    void MenuHoverShowsFirstLineOfPrompt();
    void ConsoleShowEmptiesOutput();
    void HelpAndWebOpenAddresses();
    void ProgramHoldsNoManualPathOfTheTrees();
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
    QCOMPARE(sheet.GetTabs()->count(), 4);
    const QStringList titles = {"Comm Port", "Clock Setup", "Location", "Console"};
    for (int i = 0; i < 4; ++i) QCOMPARE(sheet.GetTabs()->tabText(i), titles[i]);
    QCOMPARE(sheet.GetTabs()->currentIndex(), 0);

    for (unsigned id : {ID_FILE_LOAD_COMM, ID_FILE_SAVE_COMM, ID_FILE_SAVE_FILE, ID_FILE_DUMP})
        QVERIFY2(!sheet.IsMenuCommandEnabled(id), qPrintable(QString::number(id)));
    for (unsigned id : {ID_FILE_LOAD_FILE, ID_FILE_EXIT, ID_HELP_CONTENTS, ID_HELP_SEARCH, ID_HELP_WEB, ID_HELP_ABOUT})
        QVERIFY2(sheet.IsMenuCommandEnabled(id), qPrintable(QString::number(id)));
    QCOMPARE(sheet.GetMenuAction(ID_FILE_LOAD_COMM)->text(), QStringLiteral("From &Comm Port"));
    QCOMPARE(sheet.GetMenuAction(ID_FILE_EXIT)->text(), QStringLiteral("E&xit"));
    QCOMPARE(sheet.GetStatusText(),
             std::string("Click on \"Open Comm Port\" to start communication with your Halvern Systems Clock."));
    QCOMPARE(sheet.GetFloatStatus()->GetText(), sheet.GetStatusText());

    // The menu bar in its order, with the unmarked "Save" submenu.
    const auto menus = sheet.GetMenuBar()->actions();
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
    QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM));
    QVERIFY(!sheet.IsMenuCommandEnabled(ID_FILE_SAVE_COMM));
    QCOMPARE(sheet.GetStatusText(), std::string("Comm port is idle."));

    // With a configuration present as well, saving to the clock is offered.
    CTempDir dir;
    WriteWholeFile(dir.File("a.hcs"), ValidSetupFile());
    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("a.hcs"))));
    QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_SAVE_COMM));

    // Between notifications the menu keeps its state, even with the port closed.
    sheet.GetPort()->Close();
    QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM));
    sheet.GetEvents()->NotifyPortStateChanged();
    QVERIFY(!sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM));
    QVERIFY(!sheet.IsMenuCommandEnabled(ID_FILE_SAVE_COMM));
    QVERIFY(prompts.boxes.empty());
}

void CSheetTest::FileLoadWithoutPortEnablesFileCommands() {
    CGuiProfile profile;
    CTempDir dir;
    WriteWholeFile(dir.File("setup.hcs"), ValidSetupFile());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);

    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("setup.hcs"))));
    QVERIFY(sheet.GetClockState()->IsValid());
    QCOMPARE(sheet.GetStatusText(), std::string("Read clock configuration file successfully."));
    QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_SAVE_FILE));
    QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_DUMP));
    QVERIFY(!sheet.IsMenuCommandEnabled(ID_FILE_SAVE_COMM));
    QVERIFY(!sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM));
    QVERIFY(prompts.boxes.empty());
}

void CSheetTest::RefusedAndMissingFilesShowTheirMessages() {
    CGuiProfile profile;
    CTempDir dir;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    const std::string before = sheet.GetStatusText();

    std::string wrong = ValidSetupFile();
    wrong[4] = 'X';  // first byte of the signature
    WriteWholeFile(dir.File("wrong.hcs"), wrong);
    QVERIFY(!sheet.LoadFromFile(QString::fromStdString(dir.File("wrong.hcs"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Unknown file type!"}));
    QCOMPARE(sheet.GetStatusText(), before);
    QVERIFY(!sheet.GetClockState()->IsValid());
    QVERIFY(!sheet.IsMenuCommandEnabled(ID_FILE_SAVE_FILE));

    prompts.boxes.clear();
    QVERIFY(!sheet.LoadFromFile(QString::fromStdString(dir.File("no-such-file.hcs"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error Opening File!"}));
    QCOMPARE(sheet.GetStatusText(), before);

    // Too short to hold a setup: unreadable, and the loaded setup stays.
    WriteWholeFile(dir.File("good.hcs"), ValidSetupFile());
    QVERIFY(sheet.LoadFromFile(QString::fromStdString(dir.File("good.hcs"))));
    WriteWholeFile(dir.File("short.hcs"), ValidSetupFile().substr(0, 40));
    prompts.boxes.clear();
    QVERIFY(!sheet.LoadFromFile(QString::fromStdString(dir.File("short.hcs"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error Opening File!"}));
    QVERIFY(sheet.GetClockState()->IsValid());
    QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_SAVE_FILE));
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
    QCOMPARE(sheet.GetStatusText(), std::string("Saved clock configuration file successfully."));

    const std::string before = sheet.GetStatusText();
    QVERIFY(!sheet.SaveToFile(QString::fromStdString(dir.File("missing-dir/out.hcs"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error Saving File!"}));
    QCOMPARE(sheet.GetStatusText(), before);

    // The dump is the configuration's listing; a failed dump says so as a
    // failed save does, a written one in the status line.
    prompts.boxes.clear();
    QVERIFY(sheet.DumpToFile(QString::fromStdString(dir.File("dump.txt"))));
    QCOMPARE(sheet.GetStatusText(), GetString(IDS_DUMPED_FILE_OK));
    std::ostringstream expected;
    sheet.GetClockState()->Dump(expected);
    QCOMPARE(ReadWholeFile(dir.File("dump.txt")), expected.str());
    QVERIFY(!expected.str().empty());
    sheet.ShowStatusText(before);
    QVERIFY(!sheet.DumpToFile(QString::fromStdString(dir.File("missing-dir/dump.txt"))));
    QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error Saving File!"}));
    QCOMPARE(sheet.GetStatusText(), before);
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
        QVERIFY2(sheet.GetStatusText() == c.text, c.text);
    }
    target->Send(WM_STATUSTEXT, 40002, 0);
    QCOMPARE(sheet.GetStatusText(), GetString(40002));
    QVERIFY(!sheet.GetStatusText().empty());
    target->Send(WM_STATUSTEXT, 9, 0);
    QCOMPARE(sheet.GetStatusText(), std::string("Unknown Status string id!\n"));
    QCOMPARE(sheet.GetFloatStatus()->GetText(), std::string("Unknown Status string id!\n"));
}

void CSheetTest::MenuHoverShowsFirstLineOfPrompt() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.GetMenuAction(ID_FILE_EXIT)->hover();
    QCOMPARE(sheet.GetStatusText(), std::string("Exits this fine application"));
    sheet.GetMenuAction(ID_FILE_DUMP)->hover();
    QCOMPARE(sheet.GetStatusText(), std::string("Dumps the clock config to an ascii text file."));
    // A disabled item still shows its prompt.
    sheet.GetMenuAction(ID_FILE_SAVE_COMM)->hover();
    QCOMPARE(sheet.GetStatusText(), std::string("Save clock config to clock."));

    // The first submenu leaves the line alone; the second looks up its
    // position and finds nothing.
    QMenu* file = sheet.GetMenuBar()->actions()[0]->menu();
    file->actions()[0]->hover();
    QCOMPARE(sheet.GetStatusText(), std::string("Save clock config to clock."));
    file->actions()[1]->hover();
    QCOMPARE(sheet.GetStatusText(), std::string());
    sheet.GetMenuAction(ID_HELP_WEB)->hover();
    QCOMPARE(sheet.GetStatusText(), std::string("Halvern's web site"));
}

void CSheetTest::ConsoleShowEmptiesOutput() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CConsoleDlg& page = sheet.GetConsolePage();
    sheet.show();
    sheet.GetTabs()->setCurrentWidget(&page);
    QVERIFY(PumpUntil([&] { return page.GetOutput() && page.GetOutput()->toPlainText().isEmpty(); }));
    QPlainTextEdit* output = page.GetOutput();
    output->setPlainText(QStringLiteral("old text"));
    // Queued, as the page says it; the port is closed, so no reader starts.
    emit page.ShownChanged(true);
    QVERIFY(!output->toPlainText().isEmpty());
    QVERIFY(PumpUntil([&] { return output->toPlainText().isEmpty(); }));
    sheet.OnConsoleShow(false);
}

void CSheetTest::HelpAndWebOpenAddresses() {
    CGuiProfile profile;
    // A test finds the manual through the environment, as a build-tree run does.
    qputenv("TARVEL_MANUAL_DIR", TARVEL_SOURCE_MANUAL);
    CDesktopBrowser firefox("firefox-esr.desktop");
    CUrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);

    sheet.GetMenuAction(ID_HELP_CONTENTS)->trigger();
    sheet.GetMenuAction(ID_HELP_SEARCH)->trigger();
    sheet.GetMenuAction(ID_HELP_WEB)->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));

    QVERIFY(prompts.boxes.empty());
    QCOMPARE(catcher.urls.size(), 3);
    QVERIFY(catcher.urls[0].isLocalFile());
    QVERIFY(catcher.urls[0].toLocalFile().endsWith(QStringLiteral("manual/index.html")));
    QVERIFY(QFile::exists(catcher.urls[0].toLocalFile()));
    QCOMPARE(catcher.urls[1].fragment(), QStringLiteral("index"));
    // The index the search lands on is really in the manual.
    QFile manual(catcher.urls[1].toLocalFile());
    QVERIFY(manual.open(QIODevice::ReadOnly));
    QVERIFY(manual.readAll().contains("id=\"index\""));
    QCOMPARE(catcher.urls[2], QUrl(QStringLiteral("https://www.halvern.example/")));

    // No program to show it: a message naming the manual's path.
    CClockPropSheet::SetUrlOpener([](const QUrl&) { return false; });
    sheet.GetMenuAction(ID_HELP_CONTENTS)->trigger();
    QCOMPARE(prompts.boxes.size(), std::size_t(1));
    const std::string shown = QFileInfo(QStringLiteral(TARVEL_SOURCE_MANUAL "/index.html")).canonicalFilePath().toStdString();
    QVERIFY2(prompts.boxes[0].find(shown) != std::string::npos, prompts.boxes[0].c_str());
    // No installed manual: the copy built into the program is shown instead
    // (ManualTest), with no message.
    qunsetenv("TARVEL_MANUAL_DIR");
    prompts.boxes.clear();
    sheet.GetMenuAction(ID_HELP_CONTENTS)->trigger();
    QVERIFY(prompts.boxes.empty());
    QVERIFY(sheet.GetManualBrowser() != nullptr);
    QVERIFY(CClockPropSheet::InstalledManualPath().endsWith(QStringLiteral("share/doc/tarvel/manual/index.html")));
    CClockPropSheet::SetUrlOpener(nullptr);
}

void CSheetTest::ProgramHoldsNoManualPathOfTheTrees() {
    // The program finds its manual under its install prefix; nothing of the
    // source tree, where the manual is written, is baked into it.
    QFile program(QStringLiteral(TARVEL_PROGRAM));
    QVERIFY(program.open(QIODevice::ReadOnly));
    const QByteArray bytes = program.readAll();
    QVERIFY(bytes.size() > 0);
    QVERIFY(!bytes.contains(QByteArray(TARVEL_SOURCE_MANUAL)));
}

void CSheetTest::AboutShowsProductVersion() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About tarvel"));
    QCOMPARE(about.GetVersionText(), QStringLiteral("Mirvane Version 1.4.1.8"));
}

void CSheetTest::StatusWindowFollowsSheet() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CFloatStatus* status = sheet.GetFloatStatus();
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
    CQtPromptHooks::Install();
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
        QVERIFY(CQtPromptHooks::IsClosePending());
        QVERIFY(!sheet.GetEvents()->IsOpen());
        QVERIFY(!PumpWaitingMessages());  // still pending: dispatches nothing

        // Back in the ordinary loop the close is carried out.
        QVERIFY(PumpUntil([&] { return !sheet.isVisible(); }));
        QVERIFY(!CQtPromptHooks::IsClosePending());
    }
    CQtPromptHooks::Uninstall();
}

void CSheetTest::ExitClosesAndEscapeDoesNot() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.show();
    QVERIFY(QTest::qWaitForWindowExposed(&sheet));
    QTest::keyClick(&sheet, Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(sheet.isVisible());
    sheet.GetMenuAction(ID_FILE_EXIT)->trigger();
    QVERIFY(PumpUntil([&] { return !sheet.isVisible(); }));
    QCOMPARE(sheet.result(), static_cast<int>(QDialog::Rejected));
}

void CSheetTest::TransfersWithTheClock() {
    CGuiProfile profile;
    // The clock's echo has time to come back on a loaded machine.
    WriteProfileInt("Communication", "CharDelay", 50);
    CQtPromptHooks::Install();
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

        sheet.GetMenuAction(ID_FILE_LOAD_COMM)->trigger();
        QCOMPARE(sheet.GetStatusText(), std::string("Got clock configuration data from clock successfully."));
        QVERIFY(sheet.GetClockState()->IsValid());
        const TClockConfig active = sim.GetActive();
        QVERIFY(std::memcmp(sheet.GetClockState()->GetConfig(), &active, sizeof(TClockConfig)) == 0);
        for (unsigned id : {ID_FILE_SAVE_COMM, ID_FILE_SAVE_FILE, ID_FILE_DUMP})
            QVERIFY(sheet.IsMenuCommandEnabled(id));

        // A changed setup goes into the clock's memory, countdowns and all.
        sheet.GetClockState()->GetConfig()->backLight = 5;
        sheet.GetMenuAction(ID_FILE_SAVE_COMM)->trigger();
        QCOMPARE(sheet.GetStatusText().rfind("Sent clock configuration data to clock successfully. Backup: CLOCK@", 0),
                 std::size_t(0));
        QVERIFY(sheet.GetStatusToolTip().startsWith(QString::fromStdString(
            "Sent clock configuration data to clock successfully. Backup: " + profile.DataFolder() +
            "/tarvel/backups/CLOCK@")));
        QCOMPARE(static_cast<int>(sim.GetEeprom().backLight), 5);
        QVERIFY(prompts.boxes.empty());

        // A failed read says why, in the box and in the status line.
        TSimFaults refusing;
        refusing.answerQuestion = true;
        sim.SetFaults(refusing);
        sheet.GetMenuAction(ID_FILE_LOAD_COMM)->trigger();
        std::string model;
        sheet.GetClockState()->GetModelName(model);
        const std::string why = "The clock answered '?' to the command 1," + model + "XT.";
        QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error reading from comm port."}));
        QCOMPARE(prompts.details, (std::vector<std::string>{why}));
        QCOMPARE(sheet.GetStatusText(), "Error reading from comm port. " + why);
        sim.SetFaults(TSimFaults{});
        prompts.boxes.clear();

        // With the port gone both transfers fail and say so; the setup stays.
        sheet.GetPort()->Close();
        sheet.OnLoadFromCommPort();
        QCOMPARE(prompts.boxes, (std::vector<std::string>{"Error reading from comm port."}));
        QVERIFY(sheet.GetClockState()->IsValid());
        QCOMPARE(static_cast<int>(sheet.GetClockState()->GetConfig()->backLight), 5);
        prompts.boxes.clear();
        // The clock's setup cannot be read to keep it: nothing is sent.
        sheet.OnSaveToCommPort();
        QCOMPARE(prompts.boxes,
                 (std::vector<std::string>{"Reading the clock's setup for a backup failed: nothing was sent."}));
    }
    CDlgCommDelay::SetDefaultTickMs(savedTick);
    CQtPromptHooks::Uninstall();
}

QTEST_MAIN(CSheetTest)
#include "SheetTest.moc"
