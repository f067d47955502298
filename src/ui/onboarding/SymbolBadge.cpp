#include "ui/onboarding/SymbolBadge.h"

#include "ui/kit/Icons.h"
#include "ui/kit/RoundedSurface.h"

#include <QPainter>

namespace quiro {

SymbolBadge::SymbolBadge(const QString& symbol, const Style& style, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_style(style)
{
    setFixedSize(style.side, style.side);
}

void SymbolBadge::setSymbol(const QString& symbol, const QColor& symbolColor, const QColor& fill)
{
    m_symbol = symbol;
    m_style.symbolColor = symbolColor;
    m_style.fill = fill;
    update();
}

void SymbolBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    RoundedSurface::paint(painter, rect(), m_style.radius, m_style.fill);
    Icons::paint(painter, rect(), m_symbol, m_style.symbolColor, m_style.symbolSize);
}

} // namespace quiro
