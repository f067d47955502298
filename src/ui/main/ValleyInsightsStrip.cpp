#include "ui/main/ValleyInsightsStrip.h"

#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

namespace {
QWidget* insightBlock(const Insight& insight, QWidget* parent)
{
    auto* block = new QWidget(parent);
    auto* layout = new QVBoxLayout(block);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(makeLabel(insight.value, Fonts::display(22), insight.tint, block), 0, Qt::AlignHCenter);
    layout->addWidget(makeLabel(insight.label, Fonts::text(11), DS::inkFaint, block), 0, Qt::AlignHCenter);
    return block;
}

QWidget* verticalHairline(QWidget* parent)
{
    auto* line = new QWidget(parent);
    line->setFixedWidth(1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, DS::hairline);
    line->setPalette(palette);
    return line;
}
} // namespace

ValleyInsightsStrip::ValleyInsightsStrip(QWidget* parent)
    : QuiroCard(parent, 14)
    , m_row(new QWidget(this))
{
    new QHBoxLayout(m_row);
    m_row->layout()->setContentsMargins(0, 0, 0, 0);
    contentLayout()->addWidget(m_row);
}

void ValleyInsightsStrip::setRecords(const QList<SessionRecord>& records)
{
    m_shown = insights(records);
    auto* layout = static_cast<QHBoxLayout*>(m_row->layout());
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (qsizetype i = 0; i < m_shown.size(); ++i) {
        if (i > 0)
            layout->addWidget(verticalHairline(m_row));
        layout->addWidget(insightBlock(m_shown[i], m_row), 1);
    }
}

} // namespace quiro
