// Base of every page: gives each control whose id has a string in the string
// table that string as its tooltip, so tooltips come from strings, not code.
#pragma once

#include <QString>
#include <QWidget>

class CToolTipPage : public QWidget {
public:
    // templateId names the page (129 "Comm Port", 131 "Console", 132
    // "Location", 133 "Clock Setup"); its title is the tab's text.
    explicit CToolTipPage(unsigned templateId, QWidget* parent = nullptr);
    ~CToolTipPage() override;

    unsigned GetTemplateId() const { return m_templateId; }
    QString GetTitle() const;

    // True once the page has been shown for the first time and initialised;
    // before that it gets no relayed notifications.
    bool IsCreated() const { return m_created; }

    // Controls carry their id as the dynamic property "controlId".
    static const char* const kControlIdProperty;
    static void SetControlId(QWidget* control, int id);
    static int GetControlId(const QWidget* control);  // 0 when untagged
    template <typename W>
    static W* TagControl(W* control, int id) {
        SetControlId(control, id);
        return control;
    }
    // The first descendant carrying this id, or null.
    QWidget* FindControl(int id) const;

protected:
    // Runs once, when the page is first shown; derived pages call the base
    // first. The tooltips are attached after the whole chain has run, so
    // controls made here get theirs too.
    virtual bool OnInitDialog();

    void showEvent(QShowEvent* event) override;

private:
    void AttachToolTips();

    unsigned m_templateId;
    bool m_created = false;
};
