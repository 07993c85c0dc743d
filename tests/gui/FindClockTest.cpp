// The Comm Port page's Find Clock on a fake machine: the clock answers on the
// second of two adapters at 19200 only; the window keeps running meanwhile,
// and Cancel ends a search at once. Also the program's start-up arguments.
#include <QComboBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <chrono>

#include "ClockFile.h"
#include "ClockPropSheet.h"
#include "CommPort.h"
#include "FakeSysfs.h"
#include "GuiTestSupport.h"
#include "SheetParts.h"
#include "ControlIds.h"
#include "Resource.h"
#include "SetupDlg.h"
#include "SheetPrompts.h"
#include "SimClock.h"
#include "TarvelApp.h"

namespace {

QComboBox* Combo(CClockPropSheet& sheet, unsigned id) {
    return qobject_cast<QComboBox*>(SetupPage(sheet).FindControl(static_cast<int>(id)));
}

QPushButton* FindButton(CClockPropSheet& sheet) {
    return qobject_cast<QPushButton*>(SetupPage(sheet).FindControl(static_cast<int>(IDC_FIND_CLOCK)));
}

QProgressDialog* Progress(CClockPropSheet& sheet) { return SetupPage(sheet).findChild<QProgressDialog*>(); }

// Two USB adapters: a line where nothing answers, then the clock's.
struct TMachine {
    CTempDir tree;
    CFakeSysfs sys{tree.Path()};
    CPseudoTerminal silent;
    CSimClock clock;
    std::unique_ptr<CSysfsRootOverride> use;

    bool Build(bool withClock) {
        TSimFaults faults;
        faults.onlyAtRate = 19200;
        clock.SetFaults(faults);
        if (!silent.IsReady() || !clock.Start()) return false;
        sys.AddUsb("ttyUSB10", "ftdi_sio", "FTDI", "FT232R USB UART", "S1");
        sys.AddNode("ttyUSB10", silent.SlaveName());
        sys.AddUsb("ttyUSB11", "ftdi_sio", "FTDI", "FT232R USB UART", "C1");
        sys.AddNode("ttyUSB11", withClock ? clock.DevicePath() : silent.SlaveName());
        // The ports are opened by their stable names, which lead into the fake tree.
        sys.AddById("usb-FTDI_FT232R_USB_UART_S1-if00-port0", "ttyUSB10");
        sys.AddById("usb-FTDI_FT232R_USB_UART_C1-if00-port0", "ttyUSB11");
        use = std::make_unique<CSysfsRootOverride>(tree.Path());
        return true;
    }
};

}  // namespace

class CFindClockTest : public QObject {
    Q_OBJECT

private slots:
    void FindsTheClockAndOpensItsPortAtItsRate();
    void CancelEndsTheSearchAndReopensThePort();
    void StartArgumentsOpenAFileOrAreRefused();
    void HelpAndVersionNeedNoWindow();
};

void CFindClockTest::FindsTheClockAndOpensItsPortAtItsRate() {
    CGuiProfile profile;
    TMachine machine;
    QVERIFY(machine.Build(true));
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    sheet.show();
    QComboBox* baud = Combo(sheet, IDC_BAUD);
    baud->setCurrentIndex(baud->findText(QStringLiteral("9600")));
    QSignalSpy done(&SetupPage(sheet), &CSetupDlg::FindClockDone);

    QTest::mouseClick(FindButton(sheet), Qt::LeftButton);
    // The search runs behind a progress dialog while the window goes on.
    QVERIFY(SetupPage(sheet).IsFindingClock());
    QVERIFY(PumpUntil([&] { return Progress(sheet) && Progress(sheet)->isVisible(); }));
    QVERIFY(!FindButton(sheet)->isEnabled());
    QVERIFY(PumpUntil([&] { return done.count() == 1; }, 60000));
    QCOMPARE(done.at(0).at(0).toBool(), true);

    QVERIFY2(Combo(sheet, IDC_COMM_PORT)->currentText().startsWith(QStringLiteral("/dev/ttyUSB11")),
             qPrintable(Combo(sheet, IDC_COMM_PORT)->currentText()));
    QCOMPARE(baud->currentText(), QStringLiteral("19200"));
    QCOMPARE(Combo(sheet, IDC_MODEL)->currentText(), QStringLiteral("K203"));
    QVERIFY(sheet.GetPort()->IsOpen());
    std::string rate;
    CPortSettings now;
    QVERIFY(sheet.GetPort()->GetSettings(now) && now.GetBaud(rate));
    QCOMPARE(rate, std::string("19200"));
    QVERIFY2(StatusText(sheet).find("K203") != std::string::npos, StatusText(sheet).c_str());
    QVERIFY(prompts.boxes.empty());
    QVERIFY(FindButton(sheet)->isEnabled());
    // The clock was only asked for its ROM date.
    QCOMPARE(machine.clock.GetCommandLog(), std::vector<std::string>{"v"});
}

