#pragma once

#include <QAbstractButton>
#include <QFont>

namespace quiro {

class HoverFade;

// Base of the kit's buttons: a custom-painted button whose hover state springs in and out.
// Subclasses paint from hoverLevel() (0 at rest, 1 under the pointer).
class HoverButton : public QAbstractButton {
public:
    explicit HoverButton(QWidget* parent);

    double hoverLevel() const;
    bool isHovered() const;
    HoverFade* hoverFade() const { return m_hover; }

protected:
    // A row of [leading icon] title [trailing icon], centred in `box` and drawn in `color`; the
    // icons in `iconColor` when it is set.
    struct Label {
        QString leadingIcon;
        QString title;
        QString trailingIcon;
        QFont font;
        double iconSize = 0.0;
        QColor iconColor;
    };
    static constexpr double iconGap = 8.0;
    static QSizeF labelSize(const Label& label);
    static void paintLabel(QPainter& painter, const QRectF& box, const Label& label, const QColor& color);

private:
    HoverFade* m_hover;
};

} // namespace quiro
