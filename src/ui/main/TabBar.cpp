#include "ui/main/TabBar.h"

#include "ui/kit/DS.h"
#include "ui/kit/Shadow.h"
#include "ui/kit/Spring.h"
#include "ui/main/TabPill.h"

#include <QHBoxLayout>
#include <QPainter>

#include <cmath>

namespace quiro {

namespace {
constexpr int inset = 4;
const Shadow barShadow{withOpacity(DS::shadow, 0.06), 10.0, {0.0, 3.0}};

int shadowMargin()
{
    return int(std::ceil(barShadow.reach()));
}
} // namespace

TabBar::TabBar(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    const int margin = shadowMargin() + inset;
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(2);
    for (const AppTab tab : allTabs) {
        auto* pill = new TabPill(title(tab), this);
        pill->setChecked(tab == m_current);
        connect(pill, &QAbstractButton::clicked, this, [this, tab] {
            setCurrent(tab);
            emit tabSelected(tab);
        });
        layout->addWidget(pill);
        m_pills.append(pill);
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    useSpring<Springs::spring>(m_slide);
    connect(&m_slide, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_highlight = value.toRectF();
        update();
    });
}

TabPill* TabBar::pill(AppTab tab) const
{
    return m_pills.at(qsizetype(tab));
}

QRectF TabBar::target() const
{
    return QRectF(pill(m_current)->geometry());
}

void TabBar::setCurrent(AppTab tab)
{
    if (tab == m_current)
        return;
    m_current = tab;
    pill(tab)->setChecked(true);
    m_slide.stop();
    m_slide.setStartValue(m_highlight);
    m_slide.setEndValue(target());
    m_slide.start();
}

void TabBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The pills have their places only once the layout has run.
    if (m_slide.state() != QAbstractAnimation::Running)
        m_highlight = target();
}

void TabBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int margin = shadowMargin();
    const QRectF bar = QRectF(rect()).adjusted(margin, margin, -margin, -margin);
    const double radius = bar.height() / 2.0;
    barShadow.paint(painter, bar, radius);
    painter.setPen(QPen(DS::hairline, 1.0));
    painter.setBrush(DS::surface);
    painter.drawRoundedRect(bar.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.setPen(Qt::NoPen);
    painter.setBrush(DS::ink);
    painter.drawRoundedRect(m_highlight, m_highlight.height() / 2.0, m_highlight.height() / 2.0);
}

} // namespace quiro
