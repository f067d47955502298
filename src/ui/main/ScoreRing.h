#pragma once

#include <QVariantAnimation>
#include <QWidget>

#include <optional>

namespace quiro {

// The call's score in a 68-point ring of its band's colour, counting up from 0 when the debrief
// has appeared. Without a score (nothing was heard) it shows a dash.
class ScoreRing : public QWidget {
public:
    static constexpr int side = 68;

    explicit ScoreRing(QWidget* parent = nullptr);

    void setScore(std::optional<qint64> score);
    // Counts up from the number shown to the score.
    void countUp();
    // The number shown now.
    qint64 shown() const { return m_shown; }

    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<qint64> m_score;
    qint64 m_shown = 0;
    QVariantAnimation m_count;
};

} // namespace quiro
