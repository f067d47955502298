#pragma once

#include "history/SessionRecord.h"
#include "ui/kit/HoverButton.h"

namespace quiro {

// One past call in Home's list: when, how long, how many turns and hints, its score, and a
// chevron that says it opens the debrief.
class ValleySessionRow : public HoverButton {
    Q_OBJECT
public:
    explicit ValleySessionRow(SessionRecord record, QWidget* parent = nullptr);

    const SessionRecord& record() const { return m_record; }
    // "Dec 6, 2025, 17:38": the date in the locale's month names and its short time.
    QString dateText() const;
    // "1 min · 10 turns"; "<1 min" for a call shorter than a minute.
    QString detailText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SessionRecord m_record;
};

} // namespace quiro
