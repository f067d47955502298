#pragma once

#include <QPainterPath>
#include <QPointF>
#include <QWidget>

#include <functional>

namespace quiro {

// `frame` moved (not resized) as little as needed to lie inside the available area of the screen
// it is on, or of the nearest screen: an island growing around its centre line near the top of
// the screen, or a card under a panel dragged low, must not leave the screen.
QRect keptOnScreen(const QRect& frame);

// A borderless window that floats above the call without ever taking the keyboard from it: the
// overlay itself, its tooltip and its score card. On every workspace and above other windows; the
// content widget paints the window's rounded shape on a translucent ground. With no compositor
// (plain X11, Xvfb) translucent pixels would show black, so the window is then cut to its shape.
class FloatingWindow : public QWidget {
    Q_OBJECT
public:
    using Shape = std::function<QPainterPath(const QRectF& bounds)>;

    enum class Input { accepted, passedThrough };
    explicit FloatingWindow(Input input = Input::accepted);

    // The window's one child, filling it; a previous content is deleted.
    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }

    void setShape(Shape shape);
    // Whether pressing on the background (not on a control) and dragging moves the window.
    void setDraggable(bool draggable) { m_draggable = draggable; }

signals:
    void moved();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void updateMask();

    QWidget* m_content = nullptr;
    Shape m_shape;
    bool m_draggable = false;
    bool m_dragging = false;
    QPointF m_grabOffset; // pointer position inside the window when a drag began
};

} // namespace quiro
