#include "overlay/SessionWindowController.h"

#include "core/NotificationCenter.h"
#include "overlay/DynamicIslandView.h"
#include "overlay/FloatingWindow.h"
#include "overlay/PresenceView.h"
#include "overlay/SessionWindowModel.h"
#include "overlay/TooltipWindow.h"

#include <QGuiApplication>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>

namespace quiro {

namespace {
QEasingCurve frameCurve()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.3, 0.9), QPointF(0.35, 1.0), QPointF(1.0, 1.0));
    return curve;
}

QRect wholePixels(const QRectF& frame)
{
    return {qRound(frame.x()), qRound(frame.y()), qRound(frame.width()), qRound(frame.height())};
}

std::optional<QRect> availableArea()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        return screen->availableGeometry();
    return std::nullopt;
}

// The island's centre line: its idle bar hangs islandTopGap below the top of the screen.
Anchor islandAnchor(const QRect& area)
{
    return Anchor::center(area.top() + SessionWindowController::islandTopGap +
                          SessionWindowController::islandInitialSize.height() / 2.0);
}
} // namespace

SessionWindowController::SessionWindowController(SessionWindowModel& model, QObject* parent)
    : QObject(parent)
    , m_model(model)
{
}

SessionWindowController::~SessionWindowController() = default;

OverlayView* SessionWindowController::view() const
{
    return m_window ? static_cast<OverlayView*>(m_window->content()) : nullptr;
}

void SessionWindowController::show()
{
    if (m_window) {
        m_window->show();
        m_window->raise();
        return;
    }
    const WidgetMode mode = m_model.widgetMode();
    m_currentMode = mode;
    m_window = std::make_unique<FloatingWindow>();
    m_frameAnimation = new QPropertyAnimation(m_window.get(), "geometry", m_window.get());
    m_frameAnimation->setDuration(frameAnimationMs);
    m_frameAnimation->setEasingCurve(frameCurve());
    installView(mode);

    // Centred at the top of the primary screen: the panel's top edge 66 points down, the island's
    // bar 30 points down.
    const QRect area = availableArea().value_or(QRect());
    m_midX = QRectF(area).center().x();
    const bool panel = mode == WidgetMode::panel;
    m_anchor = panel ? Anchor::top(area.top() + panelTopGap) : islandAnchor(area);
    place(wholePixels(m_anchor.frameFor(m_midX, panel ? panelInitialSize : islandInitialSize)));
    m_window->show();

    m_observers = std::make_unique<QObject>();
    connect(m_window.get(), &FloatingWindow::moved, m_observers.get(), [this] { windowMoved(); });
    NotificationCenter::instance().observe(Notifications::widgetModeChanged, m_observers.get(),
                                           [this](const Notification&) { rebuildForCurrentMode(); });
    view()->reportSize();
}

void SessionWindowController::hide()
{
    TooltipWindow::shared().hide();
    if (m_window)
        m_window->hide();
}

void SessionWindowController::teardown()
{
    m_observers.reset();
    TooltipWindow::shared().hide();
    m_frameAnimation = nullptr; // a child of the window
    m_window.reset();
}

void SessionWindowController::installView(WidgetMode mode)
{
    OverlayView* content = nullptr;
    if (mode == WidgetMode::panel)
        content = new PresenceView(m_model, m_window.get());
    else
        content = new DynamicIslandView(m_model, m_window.get());
    // Held weakly: a size reported while the controller is gone changes nothing.
    content->onSize = [self = QPointer(this)](QSize size) {
        if (self)
            self->resize(size);
    };
    m_window->setContent(content);
    m_window->setShape([content](const QRectF& bounds) { return content->shape(bounds); });
    m_window->setDraggable(mode == WidgetMode::panel);
}

void SessionWindowController::resize(const QSizeF& size)
{
    if (!m_window || size.width() <= 1.0 || size.height() <= 1.0)
        return;
    const QRect target = keptOnScreen(wholePixels(m_anchor.frameFor(m_midX, size)));
    const bool animating = m_frameAnimation->state() == QAbstractAnimation::Running;
    if (animating ? m_frameAnimation->endValue().toRect() == target : m_window->geometry() == target)
        return;
    m_frameAnimation->stop();
    m_frameAnimation->setStartValue(m_window->geometry());
    m_frameAnimation->setEndValue(target);
    m_placedFrame = target;
    m_frameAnimation->start();
}

void SessionWindowController::place(const QRect& frame)
{
    m_frameAnimation->stop();
    m_placedFrame = frame;
    m_window->setGeometry(frame);
}

bool SessionWindowController::ownsCurrentFrame() const
{
    return m_frameAnimation->state() == QAbstractAnimation::Running || m_window->geometry() == m_placedFrame;
}

void SessionWindowController::windowMoved()
{
    // Frames this controller set keep the centre and anchor they were computed from; re-taking
    // them from rounded intermediate frames would let the anchor creep by half pixels.
    if (ownsCurrentFrame())
        return;
    const QRectF frame(m_window->geometry());
    m_midX = frame.center().x();
    m_anchor = m_anchor.retakenFrom(frame);
}

void SessionWindowController::rebuildForCurrentMode()
{
    if (!m_window)
        return;
    const WidgetMode mode = m_model.widgetMode();
    if (m_currentMode == mode)
        return;
    m_currentMode = mode;
    TooltipWindow::shared().hide();
    installView(mode);
    if (mode == WidgetMode::island) {
        if (const auto area = availableArea()) {
            m_midX = QRectF(*area).center().x();
            m_anchor = islandAnchor(*area);
            place(wholePixels(m_anchor.frameFor(m_midX, m_window->size())));
        }
    } else {
        // The panel stays where the island was and grows downward from there, as panels do.
        m_anchor = Anchor::top(m_window->geometry().top());
    }
    view()->reportSize();
}

} // namespace quiro
