#include "CommonPage.h"

#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <cctype>
#include <climits>
#include <vector>

#include "ClockState.h"
#include "ControlIds.h"
#include "Resource.h"
#include "SetupDiff.h"
#include "SetupItems.h"
#include "StringTable.h"

CCommonPage::CCommonPage(QWidget* parent) : CCommPage(IDD_CLOCK_SETUP, parent) {
    m_tree = TagControl(new QTreeWidget(this), IDC_SETUP_TREE);
    m_tree->setHeaderHidden(true);
    m_tree->setColumnCount(1);
    m_tree->setRootIsDecorated(true);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree->setEnabled(false);

    m_group = new QGroupBox(this);
    m_editValue = TagControl(new QLineEdit(m_group), IDC_SETUP_VALUE);
    m_editValue->setEnabled(false);
    m_btnApply = TagControl(new QPushButton(QStringLiteral("Apply"), m_group), IDC_SETUP_APPLY);
    m_btnApply->setEnabled(false);
    m_comboChoice = TagControl(new QComboBox(m_group), IDC_SETUP_CHOICE);
    m_comboChoice->setEnabled(false);
    m_comboChoice->setMinimumContentsLength(16);
    // The tree has no label, so a screen reader is given its name. The two
    // editors get labels: on Linux a list is named by its label alone (its
    // own name is the entry it shows).
    m_tree->setAccessibleName(QString::fromStdString(GetString(IDS_NAME_SETUP_TREE)));
    auto* valueLabel = new QLabel(QString::fromStdString(GetString(IDS_NAME_SETUP_VALUE)), m_group);
    valueLabel->setBuddy(m_editValue);
    auto* choiceLabel = new QLabel(QString::fromStdString(GetString(IDS_NAME_SETUP_CHOICE)), m_group);
    choiceLabel->setBuddy(m_comboChoice);

    auto* editors = new QGridLayout(m_group);
    editors->addWidget(valueLabel, 0, 0, 1, 2);
    editors->addWidget(m_editValue, 1, 0);
    editors->addWidget(m_btnApply, 1, 1);
    editors->addWidget(choiceLabel, 2, 0, 1, 2);
    editors->addWidget(m_comboChoice, 3, 0, 1, 2);
    editors->setRowStretch(4, 1);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_tree, 3);
    layout->addWidget(m_group, 2);

    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { OnSelChangedTree(current); });
    // Only a choice the user makes is stored; filling the list is not one.
    connect(m_comboChoice, &QComboBox::activated, this, [this](int index) { OnSelChangeChoice(index); });
    connect(m_btnApply, &QPushButton::clicked, this, [this] { OnApplyValue(); });
}

CCommonPage::~CCommonPage() = default;

bool CCommonPage::OnInitDialog() {
    CCommPage::OnInitDialog();
    // A configuration loaded before the page was first shown appears at once.
    OnClockStateChanged();
    return true;
}

void CCommonPage::OnClockStateChanged() {
    const CClockState* state = GetClockState();
    const bool valid = state && state->IsValid();
    // Apply follows the selection, not the configuration.
    m_tree->setEnabled(valid);
    m_editValue->setEnabled(valid);
    m_comboChoice->setEnabled(valid);
    // A failed load notifies too, with the record as it was: only the first
    // setup is taken here; loads that worked are marked by the sheet.
    if (valid && !m_hasBaseline) {
        m_baseline = *state->GetConfig();
        m_hasBaseline = true;
    }
    BuildTree();
}

bool CCommonPage::IsItemChanged(int item) const {
    const CClockState* state = GetClockState();
    long long now = 0, then = 0;
    return m_hasBaseline && state && GetItemRaw(*state->GetConfig(), item, now) && GetItemRaw(m_baseline, item, then) &&
           now != then;
}

void CCommonPage::MarkUnchanged() {
    const CClockState* state = GetClockState();
    if (!state || !state->IsValid()) return;
    m_baseline = *state->GetConfig();
    m_hasBaseline = true;
    for (int b = 0; b < m_tree->topLevelItemCount(); ++b) {
        QTreeWidgetItem* branch = m_tree->topLevelItem(b);
        for (int i = 0; i < branch->childCount(); ++i) RefreshItemText(branch->child(i));
    }
}

void CCommonPage::MarkBranch(QTreeWidgetItem* branch) {
    if (!branch) return;
    bool any = false;
    for (int i = 0; i < branch->childCount() && !any; ++i) any = branch->child(i)->font(0).bold();
    QFont font = branch->font(0);
    font.setBold(any);
    branch->setFont(0, font);
}

int CCommonPage::ItemNumber(const QTreeWidgetItem* treeItem) {
    return treeItem ? treeItem->data(0, Qt::UserRole).toInt() : 0;
}

std::string CCommonPage::FormatLabel(const std::string& label, const std::string& value) {
    std::string text = label;
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}

