#pragma once

#include <QColor>
#include <QVariantAnimation>
#include <QWidget>

namespace quiro {

// A small turning arc for work of unknown length, turning only while it is shown.
class ProgressSpinner : public QWidget {
public:
    ProgressSpinner(const QColor& color, int side, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {m_side, m_side}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QColor m_color;
    int m_side;
    QVariantAnimation m_turn;
};

} // namespace quiro
