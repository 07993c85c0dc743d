// The About box: the icon, the product version and the maker.
#pragma once

#include <QDialog>

class QLabel;

class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QString GetVersionText() const;

private:
    void OnInitDialog();

    QLabel* m_version;
};