CCommonPage::TScan CCommonPage::ScanNumber(const std::string& text, int& value) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return TScan::None;
    long long number = 0;
    bool overflow = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        number = number * 10 + (text[i] - '0');
        if (number > static_cast<long long>(INT_MAX) + 1) {
            overflow = true;
            number = static_cast<long long>(INT_MAX) + 1;  // keep going through the digits
        }
    }
    if (negative) number = -number;
    if (overflow || number > INT_MAX || number < INT_MIN) return TScan::Overflow;
    value = static_cast<int>(number);
    return TScan::Number;
}

void CCommonPage::BuildTree() {
    const CClockState* state = GetClockState();
    if (!state || !state->IsValid()) return;

    // The selected item goes with the old items: the editors are left as for
    // no selection, not holding a value of an item that no longer exists.
    const bool hadSelection = m_tree->currentItem() != nullptr;
    {
        const QSignalBlocker quiet(m_tree);
        m_tree->clear();
    }
    if (hadSelection) OnSelChangedTree(nullptr);

    std::vector<std::string> groups;
    GetGroupNames(groups);
    std::vector<std::string> labels;
    std::vector<int> items;
    for (int group = 0; group < static_cast<int>(groups.size()); ++group) {
        auto* branch = new QTreeWidgetItem(m_tree, QStringList(QString::fromStdString(groups[group])));
        branch->setData(0, Qt::UserRole, 0);
        if (GetGroupItems(group, labels, items)) {
            for (std::size_t j = 0; j < labels.size() && j < items.size(); ++j) {
                auto* child = new QTreeWidgetItem(branch, QStringList(QString::fromStdString(labels[j])));
                child->setData(0, Qt::UserRole, items[j]);
                RefreshItemText(child);
            }
        }
        labels.clear();
        items.clear();
    }
    m_tree->collapseAll();
}

void CCommonPage::RefreshItemText(QTreeWidgetItem* treeItem) {
    const CClockState* state = GetClockState();
    if (!treeItem || !state) return;
    const int item = ItemNumber(treeItem);
    std::string value;
    if (!GetItemText(*state->GetConfig(), item, value)) return;
    if (item < 0 || item >= ITEM_COUNT) return;
    std::string label;
    if (!GetItemLabel(item, label)) return;
    const bool changed = IsItemChanged(item);
    std::string text = FormatLabel(label, value);
    QString tip;
    if (changed) {
        text += " *";
        tip = QString::fromStdString(FormatString(GetString(IDS_SETUP_ITEM_CHANGED).c_str(),
                                                  ShowItemValue(GetItemValue(m_baseline, item)).c_str()));
    }
    treeItem->setText(0, QString::fromStdString(text));
    treeItem->setToolTip(0, tip);
    QFont font = treeItem->font(0);
    font.setBold(changed);
    treeItem->setFont(0, font);
    MarkBranch(treeItem->parent());
}

void CCommonPage::ClearEditors() {
    m_comboChoice->clear();
    m_editValue->clear();
    m_comboChoice->setEnabled(false);
    m_editValue->setEnabled(false);
    m_btnApply->setEnabled(false);
}

void CCommonPage::OnSelChangedTree(QTreeWidgetItem* current) {
    ClearEditors();
    const CClockState* state = GetClockState();
    if (!state) return;
    const int item = ItemNumber(current);

    std::vector<std::string> choices;
    if (GetChoiceList(item, choices)) {
        m_comboChoice->setEnabled(true);
        for (const std::string& choice : choices) m_comboChoice->addItem(QString::fromStdString(choice));
        int index = 0;
        if (!GetItemChoice(*state->GetConfig(), item, index)) index = 0;
        // A stored value beyond the list selects nothing.
        m_comboChoice->setCurrentIndex(index < m_comboChoice->count() ? index : -1);
    } else {
        std::string value;
        if (GetItemText(*state->GetConfig(), item, value)) {
            m_btnApply->setEnabled(true);
            m_editValue->setEnabled(true);
            m_editValue->setText(QString::fromStdString(value));
        }
    }
    RefreshItemText(current);
}

void CCommonPage::OnSelChangeChoice(int index) {
    CClockState* state = GetClockState();
    QTreeWidgetItem* current = m_tree->currentItem();
    if (!state || !current || index < 0) return;
    if (state->SetItem(ItemNumber(current), index, true)) RefreshItemText(current);
}

void CCommonPage::OnApplyValue() {
    const std::string text = m_editValue->text().toStdString();
    if (text.empty()) return;
    int value = 0;
    const TScan scan = ScanNumber(text, value);
    // No number: nothing happens, and nothing is said.
    if (scan == TScan::None) return;

    CClockState* state = GetClockState();
    QTreeWidgetItem* current = m_tree->currentItem();
    if (!state || !current) return;
    const int item = ItemNumber(current);
    if (scan == TScan::Overflow) {
        // Beyond 32 bits is beyond every item's range; never store a cut-off number.
        int min = 0, max = 0;
        if (GetItemRange(item, min, max) && GetSheet())
            GetSheet()->ShowMessage(FormatString(GetString(IDS_RANGE_ERROR).c_str(), min, max));
        return;
    }
    // The typed text stays in the field either way.
    if (state->SetItem(item, value, true)) RefreshItemText(current);
}
