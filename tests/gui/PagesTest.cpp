// The page bases: tooltips from the string table by control id.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "CommPage.h"
#include "Resource.h"
#include "StringTable.h"

namespace {

// A page with a few controls, some with a tooltip string, some without.
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

protected:
    bool OnInitDialog() override {
        CCommPage::OnInitDialog();
        lateControl = TagControl(new QLineEdit(this), IDC_CONSOLE_INPUT);
        return true;
    }
};

}  // namespace

class CPagesTest : public QObject {
    Q_OBJECT

private slots:
    void ToolTipsComeFromStringsOnFirstShow();
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

QTEST_MAIN(CPagesTest)
#include "PagesTest.moc"
