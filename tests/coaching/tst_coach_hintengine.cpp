#include "coaching/HintEngine.h"
#include "coaching/ProductContext.h"
#include "core/Config.h"
#include "core/ExternalService.h"
#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTest>

#include <limits>

using namespace quiro;
using quiro::test::awaitTask;
using quiro::test::ScriptedReply;

namespace {

using HintResult = std::optional<HintEngine::CategoryAndText>;

QJsonObject hintAnswer(const QString& response, const QString& subType = QStringLiteral("price"))
{
    return QJsonObject{{"confidence", 0.9},
                       {"should_interrupt", true},
                       {"intent", "OBJECTION"},
                       {"sub_type", subType},
                       {"response", response}};
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// A "/hint" reply whose "raw" holds the model's answer as text.
ScriptedReply hintReply(const QString& raw, std::optional<double> cost = std::nullopt)
{
    QJsonObject body{{"raw", raw}};
    if (cost)
        body.insert("cost", *cost);
    return ScriptedReply::json(body);
}

ScriptedReply hintReply(const QJsonObject& answer, std::optional<double> cost = std::nullopt)
{
    return hintReply(QString::fromUtf8(compact(answer)), cost);
}

} // namespace

class TestHintEngine : public QObject {
    Q_OBJECT

private:
    // A fresh home, server and engine per test function.
    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::ScriptedHttpServer> m_server;
    std::unique_ptr<HintEngine> m_engine;

    void makeEngine(const QString& apiBase)
    {
        m_engine = std::make_unique<HintEngine>(Config{apiBase, Config::defaultHintModel, Config::defaultLanguage},
                                                QStringLiteral("tok-123"),
                                                std::make_shared<const ProductContext>(std::nullopt));
        m_engine->setTimeouts({2'000, 2'000, 2'000, 2'000});
    }

    HintResult classify(const QString& phrase = QStringLiteral("That is more than we budgeted for"))
    {
        auto result = awaitTask(m_engine->classifyAndGenerate(phrase, QStringLiteral("RECENT TURNS (last 4):"),
                                                              Stage::objection, 0.6, std::nullopt));
        if (!result)
            qWarning("the /hint request did not finish in time");
        return result.value_or(HintResult());
    }

private slots:
    void init();
    void cleanup();

    void statusAndBody_data();
    void statusAndBody();
    void slowReplyTimesOutWithOneErrorLine();
    void eachEndpointHasItsOwnTimeout_data();
    void eachEndpointHasItsOwnTimeout();
    void refusedConnectionLogsErrorLine();
    void hintRequestShape();
    void productContextAndObjectionResponsesWhenLoaded();
    void baseWithTrailingSlashKeepsDoubleSlash();
    void nonFiniteNumberSendsNothing();
    void answerRules_data();
    void answerRules();
    void rawParsing_data();
    void rawParsing();
    void stripMarkdown_data();
    void stripMarkdown();
    void costCounting_data();
    void costCounting();
    void overlappingRepliesAreAllCounted();
    void extractFacts_data();
    void extractFacts();
    void generateOnDemand_data();
    void generateOnDemand();
    void emptyTranscriptSendsNothing();
    void analyzeBodyAndResult();
    void analyzeRejectsNonObject();
    void destroyedEngineFinishesPendingRequests();
};

void TestHintEngine::init()
{
    m_home = std::make_unique<test::TempHome>();
    m_server = std::make_unique<test::ScriptedHttpServer>();
    QVERIFY(m_server->start());
    makeEngine(m_server->baseUrl());
}

void TestHintEngine::cleanup()
{
    m_engine.reset();
    m_server.reset();
    m_home.reset();
}

void TestHintEngine::statusAndBody_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("hint");
    QTest::addColumn<QStringList>("log");

