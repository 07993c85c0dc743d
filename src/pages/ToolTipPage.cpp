#include "ToolTipPage.h"

#include <QVariant>

#include "StringTable.h"

namespace {

struct TPageTitle {
    unsigned templateId;
    const char* title;
};

// The pages' own titles, as their templates carry them.
constexpr TPageTitle kPageTitles[] = {
    {129, "Comm Port"},
    {131, "Console"},
    {132, "Location"},
    {133, "Clock Setup"},
};

}  // namespace

const char* const CToolTipPage::kControlIdProperty = "controlId";

CToolTipPage::CToolTipPage(unsigned templateId, QWidget* parent) : QWidget(parent), m_templateId(templateId) {
    // Every page template is 291 by 166 dialog units: about this many pixels.
    setMinimumSize(440, 270);
}

CToolTipPage::~CToolTipPage() = default;

QString CToolTipPage::GetTitle() const {
    for (const auto& entry : kPageTitles)
        if (entry.templateId == m_templateId) return QString::fromLatin1(entry.title);
    return QString();
}

void CToolTipPage::SetControlId(QWidget* control, int id) {
    if (control) control->setProperty(kControlIdProperty, id);
}

int CToolTipPage::GetControlId(const QWidget* control) {
    if (!control) return 0;
    bool ok = false;
    const int id = control->property(kControlIdProperty).toInt(&ok);
    return ok ? id : 0;
}

QWidget* CToolTipPage::FindControl(int id) const {
    const auto children = findChildren<QWidget*>();
    for (QWidget* child : children)
        if (GetControlId(child) == id) return child;
    return nullptr;
}

bool CToolTipPage::OnInitDialog() { return true; }

void CToolTipPage::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_created) return;
    m_created = true;
    OnInitDialog();
    AttachToolTips();
}

void CToolTipPage::AttachToolTips() {
    // Every tagged control in child order; an id without a string (or the
    // labels' -1) gets no tooltip.
    const auto children = findChildren<QWidget*>();
    for (QWidget* child : children) {
        const int id = GetControlId(child);
        if (id <= 0) continue;
        std::string text;
        if (LoadString(static_cast<unsigned>(id), text)) child->setToolTip(QString::fromStdString(text));
    }
}