void CFindClockTest::CancelEndsTheSearchAndReopensThePort() {
    CGuiProfile profile;
    TMachine machine;
    QVERIFY(machine.Build(false));
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    sheet.show();
    QComboBox* port = Combo(sheet, IDC_COMM_PORT);
    port->setCurrentIndex(port->findText(QStringLiteral("/dev/ttyUSB10"), Qt::MatchStartsWith));
    SetupPage(sheet).OnOpenCommPort();
    QVERIFY2(sheet.GetPort()->IsOpen(), SetupPage(sheet).GetPortStateText().c_str());
    QSignalSpy done(&SetupPage(sheet), &CSetupDlg::FindClockDone);

    QTest::mouseClick(FindButton(sheet), Qt::LeftButton);
    QVERIFY(PumpUntil([&] { return Progress(sheet) && Progress(sheet)->isVisible(); }));
    // The port is given up for the search.
    QVERIFY(!sheet.GetPort()->IsOpen());
    const auto start = std::chrono::steady_clock::now();
    QPushButton* cancel = Progress(sheet)->findChild<QPushButton*>();
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(PumpUntil([&] { return done.count() == 1; }, 10000));
    // Seven rates on two lines would take seconds; a cancel is seen within a step.
    QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500));
    QCOMPARE(done.at(0).at(0).toBool(), false);
    QVERIFY(sheet.GetPort()->IsOpen());
    QVERIFY(port->currentText().startsWith(QStringLiteral("/dev/ttyUSB10")));
    QCOMPARE(prompts.boxes, std::vector<std::string>{});
}

void CFindClockTest::StartArgumentsOpenAFileOrAreRefused() {
    QString file;
    QString error;
    QVERIFY(CTarvelApp::ParseArgs({"tarvel", "a.hcs"}, file, error));
    QCOMPARE(file, QStringLiteral("a.hcs"));
    QVERIFY(CTarvelApp::ParseArgs({"tarvel", "--", "-odd.hcs"}, file, error));
    QCOMPARE(file, QStringLiteral("-odd.hcs"));
    QVERIFY(!CTarvelApp::ParseArgs({"tarvel", "--bogus"}, file, error));
    QVERIFY(error.contains(QStringLiteral("--bogus")));
    QVERIFY(!CTarvelApp::ParseArgs({"tarvel", "a.hcs", "b.hcs"}, file, error));

    CGuiProfile profile;
    CTempDir dir;
    CClockState written;
    written.GetConfig()->backLight = 5;
    SetBE32(written.GetConfig()->cableDelay, 777);
    const std::string path = dir.File("start.hcs");
    SaveConfigFile(written, path);
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CTarvelApp::OpenAtStart(sheet, QString::fromStdString(path));
    sheet.show();
    QVERIFY(PumpUntil([&] { return sheet.GetClockState()->IsValid(); }));
    QCOMPARE(sheet.GetClockState()->GetConfig()->backLight, written.GetConfig()->backLight);
    QCOMPARE(GetBE32(sheet.GetClockState()->GetConfig()->cableDelay), 777u);
}

void CFindClockTest::HelpAndVersionNeedNoWindow() {
    // No display to open a window on: only a program that never tries ends well.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    for (const char* option : {"--version", "--help"}) {
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(TARVEL_PROGRAM), {QString::fromLatin1(option)});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);
        const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
        QVERIFY2(option[2] == 'v' ? out.startsWith(QStringLiteral("tarvel 1.")) : out.contains(QStringLiteral("Exit status: 0")),
                 qPrintable(out));
    }
}

QTEST_MAIN(CFindClockTest)
#include "FindClockTest.moc"