    const QByteArray good = compact(QJsonObject{{"raw", QString::fromUtf8(compact(hintAnswer("Ask what ROI means")))}});
    QTest::newRow("200 object") << 200 << good << true << QStringList();
    QTest::newRow("201 is not success") << 201 << good << false << QStringList{"[HintEngine] /hint → HTTP 201"};
    QTest::newRow("401") << 401 << good << false << QStringList{"[HintEngine] /hint → HTTP 401"};
    QTest::newRow("500") << 500 << QByteArray("oops") << false << QStringList{"[HintEngine] /hint → HTTP 500"};
    QTest::newRow("invalid JSON") << 200 << QByteArray("{\"raw\": ") << false << QStringList();
    QTest::newRow("array") << 200 << QByteArray("[{\"raw\": \"{}\"}]") << false << QStringList();
    QTest::newRow("scalar") << 200 << QByteArray("42") << false << QStringList();
    QTest::newRow("empty body") << 200 << QByteArray() << false << QStringList();
}

void TestHintEngine::statusAndBody()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, hint);
    QFETCH(QStringList, log);

    m_server->setReply("/hint", ScriptedReply::text(body, status));
    test::LogCapture capture;
    const HintResult result = classify();
    QCOMPARE(result.has_value(), hint);
    QCOMPARE(capture.lines(), log);
    QCOMPARE(m_server->requestCount("/hint"), 1);
    // Only a reply object with a "raw" string counts as a model call.
    QCOMPARE(m_engine->totalCalls(), hint ? 1 : 0);
}

