#include "ConsoleDlg.h"

CConsoleDlg::CConsoleDlg(QWidget* parent) : CCommPage(131, parent) {}

CConsoleDlg::~CConsoleDlg() = default;
