// A label for texts that may not fit: too long for its width, it loses its
// middle (the start says what happened, the end names the file or what to
// do) and the whole text becomes its tool tip. It never widens the window it
// is in. Given more lines, it wraps (at blanks, or inside a word too long
// for a line) and loses only what the last line cannot hold.
#pragma once

#include <QLabel>
#include <QString>

class CElidedLabel : public QLabel {
public:
    explicit CElidedLabel(QWidget* parent = nullptr);

    // toolTip, when given, is the tool tip whether or not the text fits.
    void SetFullText(const QString& text, const QString& toolTip = QString());
    const QString& FullText() const { return m_full; }
    // The most lines the text may take (1 unless changed).
    void SetMaxLines(int lines);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();
    // The text broken into lines of the width, the last one cut at its end
    // (then cut is set).
    QString Wrap(int width, bool& cut) const;

    QString m_full;
    QString m_toolTip;
    int m_maxLines = 1;
};
