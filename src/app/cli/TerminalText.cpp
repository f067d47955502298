#include "app/cli/TerminalText.h"

#include "core/Text.h"
#include "history/TurnRecord.h"

#include <unistd.h>

namespace quiro::cli {

bool useColour()
{
    return ::isatty(STDOUT_FILENO) == 1 && qEnvironmentVariableIsEmpty("NO_COLOR") &&
           qgetenv("TERM") != QByteArrayLiteral("dumb");
}

QString Style::score(qint64 score) const
{
    const QString text = QString::number(score);
    if (score >= 80)
        return green(text);
    return score >= 55 ? text : red(text);
}

QString Style::wrap(const QString& code, const QString& text) const
{
    if (!m_colour)
        return text;
    return QStringLiteral("\x1b[") + code + QLatin1Char('m') + text + QStringLiteral("\x1b[0m");
}

QString clean(const QString& text)
{
    return Text::displayable(text);
}

QString counted(qint64 count, const char* one, const char* many)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

QString speakerName(const QString& speakerTag)
{
    return clean(TurnRecord::speakerName(speakerTag));
}

void printAnalysis(QTextStream& out, const PostCallAnalysis& analysis, const Style& style)
{
    if (analysis.summary)
        out << clean(*analysis.summary) << "\n\n";
    const auto printSection = [&](const QString& title, const std::optional<QStringList>& items) {
        if (!items || items->isEmpty())
            return;
        out << style.bold(title) << '\n';
        for (const QString& item : *items)
            out << "  \u2022 " << clean(item) << '\n';
        out << '\n';
    };
    printSection(AnalysisSection::strengths, analysis.strengths);
    printSection(AnalysisSection::improvements, analysis.improvements);
    printSection(AnalysisSection::missedOpportunities, analysis.missedOpportunities);
    if (analysis.objections && !analysis.objections->isEmpty()) {
        out << style.bold(AnalysisSection::objections) << '\n';
        for (const Objection& objection : *analysis.objections) {
            out << "  \u2022 " << clean(objection.displayType());
            if (!objection.quote.isEmpty())
                out << " \u2014 \u201c" << clean(objection.quote) << "\u201d";
            out << " (" << (objection.handled ? "handled" : "not handled") << ")\n";
            if (!objection.note.isEmpty())
                out << "    " << clean(objection.note) << '\n';
        }
        out << '\n';
    }
    printSection(AnalysisSection::nextSteps, analysis.nextSteps);
    if (analysis.talkListenNote)
        out << clean(*analysis.talkListenNote) << "\n\n";
}

} // namespace quiro::cli
