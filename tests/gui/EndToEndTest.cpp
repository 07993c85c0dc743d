// A whole session on the simulated clock through the real window: the port
// opened from the Comm Port page (or at start, as scripts/run has it), the
// setup loaded from the clock, changed on the Clock Setup page, written to
// the clock with its countdowns, read back, saved, loaded and dumped; the
// dump checked against tarvelctl's of the same file.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

#include "ClockPropSheet.h"
#include "GuiTestSupport.h"
#include "SheetParts.h"
#include "Messages.h"
#include "PortCatalogue.h"
#include "Profile.h"
#include "ClockUi.h"
#include "ControlIds.h"
#include "Resource.h"
#include "SheetPrompts.h"
#include "SimClock.h"
#include "SimPort.h"

namespace {

class CAnswerAtOnce : public ICountdown {
public:
    explicit CAnswerAtOnce(int& runs) : m_runs(runs) {}
    int DoModal() override {
        ++m_runs;
        return IDOK;
    }
    void SetRange(int, int) override {}

private:
    int& m_runs;
};

// What the clock layer tells the user in a session: countdowns that end at
// once (counted), messages into the window's own (caught) boxes.
class CSessionUi : public IClockUi {
public:
    CSessionUi(int& countdowns, IClockUi& boxes) : m_countdowns(countdowns), m_boxes(boxes) {}
    void ShowMessage(const std::string& text) override { m_boxes.ShowMessage(text); }
    std::unique_ptr<ICountdown> MakeCountdown(int, int, int) override {
        return std::make_unique<CAnswerAtOnce>(m_countdowns);
    }

private:
    int& m_countdowns;
    IClockUi& m_boxes;
};

// What scripts/run sets up: the program's own profile and data directories
// (XDG_CONFIG_HOME and XDG_DATA_HOME in a temporary directory), the simulated
// clock registered; once a window is attached, countdowns that end at once
// and message boxes caught.
class CSession {
public:
    CSession() {
        m_oldConfig = Save("XDG_CONFIG_HOME");
        m_oldData = Save("XDG_DATA_HOME");
        ::setenv("XDG_CONFIG_HOME", m_dir.File("config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", m_dir.File("data").c_str(), 1);
        SetProfilePath("");  // the default place, under XDG_CONFIG_HOME
        RegisterSimPort();
        // The clock's echo has time to come back on a loaded machine.
        WriteProfileInt("Communication", "CharDelay", 50);
        WriteProfileInt("Communication", "ReadTimeOut", 300);
    }
    ~CSession() {
        CSimPort::Shutdown();
        CPortCatalogue::UnregisterVirtualPort(CSimPort::NAME);
        Restore("XDG_CONFIG_HOME", m_oldConfig);
        Restore("XDG_DATA_HOME", m_oldData);
    }
    std::string File(const char* name) const { return m_dir.File(name); }
    std::string EepromFile() const { return m_dir.File("data") + "/tarvel/sim-eeprom.hcs"; }

    void Attach(CClockPropSheet& sheet) {
        prompts = std::make_unique<CSheetPrompts>(sheet);
        m_ui = std::make_unique<CSessionUi>(countdowns, sheet.GetUi());
        sheet.GetClockState()->SetUi(m_ui.get());
    }
    std::unique_ptr<CSheetPrompts> prompts;
    int countdowns = 0;

private:
    static std::unique_ptr<std::string> Save(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::make_unique<std::string>(value) : nullptr;
    }
    static void Restore(const char* name, const std::unique_ptr<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    CTempDir m_dir;
    std::unique_ptr<CSessionUi> m_ui;
    std::unique_ptr<std::string> m_oldConfig, m_oldData;
};

bool Same(const TClockConfig& a, const TClockConfig& b) { return std::memcmp(&a, &b, CLOCK_CONFIG_SIZE) == 0; }

template <typename T>
T* Control(CCommPage& page, unsigned id) {
    return qobject_cast<T*>(page.FindControl(static_cast<int>(id)));
}

}  // namespace

class CEndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void StartsOnTheSimulatedClockReadyToLoad();
    void WholeSessionOnTheSimulatedClock();
};

void CEndToEndTest::StartsOnTheSimulatedClockReadyToLoad() {
    CSession session;
    WriteProfileString("Communication", "CommPort", "SIM");
    WriteProfileInt("Communication", "AutoOpen", 1);
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    session.Attach(sheet);
    sheet.show();

    // Opened while the window was made; the menu knows it from the start.
    QVERIFY(sheet.GetPort()->IsOpen());
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));
    QVERIFY(!IsMenuEnabled(sheet, ID_FILE_SAVE_COMM));
    QCOMPARE(Control<QComboBox>(SetupPage(sheet), IDC_COMM_PORT)->currentText(),
             QStringLiteral("SIM (simulated clock)"));

    MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
    QCOMPARE(StatusText(sheet), std::string("Got clock configuration data from clock successfully."));
    QVERIFY(Same(*sheet.GetClockState()->GetConfig(), CSimClock::MakeFactorySetup()));
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_SAVE_COMM));
    QVERIFY(session.prompts->boxes.empty());
}

