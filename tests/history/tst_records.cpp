#include "history/AnalysisMerge.h"
#include "history/PostCallAnalysis.h"
#include "history/PostCallSummary.h"
#include "history/SessionCheckpoint.h"
#include "history/SessionRecord.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using namespace quiro;

Q_DECLARE_METATYPE(quiro::SessionRecord)
Q_DECLARE_METATYPE(quiro::PostCallSummary::DisplayState)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

constexpr double referenceDate = 978'307'200.0;

// A session file as the macOS edition writes it: fractional reference-date seconds with the
// long digit strings of its encoder, upper-case UUID, escaped slashes, analysisJSON as text.
const QByteArray macFile =
    R"({"id":"5F0B3C1E-9A7D-4E2B-8C61-2D4F7A9B0E13","startedAt":786598136.15080499649,)"
    R"("endedAt":786598736.5,"turns":[{"speaker":"MGR","text":"Hi, thanks for joining \/ welcome",)"
    R"("timestamp":786598140.25},{"speaker":"CLT","text":"Happy to be here \u2014 let's talk budget",)"
    R"("timestamp":786598142.75}],"hintCount":3,"deepgramCostUSD":0.10000000000000001,)"
    R"("llmCostUSD":0.0042,"llmCalls":7,"score":72,"talkRatio":0.55500000000000005,)"
    R"("analysisJSON":"{\"score\":72,\"summary\":\"Good call\",\"strengths\":[\"Clear opener\"]}"})";

