#pragma once

#include <QPainterPath>
#include <QWidget>

#include <functional>

namespace quiro {

// The last call at a glance: its score in the band's colour, the verdict, and "Full debrief".
class ScoreCard : public QWidget {
public:
    ScoreCard(qint64 score, std::function<void()> onOpen, QWidget* parent = nullptr);

    static QPainterPath shape(const QRectF& bounds);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quiro
