#include "HistoryTestSupport.h"
#include "core/Preferences.h"
#include "history/ConversationStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#ifndef QUIRO_EXECUTABLE
#error "QUIRO_EXECUTABLE must name the built quiro program"
#endif

using namespace quiro;

namespace {

// Runs `quiro history` with the test's HOME and preferences, in UTC so local times are known.
test::ProgramRun history(const QStringList& arguments = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TZ", "UTC");
    return test::runProgram(QStringLiteral(QUIRO_EXECUTABLE), QStringList{"history"} + arguments, environment);
}

const QByteArray fullAnalysis =
    R"({"score":81,"summary":"Strong discovery.","strengths":["Asked about budget"],)"
    R"("improvements":["Pause more"],"missed_opportunities":["Timeline hint"],)"
    R"("objections":[{"type":"price","quote":"Too *dear*","handled":true,"note":"Reframed"}],)"
    R"("next_steps":["Send deck"],"talk_listen_note":"Balanced."})";

SessionRecord record(double startedAt, const QUuid& id = QUuid::createUuid())
{
    SessionRecord r;
    r.id = id;
    r.startedAt = startedAt;
    r.endedAt = startedAt + 90.0;
    r.turns = {{TurnRecord::managerTag, "How is your budget?", startedAt + 2.0},
               {TurnRecord::clientTag, "Tight \x1b[31mthis quarter", startedAt + 5.0}};
    r.hintCount = 2;
    r.score = 81;
    r.talkRatio = 0.559;
    r.analysisJSON = QString::fromUtf8(fullAnalysis);
    return r;
}

QString upperId(const SessionRecord& r)
{
    return r.id.toString(QUuid::WithoutBraces).toUpper();
}

QString pathOf(const ConversationStore& store, const SessionRecord& r)
{
    return store.sessionsDir() + '/' + *ConversationStore::fileName(r.startedAt);
}

} // namespace

class TestHistoryCli : public QObject {
    Q_OBJECT

private slots:
    void init() { m_home = std::make_unique<test::HistoryHome>(); }
    void cleanup() { m_home.reset(); }

    void listsNewestFirstWithFigures()
    {
        const ConversationStore store;
        const SessionRecord older = record(1'800'000'000.0); // 2027-01-15 08:00 UTC
        SessionRecord newer = record(1'700'000'000.0);       // 2023-11-14 22:13 UTC, but saved later
        newer.endedAt = newer.startedAt + 3'725.0;
        newer.turns.removeLast();
        newer.hintCount = 1;
        newer.score.reset();
        newer.talkRatio = 0.75;
        store.save(older);
        test::waitPastBirthOf(pathOf(store, older));
        store.save(newer);

        const test::ProgramRun run = history();
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QString());
        QVERIFY2(!run.out.contains(QChar(0x1b)), "no colour when stdout is not a terminal");
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], "Nobody is signed in: calls made without an account");
        QCOMPARE(lines[1], QStringLiteral("2023-11-14 22:13  62 min 5 sec    1 turn      1 hint     score \u2014  "
                                          "you spoke 75%  ") +
                               upperId(newer));
        QCOMPARE(lines[2], QStringLiteral("2027-01-15 08:00  1 min 30 sec    2 turns     2 hints    score 81  "
                                          "you spoke 55%  ") +
                               upperId(older));