void CEndToEndTest::WholeSessionOnTheSimulatedClock() {
    CSession session;
    WriteProfileInt("Communication", "AutoOpen", 0);
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    session.Attach(sheet);
    sheet.show();
    CClockState& state = *sheet.GetClockState();

    // Pick the simulated clock from the port list and open it.
    CSetupDlg& commPage = SetupPage(sheet);
    QComboBox* ports = Control<QComboBox>(commPage, IDC_COMM_PORT);
    QVERIFY(ports);
    const int sim = ports->findText(QStringLiteral("SIM (simulated clock)"));
    QCOMPARE(sim, ports->count() - 1);
    ports->setCurrentIndex(sim);
    QTest::mouseClick(Control<QPushButton>(commPage, IDC_OPEN_PORT), Qt::LeftButton);
    QVERIFY(sheet.GetPort()->IsOpen());
    QCOMPARE(GetProfileString("Communication", "CommPort", ""), std::string("SIM"));
    QVERIFY(IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));

    MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
    QCOMPARE(StatusText(sheet), std::string("Got clock configuration data from clock successfully."));
    CSimClock* clock = CSimPort::GetClock();
    QVERIFY(clock);
    QVERIFY(Same(*state.GetConfig(), clock->GetEeprom()));

    // Three items of different kinds, through the Clock Setup page.
    CCommonPage& setupPage = CommonPage(sheet);
    Tabs(sheet)->setCurrentWidget(&setupPage);
    QTreeWidget* tree = setupPage.GetTree();
    auto* choice = Control<QComboBox>(setupPage, IDC_SETUP_CHOICE);
    auto* value = Control<QLineEdit>(setupPage, IDC_SETUP_VALUE);
    auto* apply = Control<QPushButton>(setupPage, IDC_SETUP_APPLY);
    QVERIFY(tree && choice && value && apply);

    QVERIFY(FindItem(tree, 3));
    tree->setCurrentItem(FindItem(tree, 3));  // main baud rate: a choice
    // Picked as a user does (the page takes what the user picks, not every change).
    for (int i = 0; i < choice->count() && choice->currentText() != QStringLiteral("19200"); ++i)
        QTest::keyClick(choice, Qt::Key_Down);
    QCOMPARE(FindItem(tree, 3)->text(0), QStringLiteral("Baud Rate 19200 *"));
    tree->setCurrentItem(FindItem(tree, 15));  // change-over minutes: a byte
    value->setText(QStringLiteral("45"));
    QTest::mouseClick(apply, Qt::LeftButton);
    tree->setCurrentItem(FindItem(tree, 57));  // longitude degrees: a whole word
    value->setText(QStringLiteral("123"));
    QTest::mouseClick(apply, Qt::LeftButton);
    const TClockConfig edited = *state.GetConfig();
    QCOMPARE(int(edited.mainBaud), 4);
    QCOMPARE(int(edited.dstMinutes), 45);
    QCOMPARE(int(GetBE16(edited.lonDeg)), 123);

    // Into the clock: records, verification, EEPROM, reset, each after its countdown.
    Tabs(sheet)->setCurrentWidget(&commPage);
    MenuAction(sheet, ID_FILE_SAVE_COMM)->trigger();
    // The clock's setup was kept first, and the line says where.
    QCOMPARE(StatusText(sheet).rfind("Sent clock configuration data to clock successfully. Backup: ", 0),
             std::size_t(0));
    QCOMPARE(session.countdowns, 3);
    QVERIFY(Same(clock->GetEeprom(), edited));
    QCOMPARE(ReadWholeFile(session.EepromFile()).size(), CClockState::FILE_SIZE);
    // What the clock now holds is no longer marked as changed.
    QCOMPARE(FindItem(tree, 3)->text(0), QStringLiteral("Baud Rate 19200"));
    QVERIFY(!FindItem(tree, 3)->font(0).bold());

    // Read back over a local change that never went to the clock.
    QVERIFY(state.SetItem(15, 10, false));
    MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
    QCOMPARE(StatusText(sheet), std::string("Got clock configuration data from clock successfully."));
    QVERIFY(Same(*state.GetConfig(), edited));

    // To a file and back, then the dump.
    const QString setupFile = QString::fromStdString(session.File("session.hcs"));
    QVERIFY(sheet.SaveToFile(setupFile));
    QVERIFY(state.SetItem(57, 7, false));
    QVERIFY(sheet.LoadFromFile(setupFile));
    QVERIFY(Same(*state.GetConfig(), edited));
    const QString dumpFile = QString::fromStdString(session.File("session.txt"));
    QVERIFY(sheet.DumpToFile(dumpFile));
    const std::string dump = ReadWholeFile(dumpFile.toStdString());
    QVERIFY(dump.find("Baud 4\n") != std::string::npos);

    QProcess ctl;
    ctl.start(QStringLiteral(TARVELCTL_PATH), {QStringLiteral("dump"), setupFile});
    QVERIFY(ctl.waitForFinished(30000));
    QCOMPARE(ctl.exitCode(), 0);
    QCOMPARE(ctl.readAllStandardOutput().toStdString(), dump);

    QCOMPARE(session.prompts->boxes, std::vector<std::string>{});
}

QTEST_MAIN(CEndToEndTest)
#include "EndToEndTest.moc"
