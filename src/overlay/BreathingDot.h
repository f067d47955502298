#pragma once

#include <QColor>
#include <QVariantAnimation>
#include <QWidget>

namespace quiro {

// A small dot that breathes: a halo whose opacity eases between 0.55 and 0.2 and back every 2.4 s
// around a steady core, while it is on screen and asked to breathe. A still dot costs no repaints,
// so an idle or hidden overlay keeps the machine quiet.
class BreathingDot : public QWidget {
public:
    static constexpr int breathMs = 2400;

    BreathingDot(const QColor& color, int size, QWidget* parent = nullptr);

    void setColor(const QColor& color);
    void setBreathing(bool breathing);
    double opacity() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateBreath();

    QColor m_color;
    bool m_breathing = true;
    QVariantAnimation m_breath;
};

} // namespace quiro
