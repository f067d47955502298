#include "overlay/TooltipWindow.h"

#include "overlay/FloatingWindow.h"
#include "ui/kit/Color.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/HoverButton.h"
#include "ui/kit/HoverFade.h"
#include "ui/kit/RoundedSurface.h"

#include <QCoreApplication>
#include <QCursor>
#include <QFontMetricsF>
#include <QPainter>
#include <QPointer>

#include <cmath>

namespace quiro {

namespace {
constexpr double horizontalPadding = 10.0;
constexpr double verticalPadding = 6.0;
constexpr double cornerRadius = 8.0;
constexpr int belowPointer = 22;
constexpr QColor bubbleFill = hexColor("#3A3A40", 0.98);

QPainterPath bubbleShape(const QRectF& bounds)
{
    return RoundedSurface::path(bounds, cornerRadius);
}

class Bubble final : public QWidget {
public:
    Bubble(const QString& text, QWidget* parent)
        : QWidget(parent)
        , m_text(text)
    {
        setFont(Fonts::text(11.5, QFont::Medium));
    }

    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(font());
        return {int(std::ceil(metrics.horizontalAdvance(m_text) + 2 * horizontalPadding)),
                int(std::ceil(metrics.height() + 2 * verticalPadding))};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        RoundedSurface::paint(painter, rect(), cornerRadius, bubbleFill);
        painter.setPen(white(0.95));
        painter.drawText(rect(), Qt::AlignCenter, m_text);
    }

private:
    QString m_text;
};
} // namespace

TooltipWindow& TooltipWindow::shared()
{
    static QPointer<TooltipWindow> s_shared;
    if (!s_shared)
        s_shared = new TooltipWindow(QCoreApplication::instance());
    return *s_shared;
}

TooltipWindow::TooltipWindow(QObject* parent)
    : QObject(parent)
    , m_showDelay(this)
{
}

TooltipWindow::~TooltipWindow() = default;

void TooltipWindow::scheduleShow(const QString& text)
{
    m_showDelay.start(showDelayMs, [this, text] { show(text); });
}

void TooltipWindow::attach(HoverButton* control, std::function<QString()> tip)
{
    QObject::connect(control->hoverFade(), &HoverFade::hoveredChanged, control, [tip](bool hovered) {
        const QString text = hovered ? tip() : QString();
        if (text.isEmpty())
            shared().hide();
        else
            shared().scheduleShow(text);
    });
    QObject::connect(control, &QAbstractButton::pressed, control, [] { shared().hide(); });
}

void TooltipWindow::hide()
{
    m_showDelay.cancel();
    m_window.reset();
    m_text.clear();
}

void TooltipWindow::show(const QString& text)
{
    m_window = std::make_unique<FloatingWindow>(FloatingWindow::Input::passedThrough);
    auto* bubble = new Bubble(text, m_window.get());
    const QSize size = bubble->sizeHint();
    m_window->setShape(&bubbleShape);
    m_window->setContent(bubble);
    m_window->resize(size);

    const QPoint pointer = QCursor::pos();
    // A tip by the screen's edge moves in rather than being cut off.
    m_window->move(
        keptOnScreen(QRect(QPoint(pointer.x() - size.width() / 2, pointer.y() + belowPointer), size)).topLeft());
    m_window->show();
    m_text = text;
}

} // namespace quiro