void TestHintEngine::slowReplyTimesOutWithOneErrorLine()
{
    m_engine->setTimeouts({300, 300, 300, 300});
    ScriptedReply slow = hintReply(hintAnswer("Too late"));
    slow.delayMs = 3'000;
    m_server->setReply("/hint", slow);

    test::LogCapture capture;
    QElapsedTimer elapsed;
    elapsed.start();
    const auto result = awaitTask(m_engine->classifyAndGenerate("a phrase of words here", "", Stage::opening), 10'000);
    QVERIFY2(result.has_value(), "the request must end at its own time-out");
    QVERIFY(!result->has_value());
    QVERIFY2(elapsed.elapsed() < 2'500, "the time-out must end the request, not the late reply");
    QCOMPARE(capture.lines().size(), 1);
    QVERIFY2(capture.lines().first().startsWith("[HintEngine] /hint error: "), qPrintable(capture.lines().first()));
    QCOMPARE(m_engine->totalCalls(), 0);
}

void TestHintEngine::eachEndpointHasItsOwnTimeout_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("hint") << "/hint";
    QTest::newRow("extract") << "/extract";
    QTest::newRow("assist") << "/assist";
    QTest::newRow("analyze") << "/analyze";
}

void TestHintEngine::eachEndpointHasItsOwnTimeout()
{
    QFETCH(QString, path);

    // Only the endpoint under test gets a time-out shorter than the replies take.
    constexpr int shortMs = 150;
    constexpr int longMs = 5'000;
    m_engine->setTimeouts({path == "/hint" ? shortMs : longMs, path == "/extract" ? shortMs : longMs,
                           path == "/assist" ? shortMs : longMs, path == "/analyze" ? shortMs : longMs});
    for (const char* endpoint : {"/hint", "/extract", "/assist", "/analyze"}) {
        ScriptedReply reply = ScriptedReply::json({{"raw", QString::fromUtf8(compact(hintAnswer("Ask it")))},
                                                   {"facts", QJsonArray{"a fact"}},
                                                   {"hint", "Ask it"},
                                                   {"analysis", QJsonObject{{"score", 1}}}});
        reply.delayMs = 600;
        m_server->setReply(endpoint, reply);
    }

    test::LogCapture capture;
    auto hint = m_engine->classifyAndGenerate("It costs too much", "", Stage::objection);
    auto facts = m_engine->extractFacts("we have four hundred seats");
    auto assist = m_engine->generateOnDemand("CLIENT: hi");
    auto analysis = m_engine->analyze("CLIENT: hi", 1, 0.5, 0, "a", "b");
    QCOMPARE(awaitTask(std::move(hint)).value_or(std::nullopt).has_value(), path != "/hint");
    QCOMPARE(!awaitTask(std::move(facts)).value_or(QStringList()).isEmpty(), path != "/extract");
    QCOMPARE(awaitTask(std::move(assist)).value_or(std::nullopt).has_value(), path != "/assist");
    QCOMPARE(awaitTask(std::move(analysis)).value_or(std::nullopt).has_value(), path != "/analyze");
    QCOMPARE(capture.lines().size(), 1);
    QVERIFY2(capture.lines().first().startsWith("[HintEngine] " + path + " error: "),
             qPrintable(capture.lines().first()));
}

void TestHintEngine::refusedConnectionLogsErrorLine()
{
    // Take a free port and close it again, so that nothing listens there.
    quint16 port = 0;
    {
        test::ScriptedHttpServer closed;
        QVERIFY(closed.start());
        port = closed.port();
    }
    makeEngine(QStringLiteral("http://127.0.0.1:%1").arg(port));
    test::LogCapture capture;
    const auto facts = awaitTask(m_engine->extractFacts("we run four hundred seats today"));
    QVERIFY(facts.has_value());
    QVERIFY(facts->isEmpty());
    QCOMPARE(capture.lines().size(), 1);
    QVERIFY2(capture.lines().first().startsWith("[HintEngine] /extract error: "), qPrintable(capture.lines().first()));
}

void TestHintEngine::hintRequestShape()
{
    m_server->setReply("/hint", hintReply(hintAnswer("Ask what ROI means")));
    CallStateSnapshot snapshot;
    snapshot.budgetDiscussed = true;
    snapshot.objectionsHandled = QStringList{"price"};
    const auto result = awaitTask(
        m_engine->classifyAndGenerate("It costs too much", "RECENT TURNS (last 4):", Stage::closing, 0.25, snapshot));
    QVERIFY(result.has_value());

    QCOMPARE(m_server->requestCount("/hint"), 1);
    const test::RecordedRequest request = m_server->requests("/hint").first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-123"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    const QJsonObject body = request.json();
    QCOMPARE(body.value("phrase").toString(), QString("It costs too much"));
    QCOMPARE(body.value("context").toString(), QString("RECENT TURNS (last 4):"));
    QCOMPARE(body.value("stage").toString(), QString("closing"));
    QCOMPARE(body.value("stage_goal").toString(), QString("Lock in a concrete next step with a specific date"));
    QCOMPARE(body.value("seller_talk_ratio").toDouble(), 0.25);
    // No profile: the compiled text is not sent.
    QVERIFY(body.value("product_context").isString());
    QCOMPARE(body.value("product_context").toString(), QString());
    QCOMPARE(body.value("call_state").toObject(), snapshot.toDict());
    QVERIFY(!body.contains("objection_responses"));

    // Without a call state the key is left out.
    QVERIFY(awaitTask(m_engine->classifyAndGenerate("It costs too much", "", Stage::opening)).has_value());
    QVERIFY(!m_server->requests("/hint").at(1).json().contains("call_state"));
    QCOMPARE(m_server->requests("/hint").at(1).json().value("seller_talk_ratio").toDouble(), 0.5);
}

void TestHintEngine::productContextAndObjectionResponsesWhenLoaded()
{
    test::writeFile(m_home->file(".quiroai/profile.json"), R"({"product_name": "Acme", "value_prop": "Fast"})");
    const QString knowledge = m_home->file("product.json");
    test::writeFile(knowledge, R"({"objection_responses": {"price": {"phrase": "Worth it"}}})");
    auto context = std::make_shared<const ProductContext>(knowledge);
    QVERIFY(context->loaded());
    HintEngine engine(Config{m_server->baseUrl(), {}, {}}, "tok", context);
    m_server->setReply("/hint", hintReply(hintAnswer("Ask what ROI means")));
    m_server->setReply("/assist", ScriptedReply::json({{"hint", "Ask it"}}));
    m_server->setReply("/analyze", ScriptedReply::json({{"analysis", QJsonObject{}}}));

    QVERIFY(awaitTask(engine.classifyAndGenerate("It costs too much", "", Stage::objection)).has_value());
    QVERIFY(awaitTask(engine.generateOnDemand("CLIENT: hi")).has_value());
    QVERIFY(awaitTask(engine.analyze("CLIENT: hi", 60, 0.5, 2, "a", "b")).has_value());

    const QJsonObject hintBody = m_server->requests("/hint").first().json();
    QCOMPARE(hintBody.value("product_context").toString(), context->compiled());
    QVERIFY(hintBody.value("product_context").toString().startsWith("PRODUCT: Acme"));
    QCOMPARE(hintBody.value("objection_responses").toString(), context->objectionResponses().value());
    QCOMPARE(m_server->requests("/assist").first().json().value("product_context").toString(), context->compiled());
    QCOMPARE(m_server->requests("/analyze").first().json().value("product_context").toString(), context->compiled());
}

void TestHintEngine::baseWithTrailingSlashKeepsDoubleSlash()
{
    // The URL keeps the double slash and the request is sent. (Qt's HTTP stack writes the path
    // "//hint" on the wire as "/hint", so the service still finds its route.)
    QCOMPARE(ExternalService::endpoint(m_server->baseUrl() + "/", ExternalService::Path::hint)->path(),
             QString("//hint"));
    makeEngine(m_server->baseUrl() + "/");
    m_server->setReply("/hint", hintReply(hintAnswer("Ask what ROI means")));
    const HintResult result = classify();
    QCOMPARE(m_server->requests().size(), 1);
    QVERIFY(result.has_value());
}

void TestHintEngine::nonFiniteNumberSendsNothing()
{
    m_server->setReply("/hint", hintReply(hintAnswer("Ask what ROI means")));
    test::LogCapture capture;
    const auto result = awaitTask(m_engine->classifyAndGenerate("It costs too much", "", Stage::opening,
                                                                std::numeric_limits<double>::quiet_NaN()));
    QVERIFY(result.has_value());
    QVERIFY(!result->has_value());
    QCOMPARE(m_server->requests().size(), 0);
    QVERIFY(capture.lines().isEmpty());
}

void TestHintEngine::answerRules_data()
{
    QTest::addColumn<QJsonObject>("answer");
    QTest::addColumn<QString>("category"); // empty: no hint
    QTest::addColumn<QString>("text");

    QJsonObject base = hintAnswer("Ask what ROI would justify this");
    auto with = [&base](const QString& key, const QJsonValue& value) {
        QJsonObject changed = base;
        if (value.isUndefined())
            changed.remove(key);
        else
            changed.insert(key, value);
        return changed;
    };

    QTest::newRow("confidence 1 as integer passes") << with("confidence", 1) << "price"
                                                    << "Ask what ROI would justify this";
    QTest::newRow("confidence 0.65 passes") << with("confidence", 0.65) << "price"
                                            << "Ask what ROI would justify this";
    QTest::newRow("confidence 0.64 fails") << with("confidence", 0.64) << ""
                                           << "";
    QTest::newRow("confidence missing fails") << with("confidence", QJsonValue::Undefined) << ""
                                              << "";
    QTest::newRow("confidence as text fails") << with("confidence", "0.9") << ""
                                              << "";
    QTest::newRow("should_interrupt \"true\" fails") << with("should_interrupt", "true") << ""
                                                     << "";
    QTest::newRow("should_interrupt false fails") << with("should_interrupt", false) << ""
                                                  << "";
    QTest::newRow("should_interrupt missing fails") << with("should_interrupt", QJsonValue::Undefined) << ""
                                                    << "";
    QTest::newRow("intent NEUTRAL") << with("intent", "NEUTRAL") << ""
                                    << "";
    QTest::newRow("intent neutral is not NEUTRAL") << with("intent", "neutral") << "price"
                                                   << "Ask what ROI would justify this";

    QJsonObject change = with("sub_type", "change");
    change.remove("response");
    QTest::newRow("missing response: category fallback") << change << "fear_of_change"
                                                         << "Ask what staying the same costs";
    QJsonObject unmapped = with("sub_type", "weather");
    unmapped.remove("response");
    QTest::newRow("missing response, unmapped: price fallback") << unmapped << "price"
                                                                << "Ask what ROI would justify this";
    QJsonObject sellerBehaviour = with("sub_type", QJsonValue::Undefined);
    sellerBehaviour.insert("intent", "SELLER_BEHAVIOR");
    sellerBehaviour.remove("response");
    QTest::newRow("missing response, seller behaviour") << sellerBehaviour << "overtalking"
                                                        << "Pause. Ask a question.";
    QTest::newRow("response not a string: fallback") << with("response", 7) << "price"
                                                     << "Ask what ROI would justify this";
    QTest::newRow("empty response stays empty") << with("response", "") << "price"
                                                << "";
    QJsonObject buying = with("sub_type", QJsonValue::Undefined);
    buying.insert("intent", "BUYING_SIGNAL");
    buying.remove("response");
    QTest::newRow("missing response, buying signal") << buying << "buying_signal"
                                                     << "Give next step: date and time now";
    QTest::newRow("sub_type not a string counts as empty") << with("sub_type", 3) << "price"
                                                           << "Ask what ROI would justify this";
}

void TestHintEngine::answerRules()
{
    QFETCH(QJsonObject, answer);
    QFETCH(QString, category);
    QFETCH(QString, text);

    m_server->setReply("/hint", hintReply(answer));
    const HintResult result = classify();
    if (category.isEmpty()) {
        QVERIFY(!result.has_value());
    } else {
        QVERIFY(result.has_value());
        QCOMPARE(result->first, category);
        QCOMPARE(result->second, text);
    }
    // Every one of these replies had a "raw" string, so each counts as a model call.
    QCOMPARE(m_engine->totalCalls(), 1);
}

void TestHintEngine::rawParsing_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("category"); // empty: no hint
    QTest::addColumn<QString>("text");

    const QString object = R"({"confidence": 0.9, "should_interrupt": true, "intent": "OBJECTION",)"
                           R"( "sub_type": "price", "response": "**Ask** what ROI would justify this"})";
    QTest::newRow("fenced json block") << "```json\n" + object + "\n```"
                                       << "price"
                                       << "Ask what ROI would justify this";
    QTest::newRow("fence without language") << "```\n" + object + "\n```"
                                            << "price"
                                            << "Ask what ROI would justify this";
    QTest::newRow("surrounding blanks and lines") << "\n  " + object + "  \n"
                                                  << "price"
                                                  << "Ask what ROI would justify this";
    QTest::newRow("prose around the object") << "Sure! Here it is: " + object + " Hope that helps."
                                             << "price"
                                             << "Ask what ROI would justify this";
    QTest::newRow("prose with braces after") << "Answer " + object + " (see {notes})"
                                             << ""
                                             << "";
    QTest::newRow("no object") << "I cannot help with that"
                               << ""
                               << "";
    QTest::newRow("closing brace before opening") << "} nothing {"
                                                  << ""
                                                  << "";
    QTest::newRow("array") << "[" + object + "]"
                           << "price"
                           << "Ask what ROI would justify this";
    QTest::newRow("empty object") << "{}"
                                  << ""
                                  << "";
}

