// The page bases: tooltips from the string table by control id, the link to
// the sheet, and the relayed notifications.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "ClockPropSheet.h"
#include "CommPage.h"
#include "GuiTestSupport.h"
#include "Messages.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

// A page with a few controls, some with a tooltip string, some without; it
// counts the notifications it gets.
class CSamplePage : public CCommPage {
public:
    explicit CSamplePage(QWidget* parent = nullptr) : CCommPage(129, parent) {
        port = TagControl(new QLineEdit(this), IDC_COMM_PORT);
        open = TagControl(new QPushButton(QStringLiteral("&Open Comm Port"), this), IDC_OPEN_PORT);
        label = TagControl(new QLabel(QStringLiteral("Baud"), this), -1);
        output = TagControl(new QLineEdit(this), IDC_CONSOLE_OUTPUT);
        untagged = new QLineEdit(this);
    }
    QLineEdit* port;
    QPushButton* open;
    QLabel* label;
    QLineEdit* output;
    QLineEdit* untagged;
    QWidget* lateControl = nullptr;
    int portChanges = 0;
    int clockChanges = 0;

protected:
    bool OnInitDialog() override {
        CCommPage::OnInitDialog();
        lateControl = TagControl(new QLineEdit(this), IDC_CONSOLE_INPUT);
        return true;
    }
    void OnPortStateChanged(std::uintptr_t, std::intptr_t) override { ++portChanges; }
    void OnClockStateChanged(std::uintptr_t, std::intptr_t) override { ++clockChanges; }
};

}  // namespace

class CPagesTest : public QObject {
    Q_OBJECT

private slots:
    void ToolTipsComeFromStringsOnFirstShow();
    void PagesReachTheSheetsObjects();
    void NotificationsGoThroughThePageTarget();
};

void CPagesTest::ToolTipsComeFromStringsOnFirstShow() {
    CSamplePage page;
    QVERIFY(!page.IsCreated());
    QVERIFY(page.port->toolTip().isEmpty());
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QVERIFY(page.IsCreated());

    QCOMPARE(page.port->toolTip(), QStringLiteral("Selects the comm port.  Note: you may type in a value."));
    QCOMPARE(page.open->toolTip(), QString::fromStdString(GetString(IDC_OPEN_PORT)));
    QVERIFY(!page.open->toolTip().isEmpty());
    // A control made during initialisation gets its tooltip too.
    QVERIFY(page.lateControl != nullptr);
    QCOMPARE(page.lateControl->toolTip(), QString::fromStdString(GetString(IDC_CONSOLE_INPUT)));
    // No string, no tooltip: the console output, a label with -1, untagged controls.
    std::string none;
    QVERIFY(!LoadString(IDC_CONSOLE_OUTPUT, none));
    QVERIFY(page.output->toolTip().isEmpty());
    QVERIFY(page.label->toolTip().isEmpty());
    QVERIFY(page.untagged->toolTip().isEmpty());

    QCOMPARE(page.FindControl(IDC_OPEN_PORT), page.open);
    QCOMPARE(page.FindControl(4242), nullptr);
    QCOMPARE(CToolTipPage::GetControlId(page.untagged), 0);
    QCOMPARE(page.GetTitle(), QStringLiteral("Comm Port"));
}

void CPagesTest::PagesReachTheSheetsObjects() {
    CGuiProfile profile;
    CSamplePage loose;
    QCOMPARE(loose.GetSheet(), nullptr);
    QCOMPARE(loose.GetPort(), nullptr);
    QCOMPARE(loose.GetClockState(), nullptr);

    CClockPropSheet sheet(IDS_CAPTION, nullptr, 0);
    for (CCommPage* page : {static_cast<CCommPage*>(&sheet.GetSetupPage()),
                            static_cast<CCommPage*>(&sheet.GetCommonPage()),
                            static_cast<CCommPage*>(&sheet.GetLocationPage()),
                            static_cast<CCommPage*>(&sheet.GetConsolePage())}) {
        QCOMPARE(page->GetSheet(), &sheet);
        QCOMPARE(page->GetPort(), sheet.GetPort());
        QCOMPARE(page->GetClockState(), sheet.GetClockState());
    }
}

void CPagesTest::NotificationsGoThroughThePageTarget() {
    CSamplePage page;
    page.GetTarget()->Send(WM_PORTSTATECHANGED, 0, 0);
    page.GetTarget()->Send(WM_CLOCKSTATECHANGED, 0, 0);
    page.GetTarget()->Send(WM_CLOCKSTATECHANGED, 0, 0);
    page.GetTarget()->Send(WM_COMMDATA, 0, 0);  // not a page base message: ignored
    QCOMPARE(page.portChanges, 1);
    QCOMPARE(page.clockChanges, 2);
}

QTEST_MAIN(CPagesTest)
#include "PagesTest.moc"
