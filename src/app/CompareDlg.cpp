#include "CompareDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "Resource.h"
#include "StringTable.h"

namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }

QTableWidgetItem* Cell(const QString& text) {
    auto* cell = new QTableWidgetItem(text);
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return cell;
}

}  // namespace

CCompareDlg::CCompareDlg(const TSetupDiff& diff, const QString& fileName, QWidget* parent) : QDialog(parent) {
    setWindowTitle(Text(FormatString(GetString(IDS_COMPARE_CAPTION).c_str(), fileName.toStdString().c_str())));
    const int rows = static_cast<int>(diff.items.size() + diff.bytes.size());
    m_summary = new QLabel(this);
    m_summary->setWordWrap(true);
    m_summary->setText(rows == 0   ? Text(GetString(IDS_COMPARE_SAME))
                       : rows == 1 ? Text(GetString(IDS_COMPARE_COUNT_ONE))
                                   : Text(FormatString(GetString(IDS_COMPARE_COUNT).c_str(), rows)));

    m_table = new QTableWidget(rows, 4, this);
    m_table->setHorizontalHeaderLabels({Text(GetString(IDS_COMPARE_ITEM)), Text(GetString(IDS_COMPARE_LABEL)),
                                        Text(GetString(IDS_COMPARE_SHOWN)), Text(GetString(IDS_COMPARE_FILE))});
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    int row = 0;
    for (const TItemDifference& d : diff.items) {
        auto* number = Cell(QString::number(d.item));
        number->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_table->setItem(row, 0, number);
        m_table->setItem(row, 1, Cell(Text(d.name)));
        m_table->setItem(row, 2, Cell(Text(ShowItemValue(d.a))));
        m_table->setItem(row, 3, Cell(Text(ShowItemValue(d.b))));
        ++row;
    }
    // Bits no item holds: named by their byte, shown in hex.
    for (const TByteDifference& d : diff.bytes) {
        m_table->setItem(row, 0, Cell(QStringLiteral("-")));
        m_table->setItem(row, 1, Cell(Text(GetString(IDS_TEXT_OTHER_BITS) + FormatString(" (%zu)", d.offset))));
        m_table->setItem(row, 2, Cell(Text(FormatString("0x%02X", d.a))));
        m_table->setItem(row, 3, Cell(Text(FormatString("0x%02X", d.b))));
        ++row;
    }
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setVisible(rows > 0);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);
    resize(560, rows > 0 ? 360 : 120);
}

QString CCompareDlg::GetSummary() const { return m_summary->text(); }