void TestHintEngine::rawParsing()
{
    QFETCH(QString, raw);
    QFETCH(QString, category);
    QFETCH(QString, text);

    m_server->setReply("/hint", hintReply(raw));
    const HintResult result = classify();
    if (category.isEmpty()) {
        QVERIFY(!result.has_value());
    } else {
        QVERIFY(result.has_value());
        QCOMPARE(result->first, category);
        QCOMPARE(result->second, text);
    }
}

void TestHintEngine::stripMarkdown_data()
{
    QTest::addColumn<QString>("response");
    QTest::addColumn<QString>("text");

    QTest::newRow("emphasis and code marks") << "**Ask** __who__ *decides* _now_ `today`"
                                             << "Ask who decides now today";
    QTest::newRow("leading hyphen, blank, quote; trailing quote") << "- \"Ask who signs off\""
                                                                  << "Ask who signs off";
    QTest::newRow("inner hyphen and quote stay") << "Ask a follow-up on 'scope'"
                                                 << "Ask a follow-up on 'scope";
    QTest::newRow("guillemets, heading and quote marks") << "## > «Name the client»"
                                                         << "Name the client";
    QTest::newRow("12 words cut to 8") << "one two three four five six seven eight nine ten eleven twelve"
                                       << "one two three four five six seven eight";
    QTest::newRow("9 words with double blanks cut and joined") << "one  two three four five six seven eight nine"
                                                               << "one two three four five six seven eight";
    QTest::newRow("8 words keep inner spacing") << "one  two three four five six seven   eight"
                                                << "one  two three four five six seven   eight";
    QTest::newRow("tabs do not separate words") << "one\ttwo three"
                                                << "one\ttwo three";
    QTest::newRow("only marks") << "** - **"
                                << "";
}

