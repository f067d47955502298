#pragma once

#include <QWidget>

namespace quiro {

class FloatMotion;

// The welcome page's picture: a video call window, and beside it the small overlay pill with a
// hint, gently floating.
class QuiroIllustration : public QWidget {
public:
    explicit QuiroIllustration(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {380, 230}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintCallWindow(QPainter& painter, const QRectF& frame) const;
    void paintPill(QPainter& painter, const QRectF& pill) const;

    FloatMotion* m_float;
};

} // namespace quiro
