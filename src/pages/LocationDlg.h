// The "Location" page. Empty for now: its controls and handlers come with a later change.
#pragma once

#include "CommPage.h"

class CLocationDlg : public CCommPage {
public:
    explicit CLocationDlg(QWidget* parent = nullptr);
    ~CLocationDlg() override;
};
