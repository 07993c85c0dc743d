// Save > To Comm Port keeps the clock's setup first and says where, leaves a
// clock that holds the setup alone, and writes as before with the backup
// turned off; the profile's trace records the line.
#include <QAction>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>

#include "ClockFile.h"
#include "ClockPropSheet.h"
#include "ClockUi.h"
#include "GuiTestSupport.h"
#include "SheetParts.h"
#include "LineTrace.h"
#include "Messages.h"
#include "PortCatalogue.h"
#include "Profile.h"
#include "ControlIds.h"
#include "Resource.h"
#include "SetupBackups.h"
#include "SheetPrompts.h"
#include "SimClock.h"
#include "SimPort.h"

namespace {

class CAtOnce : public ICountdown {
public:
    int DoModal() override { return IDOK; }
    void SetRange(int, int) override {}
};

class CAtOnceUi : public IClockUi {
public:
    explicit CAtOnceUi(IClockUi& boxes) : m_boxes(boxes) {}
    void ShowMessage(const std::string& text) override { m_boxes.ShowMessage(text); }
    std::unique_ptr<ICountdown> MakeCountdown(int, int, int) override { return std::make_unique<CAtOnce>(); }

private:
    IClockUi& m_boxes;
};

// A private profile and data folder, the simulated clock opened at start.
class CBackupSession {
public:
    CBackupSession() {
        if (const char* old = std::getenv("XDG_DATA_HOME")) m_oldData = std::make_unique<std::string>(old);
        ::setenv("XDG_DATA_HOME", m_dir.File("data").c_str(), 1);
        SetProfilePath(m_dir.File("tarvel.INI"));
        RegisterSimPort();
        WriteProfileInt("Communication", "CharDelay", 50);
        WriteProfileInt("Communication", "ReadTimeOut", 300);
        WriteProfileString("Communication", "CommPort", "SIM");
        WriteProfileInt("Communication", "AutoOpen", 1);
    }
    ~CBackupSession() {
        CSimPort::Shutdown();
        CPortCatalogue::UnregisterVirtualPort(CSimPort::NAME);
        if (m_oldData) ::setenv("XDG_DATA_HOME", m_oldData->c_str(), 1);
        else ::unsetenv("XDG_DATA_HOME");
    }
    std::string File(const char* name) const { return m_dir.File(name); }
    std::string Backups() const { return m_dir.File("data/tarvel/backups"); }

private:
    CTempDir m_dir;
    std::unique_ptr<std::string> m_oldData;
};

bool Same(const TClockConfig& a, const TClockConfig& b) { return std::memcmp(&a, &b, CLOCK_CONFIG_SIZE) == 0; }

bool SentAWrite(const std::vector<std::string>& log) {
    for (const auto& c : log)
        if (c.size() >= 2 && (c.substr(c.size() - 2) == "XR" || c.substr(c.size() - 2) == "XS")) return true;
    return false;
}

}  // namespace

class CSaveBackupTest : public QObject {
    Q_OBJECT

private slots:
    void SaveToPortKeepsTheClocksSetupFirst();
    void TheProfileTurnsTheBackupOff();
};

void CSaveBackupTest::SaveToPortKeepsTheClocksSetupFirst() {
    CBackupSession session;
    WriteProfileString("Debug", "Trace", session.File("line.trace"));
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    CAtOnceUi ui(sheet.GetUi());
    sheet.GetClockState()->SetUi(&ui);
    sheet.show();
    QVERIFY(sheet.GetPort()->IsOpen());
    CSimClock* clock = CSimPort::GetClock();
    QVERIFY(clock);
    const TClockConfig before = clock->GetEeprom();

    MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
    CClockState& state = *sheet.GetClockState();
    QVERIFY(state.SetItem(15, 45, false));
    const TClockConfig edited = *state.GetConfig();

    MenuAction(sheet, ID_FILE_SAVE_COMM)->trigger();
    QVERIFY(Same(clock->GetEeprom(), edited));
    const auto kept = CSetupBackups(session.Backups()).List("SIM");
    QCOMPARE(kept.size(), std::size_t(1));
    // The line names the file; its tool tip has the folder too.
    const std::string sentLine = "Sent clock configuration data to clock successfully. Backup: ";
    QCOMPARE(StatusText(sheet), sentLine + std::filesystem::path(kept[0].path).filename().string());
    QCOMPARE(StatusToolTip(sheet).toStdString(), sentLine + kept[0].path);
    CClockState saved;
    QVERIFY(LoadConfigFile(saved, kept[0].path) == TLoadResult::Loaded);
    QVERIFY(Same(*saved.GetConfig(), before));

    // Again, unchanged: nothing goes to the clock and no backup is added.
    clock->ClearCommandLog();
    MenuAction(sheet, ID_FILE_SAVE_COMM)->trigger();
    QCOMPARE(StatusText(sheet), std::string("The clock already holds this setup: nothing was sent."));
    QVERIFY(!SentAWrite(clock->GetCommandLog()));
    QCOMPARE(CSetupBackups(session.Backups()).List().size(), std::size_t(1));
    QCOMPARE(prompts.boxes, std::vector<std::string>{});

    // The line was traced: the commands byte by byte with their echoes, the
    // records after the command that announces them.
    std::string sent, received;
    int breaks = 0;
    std::istringstream lines(ReadWholeFile(session.File("line.trace")));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t space = line.find(' ');
        QVERIFY2(space != std::string::npos && line.size() > space + 3, line.c_str());
        const char direction = line[space + 1];
        const std::string text = line.substr(space + 3);
        if (direction == '-') {
            breaks += text == "break";
            continue;
        }
        std::string bytes;
        QVERIFY2(CLineTrace::DecodeBytes(text, bytes), line.c_str());
        (direction == '>' ? sent : received) += bytes;
    }
    QVERIFY(sent.find("1,K201XO1,K201XT1,K201XR:10") != std::string::npos);
    QVERIFY(received.find("1,K201XT:10") != std::string::npos);
    QVERIFY(breaks >= 3);  // load, backup read, write
}

void CSaveBackupTest::TheProfileTurnsTheBackupOff() {
    CBackupSession session;
    WriteProfileInt("Communication", "Backup", 0);
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    CAtOnceUi ui(sheet.GetUi());
    sheet.GetClockState()->SetUi(&ui);
    sheet.show();
    CSimClock* clock = CSimPort::GetClock();
    QVERIFY(clock);

    MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
    clock->ClearCommandLog();
    MenuAction(sheet, ID_FILE_SAVE_COMM)->trigger();
    // The write alone, even of the setup the clock holds.
    QCOMPARE(StatusText(sheet), std::string("Sent clock configuration data to clock successfully."));
    QCOMPARE(clock->GetCommandLog().front(), std::string("1,K201XR"));
    QVERIFY(!std::filesystem::exists(session.Backups()));
}

QTEST_MAIN(CSaveBackupTest)
#include "SaveBackupTest.moc"
