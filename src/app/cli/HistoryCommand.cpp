#include "app/cli/HistoryCommand.h"

#include "app/cli/Command.h"
#include "app/cli/TerminalText.h"
#include "history/ConversationStore.h"
#include "history/DebriefText.h"
#include "history/PostCallAnalysis.h"
#include "history/PostCallSummary.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

namespace quiro::cli {

namespace {

const QString usage =
    QStringLiteral("Usage: quiro history [--limit N] [--json]\n"
                   "       quiro history show ID [--markdown]\n\n"
                   "Lists the stored calls of the signed-in account (or of \"local\"), newest first,\n"
                   "or shows one call's debrief and transcript.\n\n"
                   "Options:\n"
                   "  --limit N     list at most N calls (default 20)\n"
                   "  --json        print the calls as a JSON array in the session-file format,\n"
                   "                with \"durationSeconds\" added\n"
                   "  --markdown    print the shown call as Markdown\n"
                   "  -h, --help    show this help\n");

QString counted(qint64 count, const char* one, const char* many)
{
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

void reportSkipped(int skippedFiles, const QString& dir)
{
    if (skippedFiles == 0)
        return;
    QTextStream err(stderr);
    if (skippedFiles == 1)
        err << "quiro history: 1 file in " << dir << " could not be read and was skipped.\n";
    else
        err << "quiro history: " << skippedFiles << " files in " << dir << " could not be read and were skipped.\n";
}

int list(int limit, bool json)
{
    const ConversationStore& store = ConversationStore::shared();
    const auto listing = store.loadRecentListing(limit);
    QTextStream out(stdout);
    if (json) {
        QJsonArray array;
        for (const SessionRecord& record : listing.records) {
            QJsonObject object = record.toJson();
            object.insert(QStringLiteral("durationSeconds"), record.durationSeconds());
            array.append(object);
        }
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    } else if (listing.records.isEmpty() && listing.skippedFiles == 0) {
        out << "No calls stored yet.\n";
    } else {
        const Style style(useColour());
        for (const SessionRecord& record : listing.records) {
            QString score = DebriefText::score(record, [&](qint64 value) { return style.score(value); });
            if (!record.turns.isEmpty())
                score.prepend(QStringLiteral("score "));
            QString share = DebriefText::talkShare(record.talkRatio);
            if (record.talkRatio && *record.talkRatio > PostCallSummary::talkRatioWarning)
                share = style.red(share);
            out << DebriefText::localTime(record.startedAt, QStringLiteral("yyyy-MM-dd HH:mm")) << "  "
                << PostCallSummary::durationText(record.durationSeconds()).leftJustified(14) << "  "
                << counted(record.turns.size(), "turn", "turns").leftJustified(10) << "  "
                << counted(record.hintCount, "hint", "hints").leftJustified(9) << "  " << score << "  you spoke "
                << share << "  " << style.faint(record.id.toString(QUuid::WithoutBraces).toUpper()) << '\n';
        }
    }
    out.flush();
    reportSkipped(listing.skippedFiles, store.sessionsDir());
    return Success;
}

void printPlain(QTextStream& out, const SessionRecord& record, const Style& style)
{
    const PostCallSummary summary = PostCallSummary::fromRecord(record);
    out << style.bold(QStringLiteral("Call on ") +
                      DebriefText::localTime(record.startedAt, QStringLiteral("yyyy-MM-dd HH:mm:ss")))
        << '\n'
        << "id          " << record.id.toString(QUuid::WithoutBraces).toUpper() << '\n'
        << "duration    " << PostCallSummary::durationText(summary.durationSec) << '\n'
        << "score       " << DebriefText::score(record, [&](qint64 value) { return style.score(value); }) << '\n'
        << "you spoke   " << DebriefText::talkShare(record.talkRatio) << '\n'
        << "exchanges   " << summary.turns << '\n'
        << "quiros      " << summary.hintCount << "\n\n";

    if (summary.displayState() == PostCallSummary::DisplayState::present) {
        printAnalysis(out, PostCallAnalysis::read(*summary.analysis), style);
    } else {
        out << style.bold(AnalysisSection::unavailableTitle) << '\n' << AnalysisSection::unavailableDetail << "\n\n";
    }

    out << style.bold(QStringLiteral("Transcript")) << '\n';
    for (const TurnRecord& turn : record.turns)
        out << speakerName(turn.speaker) << ": " << clean(turn.text) << '\n';
}

int show(const QString& idText, bool markdown)
{
    QTextStream err(stderr);
    const QUuid id = QUuid::fromString(idText);
    if (id.isNull()) {
        err << "quiro history: '" << clean(idText)
            << "' is not a session ID; run 'quiro history' to see the IDs of your calls.\n";
        return WrongUsage;
    }
    // The ID may belong to any call, not only to the newest few: search every file.
    const ConversationStore& store = ConversationStore::shared();
    const auto listing = store.loadRecentListing(ConversationStore::allFiles);
    const auto found = std::find_if(listing.records.begin(), listing.records.end(),
                                    [&](const SessionRecord& record) { return record.id == id; });
    if (found == listing.records.end()) {
        reportSkipped(listing.skippedFiles, store.sessionsDir());
        err << "quiro history: no stored call has the ID " << id.toString(QUuid::WithoutBraces).toUpper()
            << "; run 'quiro history' to see the IDs of your calls.\n";
        return Failure;
    }
    QTextStream out(stdout);
    if (markdown)
        out << DebriefText::markdown(*found);
    else
        printPlain(out, *found, Style(useColour()));
    out.flush();
    reportSkipped(listing.skippedFiles, store.sessionsDir());
    return Success;
}

int wrongUsage(const QString& sentence)
{
    QTextStream err(stderr);
    err << "quiro history: " << sentence << " Run 'quiro history --help' for the options.\n";
    return WrongUsage;
}

} // namespace

int runHistory(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption limitOption(QStringLiteral("limit"), QString(), QStringLiteral("N"));
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption markdownOption(QStringLiteral("markdown"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({limitOption, jsonOption, markdownOption, helpOption});
    parser.addPositionalArgument(QStringLiteral("show"), QString());
    if (!parser.parse(QStringList{QStringLiteral("quiro history")} + arguments)) {
        QString sentence = parser.errorText();
        if (!sentence.endsWith(QLatin1Char('.')))
            sentence += QLatin1Char('.');
        return wrongUsage(sentence);
    }
    if (parser.isSet(helpOption)) {
        QTextStream(stdout) << usage;
        return Success;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        if (parser.isSet(markdownOption))
            return wrongUsage(QStringLiteral("--markdown goes with 'show ID'."));
        int limit = ConversationStore::defaultRecentLimit;
        if (parser.isSet(limitOption)) {
            bool ok = false;
            limit = parser.value(limitOption).toInt(&ok);
            if (!ok || limit < 1)
                return wrongUsage(QStringLiteral("--limit needs a whole number of at least 1."));
        }
        return list(limit, parser.isSet(jsonOption));
    }
    if (positional.first() != QLatin1String("show"))
        return wrongUsage(QStringLiteral("Unknown argument '") + clean(positional.first()) + QStringLiteral("'."));
    if (positional.size() != 2)
        return wrongUsage(QStringLiteral("'show' takes exactly one session ID."));
    if (parser.isSet(limitOption) || parser.isSet(jsonOption))
        return wrongUsage(QStringLiteral("--limit and --json go with the list, not with 'show'."));
    return show(positional.at(1), parser.isSet(markdownOption));
}

} // namespace quiro::cli
