#include "history/DebriefText.h"

#include "core/Text.h"
#include "history/PostCallAnalysis.h"
#include "history/PostCallSummary.h"

#include <QDateTime>
#include <QTextStream>

namespace quiro::DebriefText {

namespace {
struct Section {
    const QString& title;
    const std::optional<QStringList>& items;
};
} // namespace

QString localTime(double unixSeconds, const QString& format)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(unixSeconds * 1000.0), Qt::LocalTime).toString(format);
}

QString talkShare(const std::optional<double>& talkRatio)
{
    if (!talkRatio)
        return QStringLiteral("\u2014");
    return QString::number(PostCallSummary::talkSharePercent(*talkRatio)) + QLatin1Char('%');
}

QString score(const SessionRecord& record, const std::function<QString(qint64)>& format)
{
    if (record.turns.isEmpty())
        return PostCallSummary::noSpeechHeard;
    return record.score ? format(*record.score) : QStringLiteral("\u2014");
}

QString markdownEscaped(const QString& text)
{
    // Backslash-escapes what Markdown would turn into markup, links or HTML.
    static const QString special = QStringLiteral("\\`*_[]<>#|~!");
    QString result;
    for (const QChar c : Text::displayable(text)) {
        if (special.contains(c))
            result.append(QLatin1Char('\\'));
        result.append(c);
    }
    return result;
}

QString markdown(const SessionRecord& record)
{
    QString text;
    QTextStream out(&text);
    const PostCallSummary summary = PostCallSummary::fromRecord(record);
    out << "# Call on " << localTime(record.startedAt, QStringLiteral("yyyy-MM-dd HH:mm:ss")) << "\n\n"
        << "- ID: " << record.id.toString(QUuid::WithoutBraces).toUpper() << '\n'
        << "- Duration: " << PostCallSummary::durationText(summary.durationSec) << '\n'
        << "- Score: " << score(record, [](qint64 value) { return QString::number(value); }) << '\n'
        << "- You spoke: " << talkShare(record.talkRatio) << '\n'
        << "- Turns: " << summary.turns << '\n'
        << "- Hints: " << summary.hintCount << "\n\n";

    if (summary.displayState() == PostCallSummary::DisplayState::present) {
        const PostCallAnalysis analysis = PostCallAnalysis::read(*summary.analysis);
        if (analysis.summary)
            out << markdownEscaped(*analysis.summary) << "\n\n";
        const auto printSection = [&](const Section& section) {
            if (!section.items || section.items->isEmpty())
                return;
            out << "## " << section.title << "\n\n";
            for (const QString& item : *section.items)
                out << "- " << markdownEscaped(item) << '\n';
            out << '\n';
        };
        printSection({AnalysisSection::strengths, analysis.strengths});
        printSection({AnalysisSection::improvements, analysis.improvements});
        printSection({AnalysisSection::missedOpportunities, analysis.missedOpportunities});
        if (analysis.objections && !analysis.objections->isEmpty()) {
            out << "## " << AnalysisSection::objections << "\n\n";
            for (const Objection& objection : *analysis.objections) {
                out << "- **" << markdownEscaped(objection.displayType()) << "**";
                if (!objection.quote.isEmpty())
                    out << " \u2014 \u201c" << markdownEscaped(objection.quote) << "\u201d";
                out << " (" << (objection.handled ? "handled" : "not handled") << ")\n";
                if (!objection.note.isEmpty())
                    out << "  " << markdownEscaped(objection.note) << '\n';
            }
            out << '\n';
        }
        printSection({AnalysisSection::nextSteps, analysis.nextSteps});
        if (analysis.talkListenNote)
            out << '_' << markdownEscaped(*analysis.talkListenNote) << "_\n\n";
    } else {
        out << "## " << AnalysisSection::unavailableTitle << "\n\n" << AnalysisSection::unavailableDetail << "\n\n";
    }

    out << "## Transcript\n\n";
    for (const TurnRecord& turn : record.turns)
        out << "**" << markdownEscaped(TurnRecord::speakerName(turn.speaker)) << ":** " << markdownEscaped(turn.text)
            << "\n\n";
    out.flush();
    return text;
}

} // namespace quiro::DebriefText
