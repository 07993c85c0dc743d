#include "AboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ControlIds.h"
#include "Resource.h"
#include "StringTable.h"
#include "TarvelApp.h"
#include "ToolTipPage.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About tarvel"));

    auto* icon = new QLabel(this);
    icon->setPixmap(CTarvelApp::GetIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    // The template's text, kept when the version cannot be formatted.
    m_version = CToolTipPage::TagControl(new QLabel(QStringLiteral("Version %s"), this), IDC_VERSION);
    auto* maker = new QLabel(QStringLiteral("Copyright \u00A9 Halvern Systems. Setup utility for Halvern GPS time clocks."), this);
    maker->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_version);
    texts->addWidget(maker);
    texts->addStretch(1);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    setMinimumWidth(360);

    OnInitDialog();
}

void CAboutDlg::OnInitDialog() {
    std::string format;
    if (!LoadString(IDS_VERSION, format)) return;
    // The version the build was made with (the project's version).
    m_version->setText(QString::fromStdString(FormatString(format.c_str(), TARVEL_VERSION_MAJOR,
                                                           TARVEL_VERSION_MINOR, TARVEL_VERSION_PATCH,
                                                           TARVEL_VERSION_TWEAK)));
}

QString CAboutDlg::GetVersionText() const { return m_version->text(); }
