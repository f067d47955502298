#include "core/Preferences.h"
#include "history/ConversationStore.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QThread>

#ifndef QUIRO_EXECUTABLE
#error "QUIRO_EXECUTABLE must name the built quiro program"
#endif

using namespace quiro;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the built program with the test's HOME and preferences, in UTC so local times are known.
Run runQuiro(const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUIRO_EXECUTABLE), arguments);
    Run run;
    if (!process.waitForFinished(30'000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
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
    r.turns = {{TurnRecord::managerTag, QStringLiteral("How is your budget?"), startedAt + 2.0},
               {TurnRecord::clientTag, QStringLiteral("Tight \x1b[31mthis quarter"), startedAt + 5.0}};
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

// Later saves must get later birth times than `path` for the order to be known.
void waitPastBirthOf(const QString& path)
{
    const QDateTime born = QFileInfo(path).birthTime();
    const QString probe = QFileInfo(path).absolutePath() + QStringLiteral("/.probe");
    for (int attempt = 0; attempt < 1000; ++attempt) {
        test::writeFile(probe, "x");
        const QDateTime now = QFileInfo(probe).birthTime();
        QFile::remove(probe);
        if (!born.isValid() || now > born)
            return;
        QThread::msleep(1);
    }
    QFAIL("the filesystem's clock does not advance");
}

QString pathOf(const ConversationStore& store, const SessionRecord& r)
{
    return store.sessionsDir() + QLatin1Char('/') + *ConversationStore::fileName(r.startedAt);
}

} // namespace

class TestHistoryCli : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void listsNewestFirstWithFigures();
    void jsonIsTheSessionFileFormat();
    void emptyHistory();
    void reportsSkippedFiles();
    void listsOnlyTheSignedInAccount();
    void showPrintsDebriefAndTranscript();
    void showMarkdown();
    void showWithoutAnalysis();
    void showFindsOlderThanTheNewestTwenty();
    void unknownIdFails();
    void wrongUsage_data();
    void wrongUsage();

private:
    std::unique_ptr<test::TempHome> m_home;
};

void TestHistoryCli::init()
{
    m_home = std::make_unique<test::TempHome>();
    // QSettings remembers the configuration folder of the first use in a process; point it at
    // this test's home so the account preference lands where the store (and quiro) read it.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home->file(QStringLiteral(".config")));
    Preferences::clearAccount();
}

void TestHistoryCli::cleanup()
{
    m_home.reset();
}

void TestHistoryCli::listsNewestFirstWithFigures()
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
    waitPastBirthOf(pathOf(store, older));
    store.save(newer);

    const Run run = runQuiro({QStringLiteral("history")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    QVERIFY2(!run.out.contains(QChar(0x1b)), "no colour when stdout is not a terminal");
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("2023-11-14 22:13  62 min 5 sec    1 turn      1 hint     score \u2014  "
                                      "you spoke 75%  ") +
                           upperId(newer));
    QCOMPARE(lines[1], QStringLiteral("2027-01-15 08:00  1 min 30 sec    2 turns     2 hints    score 81  "
                                      "you spoke 55%  ") +
                           upperId(older));

    const Run limited = runQuiro({QStringLiteral("history"), QStringLiteral("--limit"), QStringLiteral("1")});
    QCOMPARE(limited.exitCode, 0);
    QCOMPARE(limited.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts), QStringList{lines[0]});
}

