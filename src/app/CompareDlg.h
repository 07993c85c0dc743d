// File > Compare...: the setup items that differ between the setup shown and
// a setup file, one table row each: number, label, shown value, file value.
#pragma once

#include <QDialog>
#include <QString>

#include "SetupDiff.h"

class QLabel;
class QTableWidget;

class CCompareDlg : public QDialog {
    Q_OBJECT

public:
    CCompareDlg(const TSetupDiff& diff, const QString& fileName, QWidget* parent = nullptr);

    QTableWidget* GetTable() const { return m_table; }
    // The line above the table: how many differ, or that none does.
    QString GetSummary() const;

private:
    QLabel* m_summary = nullptr;
    QTableWidget* m_table = nullptr;
};
