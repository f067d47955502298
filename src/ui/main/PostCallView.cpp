#include "ui/main/PostCallView.h"

#include "history/DebriefText.h"
#include "history/PostCallAnalysis.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/QuietButton.h"
#include "ui/kit/QuiroCard.h"
#include "ui/kit/ValleyButton.h"
#include "ui/kit/ValleyCard.h"
#include "ui/main/AnalysisPlaceholder.h"
#include "ui/main/CloseButton.h"
#include "ui/main/Entrance.h"
#include "ui/main/PageScroll.h"
#include "ui/main/ScoreRing.h"
#include "ui/main/TalkTimeline.h"
#include "ui/main/ValleyAnalysisContent.h"
#include "ui/main/ValleyMiniStat.h"

#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace quiro {

namespace {
QWidget* legendEntry(const QColor& color, const QString& text, QWidget* parent)
{
    auto* entry = new QWidget(parent);
    auto* layout = new QHBoxLayout(entry);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(makeLabel(QStringLiteral("\u25a0"), Fonts::text(11), color, entry));
    layout->addWidget(makeLabel(text, Fonts::text(11.5), DS::inkSoft, entry));
    return entry;
}
} // namespace

PostCallView::PostCallView(PostCallSummary summary, std::optional<SessionRecord> record, QWidget* parent)
    : QWidget(parent)
    , m_summary(std::move(summary))
    , m_record(std::move(record))
{
    auto* page = new PageScroll(this);
    QWidget* column = page->content();

    auto* header = new QHBoxLayout;
    header->addWidget(
        makeLabel(QStringLiteral("Call complete"), Fonts::text(11, QFont::DemiBold), DS::inkFaint, column));
    header->addStretch(1);
    m_exportButtons = new QWidget(column);
    auto* exports = new QHBoxLayout(m_exportButtons);
    exports->setContentsMargins(0, 0, 0, 0);
    auto* copy = new QuietButton(QStringLiteral("Copy as Markdown"), m_exportButtons);
    auto* save = new QuietButton(QStringLiteral("Save as Markdown\u2026"), m_exportButtons);
    exports->addWidget(copy);
    exports->addWidget(save);
    header->addWidget(m_exportButtons);
    auto* close = new CloseButton(column);
    header->addWidget(close);
    page->add(header);
    m_status = makeLabel({}, Fonts::text(12), DS::inkSoft, column);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->hide();
    page->add(m_status);

    auto* headline = new ValleyCard(column, 22);
    auto* figures = new QHBoxLayout;
    figures->setSpacing(18);
    m_ring = new ScoreRing(headline);
    figures->addWidget(m_ring);
    auto* when = new QVBoxLayout;
    when->setSpacing(3);
    m_duration = makeLabel({}, Fonts::display(20), DS::ink, headline);
    m_when = makeLabel({}, Fonts::text(12.5), DS::inkFaint, headline);
    when->addStretch(1);
    when->addWidget(m_duration);
    when->addWidget(m_when);
    when->addStretch(1);
    figures->addLayout(when, 1);
    m_statsRow = new QWidget(headline);
    auto* stats = new QHBoxLayout(m_statsRow);
    stats->setContentsMargins(0, 0, 0, 0);
    stats->setSpacing(28);
    figures->addWidget(m_statsRow);
    headline->contentLayout()->addLayout(figures);
    page->add(headline);

    m_timelineCard = new QuiroCard(column, 16);
    auto* timelineTitle = new QHBoxLayout;
    timelineTitle->addWidget(
        makeLabel(QStringLiteral("Who talked when"), Fonts::text(13, QFont::DemiBold), DS::ink, m_timelineCard));
    timelineTitle->addStretch(1);
    timelineTitle->addWidget(legendEntry(DS::ink, QStringLiteral("You"), m_timelineCard));
    timelineTitle->addSpacing(10);
    timelineTitle->addWidget(legendEntry(DS::green, QStringLiteral("Them"), m_timelineCard));
    m_timelineCard->contentLayout()->setSpacing(12);
    m_timelineCard->contentLayout()->addLayout(timelineTitle);
    m_timelineSlot = new QVBoxLayout;
    m_timelineCard->contentLayout()->addLayout(m_timelineSlot);
    page->add(m_timelineCard);

    m_analysisCard = new QuiroCard(column, 20);
    page->add(m_analysisCard);

    auto* done = new ValleyButton(QStringLiteral("Done"), {}, column);
    page->add(done, Qt::AlignRight);
    page->addStretch();

    connect(close, &QAbstractButton::clicked, this, &PostCallView::dismissed);
    connect(done, &QAbstractButton::clicked, this, &PostCallView::dismissed);
    connect(copy, &QAbstractButton::clicked, this, &PostCallView::copyMarkdown);
    connect(save, &QAbstractButton::clicked, this, &PostCallView::chooseFileAndSave);

    m_entrance = new Entrance(page);
    showFigures();
    showTimeline();
    showAnalysis();
}

