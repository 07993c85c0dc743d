// An unplugged clock noticed on any page: a command whose I/O finds the
// device gone closes the port and says which device went and what to do; the
// name it was opened by stays in the port combo, so one click reopens the
// adapter once it is back. With no command running and no udev to tell, the
// window finds the loss itself on every page. And which udev events mean the
// open device went.
#include <QAction>
#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <sys/stat.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "ClockPropSheet.h"
#include "DeviceWatch.h"
#include "GuiTestSupport.h"
#include "SheetParts.h"
#include "Profile.h"
#include "QtWaitHooks.h"
#include "ControlIds.h"
#include "Resource.h"
#include "SheetPrompts.h"
#include "SimClock.h"
#include "StringTable.h"

namespace {

constexpr int kClockSetupTab = 1;

// Pulls the simulated clock's plug once it has taken its first command, from
// a thread of its own (the clock's thread cannot stop itself).
class CPlugPuller {
public:
    explicit CPlugPuller(CSimClock& sim) : m_sim(sim) {
        sim.SetCommandHandler([this](const std::string&) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_commands;
            m_cv.notify_all();
        });
        m_thread = std::thread([this] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_cv.wait_for(lock, std::chrono::seconds(60), [&] { return m_commands > 0 || m_done; }) || m_done)
                return;
            lock.unlock();
            m_sim.Stop();
        });
    }
    ~CPlugPuller() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
            m_cv.notify_all();
        }
        m_thread.join();
    }

private:
    CSimClock& m_sim;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_commands = 0;
    bool m_done = false;
    std::thread m_thread;
};

// A stable name, as udev makes under /dev/serial/by-id, for a device.
void PointLink(const std::string& link, const std::string& device) {
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(device, link);
}

}  // namespace

class CUnplugTest : public QObject {
    Q_OBJECT

private slots:
    void UnplugDuringAReadClosesThePortOnAnyPage();
    void UnplugWhileIdleIsToldOnEveryPage();
    void RemovalMeansTheWatchedDeviceOnly();
};

void CUnplugTest::UnplugDuringAReadClosesThePortOnAnyPage() {
    CGuiProfile profile;
    WriteProfileInt("Communication", "CharDelay", 50);
    CQtWaitHooks::Install();
    CTempDir dir;
    const std::string link = dir.File("usb-Halvern_GPS_Clock_A1B2-if00-port0");
    CSimClock sim;
    QVERIFY2(sim.Start(), sim.LastError().c_str());
    PointLink(link, sim.DevicePath());
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        CSheetPrompts prompts(sheet);
        sheet.show();
        CSetupDlg& page = SetupPage(sheet);
        auto* port = qobject_cast<QComboBox*>(page.FindControl(IDC_COMM_PORT));
        auto* open = qobject_cast<QPushButton*>(page.FindControl(IDC_OPEN_PORT));
        port->setEditText(QString::fromStdString(link));
        open->click();
        QVERIFY2(page.GetPortStateText().starts_with("Open: " + link), page.GetPortStateText().c_str());

        // The plug goes during a read from the Clock Setup page, where no
        // reader runs.
        Tabs(sheet)->setCurrentIndex(kClockSetupTab);
        QCoreApplication::sendPostedEvents();
        {
            CPlugPuller puller(sim);
            MenuAction(sheet, ID_FILE_LOAD_COMM)->trigger();
        }
        QVERIFY(PumpUntil([&] { return !sheet.GetPort()->IsOpen(); }, 10000));
        QVERIFY(!prompts.boxes.empty());
        QCOMPARE(prompts.boxes.back(), GetString(IDS_READ_FAILED));
        QCOMPARE(StatusText(sheet), GetString(IDS_PORT_DEVICE_GONE));
        QCOMPARE(page.GetPortStateText(), FormatString(GetString(IDS_PORT_STATE_GONE).c_str(), link.c_str()));
        QVERIFY(!IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));

        // Plugged in again (a new device behind the same stable name): the
        // combo still names it, and "Open Comm Port" is all it takes.
        CSimClock again;
        QVERIFY2(again.Start(), again.LastError().c_str());
        PointLink(link, again.DevicePath());
        Tabs(sheet)->setCurrentIndex(0);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(port->currentText().toStdString(), link);
        open->click();
        QVERIFY(sheet.GetPort()->IsOpen());
        QVERIFY2(page.GetPortStateText().starts_with("Open: " + link), page.GetPortStateText().c_str());
        QVERIFY(IsMenuEnabled(sheet, ID_FILE_LOAD_COMM));
    }
    CQtWaitHooks::Uninstall();
}

