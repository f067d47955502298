#pragma once

#include "history/SessionRecord.h"

#include <QList>
#include <QWidget>

namespace quiro {

// The scores of the last calls as a small line chart, oldest on the left: whether the seller is
// getting better.
class ScoreTrend : public QWidget {
public:
    static constexpr int maxCalls = 20;

    // The scores of up to the 20 newest scored calls among `records` (newest first), oldest first.
    // A call in which nothing was heard is left out: its score says nothing about the seller.
    static QList<qint64> scores(const QList<SessionRecord>& records);

    explicit ScoreTrend(QWidget* parent = nullptr);

    void setScores(QList<qint64> scores);
    // A trend needs two points.
    bool hasTrend() const { return m_scores.size() >= 2; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<qint64> m_scores;
};

} // namespace quiro
