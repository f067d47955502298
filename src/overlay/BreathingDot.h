#pragma once

#include <QColor>
#include <QVariantAnimation>
#include <QWidget>

namespace quiro {

// A small dot that breathes: a halo whose opacity eases between 0.55 and 0.2 and back every 2.4 s
// around a steady core, for as long as it is on screen (it rests while hidden, so a hidden overlay
// costs no repaints).
class BreathingDot : public QWidget {
public:
    static constexpr int breathMs = 2400;

    BreathingDot(const QColor& color, int size, QWidget* parent = nullptr);

    void setColor(const QColor& color);
    double opacity() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QColor m_color;
    QVariantAnimation m_breath;
};

} // namespace quiro