void PostCallView::setSummary(PostCallSummary summary)
{
    m_summary = std::move(summary);
    showFigures();
    showAnalysis();
    m_ring->countUp();
}

void PostCallView::setRecord(SessionRecord record)
{
    m_record = std::move(record);
    showTimeline();
}

void PostCallView::appear()
{
    m_entrance->play([this] { m_ring->countUp(); });
}

QString PostCallView::durationText() const
{
    return m_duration->text();
}

QList<ValleyMiniStat*> PostCallView::stats() const
{
    return m_statsRow->findChildren<ValleyMiniStat*>();
}

void PostCallView::showFigures()
{
    const bool heard = m_summary.turns > 0;
    m_ring->setScore(heard ? std::optional<qint64>(m_summary.score) : std::nullopt);
    m_duration->setText(PostCallSummary::durationText(m_summary.durationSec));
    QString when =
        m_record ? DebriefText::localTime(m_record->startedAt, QStringLiteral("dddd, MMMM d \u00b7 HH:mm")) : QString();
    if (!heard)
        when += (when.isEmpty() ? QString() : QStringLiteral(" \u00b7 ")) + PostCallSummary::noSpeechHeard;
    m_when->setText(when);

    qDeleteAll(m_statsRow->findChildren<ValleyMiniStat*>(Qt::FindDirectChildrenOnly));
    auto* row = m_statsRow->layout();
    row->addWidget(
        new ValleyMiniStat(QStringLiteral("you spoke"),
                           QString::number(PostCallSummary::talkSharePercent(m_summary.talkRatio)) + QLatin1Char('%'),
                           m_summary.talkRatio > PostCallSummary::talkRatioWarning, m_statsRow));
    row->addWidget(
        new ValleyMiniStat(QStringLiteral("exchanges"), QString::number(m_summary.turns), false, m_statsRow));
    row->addWidget(
        new ValleyMiniStat(QStringLiteral("quiros"), QString::number(m_summary.hintCount), false, m_statsRow));
}

void PostCallView::showTimeline()
{
    while (QLayoutItem* item = m_timelineSlot->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const bool turns = m_record && !m_record->turns.isEmpty();
    m_timelineCard->setVisible(turns);
    m_exportButtons->setVisible(m_record.has_value());
    if (turns)
        m_timelineSlot->addWidget(new TalkTimeline(*m_record, m_timelineCard));
}

void PostCallView::showAnalysis()
{
    delete m_analysis;
    switch (m_summary.displayState()) {
    case PostCallSummary::DisplayState::present:
        m_analysis = new ValleyAnalysisContent(PostCallAnalysis::read(*m_summary.analysis), m_analysisCard);
        break;
    case PostCallSummary::DisplayState::failed:
        m_analysis = new AnalysisPlaceholder(AnalysisPlaceholder::Kind::unavailable, m_analysisCard);
        break;
    case PostCallSummary::DisplayState::pending:
        m_analysis = new AnalysisPlaceholder(AnalysisPlaceholder::Kind::loading, m_analysisCard);
        break;
    }
    m_analysisCard->contentLayout()->addWidget(m_analysis);
}

QString PostCallView::markdown() const
{
    return m_record ? DebriefText::markdown(*m_record) : QString();
}

void PostCallView::copyMarkdown()
{
    if (!m_record)
        return;
    QGuiApplication::clipboard()->setText(markdown());
    setStatus(QStringLiteral("Copied the debrief and the transcript as Markdown."), false);
}

WriteResult PostCallView::saveMarkdown(const QString& path)
{
    const WriteResult written = AtomicFile::write(path, markdown().toUtf8());
    if (written)
        setStatus(QStringLiteral("Saved to %1").arg(QDir::toNativeSeparators(path)), false);
    else
        setStatus(QStringLiteral("Could not save %1: %2").arg(QDir::toNativeSeparators(path), written.reason()), true);
    return written;
}

void PostCallView::chooseFileAndSave()
{
    if (!m_record)
        return;
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    const QString name = QStringLiteral("Quiro call %1.md")
                             .arg(DebriefText::localTime(m_record->startedAt, QStringLiteral("yyyy-MM-dd HH-mm")));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save as Markdown"), folder + u'/' + name,
                                                      QStringLiteral("Markdown (*.md)"));
    if (!path.isEmpty())
        saveMarkdown(path);
}

void PostCallView::setStatus(const QString& text, bool failure)
{
    m_status->setText(text);
    setLabelColor(m_status, failure ? DS::red : DS::inkSoft);
    m_status->setVisible(!text.isEmpty());
}

QString PostCallView::status() const
{
    return m_status->text();
}

} // namespace quiro
