// The "Comm Port" page. Empty for now: its controls and handlers come with a later change.
#pragma once

#include "CommPage.h"

class CSetupDlg : public CCommPage {
public:
    explicit CSetupDlg(QWidget* parent = nullptr);
    ~CSetupDlg() override;
};
