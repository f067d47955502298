#pragma once

#include "ui/kit/HoverButton.h"

#include <QColor>

namespace quiro {

// A round icon control of the overlay: the symbol in its tint at rest, in Glass.text on a faint
// white disc under the pointer; its tip shows through the overlay's tooltip window. Never takes
// the keyboard.
class GlassButton : public HoverButton {
    Q_OBJECT
public:
    struct Style {
        double iconSize = 13.0;
        QFont::Weight weight = QFont::Medium;
        int diameter = 26;
        QColor restingFill = Qt::transparent; // some controls sit on a faint disc even at rest
    };

    GlassButton(const QString& icon, const QColor& tint, const QString& tip, const Style& style,
                QWidget* parent = nullptr);
    GlassButton(const QString& icon, const QColor& tint, const QString& tip, QWidget* parent = nullptr);

    void setIcon(const QString& icon, const QColor& tint);
    void setTip(const QString& tip);
    QString icon() const { return m_icon; }
    QString tip() const { return m_tip; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_icon;
    QColor m_tint;
    QString m_tip;
    Style m_style;
};

} // namespace quiro
