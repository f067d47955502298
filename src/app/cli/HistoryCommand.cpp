#include "app/cli/HistoryCommand.h"

#include "app/cli/Command.h"
#include "app/cli/CommandLine.h"
#include "app/cli/TerminalText.h"
#include "core/Preferences.h"
#include "history/ConversationStore.h"
#include "history/DebriefText.h"
#include "history/PostCallAnalysis.h"
#include "history/PostCallSummary.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextStream>

#include <cmath>

namespace quiro::cli {

namespace {

const QString usage =
    QStringLiteral("Usage: quiro history [--limit N] [--json]\n"
                   "       quiro history show ID [--markdown]\n\n"
                   "Lists the stored calls of the signed-in account (or, when nobody is signed in, the\n"
                   "calls made without an account), newest first, or shows one call's debrief and\n"
                   "transcript. ID may be the first characters of an ID, as long as only one call has them.\n\n"
                   "Options:\n"
                   "  --limit N     list at most N calls (default 20)\n"
                   "  --json        print the calls as a JSON array: the session-file fields, with dates\n"
                   "                in ISO 8601 (UTC), the analysis as an object, and \"durationSeconds\"\n"
                   "  --markdown    print the shown call as Markdown\n"
                   "  -h, --help    show this help\n");

// An ID, or the start of one: hex digits and dashes, with at least this many digits.
constexpr int shortestIdPrefix = 4;

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

QString isoDate(double unixSeconds)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(unixSeconds * 1000.0)), Qt::UTC)
        .toString(Qt::ISODateWithMs);
}

// The session-file fields for scripts: dates as ISO 8601 in UTC instead of the file's seconds since
// 2001, the analysis as an object instead of a string of JSON, and the duration.
QJsonObject forScripts(const SessionRecord& record)
{
    QJsonObject object = record.toJson();
    object.insert(QStringLiteral("startedAt"), isoDate(record.startedAt));
    if (record.endedAt)
        object.insert(QStringLiteral("endedAt"), isoDate(*record.endedAt));
    QJsonArray turns;
    for (const TurnRecord& turn : record.turns) {
        QJsonObject entry = turn.toJson();
        entry.insert(QStringLiteral("timestamp"), isoDate(turn.timestamp));
        turns.append(entry);
    }
    object.insert(QStringLiteral("turns"), turns);
    object.remove(QStringLiteral("analysisJSON"));
    if (const auto analysis = record.analysis())
        object.insert(QStringLiteral("analysis"), *analysis);
    object.insert(QStringLiteral("durationSeconds"), record.durationSeconds());
    return object;
}

// Whose calls these are, in one line, and where the others are when they might be missed.
void printWhose(QTextStream& out, const ConversationStore& store, const Style& style)
{
    QTextStream err(stderr);
    if (const auto problem = Preferences::problem())
        err << "quiro history: " << *problem << ", so the signed-in account is unknown; fix or remove it, "
            << "or run 'quiro login' again.\n";
    if (const auto email = Preferences::email()) {
        out << style.bold(QStringLiteral("Calls of ") + clean(*email)) << '\n';
        return;
    }
    out << style.bold(QStringLiteral("Nobody is signed in: calls made without an account")) << '\n';
    const QStringList others = store.otherAccounts();
    if (!others.isEmpty())
        err << "quiro history: calls of other accounts are stored too (" << others.join(QStringLiteral(", "))
            << "); run 'quiro login EMAIL' to see them.\n";
}

