// The "Console" page. Empty for now: its controls and handlers come with a later change.
#pragma once

#include "CommPage.h"

class CConsoleDlg : public CCommPage {
public:
    explicit CConsoleDlg(QWidget* parent = nullptr);
    ~CConsoleDlg() override;
};
