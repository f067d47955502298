#include "overlay/DynamicIslandView.h"

#include "overlay/HoverIcon.h"
#include "overlay/SessionStateBadge.h"
#include "overlay/SessionToggleButton.h"
#include "overlay/SessionWindowModel.h"
#include "overlay/TooltipWindow.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Glass.h"
#include "ui/kit/Labels.h"
#include "ui/kit/RoundedSurface.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace quiro {

namespace {
constexpr double maxCornerRadius = 24.0;
constexpr double bloomRadius = 18.0;
constexpr int bloomPadding = 14;
} // namespace

DynamicIslandView::DynamicIslandView(SessionWindowModel& model, QWidget* parent)
    : OverlayView(model, parent)
    , m_collapse(this)
{
    // Built here rather than in the initialiser list: each builder also sets the row's parts.
    m_idleBar = buildIdleBar();
    m_hoverRow = buildHoverRow();
    m_bloom = buildBloom();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(outerPad, outerPad, outerPad, outerPad);
    layout->setSpacing(innerGap);
    layout->addWidget(m_idleBar);
    layout->addWidget(m_hoverRow);
    layout->addWidget(m_bloom);
    layout->addStretch(1);

    for (const auto changed :
         {&SessionWindowModel::runningChanged, &SessionWindowModel::hintChanged, &SessionWindowModel::lastScoreChanged})
        connect(&model, changed, this, &DynamicIslandView::refresh);
    refresh();
}

QWidget* DynamicIslandView::buildIdleBar()
{
    auto* bar = new QWidget(this);
    bar->setFixedHeight(barHeight);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    m_idleBadge = new SessionStateBadge(bar);
    layout->addWidget(m_idleBadge, 0, Qt::AlignCenter);
    return bar;
}

QWidget* DynamicIslandView::buildHoverRow()
{
    auto* row = new QWidget(this);
    row->setFixedHeight(hoverRowHeight);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(2);
    m_toggle = new SessionToggleButton(26, 10, SessionToggleButton::Tips::none, row);
    m_assist =
        new HoverIcon(QStringLiteral("sparkle"), Glass::accent, QStringLiteral("Hint now (Ctrl+Shift+Space)"), row);
    m_rowBadge = new SessionStateBadge(row);
    auto* capture = new HoverIcon(QStringLiteral("eye"), Glass::accent, captureTip(), row);
    auto* settings = new HoverIcon(QStringLiteral("gearshape"), Glass::textSoft, settingsTip(), row);
    auto* close = new HoverIcon(QStringLiteral("xmark"), Glass::textSoft, QStringLiteral("Close"), row, QFont::Bold, 9);
    layout->addWidget(m_toggle);
    layout->addWidget(m_assist);
    layout->addStretch(1);
    layout->addWidget(m_rowBadge);
    layout->addStretch(1);
    layout->addWidget(capture);
    layout->addWidget(settings);
    layout->addWidget(close);

    connect(m_toggle, &QAbstractButton::clicked, this, [this] { run(model().onToggle); });
    connect(m_assist, &QAbstractButton::clicked, this, [this] { run(model().onAssist); });
    connect(settings, &QAbstractButton::clicked, this, [this] { run(model().onOpenSettings); });
    connect(close, &QAbstractButton::clicked, this, [this] { run(model().onClose); });
    return row;
}

QWidget* DynamicIslandView::buildBloom()
{
    auto* bloom = new QWidget(this);
    bloom->setFixedHeight(hintHeight);
    auto* layout = new QGridLayout(bloom);
    layout->setContentsMargins(bloomPadding, 8, 8, 8);
    layout->setHorizontalSpacing(4);
    layout->setVerticalSpacing(3);
    m_hintLabel = makeLabel({}, Fonts::text(9.5, QFont::Bold), Glass::accent, bloom);
    m_hintText = makeLabel({}, Fonts::display(14), Glass::text, bloom);
    m_hintText->setWordWrap(true);
    auto* dismiss = new HoverIcon(QStringLiteral("xmark"), Glass::textFaint, {}, bloom, QFont::Bold, 9);
    dismiss->setFixedSize(20, 20);
    layout->setRowStretch(0, 1);
    layout->addWidget(m_hintLabel, 1, 0);
    layout->addWidget(m_hintText, 2, 0);
    layout->setRowStretch(3, 1);
    layout->addWidget(dismiss, 0, 1, 4, 1, Qt::AlignTop | Qt::AlignRight); // beside the text, not above it
    layout->setColumnStretch(0, 1);
    connect(dismiss, &QAbstractButton::clicked, this, [this] { model().clearHint(); });
    return bloom;
}

QSize DynamicIslandView::sizeFor(bool hasHint, bool hovered)
{
    const int width = hasHint ? hintWidth : (hovered ? hoverWidth : idleWidth);
    int height = (hovered ? hoverRowHeight : barHeight) + 2 * outerPad;
    if (hasHint)
        height += innerGap + hintHeight;
    return {width, height};
}

QSize DynamicIslandView::currentSize() const
{
    return sizeFor(model().hint().has_value(), m_hovered);
}

QPainterPath DynamicIslandView::shape(const QRectF& bounds) const
{
    return RoundedSurface::path(bounds, qMin(bounds.height() / 2.0, maxCornerRadius));
}

void DynamicIslandView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape(rect()), Glass::islandBackground);
    if (m_bloom->isVisible())
        RoundedSurface::paint(painter, m_bloom->geometry(), bloomRadius, white(0.06));
}

void DynamicIslandView::enterEvent(QEnterEvent* event)
{
    TooltipWindow::shared().hide();
    m_collapse.cancel();
    setHovered(true);
    OverlayView::enterEvent(event);
}

void DynamicIslandView::leaveEvent(QEvent* event)
{
    m_collapse.start(collapseDelayMs, [this] { setHovered(false); });
    OverlayView::leaveEvent(event);
}

void DynamicIslandView::setHovered(bool hovered)
{
    if (hovered == m_hovered)
        return;
    m_hovered = hovered;
    refresh();
}

void DynamicIslandView::refresh()
{
    const SessionWindowModel& m = model();
    const bool callEnded = m.lastScore().has_value();
    m_idleBadge->setState(m.running(), callEnded);
    m_rowBadge->setState(m.running(), callEnded);
    m_toggle->setRunning(m.running());
    m_assist->setVisible(m.running());
    m_idleBar->setVisible(!m_hovered);
    m_hoverRow->setVisible(m_hovered);

    const auto& hint = m.hint();
    m_bloom->setVisible(hint.has_value());
    if (hint) {
        m_hintLabel->setVisible(!hint->label.isEmpty());
        m_hintLabel->setText(hint->label);
        m_hintText->setText(hint->text);
    }
    update();
    reportSize();
}

} // namespace quiro