int list(int limit, bool json)
{
    const ConversationStore& store = ConversationStore::shared();
    const auto listing = store.loadRecentListing(limit);
    QTextStream out(stdout);
    if (json) {
        QJsonArray array;
        for (const SessionRecord& record : listing.records)
            array.append(forScripts(record));
        out << QJsonDocument(array).toJson(QJsonDocument::Indented);
    } else {
        const Style style(useColour());
        printWhose(out, store, style);
        if (listing.records.isEmpty() && listing.skippedFiles == 0)
            out << "No calls stored yet.\n";
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
        << "turns       " << summary.turns << '\n'
        << "hints       " << summary.hintCount << "\n\n";

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
    static const QRegularExpression idShape(QStringLiteral("^[0-9A-Fa-f-]+$"));
    QString wanted = idText.trimmed().toUpper();
    wanted.remove(QLatin1Char('-'));
    if (!idShape.match(idText.trimmed()).hasMatch() || wanted.size() < shortestIdPrefix) {
        err << "quiro history: '" << clean(idText) << "' is not a session ID (give at least " << shortestIdPrefix
            << " of its characters); run 'quiro history' to see the IDs of your calls.\n";
        return WrongUsage;
    }
    // The ID may belong to any call, not only to the newest few: search every file.
    const ConversationStore& store = ConversationStore::shared();
    const auto listing = store.loadRecentListing(ConversationStore::allFiles);
    QList<SessionRecord> matches;
    for (const SessionRecord& record : listing.records) {
        if (record.id.toString(QUuid::Id128).toUpper().startsWith(wanted))
            matches.append(record);
    }
    reportSkipped(listing.skippedFiles, store.sessionsDir());
    if (matches.isEmpty()) {
        err << "quiro history: no call with that ID (" << clean(idText)
            << "); run 'quiro history' to see the IDs of your calls.\n";
        return Failure;
    }
    if (matches.size() > 1) {
        err << "quiro history: " << matches.size() << " calls have IDs that start with " << clean(idText)
            << "; give more of the ID:\n";
        for (const SessionRecord& record : matches)
            err << "  " << record.id.toString(QUuid::WithoutBraces).toUpper() << "  "
                << DebriefText::localTime(record.startedAt, QStringLiteral("yyyy-MM-dd HH:mm")) << '\n';
        return Failure;
    }
    QTextStream out(stdout);
    if (markdown)
        out << DebriefText::markdown(matches.first());
    else
        printPlain(out, matches.first(), Style(useColour()));
    out.flush();
    return Success;
}

} // namespace

int runHistory(const QStringList& arguments)
{
    CommandLine commandLine(QStringLiteral("history"), usage);
    const QCommandLineOption limitOption(QStringLiteral("limit"), QString(), QStringLiteral("N"));
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    const QCommandLineOption markdownOption(QStringLiteral("markdown"));
    for (const auto& option : {limitOption, jsonOption, markdownOption})
        commandLine.addOption(option);
    if (const auto parsed = commandLine.parse(arguments, 0, 2); parsed != CommandLine::Parsed::run)
        return CommandLine::exitStatus(parsed);

    const QStringList positional = commandLine.arguments();
    if (positional.isEmpty()) {
        if (commandLine.isSet(markdownOption))
            return commandLine.wrongUsage(QStringLiteral("--markdown goes with 'show ID'."));
        int limit = ConversationStore::defaultRecentLimit;
        if (commandLine.isSet(limitOption)) {
            bool ok = false;
            limit = commandLine.value(limitOption).toInt(&ok);
            if (!ok || limit < 1)
                return commandLine.wrongUsage(QStringLiteral("--limit needs a whole number of at least 1."));
        }
        return list(limit, commandLine.isSet(jsonOption));
    }
    if (positional.first() != QLatin1String("show"))
        return commandLine.wrongUsage(QStringLiteral("Unknown argument '") + clean(positional.first()) +
                                      QStringLiteral("'."));
    if (positional.size() != 2)
        return commandLine.wrongUsage(QStringLiteral("'show' takes exactly one session ID."));
    if (commandLine.isSet(limitOption) || commandLine.isSet(jsonOption))
        return commandLine.wrongUsage(QStringLiteral("--limit and --json go with the list, not with 'show'."));
    return show(positional.at(1), commandLine.isSet(markdownOption));
}

} // namespace quiro::cli