void TestHistoryCli::jsonIsTheSessionFileFormat()
{
    const ConversationStore store;
    SessionRecord first = record(1'800'000'000.5);
    SessionRecord second = record(1'800'000'100.25);
    second.endedAt.reset();
    store.save(first);
    waitPastBirthOf(pathOf(store, first));
    store.save(second);

    const Run run = runQuiro({QStringLiteral("history"), QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 0);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(run.out.toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray array = document.array();
    QCOMPARE(array.size(), 2);
    const QList<SessionRecord> expected{second, first};
    for (int i = 0; i < 2; ++i) {
        QJsonObject object = array.at(i).toObject();
        QCOMPARE(object.value(QStringLiteral("durationSeconds")).toDouble(), expected[i].durationSeconds());
        QCOMPARE(object.value(QStringLiteral("id")).toString(), upperId(expected[i]));
        object.remove(QStringLiteral("durationSeconds"));
        QCOMPARE(object, expected[i].toJson());
        QCOMPARE(SessionRecord::fromJson(object), std::optional<SessionRecord>(expected[i]));
    }
    QVERIFY(!array.at(0).toObject().contains(QStringLiteral("endedAt")));
}

void TestHistoryCli::emptyHistory()
{
    const Run run = runQuiro({QStringLiteral("history")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("No calls stored yet.\n"));
    const Run json = runQuiro({QStringLiteral("history"), QStringLiteral("--json")});
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8()).array(), QJsonArray());
    QVERIFY(QJsonDocument::fromJson(json.out.toUtf8()).isArray());
}

void TestHistoryCli::reportsSkippedFiles()
{
    const ConversationStore store;
    const SessionRecord good = record(1'800'000'000.0);
    store.save(good);
    const QString dir = store.sessionsDir();
    test::writeFile(dir + QStringLiteral("/session-truncated.json"), "{\"id\":");
    test::writeFile(dir + QStringLiteral("/session-foreign.json"), R"({"name":"x"})");
    test::writeFile(dir + QStringLiteral("/notes.txt"), "not a session");

    const Run run = runQuiro({QStringLiteral("history")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains(upperId(good)));
    QCOMPARE(run.out.count(QLatin1Char('\n')), 1);
    QCOMPARE(run.err, QStringLiteral("quiro history: 2 files in ") + dir +
                          QStringLiteral(" could not be read and were skipped.\n"));
    QCOMPARE(test::readFile(dir + QStringLiteral("/session-truncated.json")), QByteArray("{\"id\":"));
}

void TestHistoryCli::listsOnlyTheSignedInAccount()
{
    const ConversationStore store;
    const SessionRecord local = record(1'800'000'000.0);
    store.save(local);
    Preferences::setAccount(QStringLiteral("jane.doe@mail.example.com"), QStringLiteral("Jane"));
    const SessionRecord janes = record(1'800'000'500.0);
    store.save(janes);
    QVERIFY(QFileInfo::exists(m_home->file(QStringLiteral(".quiroai/sessions/jane_doe_mail_example_com"))));

    const Run run = runQuiro({QStringLiteral("history")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains(upperId(janes)));
    QVERIFY(!run.out.contains(upperId(local)));
}

void TestHistoryCli::showPrintsDebriefAndTranscript()
{
    const ConversationStore store;
    const SessionRecord r = record(1'800'000'000.0);
    store.save(r);
    const Run run = runQuiro({QStringLiteral("history"), QStringLiteral("show"), upperId(r).toLower()});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    const QString& out = run.out;
    QVERIFY2(!out.contains(QChar(0x1b)), "terminal escapes from a transcript never reach the output");
    for (const char* figure :
         {"duration    1 min 30 sec", "score       81", "you spoke   55%", "exchanges   2", "quiros      2"})
        QVERIFY2(out.contains(QLatin1String(figure)), figure);

    // The sections in the post-call view's order, each with its items.
    const QStringList inOrder{QStringLiteral("Strong discovery."),
                              QStringLiteral("What worked\n  \u2022 Asked about budget"),
                              QStringLiteral("What to improve\n  \u2022 Pause more"),
                              QStringLiteral("Missed signals\n  \u2022 Timeline hint"),
                              QStringLiteral("Objections\n  \u2022 Price \u2014 \u201cToo *dear*\u201d (handled)\n"
                                             "    Reframed"),
                              QStringLiteral("Next steps\n  \u2022 Send deck"),
                              QStringLiteral("Balanced."),
                              QStringLiteral("Transcript\nYou: How is your budget?\nThem: Tight  [31mthis quarter\n")};
    qsizetype from = 0;
    for (const QString& part : inOrder) {
        const qsizetype at = out.indexOf(part, from);
        QVERIFY2(at >= from,
                 qPrintable(QStringLiteral("missing or out of order: ") + part + QStringLiteral("\n") + out));
        from = at + part.size();
    }
    QVERIFY(!out.contains(QStringLiteral("Analysis unavailable")));
}

void TestHistoryCli::showMarkdown()
{
    const ConversationStore store;
    SessionRecord r = record(1'800'000'000.0);
    // A list holding a non-string hides its section.
    r.analysisJSON = QStringLiteral(R"({"strengths":["ok",3],"next_steps":["Call *Friday*"]})");
    store.save(r);
    const Run run =
        runQuiro({QStringLiteral("history"), QStringLiteral("show"), upperId(r), QStringLiteral("--markdown")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith(QStringLiteral("# Call on 2027-01-15 08:00:00\n")));
    QVERIFY(!run.out.contains(QStringLiteral("What worked")));
    QVERIFY(run.out.contains(QStringLiteral("## Next steps\n\n- Call \\*Friday\\*\n")));
    QVERIFY(run.out.contains(
        QStringLiteral("## Transcript\n\n**You:** How is your budget?\n\n**Them:** Tight  \\[31mthis quarter\n")));
}

void TestHistoryCli::showWithoutAnalysis()
{
    const ConversationStore store;
    SessionRecord r = record(1'800'000'000.0);
    r.analysisJSON = QStringLiteral("[1]");
    r.score.reset();
    r.talkRatio.reset();
    store.save(r);
    const Run run = runQuiro({QStringLiteral("history"), QStringLiteral("show"), upperId(r)});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains(QStringLiteral(
        "Analysis unavailable\nCall may have been too short or the server didn't respond.\n\nTranscript\n")));
    QVERIFY(run.out.contains(QStringLiteral("score       \u2014\n")));
}

void TestHistoryCli::showFindsOlderThanTheNewestTwenty()
{
    const ConversationStore store;
    const SessionRecord oldest = record(1'700'000'000.0);
    store.save(oldest);
    waitPastBirthOf(pathOf(store, oldest));
    for (int i = 0; i < 21; ++i)
        store.save(record(1'800'000'000.0 + i * 60.0));
    QCOMPARE(runQuiro({QStringLiteral("history")}).out.count(QLatin1Char('\n')), 20);
    QVERIFY(!runQuiro({QStringLiteral("history")}).out.contains(upperId(oldest)));

    const Run run = runQuiro({QStringLiteral("history"), QStringLiteral("show"), upperId(oldest)});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.contains(upperId(oldest)));
}

void TestHistoryCli::unknownIdFails()
{
    const ConversationStore store;
    store.save(record(1'800'000'000.0));
    const QString unknown = QStringLiteral("00000000-1111-4222-8333-444444444444");
    const Run run = runQuiro({QStringLiteral("history"), QStringLiteral("show"), unknown});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
    QVERIFY(run.err.contains(unknown));
}

void TestHistoryCli::wrongUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0;
    QTest::newRow("limit zero") << QStringList{QStringLiteral("--limit"), QStringLiteral("0")} << 2;
    QTest::newRow("limit not a number") << QStringList{QStringLiteral("--limit"), QStringLiteral("ten")} << 2;
    QTest::newRow("limit without value") << QStringList{QStringLiteral("--limit")} << 2;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--colour")} << 2;
    QTest::newRow("unknown word") << QStringList{QStringLiteral("list")} << 2;
    QTest::newRow("show without ID") << QStringList{QStringLiteral("show")} << 2;
    QTest::newRow("show with a non-ID") << QStringList{QStringLiteral("show"), QStringLiteral("yesterday")} << 2;
    QTest::newRow("markdown on the list") << QStringList{QStringLiteral("--markdown")} << 2;
    QTest::newRow("json on show") << QStringList{QStringLiteral("show"), QUuid::createUuid().toString(),
                                                 QStringLiteral("--json")}
                                  << 2;
}

void TestHistoryCli::wrongUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    const Run run = runQuiro(QStringList{QStringLiteral("history")} + arguments);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 0) {
        QVERIFY(run.out.startsWith(QStringLiteral("Usage: quiro history")));
    } else {
        QCOMPARE(run.out, QString());
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY(run.err.startsWith(QStringLiteral("quiro history: ")));
    }
}

QTEST_GUILESS_MAIN(TestHistoryCli)
#include "tst_history_cli.moc"
