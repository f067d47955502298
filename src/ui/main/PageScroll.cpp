#include "ui/main/PageScroll.h"

#include "ui/kit/Card.h"

#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>

namespace quiro {

PageScroll::PageScroll(QWidget* screen)
    : QScrollArea(screen)
{
    auto* fill = new QVBoxLayout(screen);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(this);

    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 10px; margin: 4px 2px 4px 0; }"
        "QScrollBar::handle:vertical { background: rgba(10, 10, 10, 0.18); border-radius: 4px; min-height: 32px; }"
        "QScrollBar::handle:vertical:hover { background: rgba(10, 10, 10, 0.32); }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"));

    auto* page = new QWidget(this);
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(8, 6, 8, 24);
    m_content = new QWidget(page);
    m_content->setMaximumWidth(columnWidth + 2 * gutter);
    m_column = new QVBoxLayout(m_content);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(6);
    row->addWidget(m_content);
    setWidget(page);
    // The window's own background shows through the page.
    page->setAutoFillBackground(false);
}

QHBoxLayout* PageScroll::inset(int margin)
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(margin, 0, margin, 0);
    m_column->addLayout(row);
    return row;
}

void PageScroll::add(QWidget* widget, Qt::Alignment alignment)
{
    inset(gutter)->addWidget(widget, 0, alignment);
}

void PageScroll::add(Card* card)
{
    inset(gutter - card->shadowMargin())->addWidget(card);
}

void PageScroll::add(QLayout* layout, int cardShadow)
{
    inset(gutter - cardShadow)->addLayout(layout);
}

void PageScroll::addSpacing(int size)
{
    m_column->addSpacing(size);
}

void PageScroll::addStretch()
{
    m_column->addStretch(1);
}

} // namespace quiro
