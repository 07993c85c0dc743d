// A one-line label for texts that may not fit: too long for its width, it
// loses its middle (the start says what happened, the end names the file or
// what to do) and the whole text becomes its tool tip. It never widens the
// window it is in.
#pragma once

#include <QLabel>
#include <QString>

class CElidedLabel : public QLabel {
public:
    explicit CElidedLabel(QWidget* parent = nullptr);

    // toolTip, when given, is the tool tip whether or not the text fits.
    void SetFullText(const QString& text, const QString& toolTip = QString());
    const QString& FullText() const { return m_full; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();

    QString m_full;
    QString m_toolTip;
};
