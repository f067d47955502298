#include "overlay/OverlayView.h"

namespace quiro {

OverlayView::OverlayView(SessionWindowModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
}

void OverlayView::reportSize()
{
    if (onSize)
        onSize(currentSize());
}

void OverlayView::run(const std::function<void()>& callback)
{
    if (callback)
        callback();
}

} // namespace quiro
