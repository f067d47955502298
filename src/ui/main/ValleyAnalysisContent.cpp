#include "ui/main/ValleyAnalysisContent.h"

#include "core/Text.h"
#include "ui/kit/Card.h"
#include "ui/kit/DS.h"
#include "ui/kit/Fonts.h"
#include "ui/kit/Labels.h"
#include "ui/kit/SymbolView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quiro {

namespace {
QLabel* paragraph(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    QLabel* label = makeLabel(Text::displayable(text), font, color, parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QWidget* bulletRow(const QString& text, const QColor& tint, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(2, 0, 0, 0);
    layout->setSpacing(10);
    auto* dot = makeLabel(QStringLiteral("\u25cf"), Fonts::text(8), tint, row);
    dot->setFixedHeight(18);
    layout->addWidget(dot, 0, Qt::AlignTop);
    layout->addWidget(paragraph(text, Fonts::text(13), DS::inkSoft, row), 1);
    return row;
}

// One objection on its own small card: the type and whether it was handled, the client's words
// and the service's note.
QWidget* objectionRow(const Objection& objection, QWidget* parent)
{
    auto* card =
        new Card({12.0, DS::surface, DS::hairline, {withOpacity(DS::shadow, 0.04), 8.0, {0.0, 2.0}}}, 12, parent);
    auto* top = new QHBoxLayout;
    top->addWidget(paragraph(objection.displayType(), Fonts::text(13, QFont::DemiBold), DS::ink, card), 1);
    const QColor tint = objection.handled ? DS::green : DS::red;
    top->addWidget(new SymbolView(objection.handled ? QStringLiteral("checkmark.circle.fill")
                                                    : QStringLiteral("exclamationmark.triangle.fill"),
                                  tint, 14, card));
    top->addWidget(makeLabel(objection.handled ? QStringLiteral("Handled") : QStringLiteral("Not handled"),
                             Fonts::text(12, QFont::Medium), tint, card));
    card->contentLayout()->setSpacing(6);
    card->contentLayout()->addLayout(top);
    if (!objection.quote.isEmpty()) {
        QFont italic = Fonts::text(13);
        italic.setItalic(true);
        card->contentLayout()->addWidget(
            paragraph(QStringLiteral("\u201c%1\u201d").arg(objection.quote), italic, DS::inkSoft, card));
    }
    if (!objection.note.isEmpty())
        card->contentLayout()->addWidget(paragraph(objection.note, Fonts::text(12), DS::inkFaint, card));
    return card;
}
} // namespace

ValleyAnalysisContent::ValleyAnalysisContent(const PostCallAnalysis& analysis, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    if (analysis.summary)
        layout->addWidget(paragraph(*analysis.summary, Fonts::text(14), withOpacity(DS::ink, 0.85), this));
    const auto section = [this](const QString& icon, const QColor& tint, const QString& title,
                                const std::optional<QStringList>& items) {
        if (items && !items->isEmpty())
            addSection(icon, tint, title, *items);
    };
    section(QStringLiteral("checkmark.circle.fill"), DS::green, AnalysisSection::strengths, analysis.strengths);
    section(QStringLiteral("arrow.up.circle.fill"), DS::accent, AnalysisSection::improvements, analysis.improvements);
    section(QStringLiteral("eye.trianglebadge.exclamationmark.fill"), DS::red, AnalysisSection::missedOpportunities,
            analysis.missedOpportunities);
    if (analysis.objections && !analysis.objections->isEmpty())
        addObjections(*analysis.objections);
    section(QStringLiteral("arrow.right.circle.fill"), DS::blue, AnalysisSection::nextSteps, analysis.nextSteps);
    if (analysis.talkListenNote) {
        layout->addSpacing(6);
        layout->addWidget(paragraph(*analysis.talkListenNote, Fonts::text(12), DS::inkSoft, this));
    }
}

void ValleyAnalysisContent::addTitle(const QString& icon, const QColor& tint, const QString& title)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addWidget(new SymbolView(icon, tint, 16, this));
    row->addWidget(makeLabel(title, Fonts::text(13.5, QFont::DemiBold), DS::ink, this));
    row->addStretch(1);
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->addSpacing(8);
    layout->addLayout(row);
    m_sections.append(title);
}

void ValleyAnalysisContent::addSection(const QString& icon, const QColor& tint, const QString& title,
                                       const QStringList& items)
{
    addTitle(icon, tint, title);
    // Bullets in the section's tint, except the lime accent, which would not read on white.
    for (const QString& item : items)
        layout()->addWidget(bulletRow(item, tint == DS::accent ? DS::inkSoft : tint, this));
}

void ValleyAnalysisContent::addObjections(const QList<Objection>& objections)
{
    addTitle(QStringLiteral("shield.lefthalf.filled"), DS::inkSoft, AnalysisSection::objections);
    for (const Objection& objection : objections)
        layout()->addWidget(objectionRow(objection, this));
}

} // namespace quiro
