// The Comm Port page on a host of the test's own: preselection from the
// profile, what it hands the window to open, what goes back into the
// profile, and the live model choice.
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "FakePageHost.h"
#include "GuiTestSupport.h"
#include "PortCatalogue.h"

class CSetupPageTest : public QObject {
    Q_OBJECT

private slots:
    void EmptyProfilePreselectsDefaults();
    void StoredValuesSelectByPrefixIgnoringCase();
    void OpensTypedDeviceAndStoresSettings();
    void FailedOpenStillSaysSoAndKeepsUnreadableKeys();
    void PickedModelIsLiveAndSavedAsThePageGoes();
    void PortListIsReadAgainWhenItDropsDown();
    void TypedPortIsShownAfterARestart();
};

void CSetupPageTest::EmptyProfilePreselectsDefaults() {
    CGuiProfile profile;
    TPortPage p;
    QVERIFY(p.page.IsCreated());

    const struct {
        unsigned id;
        const char* text;
        int count;
    } expected[] = {{IDC_MODEL, "K201", 6}, {IDC_COMM_PORT, "COM1", -1}, {IDC_BAUD, "9600", 7},
                    {IDC_DATA_BITS, "8", 2}, {IDC_PARITY, "No Parity", 3}, {IDC_STOP_BITS, "1", 2}};
    for (const auto& e : expected) {
        QComboBox* combo = p.Combo(e.id);
        QVERIFY(combo);
        // A port's entry says what is behind it: "COM1 (absent)".
        if (e.id == IDC_COMM_PORT)
            QVERIFY2(combo->currentText().startsWith(QLatin1String(e.text) + QLatin1String(" (")),
                     qPrintable(combo->currentText()));
        else
            QCOMPARE(combo->currentText(), QString::fromLatin1(e.text));
        if (e.count >= 0) QCOMPARE(combo->count(), e.count);
        // Only the model cannot be typed into.
        QCOMPARE(combo->isEditable(), e.id != IDC_MODEL);
    }
    // The found model becomes the configuration's (it starts on another one).
    QCOMPARE(p.host.state.GetModel(), 0);
}

void CSetupPageTest::StoredValuesSelectByPrefixIgnoringCase() {
    CGuiProfile profile;
    WriteProfileString("Communication", "Model", "k204");
    WriteProfileString("Communication", "CommPort", "com2");
    WriteProfileString("Communication", "Baud", "192");
    WriteProfileString("Communication", "Parity", "e");
    WriteProfileString("Communication", "DataLength", "9");
    WriteProfileString("Communication", "StopLength", "");
    TPortPage p;

    QCOMPARE(p.Combo(IDC_MODEL)->currentText(), QStringLiteral("K204"));
    QCOMPARE(p.host.state.GetModel(), 3);
    QVERIFY(p.Combo(IDC_COMM_PORT)->currentText().startsWith(QStringLiteral("COM2 (")));
    QCOMPARE(p.Combo(IDC_BAUD)->currentText(), QStringLiteral("19200"));
    QCOMPARE(p.Combo(IDC_PARITY)->currentText(), QStringLiteral("Even"));
    // Not in the list, or stored empty: no selection and no text.
    for (unsigned id : {IDC_DATA_BITS, IDC_STOP_BITS}) {
        QCOMPARE(p.Combo(id)->currentIndex(), -1);
        QCOMPARE(p.Combo(id)->currentText(), QString());
    }
}

void CSetupPageTest::OpensTypedDeviceAndStoresSettings() {
    CGuiProfile profile;
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    TPortPage p;
    QSignalSpy changed(&p.page, &CSetupDlg::PortChanged);
    QComboBox* port = p.Combo(IDC_COMM_PORT);
    port->lineEdit()->clear();
    QTest::keyClicks(port->lineEdit(), QString::fromStdString(pty.SlaveName()));
    p.Combo(IDC_BAUD)->setCurrentIndex(p.Combo(IDC_BAUD)->findText("19200"));
    p.Open();

    // The window is handed the typed name and the chosen line.
    QCOMPARE(p.host.opened.size(), std::size_t(1));
    std::string name, baud;
    QVERIFY(p.host.opened[0].GetPortName(name) && p.host.opened[0].GetBaud(baud));
    QCOMPARE(name + " " + baud, pty.SlaveName() + " 19200");
    QCOMPARE(changed.count(), 1);
    QVERIFY(p.host.port.IsOpen());
    QCOMPARE(StoredComm("CommPort"), pty.SlaveName());
    QCOMPARE(StoredComm("Baud"), std::string("19200"));
    QCOMPARE(StoredComm("DataLength"), std::string("8"));
    QCOMPARE(StoredComm("Parity"), std::string("No Parity"));
    QCOMPARE(StoredComm("StopLength"), std::string("1"));
    QCOMPARE(StoredComm("Model"), std::string("K201"));
    QVERIFY(p.host.boxes.empty());
}