void TestHintEngine::stripMarkdown()
{
    QFETCH(QString, response);
    QFETCH(QString, text);

    m_server->setReply("/hint", hintReply(hintAnswer(response)));
    const HintResult result = classify();
    QVERIFY(result.has_value());
    QCOMPARE(result->second, text);
}

void TestHintEngine::costCounting_data()
{
    QTest::addColumn<QJsonValue>("cost"); // Undefined: no "cost" key
    QTest::addColumn<double>("total");
    QTest::addColumn<int>("usageCalls");

    QTest::newRow("cost present") << QJsonValue(0.0125) << 0.025 << 2;
    QTest::newRow("cost zero still reported") << QJsonValue(0.0) << 0.0 << 2;
    QTest::newRow("cost missing") << QJsonValue(QJsonValue::Undefined) << 0.0 << 0;
    QTest::newRow("cost not a number") << QJsonValue("0.5") << 0.0 << 0;
}

void TestHintEngine::costCounting()
{
    QFETCH(QJsonValue, cost);
    QFETCH(double, total);
    QFETCH(int, usageCalls);

    QJsonObject hintBody{{"raw", QString::fromUtf8(compact(hintAnswer("Ask it")))}};
    QJsonObject assistBody{{"hint", "Ask it"}};
    if (!cost.isUndefined()) {
        hintBody.insert("cost", cost);
        assistBody.insert("cost", cost);
    }
    m_server->setReply("/hint", ScriptedReply::json(hintBody));
    m_server->setReply("/assist", ScriptedReply::json(assistBody));
    QList<std::tuple<int, int, double>> usage;
    m_engine->setOnUsage([&usage](int a, int b, double c) { usage.append({a, b, c}); });

    QVERIFY(classify().has_value());
    QVERIFY(awaitTask(m_engine->generateOnDemand("CLIENT: hello")).value_or(std::nullopt).has_value());

    QCOMPARE(m_engine->totalCalls(), 2);
    QCOMPARE(m_engine->totalLLMCost(), total);
    QCOMPARE(usage.size(), usageCalls);
    for (const auto& [a, b, c] : usage) {
        QCOMPARE(a, 0);
        QCOMPARE(b, 0);
        QCOMPARE(c, cost.toDouble());
    }
}