        const test::ProgramRun limited = history({"--limit", "1"});
        QCOMPARE(limited.exitCode, 0);
        QCOMPARE(limited.out.split('\n', Qt::SkipEmptyParts), (QStringList{lines[0], lines[1]}));
    }

    void jsonIsTheSessionFileFormat()
    {
        const ConversationStore store;
        SessionRecord first = record(1'800'000'000.5);
        SessionRecord second = record(1'800'000'100.25);
        second.endedAt.reset();
        store.save(first);
        test::waitPastBirthOf(pathOf(store, first));
        store.save(second);

        const test::ProgramRun run = history({"--json"});
        QCOMPARE(run.exitCode, 0);
        const QJsonArray array = QJsonDocument::fromJson(run.out.toUtf8()).array();
        QCOMPARE(array.size(), 2);
        const QList<SessionRecord> expected{second, first};
        for (int i = 0; i < 2; ++i)
            QCOMPARE(array.at(i).toObject().value("id").toString(), upperId(expected[i]));
        // The file's own analysis text becomes an object scripts can read.
        QCOMPARE(array.at(0).toObject().value("analysis").toObject().value("summary").toString(), "Strong discovery.");
        QVERIFY(!array.at(0).toObject().contains("analysisJSON"));
        // Dates in ISO 8601 (UTC), to the millisecond, instead of seconds since 2001.
        QCOMPARE(array.at(1).toObject().value("startedAt").toString(), "2027-01-15T08:00:00.500Z");
        QCOMPARE(array.at(1).toObject().value("endedAt").toString(), "2027-01-15T08:01:30.500Z");
        QCOMPARE(array.at(1).toObject().value("turns").toArray().at(0).toObject().value("timestamp").toString(),
                 "2027-01-15T08:00:02.500Z");
        QVERIFY(!array.at(0).toObject().contains("endedAt"));
    }

    void emptyHistory()
    {
        const test::ProgramRun run = history();
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, "Nobody is signed in: calls made without an account\nNo calls stored yet.\n");
        const test::ProgramRun json = history({"--json"});
        QCOMPARE(json.exitCode, 0);
        QVERIFY(QJsonDocument::fromJson(json.out.toUtf8()) == QJsonDocument(QJsonArray()));
    }

    void reportsSkippedFiles()
    {
        const ConversationStore store;
        const SessionRecord good = record(1'800'000'000.0);
        store.save(good);
        const QString dir = store.sessionsDir();
        test::writeFile(dir + "/session-truncated.json", "{\"id\":");
        test::writeFile(dir + "/session-foreign.json", R"({"name":"x"})");
        test::writeFile(dir + "/notes.txt", "not a session");

        const test::ProgramRun run = history();
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(upperId(good)));
        QCOMPARE(run.out.count('\n'), 2);
        QCOMPARE(run.err, "quiro history: 2 files in " + dir + " could not be read and were skipped.\n");
        QCOMPARE(test::readFile(dir + "/session-truncated.json"), QByteArray("{\"id\":"));

        // Only the newest file is read, and it is damaged: that is no empty history.
        const test::ProgramRun newest = history({"--limit", "1"});
        QVERIFY(!newest.out.contains("No calls stored yet"));
        QCOMPARE(newest.err, "quiro history: 1 file in " + dir + " could not be read and was skipped.\n");
    }

    void showPrintsDebriefAndTranscript()
    {
        const ConversationStore store;
        const SessionRecord r = record(1'800'000'000.0);
        store.save(r);
        const test::ProgramRun run = history({"show", upperId(r).toLower()});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QString());
        const QString& out = run.out;
        QVERIFY2(!out.contains(QChar(0x1b)), "terminal escapes from a transcript never reach the output");
        for (const char* figure :
             {"duration    1 min 30 sec", "score       81", "you spoke   55%", "turns       2", "hints       2"})
            QVERIFY2(out.contains(QLatin1String(figure)), figure);

        // The sections in the post-call view's order, each with its items.
        const QStringList inOrder{"Strong discovery.",
                                  "What worked\n  \u2022 Asked about budget",
                                  "What to improve\n  \u2022 Pause more",
                                  "Missed signals\n  \u2022 Timeline hint",
                                  QStringLiteral("Objections\n  \u2022 Price \u2014 \u201cToo *dear*\u201d (handled)\n"
                                                 "    Reframed"),
                                  "Next steps\n  \u2022 Send deck",
                                  "Balanced.",
                                  "Transcript\nYou: How is your budget?\nThem: Tight  [31mthis quarter\n"};
        qsizetype from = 0;
        for (const QString& part : inOrder) {
            const qsizetype at = out.indexOf(part, from);
            QVERIFY2(at >= from, qPrintable("missing or out of order: " + part + "\n" + out));
            from = at + part.size();
        }
        QVERIFY(!out.contains("Analysis unavailable"));
    }

    void showMarkdown()
    {
        const ConversationStore store;
        SessionRecord r = record(1'800'000'000.0);
        // A list holding a non-string hides its section.
        r.analysisJSON = R"({"strengths":["ok",3],"next_steps":["Call *Friday*"]})";
        store.save(r);
        const test::ProgramRun run = history({"show", upperId(r), "--markdown"});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.startsWith("# Call on 2027-01-15 08:00:00\n"));
        QVERIFY(!run.out.contains("What worked"));
        QVERIFY(run.out.contains("## Next steps\n\n- Call \\*Friday\\*\n"));
        QVERIFY(
            run.out.contains("## Transcript\n\n**You:** How is your budget?\n\n**Them:** Tight  \\[31mthis quarter\n"));
    }

    void showWithoutAnalysis()
    {
        const ConversationStore store;
        SessionRecord r = record(1'800'000'000.0);
        r.analysisJSON = "[1]";
        r.score.reset();
        r.talkRatio.reset();
        store.save(r);
        const test::ProgramRun run = history({"show", upperId(r)});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(QStringLiteral(
            "Analysis unavailable\nCall may have been too short or the server didn't respond.\n\nTranscript\n")));
        QVERIFY(run.out.contains("score       \u2014\n"));

        // A call in which nothing was heard shows no score, in the list and in the debrief.
        SessionRecord silent = record(1'800'000'600.0);
        silent.turns.clear();
        store.save(silent);
        QVERIFY(history().out.contains("no speech heard"));
        QVERIFY(history({"show", upperId(silent)}).out.contains("score       no speech heard\n"));
    }

    void showFindsOlderThanTheNewestTwenty()
    {
        const ConversationStore store;
        const SessionRecord oldest = record(1'700'000'000.0);
        store.save(oldest);
        test::waitPastBirthOf(pathOf(store, oldest));
        for (int i = 0; i < 21; ++i)
            store.save(record(1'800'000'000.0 + i * 60.0));
        QCOMPARE(history().out.count('\n'), 21); // the heading and twenty calls
        QVERIFY(!history().out.contains(upperId(oldest)));

        const test::ProgramRun run = history({"show", upperId(oldest)});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.out.contains(upperId(oldest)));
    }

    void idsByPrefixLikeGit()
    {
        const ConversationStore store;
        const SessionRecord a = record(1'800'000'000.0, QUuid("{1a2b3c4d-0000-4000-8000-000000000001}"));
        const SessionRecord b = record(1'800'000'060.0, QUuid("{1a2b3c4d-0000-4000-8000-000000000002}"));
        store.save(a);
        store.save(b);
        const test::ProgramRun unique = history({"show", "1a2b3c4d-0000-4000-8000-0000000000"});
        QCOMPARE(unique.exitCode, 1); // two calls start like that
        QVERIFY2(unique.err.contains(upperId(a)) && unique.err.contains(upperId(b)), qPrintable(unique.err));
        const test::ProgramRun one = history({"show", "1A2B3C4D000040008000000000000002"});
        QCOMPARE(one.exitCode, 0);
        QVERIFY(one.out.contains(upperId(b)));
        const test::ProgramRun unknown = history({"show", "ffff"});
        QCOMPARE(unknown.exitCode, 1);
        QVERIFY2(unknown.err.startsWith("quiro history: no call with that ID"), qPrintable(unknown.err));
    }

    void signedOutOrUnreadableSettingsSayWhoseCalls()
    {
        const ConversationStore store;
        Preferences::setAccount("jane@example.com", "Jane");
        store.save(record(1'800'000'000.0));
        QVERIFY(history().out.startsWith("Calls of jane@example.com\n"));
        Preferences::clearAccount();
        const test::ProgramRun signedOut = history();
        QVERIFY(signedOut.out.contains("No calls stored yet."));
        QVERIFY2(signedOut.err.contains("calls of other accounts are stored too (jane_example_com)"),
                 qPrintable(signedOut.err));

        test::writeFile(m_home->home.file(".config/Quiro/quiro.conf"), "[General\nquiro_email=");
        const test::ProgramRun damaged = history();
        QVERIFY2(damaged.err.contains("quiro.conf is damaged"), qPrintable(damaged.err));
    }

    void wrongUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("limit zero") << QStringList{"--limit", "0"} << 2;
        QTest::newRow("show without ID") << QStringList{"show"} << 2;
        QTest::newRow("show with too short a prefix") << QStringList{"show", "1a2"} << 2;
        QTest::newRow("json on show") << QStringList{"show", QUuid::createUuid().toString(), "--json"} << 2;
    }

    void wrongUsage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const test::ProgramRun run = history(arguments);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 0) {
            QVERIFY(run.out.startsWith("Usage: quiro history"));
        } else {
            QCOMPARE(run.out, QString());
            QCOMPARE(run.err.count('\n'), 1);
            QVERIFY(run.err.startsWith("quiro history: "));
        }
    }

private:
    std::unique_ptr<test::HistoryHome> m_home;
};

QTEST_GUILESS_MAIN(TestHistoryCli)
#include "tst_history_cli.moc"