void CSetupPageTest::FailedOpenStillSaysSoAndKeepsUnreadableKeys() {
    CGuiProfile profile;
    CTempDir dir;
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    TPortPage p;
    QSignalSpy changed(&p.page, &CSetupDlg::PortChanged);
    QComboBox* port = p.Combo(IDC_COMM_PORT);
    port->setEditText(QString::fromStdString(pty.SlaveName()));
    p.Open();
    QVERIFY(p.host.port.IsOpen());

    WriteProfileString("Communication", "Baud", "4800");
    port->setEditText(QString::fromStdString(dir.File("no-such-tty")));
    p.Open();
    QVERIFY(!p.host.port.IsOpen());
    // The window hears of every open, whether or not the port opened.
    QCOMPARE(changed.count(), 2);
    // The port still holds the name it last opened; a closed port reads no baud.
    QCOMPARE(StoredComm("CommPort"), pty.SlaveName());
    QCOMPARE(StoredComm("Baud"), std::string("4800"));
}

void CSetupPageTest::PickedModelIsLiveAndSavedAsThePageGoes() {
    CGuiProfile profile;
    TPortPage p;
    QComboBox* model = p.Combo(IDC_MODEL);
    for (int i = 0; i < 3; ++i) QTest::keyClick(model, Qt::Key_Down);
    QCOMPARE(model->currentText(), QStringLiteral("K204"));
    QCOMPARE(p.host.state.GetModel(), 3);
    QCOMPARE(StoredComm("Model"), std::string("<none>"));

    p.page.OnDestroyPage();
    // The port was never open, so no port keys.
    QCOMPARE(StoredComm("Model"), std::string("K204"));
    QCOMPARE(StoredComm("CommPort"), std::string("<none>"));
    QCOMPARE(StoredComm("Baud"), std::string("<none>"));
}

void CSetupPageTest::PortListIsReadAgainWhenItDropsDown() {
    CGuiProfile profile;
    TPortPage p;
    QComboBox* ports = p.Combo(IDC_COMM_PORT);
    ports->setEditText(QStringLiteral("/dev/typed"));
    const int before = ports->count();

    // A port that appears while the program runs, as a USB adapter does.
    CPortCatalogue::RegisterVirtualPort("PLUGGED", "just plugged in", [] { return std::shared_ptr<CSerialDevice>(); });
    ports->showPopup();
    ports->hidePopup();
    CPortCatalogue::UnregisterVirtualPort("PLUGGED");

    QCOMPARE(ports->count(), before + 1);
    QVERIFY(ports->findText(QStringLiteral("PLUGGED"), Qt::MatchStartsWith) >= 0);
    QCOMPARE(ports->currentText(), QStringLiteral("/dev/typed"));
}

void CSetupPageTest::TypedPortIsShownAfterARestart() {
    CGuiProfile profile;
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    const QString typed = QString::fromStdString(pty.SlaveName());
    {
        TPortPage p;
        p.Combo(IDC_COMM_PORT)->setEditText(typed);
        p.Open();
        QVERIFY(p.host.port.IsOpen());
    }
    // The next start opens it with the window: the list names it as the state line does.
    WriteProfileInt("Communication", "AutoOpen", 1);
    TPortPage p;
    QVERIFY(p.host.port.IsOpen());
    QCOMPARE(p.Combo(IDC_COMM_PORT)->currentText(), typed);
    QVERIFY2(p.page.GetPortStateText().starts_with("Open: " + pty.SlaveName()), p.page.GetPortStateText().c_str());
}

QTEST_MAIN(CSetupPageTest)
#include "SetupPageTest.moc"
