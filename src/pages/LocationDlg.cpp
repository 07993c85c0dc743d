#include "LocationDlg.h"

CLocationDlg::CLocationDlg(QWidget* parent) : CCommPage(132, parent) {}

CLocationDlg::~CLocationDlg() = default;
