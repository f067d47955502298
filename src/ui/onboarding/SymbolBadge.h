#pragma once

#include <QColor>
#include <QWidget>

namespace quiro {

// An icon on a soft rounded tile, as the onboarding rows and page heads show them. A radius of
// half the side makes it a circle.
class SymbolBadge : public QWidget {
public:
    struct Style {
        QColor symbolColor;
        QColor fill;
        int side = 36;
        double symbolSize = 18.0;
        double radius = 10.0;
    };

    SymbolBadge(const QString& symbol, const Style& style, QWidget* parent = nullptr);

    void setSymbol(const QString& symbol, const QColor& symbolColor, const QColor& fill);

    QSize sizeHint() const override { return {m_style.side, m_style.side}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    Style m_style;
};

} // namespace quiro
