#include "ElidedLabel.h"

#include <QStringList>
#include <QTextLayout>
#include <QTextOption>

CElidedLabel::CElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setMinimumWidth(0);
}

void CElidedLabel::SetFullText(const QString& text, const QString& toolTip) {
    m_full = text;
    m_toolTip = toolTip;
    Elide();
}

void CElidedLabel::SetMaxLines(int lines) {
    m_maxLines = lines > 1 ? lines : 1;
    Elide();
}

void CElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Elide();
}

void CElidedLabel::Elide() {
    const int width = contentsRect().width();
    bool cut = false;
    // Before the layout has given it a width there is nothing to break by.
    if (m_maxLines == 1 || width <= 0) {
        setText(fontMetrics().elidedText(m_full, Qt::ElideMiddle, width));
        cut = text() != m_full;
    } else {
        setText(Wrap(width, cut));
    }
    setToolTip(!m_toolTip.isEmpty() ? m_toolTip : cut ? m_full : QString());
}

QString CElidedLabel::Wrap(int width, bool& cut) const {
    // Line feeds of its own are blanks here: the lines are the label's to break.
    const QString text = QString(m_full).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QTextLayout layout(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == m_maxLines - 1) {
            const QString rest = text.mid(line.textStart());
            lines << fontMetrics().elidedText(rest, Qt::ElideRight, width);
            cut = lines.back() != rest;
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines.join(QLatin1Char('\n'));
}