void TestHintEngine::overlappingRepliesAreAllCounted()
{
    // Qt opens at most six connections per host, so six is as much overlap as one engine gets.
    constexpr int requests = 6;
    for (int i = 0; i < requests; ++i) {
        ScriptedReply reply = hintReply(hintAnswer("Ask it"), 0.25);
        reply.held = true;
        m_server->enqueueReply("/hint", reply);
    }
    std::vector<QCoro::Task<HintResult>> tasks;
    for (int i = 0; i < requests; ++i)
        tasks.push_back(m_engine->classifyAndGenerate("It costs too much", "", Stage::objection));
    QTRY_COMPARE(m_server->heldCount(), requests);
    m_server->releaseHeld();
    for (auto& task : tasks)
        QVERIFY(awaitTask(std::move(task)).value_or(std::nullopt).has_value());
    QCOMPARE(m_engine->totalCalls(), requests);
    QCOMPARE(m_engine->totalLLMCost(), requests * 0.25);
}

void TestHintEngine::extractFacts_data()
{
    QTest::addColumn<QString>("phrase");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QStringList>("facts");

    const QByteArray facts = R"({"facts": ["400 seats", "renewal in May"]})";
    QTest::newRow("four words send nothing") << "we have four hundred" << facts << 0 << QStringList();
    QTest::newRow("four words and extra blanks send nothing")
        << "  we  have four   hundred " << facts << 0 << QStringList();
    QTest::newRow("empty sends nothing") << "" << facts << 0 << QStringList();
    QTest::newRow("five words") << "we have four hundred seats" << facts << 1
                                << QStringList{"400 seats", "renewal in May"};
    QTest::newRow("facts not strings") << "we have four hundred seats" << QByteArray(R"({"facts": ["a", 2]})") << 1
                                       << QStringList();
    QTest::newRow("facts missing") << "we have four hundred seats" << QByteArray(R"({"other": []})") << 1
                                   << QStringList();
    QTest::newRow("facts not an array") << "we have four hundred seats" << QByteArray(R"({"facts": "a"})") << 1
                                        << QStringList();
}

