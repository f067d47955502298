#pragma once

#include "ui/kit/Shadow.h"

#include <QColor>
#include <QWidget>

class QVBoxLayout;

namespace quiro {

struct CardStyle {
    double cornerRadius = 0.0;
    QColor fill;
    QColor border; // transparent for none
    Shadow shadow;
};

// A rounded panel that holds other widgets: its content goes into contentLayout(), inset by the
// padding. The widget keeps room around the card for the card's shadow.
class Card : public QWidget {
public:
    Card(const CardStyle& style, int padding, QWidget* parent);

    QVBoxLayout* contentLayout() const { return m_layout; }
    QRectF cardRect() const;
    // The room kept around the card for its shadow, on every side: a screen that lines cards up
    // with plain text insets the text by as much.
    int shadowMargin() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CardStyle m_style;
    QVBoxLayout* m_layout;
};

} // namespace quiro
