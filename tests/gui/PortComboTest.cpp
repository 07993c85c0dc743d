// The Comm Port combo on a fake machine: entries with their descriptions,
// the stable name stored on open, the same adapter found after a replug.
#include <QAbstractItemView>
#include <QTest>

#include <filesystem>

#include "FakePageHost.h"
#include "FakeSysfs.h"
#include "GuiTestSupport.h"

namespace {

const char kFtdi[] = "FTDI FT232R USB UART, serial A1B2C3";
const char kLink[] = "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";

}  // namespace

class CPortComboTest : public QObject {
    Q_OBJECT

private slots:
    void PickedAdapterIsStoredByItsStableNameAndFoundAfterReplug();
    void StoredNamesFindTheirEntry();
};

void CPortComboTest::PickedAdapterIsStoredByItsStableNameAndFoundAfterReplug() {
    CGuiProfile profile;
    CTempDir tree;
    CFakeSysfs sys(tree.Path());
    CPseudoTerminal first, second;
    QVERIFY(first.IsReady() && second.IsReady());
    sys.AddUsb("ttyUSB10", "ftdi_sio", "FTDI", "FT232R USB UART", "A1B2C3");
    sys.AddById(kLink, "ttyUSB10");
    sys.AddNode("ttyUSB10", first.SlaveName());  // the adapter's node is the test's line
    sys.AddTty("ttyAMA0", "uart-pl011");
    CSysfsRootOverride use(tree.Path());
    const std::string stable = sys.ById() + "/" + kLink;
    const QString listed = QStringLiteral("/dev/ttyUSB10 (%1)").arg(QLatin1String(kFtdi));

    {
        TPortPage p;
        QComboBox* ports = p.Combo(IDC_COMM_PORT);
        QVERIFY(ports->findText(QStringLiteral("COM2 (absent)")) >= 0);
        QVERIFY(ports->findText(QStringLiteral("/dev/ttyAMA0 (uart-pl011)")) > ports->findText(QStringLiteral("COM4 (absent)")));
        const int entry = ports->findText(listed);
        QVERIFY(entry >= 0);
        // Its stable name is shown with it, as the name that will be stored.
        QVERIFY2(ports->itemData(entry, Qt::ToolTipRole).toString().contains(QString::fromStdString(stable)),
                 qPrintable(ports->itemData(entry, Qt::ToolTipRole).toString()));
        QVERIFY(ports->itemData(ports->findText(QStringLiteral("/dev/ttyAMA0 (uart-pl011)")), Qt::ToolTipRole).isNull());
        ports->setCurrentIndex(entry);
        p.Open();
        QVERIFY(p.host.port.IsOpen());
        QCOMPARE(StoredComm("CommPort"), stable);
        // The state line: the stable name and where it points now.
        const std::string state = p.page.GetPortStateText();
        QVERIFY2(state.find(stable + " (/dev/ttyUSB10)") != std::string::npos, state.c_str());
    }
    {
        // Next start: the stored stable name picks its entry again.
        TPortPage p;
        QCOMPARE(p.Combo(IDC_COMM_PORT)->currentText(), listed);
    }

    // Replugged into another socket: another tty and node, the same link.
    std::filesystem::remove_all(sys.ClassTty() + "/ttyUSB10");
    std::filesystem::remove(tree.Path() + "/dev/ttyUSB10");
    sys.AddUsb("ttyUSB3", "ftdi_sio", "FTDI", "FT232R USB UART", "A1B2C3");
    sys.AddById(kLink, "ttyUSB3");
    sys.AddNode("ttyUSB3", second.SlaveName());
    WriteProfileInt("Communication", "AutoOpen", 1);
    TPortPage p;
    QVERIFY(p.host.port.IsOpen());
    QCOMPARE(p.Combo(IDC_COMM_PORT)->currentText(), QStringLiteral("/dev/ttyUSB3 (%1)").arg(QLatin1String(kFtdi)));
    const std::string state = p.page.GetPortStateText();
    QVERIFY2(state.find(stable + " (/dev/ttyUSB3)") != std::string::npos, state.c_str());
}

void CPortComboTest::StoredNamesFindTheirEntry() {
    CGuiProfile profile;
    CTempDir tree;
    CFakeSysfs sys(tree.Path());
    sys.AddUsb("ttyUSB10", "ftdi_sio", "FTDI", "FT232R USB UART", "A1B2C3");
    sys.AddById(kLink, "ttyUSB10");
    CSysfsRootOverride use(tree.Path());
    TPortPage p;
    QComboBox* ports = p.Combo(IDC_COMM_PORT);
    const int adapter = ports->findText(QStringLiteral("/dev/ttyUSB10 (%1)").arg(QLatin1String(kFtdi)));
    QVERIFY(adapter >= 4);

    QCOMPARE(CSetupDlg::FindPort(ports, sys.ById() + "/" + kLink), adapter);
    QCOMPARE(CSetupDlg::FindPort(ports, "/dev/ttyUSB10"), adapter);  // stored before it had a stable name
    QCOMPARE(CSetupDlg::FindPort(ports, " com2 "), 1);
    // Another adapter's name is no prefix of this one's.
    QCOMPARE(CSetupDlg::FindPort(ports, "/dev/ttyUSB1"), -1);
    QCOMPARE(CSetupDlg::FindPort(ports, "/dev/ttyUS"), adapter);
    QCOMPARE(CSetupDlg::FindPort(ports, ""), -1);
    QCOMPARE(CSetupDlg::FindPort(ports, "/dev/ttyUSB7"), -1);

    // The dropped-down list shows whole descriptions, wider than the combo.
    ports->showPopup();
    QVERIFY(PumpUntil([&] { return ports->view()->isVisible(); }));
    QVERIFY(ports->view()->width() >= ports->view()->sizeHintForColumn(0));
    QVERIFY(ports->view()->width() > ports->width());
    ports->hidePopup();
}

QTEST_MAIN(CPortComboTest)
#include "PortComboTest.moc"