void TestHintEngine::extractFacts()
{
    QFETCH(QString, phrase);
    QFETCH(QByteArray, reply);
    QFETCH(int, sent);
    QFETCH(QStringList, facts);

    m_server->setReply("/extract", ScriptedReply::text(reply));
    const auto result = awaitTask(m_engine->extractFacts(phrase));
    QVERIFY(result.has_value());
    QCOMPARE(*result, facts);
    QCOMPARE(m_server->requestCount("/extract"), sent);
    if (sent)
        QCOMPARE(m_server->requests("/extract").first().json(), (QJsonObject{{"phrase", phrase}}));
    // Fact replies are not model calls that the session pays for.
    QCOMPARE(m_engine->totalCalls(), 0);
}

void TestHintEngine::generateOnDemand_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("hint"); // "<none>": no hint
    QTest::addColumn<int>("calls");

    QTest::newRow("plain") << QByteArray(R"({"hint": "Ask who else decides"})") << "Ask who else decides" << 1;
    QTest::newRow("cleaned and cut to 8 words")
        << QByteArray(R"({"hint": "- \"**Ask**  them what a perfect fit looks like for the team\""})")
        << "Ask them what a perfect fit looks like" << 1;
    QTest::newRow("short hint joined by single blanks") << QByteArray(R"({"hint": "Ask   now"})") << "Ask now" << 1;
    QTest::newRow("empty hint counted, no hint") << QByteArray(R"({"hint": ""})") << "<none>" << 1;
    QTest::newRow("hint of marks only") << QByteArray(R"({"hint": "**\"\"**"})") << "<none>" << 1;
    QTest::newRow("hint missing counted") << QByteArray(R"({"cost": 0.1})") << "<none>" << 1;
    QTest::newRow("hint not a string") << QByteArray(R"({"hint": 3})") << "<none>" << 1;
    QTest::newRow("not an object, not counted") << QByteArray(R"(["hint"])") << "<none>" << 0;
}