SessionRecord sampleRecord()
{
    SessionRecord record;
    record.id = QUuid::fromString("{0e6f2a1c-3b4d-4c5e-9f60-718293a4b5c6}");
    record.startedAt = 1'796'549'552.1508053;
    record.endedAt = 1'796'550'152.75;
    record.turns = {{TurnRecord::managerTag, "Hello \"there\"\nsecond line", 1'796'549'553.125},
                    {TurnRecord::clientTag, "Budget? \u2014 maybe \U0001F600", 1'796'549'560.0}};
    record.hintCount = 4;
    record.deepgramCostUSD = 0.1;
    record.llmCostUSD = 0.0031;
    record.llmCalls = 9;
    record.score = 64;
    record.talkRatio = 0.555;
    record.analysisJSON = R"({"summary":"ok"})";
    return record;
}

// The macOS file with `key` set to `value`; an undefined value removes the key.
QByteArray macFileWith(const QString& key, const QJsonValue& value = QJsonValue::Undefined)
{
    QJsonObject object = QJsonDocument::fromJson(macFile).object();
    object.insert(key, value);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private slots:
    void readsMacEditionFile()
    {
        SessionRecord expected;
        expected.id = QUuid::fromString("5f0b3c1e-9a7d-4e2b-8c61-2d4f7a9b0e13");
        expected.startedAt = 786598136.15080499649 + referenceDate;
        expected.endedAt = 786598736.5 + referenceDate;
        expected.turns = {{"MGR", "Hi, thanks for joining / welcome", 786598140.25 + referenceDate},
                          {"CLT", "Happy to be here \u2014 let's talk budget", 786598142.75 + referenceDate}};
        expected.hintCount = 3;
        expected.deepgramCostUSD = 0.1;
        expected.llmCostUSD = 0.0042;
        expected.llmCalls = 7;
        expected.score = 72;
        expected.talkRatio = 0.555;
        expected.analysisJSON = R"({"score":72,"summary":"Good call","strengths":["Clear opener"]})";
        const auto record = SessionRecord::decode(macFile);
        QCOMPARE(record, expected);
        // Written back, the same values come out again.
        QCOMPARE(SessionRecord::decode(record->encode().value()), record);
    }

    void optionalKeysMayBeMissingOrNull_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("asNull");
        for (const char* key : {"endedAt", "score", "talkRatio", "analysisJSON"}) {
            QTest::addRow("%s missing", key) << QString(key) << false;
            QTest::addRow("%s null", key) << QString(key) << true;
        }
    }

    void optionalKeysMayBeMissingOrNull()
    {
        QFETCH(QString, key);
        QFETCH(bool, asNull);
        const QByteArray bytes = asNull ? macFileWith(key, QJsonValue::Null) : macFileWith(key);
        const auto record = SessionRecord::decode(bytes);
        QVERIFY(record);
        const QJsonObject written = record->toJson();
        QVERIFY2(!written.contains(key), "an absent optional is left out, never written as null");
        QCOMPARE(written.size(), 10);
        if (key == "endedAt")
            QCOMPARE(record->durationSeconds(), 0.0);
        if (key == "analysisJSON")
            QVERIFY(!record->analysis());
    }

    void unreadableRecords_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("truncated") << macFile.left(macFile.size() / 2);
        QTest::newRow("array") << QByteArray("[]");
        QTest::newRow("foreign JSON object") << QByteArray(R"({"name":"left-pad","version":"1.3.0"})");
        QTest::newRow("invalid UTF-8") << QByteArray("{\"id\":\"\xff\xfe\"}");
        for (const char* key : {"id", "startedAt", "turns", "hintCount", "deepgramCostUSD", "llmCostUSD", "llmCalls"}) {
            QTest::addRow("required %s missing", key) << macFileWith(QString(key));
            QTest::addRow("required %s null", key) << macFileWith(QString(key), QJsonValue::Null);
        }
        QTest::newRow("id is a number") << macFileWith("id", 12);
        QTest::newRow("id is not a UUID") << macFileWith("id", "5F0B3C1E-9A7D-4E2B-8C61-2D4F7A9B0E1");
        QTest::newRow("startedAt as text") << macFileWith("startedAt", "2026-12-05T03:48:56Z");
        QTest::newRow("hintCount fractional") << macFileWith("hintCount", 3.5);
        QTest::newRow("llmCalls beyond 64 bits") << macFileWith("llmCalls", 1e19);
        QTest::newRow("analysisJSON as object") << macFileWith("analysisJSON", QJsonObject{{"score", 72}});
        QTest::newRow("turn not an object") << macFileWith("turns", QJsonArray{"MGR: hi"});
        QTest::newRow("turn without speaker")
            << macFileWith("turns", QJsonArray{QJsonObject{{"text", "hi"}, {"timestamp", 1.0}}});
        QTest::newRow("turn timestamp as text")
            << macFileWith("turns", QJsonArray{QJsonObject{{"speaker", "MGR"}, {"text", "hi"}, {"timestamp", "1"}}});
    }

    void unreadableRecords()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!SessionRecord::decode(bytes));
    }

    void roundTrip_data()
    {
        QTest::addColumn<SessionRecord>("record");
        QTest::newRow("all fields") << sampleRecord();
        SessionRecord bare = sampleRecord();
        bare.endedAt.reset();
        bare.score.reset();
        bare.talkRatio.reset();
        bare.analysisJSON.reset();
        bare.turns.clear();
        QTest::newRow("optionals absent, no turns") << bare;
        SessionRecord extreme = sampleRecord();
        extreme.hintCount = (qint64(1) << 53) + 1; // not representable as a double
        extreme.llmCalls = std::numeric_limits<qint64>::max();
        extreme.score = -3;
        extreme.startedAt = 0.0;         // before the reference date
        extreme.endedAt = referenceDate; // exactly the reference date
        extreme.talkRatio = 1.0 / 3.0;
        QTest::newRow("large counts and early dates") << extreme;
    }

    void roundTrip()
    {
        QFETCH(SessionRecord, record);
        const auto bytes = record.encode();
        QVERIFY(bytes);
        const auto decoded = SessionRecord::decode(*bytes);
        QVERIFY(decoded);
        QCOMPARE(*decoded, record);
    }

    void writtenFormat()
    {
        const SessionRecord record = sampleRecord();
        const QByteArray bytes = record.encode().value();
        QVERIFY2(!bytes.contains('\n'), "session files are compact");
        const QJsonObject object = QJsonDocument::fromJson(bytes).object();
        QStringList keys = object.keys();
        keys.sort();
        QCOMPARE(keys, QStringList({"analysisJSON", "deepgramCostUSD", "endedAt", "hintCount", "id", "llmCalls",
                                    "llmCostUSD", "score", "startedAt", "talkRatio", "turns"}));
        QCOMPARE(object.value("id").toString(), "0E6F2A1C-3B4D-4C5E-9F60-718293A4B5C6");
        QCOMPARE(object.value("startedAt").toDouble(), record.startedAt - referenceDate);
        QVERIFY(object.value("analysisJSON").isString());
        const QJsonObject turn = object.value("turns").toArray().at(0).toObject();
        QCOMPARE(turn.keys(), QStringList({"speaker", "text", "timestamp"}));
        QCOMPARE(turn.value("timestamp").toDouble(), 1'796'549'553.125 - referenceDate);
        // Counts are written as integer literals, not as 4.0 or 4e0.
        QVERIFY(bytes.contains("\"hintCount\":4,") || bytes.contains("\"hintCount\":4}"));
        QVERIFY(bytes.contains("\"score\":64,") || bytes.contains("\"score\":64}"));
    }

    void standardReaderSeesSameValues()
    {
        const QString python = QStandardPaths::findExecutable("python3");
        if (python.isEmpty())
            QSKIP("python3 is not installed; its json module is the independent reader of this test");
        SessionRecord record = sampleRecord();
        record.hintCount = (qint64(1) << 53) + 1;
        QTemporaryDir dir;
        const QString path = dir.filePath("session.json");
        test::writeFile(path, record.encode().value());
        // Python reads the file and writes it again with exact integers and the shortest text that
        // reads back as the same double: the same values must come out.
        QProcess process;
        process.start(
            python,
            {"-c", "import json, sys; print(json.dumps(json.load(open(sys.argv[1], encoding='utf-8'))))", path});
        QVERIFY(process.waitForFinished(30'000));
        QCOMPARE(process.exitCode(), 0);
        const QJsonObject seen = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        QCOMPARE(seen, record.toJson());
    }

    void nonFiniteNumbersAreNotEncoded()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        // Also inside a turn (a record's own fields are the store's test).
        SessionRecord record = sampleRecord();
        record.turns[1].timestamp = inf;
        QVERIFY(!record.encode());
        QVERIFY(!(SessionCheckpoint{1.0, {}, nan}.encode()));
        QVERIFY((SessionCheckpoint{1.0, {}, 2.0}.encode()));
    }

    void checkpointFormat_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("readable");
        QTest::newRow("all keys, dates at the reference date")
            << QByteArray(R"({"startedAt":0,"turns":[{"speaker":"MGR","text":"hi","timestamp":0.5}],"savedAt":30.25})")
            << true;
        QTest::newRow("no savedAt") << QByteArray(R"({"startedAt":0,"turns":[]})") << false;
        QTest::newRow("savedAt as text") << QByteArray(R"({"startedAt":0,"turns":[],"savedAt":"1"})") << false;
        QTest::newRow("a session file") << macFile << false;
    }

    void checkpointFormat()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, readable);
        const auto checkpoint = SessionCheckpoint::decode(bytes);
        QCOMPARE(checkpoint.has_value(), readable);
        if (!checkpoint)
            return;
        QCOMPARE(checkpoint->startedAt, referenceDate);
        QCOMPARE(checkpoint->savedAt, referenceDate + 30.25);
        QCOMPARE(checkpoint->turns.value(0).timestamp, referenceDate + 0.5);
        QCOMPARE(QJsonDocument::fromJson(checkpoint->encode().value()).object(),
                 QJsonDocument::fromJson(bytes).object());
    }

    void summaryFromRecord_data()
    {
        QTest::addColumn<SessionRecord>("record");
        QTest::addColumn<qint64>("score");
        QTest::addColumn<double>("talkRatio");
        QTest::addColumn<PostCallSummary::DisplayState>("state");
        QTest::newRow("complete record") << sampleRecord() << qint64(64) << 0.555
                                         << PostCallSummary::DisplayState::present;
        SessionRecord bare = sampleRecord();
        bare.score.reset();
        bare.talkRatio.reset();
        bare.analysisJSON.reset();
        QTest::newRow("no score, ratio or analysis")
            << bare << qint64(0) << 0.5 << PostCallSummary::DisplayState::failed;
        // The analysis counts only when its text is a JSON object.
        SessionRecord array = sampleRecord();
        array.analysisJSON = "[1,2]";
        QTest::newRow("analysis not an object")
            << array << qint64(64) << 0.555 << PostCallSummary::DisplayState::failed;
    }

    void summaryFromRecord()
    {
        QFETCH(SessionRecord, record);
        QFETCH(qint64, score);
        QFETCH(double, talkRatio);
        QFETCH(PostCallSummary::DisplayState, state);
        const PostCallSummary summary = PostCallSummary::fromRecord(record);
        QCOMPARE(summary.score, score);
        QCOMPARE(summary.talkRatio, talkRatio);
        QCOMPARE(summary.displayState(), state);
        QCOMPARE(record.analysis().has_value(), state == PostCallSummary::DisplayState::present);
        QVERIFY2(summary.id != record.id && !summary.id.isNull(), "a summary gets its own id");
    }

    void summaryAtStop()
    {
        SessionRecord record = sampleRecord();
        record.analysisJSON.reset();
        const auto pending = PostCallSummary::atStop(record, PostCallSummary::AnalysisRequest::started);
        QCOMPARE(pending.displayState(), PostCallSummary::DisplayState::pending);
        QCOMPARE(pending.score, 64);
        const auto skipped = PostCallSummary::atStop(record, PostCallSummary::AnalysisRequest::skipped);
        QCOMPARE(skipped.displayState(), PostCallSummary::DisplayState::failed);
    }

    void mergeAnalysis_data()
    {
        QTest::addColumn<QByteArray>("analysis");
        QTest::addColumn<bool>("summaryShown");
        QTest::addColumn<qint64>("score");
        const qint64 estimate = 41;
        QTest::newRow("integral score") << QByteArray(R"({"score":72,"summary":"s"})") << true << qint64(72);
        QTest::newRow("score written 72.0") << QByteArray(R"({"score":72.0})") << true << qint64(72);
        QTest::newRow("fractional score") << QByteArray(R"({"score":72.5})") << true << estimate;
        QTest::newRow("score beyond 64 bits") << QByteArray(R"({"score":1e30})") << true << estimate;
        QTest::newRow("no score") << QByteArray(R"({"summary":"s"})") << true << estimate;
        QTest::newRow("summary dismissed") << QByteArray(R"({"score":90})") << false << qint64(90);
    }

    void mergeAnalysis()
    {
        QFETCH(QByteArray, analysis);
        QFETCH(bool, summaryShown);
        QFETCH(qint64, score);
        const QJsonObject object = QJsonDocument::fromJson(analysis).object();
        SessionRecord record = sampleRecord();
        record.score = 41;
        record.analysisJSON.reset();
        PostCallSummary summary = PostCallSummary::atStop(record, PostCallSummary::AnalysisRequest::started);

        const auto merged = AnalysisMerge::apply(object, 41, summaryShown ? &summary : nullptr, record);
        QCOMPARE(merged, std::optional<qint64>(score));
        QCOMPARE(record.score, std::optional<qint64>(score));
        QVERIFY(record.analysisJSON);
        QCOMPARE(record.analysis(), std::optional<QJsonObject>(object));
        QVERIFY(!record.analysisJSON->contains('\n'));
        if (summaryShown) {
            QCOMPARE(summary.score, score);
            QCOMPARE(summary.displayState(), PostCallSummary::DisplayState::present);
            QCOMPARE(summary.analysis, std::optional<QJsonObject>(object));
        }
        // The merged record still decodes from its own file content.
        QCOMPARE(SessionRecord::decode(record.encode().value()), std::optional<SessionRecord>(record));
    }

    void mergeFailureLeavesRecord()
    {
        SessionRecord record = sampleRecord();
        record.analysisJSON.reset();
        const SessionRecord before = record;
        PostCallSummary summary = PostCallSummary::atStop(record, PostCallSummary::AnalysisRequest::started);
        QCOMPARE(AnalysisMerge::apply(std::nullopt, 64, &summary, record), std::nullopt);
        QCOMPARE(record, before);
        QCOMPARE(summary.displayState(), PostCallSummary::DisplayState::failed);
        QCOMPARE(AnalysisMerge::apply(std::nullopt, 64, nullptr, record), std::nullopt);
        QCOMPARE(record, before);
    }

    void analysisReaderIgnoresWrongTypes()
    {
        // Every key read is what `quiro history show` prints; here, what a reader must not believe.
        PostCallAnalysis expected;
        expected.improvements = QStringList{"Ask more"};
        const QByteArray analysis = R"({"score":"80","summary":3,"strengths":["Opener",4],"improvements":["Ask more"],)"
                                    R"("missed_opportunities":"none","objections":[{"type":"price"},"cheap"],)"
                                    R"("next_steps":{},"talk_listen_note":null})";
        QCOMPARE(PostCallAnalysis::read(QJsonDocument::fromJson(analysis).object()), expected);
    }

    void objectionFields_data()
    {
        QTest::addColumn<QByteArray>("objection");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("quote");
        QTest::addColumn<bool>("handled");
        QTest::newRow("complete") << QByteArray(R"({"type":"price OBJECTION","quote":"q","handled":true,"note":"x"})")
                                  << QString("Price Objection") << "q" << true;
        QTest::newRow("no type, not handled") << QByteArray(R"({"quote":"q"})") << QString("\u2014") << "q" << false;
        QTest::newRow("handled as text is false, snake case in words")
            << QByteArray(R"({"type":"info_stall","handled":"true"})") << "Info Stall" << QString() << false;
    }

    void objectionFields()
    {
        QFETCH(QByteArray, objection);
        QFETCH(QString, type);
        QFETCH(QString, quote);
        QFETCH(bool, handled);
        const Objection parsed = Objection::fromJson(QJsonDocument::fromJson(objection).object());
        QCOMPARE(parsed.displayType(), type);
        QCOMPARE(parsed.quote, quote);
        QCOMPARE(parsed.handled, handled);
    }

    void durationText_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("59.9 truncates") << 59.9 << "59 seconds";
        QTest::newRow("60") << 60.0 << "1 min 0 sec";
        QTest::newRow("two hours") << 7'205.0 << "120 min 5 sec";
        QTest::newRow("negative") << -5.0 << "0 seconds";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "0 seconds";
    }

    void durationText()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(PostCallSummary::durationText(seconds), text);
    }

    void talkSharePercentOfExactRatios()
    {
        // Ratios of word counts such as 57 of 100 are not exact in binary (0.57 * 100 is 56.999…);
        // they must not lose a percent. What lies truly below a whole percent still truncates.
        for (int percent = 0; percent <= 100; ++percent)
            QCOMPARE(PostCallSummary::talkSharePercent(percent / 100.0), percent);
        QCOMPARE(PostCallSummary::talkSharePercent(0.559), 55);
        QCOMPARE(PostCallSummary::talkSharePercent(0.5699), 56);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
