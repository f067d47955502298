#pragma once

#include "ui/kit/QuiroCard.h"
#include "ui/main/Insights.h"

namespace quiro {

// The loaded calls' figures side by side, divided by hairlines.
class ValleyInsightsStrip : public QuiroCard {
public:
    explicit ValleyInsightsStrip(QWidget* parent = nullptr);

    void setRecords(const QList<SessionRecord>& records);
    const QList<Insight>& shown() const { return m_shown; }

private:
    QList<Insight> m_shown;
    QWidget* m_row;
};

} // namespace quiro