void TestHintEngine::generateOnDemand()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, hint);
    QFETCH(int, calls);

    m_server->setReply("/assist", ScriptedReply::text(reply));
    const auto result = awaitTask(m_engine->generateOnDemand("MANAGER: hello\nCLIENT: we are not sure"));
    QVERIFY(result.has_value());
    QCOMPARE(result->value_or("<none>"), hint);
    QCOMPARE(m_engine->totalCalls(), calls);
    const QJsonObject body = m_server->requests("/assist").first().json();
    QCOMPARE(body.value("transcript").toString(), QString("MANAGER: hello\nCLIENT: we are not sure"));
    QVERIFY(body.value("product_context").isString());
}

void TestHintEngine::emptyTranscriptSendsNothing()
{
    m_server->setReply("/assist", ScriptedReply::json({{"hint", "Ask it"}}));
    const auto result = awaitTask(m_engine->generateOnDemand(QString()));
    QVERIFY(result.has_value());
    QVERIFY(!result->has_value());
    QCOMPARE(m_server->requests().size(), 0);
    QCOMPARE(m_engine->totalCalls(), 0);
}

void TestHintEngine::analyzeBodyAndResult()
{
    const QJsonObject analysis{{"score", 72}, {"summary", "Good call"}};
    m_server->setReply("/analyze", ScriptedReply::json({{"analysis", analysis}, {"cost", 1.0}}));
    const auto result =
        awaitTask(m_engine->analyze("MANAGER: hi", 125.5, 0.61, 3, "2026-12-06T10:00:00Z", "2026-12-06T10:02:05Z"));
    QVERIFY(result.has_value());
    QCOMPARE(result->value_or(QJsonObject()), analysis);
    // Analyses are neither counted nor costed.
    QCOMPARE(m_engine->totalCalls(), 0);
    QCOMPARE(m_engine->totalLLMCost(), 0.0);

    const QJsonObject body = m_server->requests("/analyze").first().json();
    QCOMPARE(body.value("transcript").toString(), QString("MANAGER: hi"));
    QCOMPARE(body.value("duration_sec").toDouble(), 125.5);
    QCOMPARE(body.value("talk_ratio").toDouble(), 0.61);
    QVERIFY(body.value("hint_count").isDouble());
    QCOMPARE(body.value("hint_count").toInt(), 3);
    QCOMPARE(body.value("started_at").toString(), QString("2026-12-06T10:00:00Z"));
    QCOMPARE(body.value("ended_at").toString(), QString("2026-12-06T10:02:05Z"));
    QVERIFY(body.value("product_context").isString());
}

void TestHintEngine::analyzeRejectsNonObject()
{
    m_server->setReply("/analyze", ScriptedReply::json({{"analysis", QJsonArray{1, 2}}}));
    const auto result = awaitTask(m_engine->analyze("MANAGER: hi", 1, 0.5, 0, "a", "b"));
    QVERIFY(result.has_value());
    QVERIFY(!result->has_value());
}

void TestHintEngine::destroyedEngineFinishesPendingRequests()
{
    ScriptedReply held = hintReply(hintAnswer("Ask it"));
    held.held = true;
    m_server->setReply("/hint", held);
    m_server->setReply("/extract", held);

    auto hint = m_engine->classifyAndGenerate("It costs too much", "", Stage::objection);
    auto facts = m_engine->extractFacts("we have four hundred seats");
    QTRY_COMPARE(m_server->heldCount(), 2);

    test::LogCapture capture;
    m_engine.reset();
    // Both coroutines end with an empty result instead of staying suspended for ever.
    const auto hintResult = awaitTask(std::move(hint), 1'000);
    const auto factsResult = awaitTask(std::move(facts), 1'000);
    QVERIFY(hintResult.has_value());
    QVERIFY(!hintResult->has_value());
    QVERIFY(factsResult.has_value());
    QVERIFY(factsResult->isEmpty());
    // An abort on the way out is not a service failure worth a log line.
    QVERIFY(capture.lines().isEmpty());
    m_server->releaseHeld();
}

QTEST_GUILESS_MAIN(TestHintEngine)
#include "tst_coach_hintengine.moc"
