#pragma once

#include <QColor>
#include <QWidget>

namespace quiro {

// One icon of the design as a widget of its own, for rows and empty states.
class SymbolView : public QWidget {
public:
    SymbolView(const QString& symbol, const QColor& color, double size, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    QColor m_color;
    double m_size;
};

} // namespace quiro
