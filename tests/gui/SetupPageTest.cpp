// The Comm Port page: preselection from the profile, opening a typed device,
// what goes back into the profile, and the live model choice.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <filesystem>

#include "ClockPropSheet.h"
#include "CommPort.h"
#include "PortCatalogue.h"
#include "GuiTestSupport.h"
#include "Resource.h"
#include "SheetPrompts.h"

namespace {

std::string Stored(const char* key) { return GetProfileString("Communication", key, "<none>"); }

QComboBox* Combo(CClockPropSheet& sheet, unsigned id) {
    return qobject_cast<QComboBox*>(sheet.GetSetupPage().FindControl(static_cast<int>(id)));
}

}  // namespace

class CSetupPageTest : public QObject {
    Q_OBJECT

private slots:
    void EmptyProfilePreselectsDefaults();
    void StoredValuesSelectByPrefixIgnoringCase();
    void OpensTypedDeviceAndStoresSettings();
    void FailedOpenStillTellsSheetAndKeepsUnreadableKeys();
    void PickedModelIsLiveAndSavedAtExit();
    void PortListIsReadAgainWhenItDropsDown();
};

void CSetupPageTest::EmptyProfilePreselectsDefaults() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.show();
    QVERIFY(sheet.GetSetupPage().IsCreated());

    const struct {
        unsigned id;
        const char* text;
        int count;
    } expected[] = {{IDC_MODEL, "K201", 6}, {IDC_COMM_PORT, "COM1", -1}, {IDC_BAUD, "9600", 7},
                    {IDC_DATA_BITS, "8", 2}, {IDC_PARITY, "No Parity", 3}, {IDC_STOP_BITS, "1", 2}};
    for (const auto& e : expected) {
        QComboBox* combo = Combo(sheet, e.id);
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
    QCOMPARE(sheet.GetClockState()->GetModel(), 0);
}

void CSetupPageTest::StoredValuesSelectByPrefixIgnoringCase() {
    CGuiProfile profile;
    WriteProfileString("Communication", "Model", "k204");
    WriteProfileString("Communication", "CommPort", "com2");
    WriteProfileString("Communication", "Baud", "192");
    WriteProfileString("Communication", "Parity", "e");
    WriteProfileString("Communication", "DataLength", "9");
    WriteProfileString("Communication", "StopLength", "");
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.show();

    QCOMPARE(Combo(sheet, IDC_MODEL)->currentText(), QStringLiteral("K204"));
    QCOMPARE(sheet.GetClockState()->GetModel(), 3);
    QVERIFY(Combo(sheet, IDC_COMM_PORT)->currentText().startsWith(QStringLiteral("COM2 (")));
    QCOMPARE(Combo(sheet, IDC_BAUD)->currentText(), QStringLiteral("19200"));
    QCOMPARE(Combo(sheet, IDC_PARITY)->currentText(), QStringLiteral("Even"));
    // Not in the list, or stored empty: no selection and no text.
    for (unsigned id : {IDC_DATA_BITS, IDC_STOP_BITS}) {
        QCOMPARE(Combo(sheet, id)->currentIndex(), -1);
        QCOMPARE(Combo(sheet, id)->currentText(), QString());
    }
}

void CSetupPageTest::OpensTypedDeviceAndStoresSettings() {
    CGuiProfile profile;
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    CSheetPrompts prompts(sheet);
    sheet.show();
    QVERIFY(!sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM));

    // No main window is registered, so only the page's own notice can
    // bring the menu up to date.
    QComboBox* port = Combo(sheet, IDC_COMM_PORT);
    port->lineEdit()->clear();
    QTest::keyClicks(port->lineEdit(), QString::fromStdString(pty.SlaveName()));
    Combo(sheet, IDC_BAUD)->setCurrentIndex(Combo(sheet, IDC_BAUD)->findText("19200"));
    QTest::mouseClick(qobject_cast<QPushButton*>(sheet.GetSetupPage().FindControl(IDC_OPEN_PORT)), Qt::LeftButton);

    QVERIFY(sheet.GetPort()->IsOpen());
    QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM));
    QCOMPARE(Stored("CommPort"), pty.SlaveName());
    QCOMPARE(Stored("Baud"), std::string("19200"));
    QCOMPARE(Stored("DataLength"), std::string("8"));
    QCOMPARE(Stored("Parity"), std::string("No Parity"));
    QCOMPARE(Stored("StopLength"), std::string("1"));
    QCOMPARE(Stored("Model"), std::string("K201"));
    QVERIFY(prompts.boxes.empty());
}

void CSetupPageTest::FailedOpenStillTellsSheetAndKeepsUnreadableKeys() {
    CGuiProfile profile;
    CTempDir dir;
    const auto oldDir = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());  // the failed open writes its report here
    CPseudoTerminal pty;
    QVERIFY(pty.IsReady());
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        CSheetPrompts prompts(sheet);
        sheet.show();
        QComboBox* port = Combo(sheet, IDC_COMM_PORT);
        auto* open = qobject_cast<QPushButton*>(sheet.GetSetupPage().FindControl(IDC_OPEN_PORT));
        port->setEditText(QString::fromStdString(pty.SlaveName()));
        open->click();
        QVERIFY(sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM));

        WriteProfileString("Communication", "Baud", "4800");
        port->setEditText(QString::fromStdString(dir.File("no-such-tty")));
        open->click();
        QVERIFY(!sheet.GetPort()->IsOpen());
        QVERIFY(!sheet.IsMenuCommandEnabled(ID_FILE_LOAD_COMM));
        // The port still holds the name it last opened; a closed port reads no baud.
        QCOMPARE(Stored("CommPort"), pty.SlaveName());
        QCOMPARE(Stored("Baud"), std::string("4800"));
        QVERIFY(!ReadWholeFile(dir.File("commport_err.txt")).empty());
    }
    std::filesystem::current_path(oldDir);
}

void CSetupPageTest::PickedModelIsLiveAndSavedAtExit() {
    CGuiProfile profile;
    {
        CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
        sheet.show();
        QComboBox* model = Combo(sheet, IDC_MODEL);
        for (int i = 0; i < 3; ++i) QTest::keyClick(model, Qt::Key_Down);
        QCOMPARE(model->currentText(), QStringLiteral("K204"));
        QCOMPARE(sheet.GetClockState()->GetModel(), 3);
        QCOMPARE(Stored("Model"), std::string("<none>"));
    }
    // Saved as the window went; the port was never open, so no port keys.
    QCOMPARE(Stored("Model"), std::string("K204"));
    QCOMPARE(Stored("CommPort"), std::string("<none>"));
    QCOMPARE(Stored("Baud"), std::string("<none>"));
}

void CSetupPageTest::PortListIsReadAgainWhenItDropsDown() {
    CGuiProfile profile;
    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    sheet.show();
    QComboBox* ports = Combo(sheet, IDC_COMM_PORT);
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

QTEST_MAIN(CSetupPageTest)
#include "SetupPageTest.moc"
