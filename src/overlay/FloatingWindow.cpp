#include "overlay/FloatingWindow.h"

#include "overlay/X11Desktop.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPolygon>
#include <QRegion>
#include <QScreen>
#include <QWindow>

namespace quiro {

QRect keptOnScreen(const QRect& frame)
{
    const QScreen* screen = QGuiApplication::screenAt(frame.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return frame;
    const QRect area = screen->availableGeometry();
    QRect kept = frame;
    kept.moveLeft(qMax(area.left(), qMin(frame.left(), area.right() + 1 - frame.width())));
    kept.moveTop(qMax(area.top(), qMin(frame.top(), area.bottom() + 1 - frame.height())));
    return kept;
}

FloatingWindow::FloatingWindow(Input input)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           (input == Input::passedThrough ? Qt::WindowTransparentForInput : Qt::WindowFlags()))
    , m_shape([](const QRectF& bounds) {
        QPainterPath path;
        path.addRect(bounds);
        return path;
    })
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
}

void FloatingWindow::setContent(QWidget* content)
{
    delete m_content;
    m_content = content;
    content->setParent(this);
    content->setGeometry(rect());
    content->show();
}

void FloatingWindow::setShape(Shape shape)
{
    m_shape = std::move(shape);
    updateMask();
}

void FloatingWindow::showEvent(QShowEvent* event)
{
    // Runs before Qt maps the window, which is when a window manager reads these properties.
    X11Desktop::keepOnEveryWorkspace(this);
    updateMask();
    QWidget::showEvent(event);
}

void FloatingWindow::resizeEvent(QResizeEvent* event)
{
    if (m_content)
        m_content->setGeometry(rect());
    updateMask();
    QWidget::resizeEvent(event);
}

void FloatingWindow::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    emit moved();
}

void FloatingWindow::updateMask()
{
    if (X11Desktop::compositorRunning()) {
        clearMask();
        return;
    }
    setMask(QRegion(m_shape(QRectF(rect())).toFillPolygon().toPolygon(), Qt::WindingFill));
}

void FloatingWindow::mousePressEvent(QMouseEvent* event)
{
    if (!m_draggable || event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // A window manager moves the window itself and keeps it on screen; without one the window
    // follows the pointer here.
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_dragging = true;
    m_grabOffset = event->position();
}

void FloatingWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        move((event->globalPosition() - m_grabOffset).toPoint());
    QWidget::mouseMoveEvent(event);
}

void FloatingWindow::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

} // namespace quiro
