#pragma once

#include <QColor>
#include <QWidget>

namespace quiro {

// A small capsule with a label and a cost in dollars to four decimals ("$0.0123"), tinted with
// `color`.
class CostPill : public QWidget {
public:
    CostPill(const QString& label, double cost, const QColor& color, QWidget* parent = nullptr);

    QString costText() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_label;
    double m_cost;
    QColor m_color;
};

} // namespace quiro
