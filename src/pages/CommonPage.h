// The "Clock Setup" page. Empty for now: its controls and handlers come with a later change.
#pragma once

#include "CommPage.h"

class CCommonPage : public CCommPage {
public:
    explicit CCommonPage(QWidget* parent = nullptr);
    ~CCommonPage() override;
};
