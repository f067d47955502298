#pragma once

#include "ui/kit/HoverButton.h"

namespace quiro {

// The last call's score on a capsule tinted by its band; pressing it opens the score card.
class ScorePill : public HoverButton {
    Q_OBJECT
public:
    explicit ScorePill(QWidget* parent = nullptr);

    void setScore(qint64 score);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Label label() const;

    qint64 m_score = 0;
};

} // namespace quiro