void CUnplugTest::UnplugWhileIdleIsToldOnEveryPage() {
    // Pages by their tab. A pseudo-terminal raises no udev event: only the
    // window's own look (or the Console page's reader) can find it gone.
    const struct {
        const char* page;
        int tab;
    } pages[] = {{"Comm Port", 0}, {"Clock Setup", kClockSetupTab}, {"Location", 2}, {"Console", 3}};
    struct THooks {
        THooks() { CQtWaitHooks::Install(); }
        ~THooks() { CQtWaitHooks::Uninstall(); }
    };
    for (const auto& row : pages) {
        CGuiProfile profile;
        THooks hooks;
        CSimClock sim;
        QVERIFY2(sim.Start(), sim.LastError().c_str());
        const std::string device = sim.DevicePath();
        {
            CClockPropSheet sheet(IDS_CAPTION, nullptr, row.tab);
            CSheetPrompts prompts(sheet);
            sheet.show();
            QVERIFY2(sheet.GetPort()->Open(device), row.page);
            QVERIFY2(SetupPage(sheet).GetPortStateText().starts_with("Open: " + device), row.page);
            QCoreApplication::sendPostedEvents();

            sim.Stop();
            QVERIFY2(PumpUntil([&] { return !sheet.GetPort()->IsOpen(); }, 10000), row.page);
            QVERIFY2(StatusText(sheet) == GetString(IDS_PORT_DEVICE_GONE), row.page);
            QVERIFY2(SetupPage(sheet).GetPortStateText() ==
                         FormatString(GetString(IDS_PORT_STATE_GONE).c_str(), device.c_str()),
                     row.page);
            QVERIFY2(!IsMenuEnabled(sheet, ID_FILE_LOAD_COMM), row.page);
            Tabs(sheet)->setCurrentIndex(0);
            QCoreApplication::sendPostedEvents();
        }
    }
}

void CUnplugTest::RemovalMeansTheWatchedDeviceOnly() {
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    CTempDir dir;
    const std::string link = dir.File("usb-FTDI_FT232R_A1B2-if00-port0");
    PointLink(link, pty.SlaveName());
    struct stat st {};
    QVERIFY(::stat(pty.SlaveName().c_str(), &st) == 0);

    // Opened by its stable name: the node behind it and its number are known.
    const CDeviceWatch::TWatched watched = CDeviceWatch::Describe(link);
    QCOMPARE(watched.name, link);
    QCOMPARE(watched.devNode, pty.SlaveName());
    QCOMPARE(watched.devNum, st.st_rdev);
    // Nothing to watch behind a network port, a folder or nothing at all.
    for (const std::string& none : {std::string(), std::string("tcp://127.0.0.1:4001"), dir.Path()})
        QVERIFY2(CDeviceWatch::Describe(none).Empty(), none.c_str());

    const dev_t other = st.st_rdev + 1;
    const struct {
        const char* what;
        CDeviceWatch::TEvent event;
        bool removes;
    } rows[] = {
        {"its removal", {"remove", pty.SlaveName(), "", st.st_rdev}, true},
        {"its removal, without a number", {"remove", pty.SlaveName(), "", 0}, true},
        {"its removal, known by the stable name", {"remove", "", "/dev/serial/by-path/x " + link, 0}, true},
        {"added again", {"add", pty.SlaveName(), link, st.st_rdev}, false},
        {"changed", {"change", pty.SlaveName(), link, st.st_rdev}, false},
        {"another device's removal", {"remove", "/dev/ttyUSB9", "/dev/serial/by-id/other", other}, false},
        {"another device that once had its node", {"remove", pty.SlaveName(), link, other}, false},
        {"a link that only begins with the name", {"remove", "", link + "-port1", 0}, false},
    };
    for (const auto& row : rows)
        QVERIFY2(CDeviceWatch::IsRemovalOf(watched, row.event) == row.removes, row.what);
    QVERIFY(!CDeviceWatch::IsRemovalOf(CDeviceWatch::TWatched{}, rows[0].event));
}

QTEST_MAIN(CUnplugTest)
#include "UnplugTest.moc"
