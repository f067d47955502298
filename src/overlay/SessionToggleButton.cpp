#include "overlay/SessionToggleButton.h"

#include "overlay/TooltipWindow.h"
#include "ui/kit/Glass.h"
#include "ui/kit/Icons.h"

#include <QPainter>

namespace quiro {

SessionToggleButton::SessionToggleButton(int diameter, double iconSize, Tips tips, QWidget* parent)
    : HoverButton(parent)
    , m_iconSize(iconSize)
    , m_tips(tips)
{
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(diameter, diameter);
    TooltipWindow::attach(this, [this] { return tip(); });
}

QString SessionToggleButton::tip() const
{
    if (m_tips == Tips::none)
        return {};
    return m_running ? QStringLiteral("End session") : QStringLiteral("Start session");
}

void SessionToggleButton::setRunning(bool running)
{
    m_running = running;
    update();
}

void SessionToggleButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QColor fill =
        m_running ? mix(Glass::accent, hexColor("#E0FF4D"), hoverLevel()) : mix(white(0.14), white(0.22), hoverLevel());
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(rect()));
    Icons::paint(painter, rect(), m_running ? QStringLiteral("stop.fill") : QStringLiteral("play.fill"),
                 m_running ? black(0.75) : Glass::text, m_iconSize, QFont::Bold);
}

} // namespace quiro
