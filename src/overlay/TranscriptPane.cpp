#include "overlay/TranscriptPane.h"

#include "overlay/SessionWindowModel.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Glass.h"
#include "ui/kit/Labels.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace quiro {

namespace {
constexpr int scrollMs = 250;
constexpr int tagWidth = 34;

QWidget* lineRow(const TranscriptEntry& line, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    const bool seller = line.speaker == QLatin1String("MGR");
    QLabel* tag = makeLabel(seller ? QStringLiteral("You") : QStringLiteral("Them"), Fonts::text(10, QFont::DemiBold),
                            seller ? withOpacity(Glass::accent, 0.9) : Glass::textFaint, row);
    tag->setFixedWidth(tagWidth);
    tag->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The tag's line box is smaller than the text's; this lines up their first baselines.
    tag->setContentsMargins(0, 2, 0, 0);
    QLabel* text = makeLabel(line.text, Fonts::text(12), Glass::text, row);
    text->setObjectName(QStringLiteral("transcriptText"));
    text->setWordWrap(true);
    layout->addWidget(tag);
    layout->addWidget(text, 1);
    return row;
}
} // namespace

TranscriptPane::TranscriptPane(SessionWindowModel& model, QWidget* parent)
    : QScrollArea(parent)
    , m_model(model)
    , m_rows(new QWidget(this))
    , m_layout(new QVBoxLayout(m_rows))
    , m_scroll(verticalScrollBar(), "value")
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // the wheel still scrolls; a bar would crowd the glass
    setWidgetResizable(true);
    setFixedHeight(paneHeight);
    setFocusPolicy(Qt::NoFocus);
    m_layout->setContentsMargins(2, 4, 2, 4);
    m_layout->setSpacing(7);
    setWidget(m_rows);
    // The panel's dark glass shows through; QScrollArea fills both with the light window colour.
    viewport()->setAutoFillBackground(false);
    m_rows->setAutoFillBackground(false);

    m_scroll.setDuration(scrollMs);
    m_scroll.setEasingCurve(QEasingCurve::OutCubic);

    connect(&m_model, &SessionWindowModel::linesChanged, this, &TranscriptPane::rebuild);
    rebuild();
}

void TranscriptPane::rebuild()
{
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QList<TranscriptEntry>& lines = m_model.lines();
    if (lines.isEmpty()) {
        QLabel* empty = makeLabel(QStringLiteral("Press ▸ to start"), Fonts::text(11.5), Glass::textFaint, m_rows);
        empty->setAlignment(Qt::AlignCenter);
        m_layout->addWidget(empty, 1);
        return;
    }
    for (qsizetype i = qMax<qsizetype>(0, lines.size() - shownLines); i < lines.size(); ++i)
        m_layout->addWidget(lineRow(lines.at(i), m_rows));
    m_layout->addStretch(1);
    // The new rows have their height only after the layout has run.
    QTimer::singleShot(0, this, &TranscriptPane::scrollToNewest);
}

void TranscriptPane::scrollToNewest()
{
    QScrollBar* bar = verticalScrollBar();
    m_scroll.stop();
    m_scroll.setStartValue(bar->value());
    m_scroll.setEndValue(bar->maximum());
    m_scroll.start();
}

} // namespace quiro
