#include "ElidedLabel.h"

CElidedLabel::CElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(0);
}

void CElidedLabel::SetFullText(const QString& text, const QString& toolTip) {
    m_full = text;
    m_toolTip = toolTip;
    Elide();
}

void CElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void CElidedLabel::Elide() {
    const QString shown = fontMetrics().elidedText(m_full, Qt::ElideMiddle, contentsRect().width());
    setText(shown);
    setToolTip(!m_toolTip.isEmpty() ? m_toolTip : shown == m_full ? QString() : m_full);
}
