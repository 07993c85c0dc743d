// The Clock Setup page: the tree built from a loaded setup file, choice and
// number editing into the record, and what refused or odd values show.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "CommonPage.h"
#include "ControlIds.h"
#include "FakePageHost.h"
#include "GuiTestSupport.h"

namespace {

// A setup with a few known values.
CClockState KnownSetup() {
    CClockState state;
    TClockConfig& c = *state.GetConfig();
    c.mainBaud = 3;    // 9600
    c.mainParity = 2;  // "Odd"
    c.optionBaud = 7;  // beyond the baud list
    c.lonSign = 'X';   // not a sign letter
    c.latSign = 'S';
    c.dstMinutes = 30;
    return state;
}

// The Clock Setup page on a host of the test's own, optionally after
// loading a setup as the window does.
struct TSetupPage {
    CGuiProfile profile;
    CFakePageHost host;
    CCommonPage page;
    QTreeWidget* tree = page.GetTree();
    QLineEdit* edit = qobject_cast<QLineEdit*>(page.FindControl(IDC_SETUP_VALUE));
    QComboBox* choice = qobject_cast<QComboBox*>(page.FindControl(IDC_SETUP_CHOICE));
    QPushButton* apply = qobject_cast<QPushButton*>(page.FindControl(IDC_SETUP_APPLY));

    TSetupPage() { page.SetSheet(&host); }

    bool Load() {
        if (!host.LoadSetup(KnownSetup())) return false;
        page.MarkUnchanged();
        page.ClockStateChanged();
        return true;
    }
    void Show() { page.show(); }
    QString Label(int item) { return FindItem(tree, item)->text(0); }
    void Select(int item) { tree->setCurrentItem(FindItem(tree, item)); }
    void ApplyText(const char* text) {
        edit->setText(QString::fromLatin1(text));
        QTest::mouseClick(apply, Qt::LeftButton);
    }
};

}  // namespace

class CCommonPageTest : public QObject {
    Q_OBJECT

private slots:
    void TreeFollowsTheConfiguration();
    void PickedChoiceIsStoredAtOnce();
    void OddStoredValuesShowAsTheyAre();
    void NumbersAreScannedAndChecked();
};

void CCommonPageTest::TreeFollowsTheConfiguration() {
    TSetupPage s;
    s.Show();
    QVERIFY(!s.tree->isEnabled() && !s.edit->isEnabled() && !s.choice->isEnabled() && !s.apply->isEnabled());
    QCOMPARE(s.tree->topLevelItemCount(), 0);

    QVERIFY(s.Load());
    QVERIFY(s.tree->isEnabled() && s.edit->isEnabled() && s.choice->isEnabled() && !s.apply->isEnabled());
    QCOMPARE(s.tree->topLevelItemCount(), 8);
    for (int b = 0; b < 8; ++b) QVERIFY(!s.tree->topLevelItem(b)->isExpanded());
    QCOMPARE(s.tree->topLevelItem(0)->text(0), QStringLiteral("Main Communication"));
    QCOMPARE(s.tree->topLevelItem(0)->child(0)->text(0), QStringLiteral("Baud Rate 9600"));
    QCOMPARE(s.Label(62), QStringLiteral("Longitude Sign South"));
    QVERIFY(!s.tree->currentItem());

    // A reload rebuilds from scratch: the selection and its editors go.
    s.Select(15);
    QVERIFY(s.apply->isEnabled());
    s.host.state.SetItem(15, 5, false);
    QVERIFY(s.Load());
    QVERIFY(!s.tree->currentItem());
    QVERIFY(!s.apply->isEnabled() && s.edit->text().isEmpty());
    QCOMPARE(s.Label(15), QStringLiteral("Change Over Minutes 30"));

    // Selecting a branch leaves every editor empty and disabled.
    s.Select(6);
    s.tree->setCurrentItem(s.tree->topLevelItem(0));
    QVERIFY(!s.choice->isEnabled() && s.choice->count() == 0 && !s.edit->isEnabled() && !s.apply->isEnabled());
}

void CCommonPageTest::PickedChoiceIsStoredAtOnce() {
    TSetupPage s;
    QVERIFY(s.Load());
    s.Show();  // first shown with a setup already there: built at once
    s.Select(6);
    QCOMPARE(s.choice->count(), 3);
    QCOMPARE(s.choice->currentText(), QStringLiteral("Odd"));
    QVERIFY(s.choice->isEnabled() && !s.edit->isEnabled() && !s.apply->isEnabled());
    QCOMPARE(s.host.state.GetConfig()->mainParity, 2);  // filling stored nothing

    QTest::keyClick(s.choice, Qt::Key_Up);
    QCOMPARE(s.Label(6), QStringLiteral("Parity Even *"));
    QCOMPARE(s.host.state.GetConfig()->mainParity, 1);
    QVERIFY(s.host.boxes.empty());
}

void CCommonPageTest::OddStoredValuesShowAsTheyAre() {
    TSetupPage s;
    QVERIFY(s.Load());
    s.Show();
    QCOMPARE(s.Label(7), QStringLiteral("Baud Rate Unexpected Value!"));
    s.Select(7);
    QCOMPARE(s.choice->count(), 5);
    QCOMPARE(s.choice->currentIndex(), -1);

    QCOMPARE(s.Label(56), QStringLiteral("Longitude Sign %s"));
    s.Select(56);
    QCOMPARE(s.choice->currentText(), QStringLiteral("North"));
    QCOMPARE(s.host.state.GetConfig()->lonSign, 'X');
    QVERIFY(s.host.boxes.empty());
}

void CCommonPageTest::NumbersAreScannedAndChecked() {
    TSetupPage s;
    QVERIFY(s.Load());
    s.Show();
    const TClockConfig& c = *s.host.state.GetConfig();
    s.Select(15);
    QCOMPARE(s.edit->text(), QStringLiteral("30"));
    QVERIFY(s.edit->isEnabled() && s.apply->isEnabled() && !s.choice->isEnabled());

    s.ApplyText("60");
    QCOMPARE(s.host.boxes, (std::vector<std::string>{"Input Error!  The valid range is 0 to 59."}));
    QCOMPARE(c.dstMinutes, 30);
    QCOMPARE(s.Label(15), QStringLiteral("Change Over Minutes 30"));
    QCOMPARE(s.edit->text(), QStringLiteral("60"));

    s.host.boxes.clear();
    for (const char* nothing : {"abc", "", "   ", "-"}) s.ApplyText(nothing);
    QVERIFY(s.host.boxes.empty());
    QCOMPARE(c.dstMinutes, 30);
    s.ApplyText(" 12abc");
    QCOMPARE(c.dstMinutes, 12);
    QCOMPARE(s.Label(15), QStringLiteral("Change Over Minutes 12 *"));
    QCOMPARE(s.edit->text(), QStringLiteral(" 12abc"));

    // Beyond 32 bits is refused as out of range, never cut to fit.
    s.Select(47);
    s.ApplyText("4294967297");
    QCOMPARE(s.host.boxes,
             (std::vector<std::string>{"Input Error!  The valid range is -2147483648 to 2147483647."}));
    QCOMPARE(s.Label(47), QStringLiteral("Longitude Sum 0"));
}

QTEST_MAIN(CCommonPageTest)
#include "CommonPageTest.moc"
