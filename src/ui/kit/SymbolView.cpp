#include "ui/kit/SymbolView.h"

#include "ui/kit/Icons.h"

#include <QPainter>

#include <cmath>

namespace quiro {

SymbolView::SymbolView(const QString& symbol, const QColor& color, double size, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_color(color)
    , m_size(size)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SymbolView::sizeHint() const
{
    const int side = int(std::ceil(m_size));
    return {side, side};
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    Icons::paint(painter, rect(), m_symbol, m_color, m_size);
}

} // namespace quiro
