#include "coaching/Coach.h"
#include "coaching/HintEngine.h"
#include "coaching/ProductContext.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "support/AwaitTask.h"
#include "support/ScriptedHttpServer.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <limits>

using namespace quiro;
using namespace quiro::test;

using MaybeHint = std::optional<Hint>;
using HintResult = std::optional<HintEngine::CategoryAndText>;
Q_DECLARE_METATYPE(HintResult)

namespace {

// The model's answer that the service's "/hint" passes on as text in "raw".
QJsonObject hintAnswer(const QString& response, const QString& subType = QStringLiteral("price"),
                       const QString& intent = QStringLiteral("OBJECTION"))
{
    return {{"confidence", 0.9},
            {"should_interrupt", true},
            {"intent", intent},
            {"sub_type", subType},
            {"response", response}};
}

QString compactText(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

ScriptedReply hintReply(const QString& subType, const QString& response, const QString& intent = "OBJECTION",
                        std::optional<double> cost = std::nullopt)
{
    QJsonObject body{{"raw", compactText(hintAnswer(response, subType, intent))}};
    if (cost)
        body.insert("cost", *cost);
    return ScriptedReply::json(body);
}

// The reply waits for releaseHeld(), so a test can order overlapping replies.
ScriptedReply held(ScriptedReply reply)
{
    reply.held = true;
    return reply;
}

// The task's result; a task that does not finish in time fails the test and gives an empty result.
template <typename T> T finished(QCoro::Task<T>&& task, int timeoutMs = 5000)
{
    std::optional<T> result = awaitTask(std::move(task), timeoutMs);
    if (!result)
        QTest::qFail("the task did not finish in time", __FILE__, __LINE__);
    return result.value_or(T());
}

QString fillerWords(int count) // no stage keyword among them
{
    return QStringList(count, QStringLiteral("okay")).join(QLatin1Char(' '));
}

// Client utterances long enough for a hint request, free of stage keywords.
const QString clientLine1 = QStringLiteral("we looked at three tools last quarter");
const QString clientLine2 = QStringLiteral("our team is quite small right now");
const QString clientLine3 = QStringLiteral("the board meets again next month");

} // namespace

class TestCoach : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempHome> m_home;
    std::unique_ptr<ScriptedHttpServer> m_server;
    std::unique_ptr<ManualClock> m_clock;
    std::unique_ptr<Coach> m_coach;
    // The coach's own engine.
    HintEngine* m_engine = nullptr;

    HintResult classify()
    {
        return finished(m_engine->classifyAndGenerate(QStringLiteral("That is more than we budgeted for"),
                                                      QStringLiteral("RECENT TURNS (last 4):"), Stage::objection, 0.6,
                                                      std::nullopt));
    }

    MaybeHint turn(Speaker speaker, const QString& text) { return finished(m_coach->onTurn(speaker, text)); }

    // A client turn answered at once, so that the test goes on from a committed hint.
    void showHint(const QString& subType, const QString& text)
    {
        m_server->enqueueReply("/hint", hintReply(subType, text));
        QVERIFY(turn(Speaker::client, clientLine1).has_value());
    }

private slots:
    void init()
    {
        m_home = std::make_unique<TempHome>();
        m_server = std::make_unique<ScriptedHttpServer>();
        QVERIFY(m_server->start());
        m_server->setReply("/extract", ScriptedReply::json({{"facts", QJsonArray()}}));
        m_clock = std::make_unique<ManualClock>();
        m_coach = std::make_unique<Coach>(
            Config{m_server->baseUrl(), Config::defaultHintModel, Config::defaultLanguage}, QStringLiteral("tok-123"),
            std::make_shared<const ProductContext>(std::nullopt), *m_clock);
        m_engine = m_coach->hints();
        m_engine->setTimeouts({3'000, 3'000, 3'000, 3'000});
    }

    void cleanup()
    {
        m_coach.reset();
        m_server.reset();
        m_clock.reset();
        m_home.reset();
    }

    void shortClientUtteranceIsStoredWithoutRequest()
    {
        m_server->setReply("/hint", hintReply("price", "Ask what ROI would justify this"));
        QCOMPARE(turn(Speaker::client, "yes   that works"), MaybeHint());
        QCOMPARE(m_coach->buffer()->fullTranscript(), QString("CLIENT: yes   that works"));
        QVERIFY(m_server->requests().isEmpty());
    }

    void clientTurnSoonAfterHintSendsNothing_data()
    {
        QTest::addColumn<double>("secondsAfter");
        QTest::addColumn<int>("hintRequests");
        QTest::newRow("4.99 s: nothing sent") << 4.99 << 1;
        QTest::newRow("5 s: sent") << 5.0 << 2;
    }

    void clientTurnSoonAfterHintSendsNothing()
    {
        QFETCH(double, secondsAfter);
        QFETCH(int, hintRequests);

        showHint("price", "Ask what ROI would justify this");
        m_clock->advance(secondsAfter);
        m_server->setReply("/hint", hintReply("trust", "Give a specific case study now"));
        // Within the 6 s cooldown no hint can show, whether or not the request went out.
        QCOMPARE(turn(Speaker::client, clientLine2), MaybeHint());
        QCOMPARE(m_server->requestCount("/hint"), hintRequests);
        QCOMPARE(m_coach->buffer()->turnCount(), 2);
    }

    void hintRequestCarriesTheConversation()
    {
        m_coach->buffer()->add(Speaker::manager, "how big is the team");
        m_server->setReply("/hint", hintReply("price", "Ask what ROI would justify this"));
        QVERIFY(turn(Speaker::client, "we have a budget of ten thousand").has_value());

        const RecordedRequest request = m_server->requests("/hint").first();
        QCOMPARE(request.header("Authorization"), QByteArray("Bearer tok-123"));
        const QJsonObject body = request.json();
        QCOMPARE(body.value("phrase").toString(), QString("we have a budget of ten thousand"));
        QCOMPARE(body.value("context").toString(), QString("RECENT TURNS (last 4):\n[SELLER]: how big is the team\n"
                                                           "[CLIENT]: we have a budget of ten thousand"));
        QCOMPARE(body.value("stage").toString(), QString("opening"));
        QCOMPARE(body.value("seller_talk_ratio").toDouble(), 5.0 / 12.0);
        // The turn is in the buffer before the request is built, so its milestones are sent too.
        QCOMPARE(body.value("call_state").toObject().value("budget_discussed"), QJsonValue(true));
        QCOMPARE(m_server->requests("/extract").first().json().value("phrase").toString(),
                 QString("we have a budget of ten thousand"));
    }

    void overlappingRepliesMeetTheCooldown_data()
    {
        QTest::addColumn<QString>("secondSubType");
        QTest::addColumn<QString>("secondIntent");
        QTest::addColumn<double>("secondsAfterFirst"); // between the first commit and the second reply
        QTest::addColumn<bool>("secondShown");
        row("price 5.9 s after", "price", "OBJECTION", 5.9, false);
        row("price 6 s after", "price", "OBJECTION", 6.0, true);
        row("buying signal 2.9 s after", "", "BUYING_SIGNAL", 2.9, false);
        row("buying signal 3 s after", "", "BUYING_SIGNAL", 3.0, true);
    }

    void overlappingRepliesMeetTheCooldown()
    {
        QFETCH(QString, secondSubType);
        QFETCH(QString, secondIntent);
        QFETCH(double, secondsAfterFirst);
        QFETCH(bool, secondShown);

        m_server->enqueueReply("/hint", held(hintReply("trust", "Give a specific case study now")));
        m_server->enqueueReply("/hint", held(hintReply(secondSubType, "Propose a date for the pilot", secondIntent)));

        // Two client utterances one second apart; both requests are out before either reply is back.
        auto first = m_coach->onTurn(Speaker::client, clientLine1);
        QTRY_COMPARE(m_server->heldCount(), 1);
        m_clock->advance(1.0);
        auto second = m_coach->onTurn(Speaker::client, clientLine2);
        QTRY_COMPARE(m_server->heldCount(), 2);

        QCOMPARE(m_server->releaseHeld(1), 1);
        QCOMPARE(finished(std::move(first)).value_or(Hint()).text, QString("Give a specific case study now"));
        m_clock->advance(secondsAfterFirst);
        QCOMPARE(m_server->releaseHeld(1), 1);
        const MaybeHint secondHint = finished(std::move(second));
        QCOMPARE(secondHint.has_value(), secondShown);
        if (secondShown)
            QCOMPARE(secondHint->text, QString("Propose a date for the pilot"));
    }

    void duplicateTextIsRefusedWithoutMovingTheClock()
    {
        showHint("price", "Ask what ROI would justify this");
        m_clock->advance(31.0);
        m_server->enqueueReply("/hint", hintReply("trust", "ASK WHAT ROI WOULD JUSTIFY THIS"));
        QCOMPARE(turn(Speaker::client, clientLine2), MaybeHint());
        QCOMPARE(m_server->requestCount("/hint"), 2);

        // Had the refused duplicate been committed, this one would fall inside its cooldown.
        m_server->enqueueReply("/hint", hintReply("price", "Ask which budget line covers this"));
        QCOMPARE(turn(Speaker::client, clientLine3).value_or(Hint()).text,
                 QString("Ask which budget line covers this"));
    }

    void shownHintUpdatesCallState()
    {
        m_server->enqueueReply("/hint", hintReply("price", "Ask what ROI would justify this"));
        QCOMPARE(turn(Speaker::client, clientLine1),
                 (MaybeHint(Hint{"Ask what ROI would justify this", "💰 Price", "price", "opening"})));
        QVERIFY(!m_coach->buffer()->callStateSnapshot().nextStepAgreed);

        // Only a buying signal agrees a next step.
        m_clock->advance(31.0);
        m_server->enqueueReply("/hint", hintReply("", "Lock the pilot start now", "BUYING_SIGNAL"));
        QCOMPARE(turn(Speaker::client, clientLine2).value_or(Hint()).category, QString("buying_signal"));
        const CallStateSnapshot state = m_coach->buffer()->callStateSnapshot();
        QVERIFY(state.nextStepAgreed);
        QCOMPARE(state.objectionsHandled, (QStringList{"price", "buying_signal"}));
    }

    void sellerRoad_data()
    {
        QTest::addColumn<QList<int>>("earlierWords"); // alternating client, seller, client ... word counts
        QTest::addColumn<int>("sellerWords");         // the seller turn under test
        QTest::addColumn<QString>("sellerExtra");     // appended to the seller turn (stage keywords)
        QTest::addColumn<QString>("stage");           // expected hint stage, empty for no hint

        row("5 turns, 0.80", QList<int>{10, 30, 10, 30}, 20, "", "");
        // Client 10+5+5 = 20, seller 30+30+20 = 80.
        row("6 turns, 0.80, discovery", QList<int>{10, 30, 5, 30, 5}, 20, "", "discovery");
        // Client 10+9+9 = 28, seller 30+30+12 = 72: a share of exactly 0.72 is not above it.
        row("6 turns, 0.72", QList<int>{10, 30, 9, 30, 9}, 12, "", "");
        row("6 turns, 0.73", QList<int>{10, 30, 9, 30, 9}, 13, "", "discovery");
        // The presentation stage gives the category no bonus: score 5.
        row("6 turns, 0.80, presentation", QList<int>{10, 30, 5, 30, 5}, 18, " our product", "");
    }

    void sellerRoad()
    {
        QFETCH(QList<int>, earlierWords);
        QFETCH(int, sellerWords);
        QFETCH(QString, sellerExtra);
        QFETCH(QString, stage);

        for (qsizetype i = 0; i < earlierWords.size(); ++i)
            m_coach->buffer()->add(i % 2 == 0 ? Speaker::client : Speaker::manager, fillerWords(earlierWords.at(i)));
        const MaybeHint expected =
            stage.isEmpty() ? MaybeHint() : Hint{"Pause. Ask a question.", "🔇 Talk Less", "manager_talking", stage};
        QCOMPARE(turn(Speaker::manager, fillerWords(sellerWords) + sellerExtra), expected);
        QVERIFY(m_server->requests().isEmpty());
    }

    void sellerHintRepeatsAfterQuietSpellAndItsTextIsNotRemembered()
    {
        for (int words : {10, 30, 5, 30, 5})
            m_coach->buffer()->add(words == 30 ? Speaker::manager : Speaker::client, fillerWords(words));
        QVERIFY(turn(Speaker::manager, fillerWords(20)).has_value());
        m_clock->advance(29.9);
        QCOMPARE(turn(Speaker::manager, fillerWords(20)), MaybeHint());
        m_clock->advance(0.1);
        QVERIFY(turn(Speaker::manager, fillerWords(20)).has_value());
        m_clock->advance(31.0);
        m_server->setReply("/hint", hintReply("need", "Pause. Ask a question."));
        QCOMPARE(turn(Speaker::client, clientLine1).value_or(Hint()).category, QString("need"));
    }

    void prefetchAnswersNextTurn_data()
    {
        QTest::addColumn<bool>("prefetchHasHint");
        QTest::addColumn<int>("hintRequests");
        QTest::addColumn<QString>("text");
        QTest::newRow("finished prefetch with a hint") << true << 1 << "Ask what the old tool cost";
        QTest::newRow("prefetch without a hint") << false << 2 << "Ask what a perfect fit looks like";
    }

    void prefetchAnswersNextTurn()
    {
        QFETCH(bool, prefetchHasHint);
        QFETCH(int, hintRequests);
        QFETCH(QString, text);

        m_server->enqueueReply("/hint", prefetchHasHint ? hintReply("price", "Ask what the old tool cost")
                                                        : hintReply("", "", "NEUTRAL"));
        m_server->enqueueReply("/hint", hintReply("need", "Ask what a perfect fit looks like"));
        m_coach->onKeywordDetected("expensive");
        QTRY_COMPARE(m_server->requestCount("/hint"), 1);
        QCOMPARE(m_server->requests("/hint").first().json().value("phrase").toString(), QString("expensive"));

        QCOMPARE(turn(Speaker::client, clientLine1).value_or(Hint()).text, text);
        QCOMPARE(m_server->requestCount("/hint"), hintRequests);

        // The slot is consumed: the next turn asks again.
        m_clock->advance(31.0);
        m_server->enqueueReply("/hint", hintReply("authority", "Ask who else owns this decision"));
        QVERIFY(turn(Speaker::client, clientLine2).has_value());
        QCOMPARE(m_server->requestCount("/hint"), hintRequests + 1);
    }

    void earlyTurnDropsPrefetch()
    {
        showHint("price", "Ask what ROI would justify this");
        m_clock->advance(4.0);
        m_server->enqueueReply("/hint", hintReply("trust", "Prefetched case study"));
        m_coach->onKeywordDetected("not sure");
        QTRY_COMPARE(m_server->requestCount("/hint"), 2);
        QCOMPARE(turn(Speaker::client, clientLine2), MaybeHint());
        QCOMPARE(m_server->requestCount("/hint"), 2);

        // The prefetched answer is gone: the next qualifying turn makes a live request.
        m_clock->advance(30.0);
        m_server->enqueueReply("/hint", hintReply("need", "Ask what a perfect fit looks like"));
        QCOMPARE(turn(Speaker::client, clientLine3).value_or(Hint()).text,
                 QString("Ask what a perfect fit looks like"));
        QCOMPARE(m_server->requestCount("/hint"), 3);
    }

    void secondKeywordKeepsRunningPrefetch()
    {
        m_server->enqueueReply("/hint", held(hintReply("price", "Ask what the old tool cost")));
        m_coach->onKeywordDetected("expensive");
        m_coach->onKeywordDetected("contract");
        QTRY_COMPARE(m_server->heldCount(), 1);

        auto pending = m_coach->onTurn(Speaker::client, clientLine1);
        m_server->releaseHeld();
        QCOMPARE(finished(std::move(pending)).value_or(Hint()).text, QString("Ask what the old tool cost"));
        QCOMPARE(m_server->requestCount("/hint"), 1);
    }

    void factsArriveBesideTheHint()
    {
        m_server->setReply(
            "/extract", held(ScriptedReply::json({{"facts", QJsonArray{"three tools evaluated", "  last quarter "}}})));
        m_server->setReply("/hint", hintReply("competitor", "Ask what they value most in comparison"));

        // The hint does not wait for the facts.
        QCOMPARE(turn(Speaker::client, clientLine1).value_or(Hint()).category, QString("competition"));
        QCOMPARE(m_server->heldCount(), 1);
        QVERIFY(m_coach->buffer()->ledger().isEmpty());

        m_server->releaseHeld();
        QTRY_COMPARE(m_coach->buffer()->ledger(), (QStringList{"three tools evaluated", "last quarter"}));
    }

    void destroyedCoachEndsItsTurnsAndRequests()
    {
        m_server->setReply("/hint", held(hintReply("price", "Ask what ROI would justify this")));
        m_server->setReply("/extract", held(ScriptedReply::json({{"facts", QJsonArray{"a fact"}}})));
        m_coach->onKeywordDetected("expensive");
        QTRY_COMPARE(m_server->heldCount(), 1);
        m_clock->advance(1.0);
        auto pending = m_coach->onTurn(Speaker::client, clientLine1); // waits for the prefetch, asks for facts
        auto hint = m_engine->classifyAndGenerate("It costs too much", "", Stage::objection);
        auto facts = m_engine->extractFacts("we have four hundred seats");
        QTRY_COMPARE(m_server->heldCount(), 4);
        const std::shared_ptr<ConversationBuffer> buffer = m_coach->buffer();

        LogCapture capture;
        m_coach.reset();
        // Every turn and request ends with an empty result instead of staying suspended for ever.
        QCOMPARE(finished(std::move(pending), 1'000), MaybeHint());
        QCOMPARE(finished(std::move(hint), 1'000), HintResult());
        QCOMPARE(finished(std::move(facts), 1'000), QStringList());
        // An abort on the way out is not a service failure worth a log line.
        QVERIFY(capture.lines().isEmpty());
        // Late replies find nobody waiting and change nothing.
        m_server->releaseHeld();
        QTest::qWait(50);
        QVERIFY(buffer->ledger().isEmpty());
        QCOMPARE(buffer->turnCount(), 1);
    }

    void statusAndBody_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("hint");
        QTest::addColumn<QStringList>("log");

        const QByteArray good = hintReply("price", "Ask what ROI means").body;
        QTest::newRow("200 object") << 200 << good << true << QStringList();
        QTest::newRow("201 is not success") << 201 << good << false << QStringList{"[HintEngine] /hint → HTTP 201"};
        QTest::newRow("invalid JSON") << 200 << QByteArray("{\"raw\": ") << false << QStringList();
    }

    void statusAndBody()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, hint);
        QFETCH(QStringList, log);

        m_server->setReply("/hint", ScriptedReply::text(body, status));
        LogCapture capture;
        QCOMPARE(classify().has_value(), hint);
        QCOMPARE(capture.lines(), log);
        QCOMPARE(m_server->requestCount("/hint"), 1);
        // Only a reply object with a "raw" string counts as a model call.
        QCOMPARE(m_engine->totalCalls(), hint ? 1 : 0);
    }

    void eachEndpointHasItsOwnTimeout_data()
    {
        QTest::addColumn<QString>("path");
        for (const char* path : {"/hint", "/extract", "/assist", "/analyze"})
            QTest::newRow(path) << QString(path);
    }

    void eachEndpointHasItsOwnTimeout()
    {
        QFETCH(QString, path);

        // Only the endpoint under test has a time-out shorter than the replies take.
        const auto timeoutMs = [&path](const char* endpoint) { return path == endpoint ? 150 : 5'000; };
        m_engine->setTimeouts({timeoutMs("/hint"), timeoutMs("/extract"), timeoutMs("/assist"), timeoutMs("/analyze")});
        ScriptedReply reply = ScriptedReply::json({{"raw", compactText(hintAnswer("Ask it"))},
                                                   {"facts", QJsonArray{"a fact"}},
                                                   {"hint", "Ask it"},
                                                   {"analysis", QJsonObject{{"score", 1}}}});
        reply.delayMs = 600;
        for (const char* endpoint : {"/hint", "/extract", "/assist", "/analyze"})
            m_server->setReply(endpoint, reply);

        LogCapture capture;
        auto hint = m_engine->classifyAndGenerate("It costs too much", "", Stage::objection);
        auto facts = m_engine->extractFacts("we have four hundred seats");
        auto assist = m_engine->generateOnDemand("CLIENT: hi");
        auto analysis = m_engine->analyze("CLIENT: hi", 1, 0.5, 0, "a", "b");
        // A late reply must not count: the time-out ends the request.
        QCOMPARE(finished(std::move(hint)).has_value(), path != "/hint");
        QCOMPARE(!finished(std::move(facts)).isEmpty(), path != "/extract");
        QCOMPARE(finished(std::move(assist)).has_value(), path != "/assist");
        QCOMPARE(finished(std::move(analysis)).has_value(), path != "/analyze");
        // The one log line of the failed request.
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY2(capture.lines().first().startsWith("[HintEngine] " + path + " error: "),
                 qPrintable(capture.lines()[0]));
        QCOMPARE(m_engine->totalCalls(), int(path != "/hint") + int(path != "/assist"));
    }

    void productContextAndObjectionResponsesWhenLoaded()
    {
        writeFile(m_home->file(".quiroai/profile.json"), R"({"product_name": "Acme", "value_prop": "Fast"})");
        const QString knowledge = m_home->file("product.json");
        writeFile(knowledge, R"({"objection_responses": {"price": {"phrase": "Worth it"}}})");
        auto context = std::make_shared<const ProductContext>(knowledge);
        QVERIFY(context->compiled().startsWith("PRODUCT: Acme"));
        HintEngine engine(Config{m_server->baseUrl(), {}, {}}, "tok", context);
        m_server->setReply("/hint", hintReply("price", "Ask what ROI means"));
        m_server->setReply("/assist", ScriptedReply::json({{"hint", "Ask it"}}));
        m_server->setReply("/analyze", ScriptedReply::json({{"analysis", QJsonObject{}}}));

        QVERIFY(finished(engine.classifyAndGenerate("It costs too much", "", Stage::objection)));
        QVERIFY(finished(engine.generateOnDemand("CLIENT: hi")));
        QVERIFY(finished(engine.analyze("CLIENT: hi", 60, 0.5, 2, "a", "b")));

        const QJsonObject hintBody = m_server->requests("/hint").first().json();
        QCOMPARE(hintBody.value("objection_responses").toString(), context->objectionResponses().value());
        for (const char* path : {"/hint", "/assist", "/analyze"})
            QCOMPARE(m_server->requests(path).first().json().value("product_context").toString(), context->compiled());
    }

    void nothingToSendSendsNothing()
    {
        m_server->setReply("/hint", hintReply("price", "Ask what ROI means"));
        m_server->setReply("/assist", ScriptedReply::json({{"hint", "Ask it"}}));
        LogCapture capture;
        QCOMPARE(finished(m_engine->classifyAndGenerate("It costs too much", "", Stage::opening,
                                                        std::numeric_limits<double>::quiet_NaN())),
                 HintResult());
        QCOMPARE(finished(m_engine->generateOnDemand(QString())), std::optional<QString>());
        QCOMPARE(m_server->requests().size(), 0);
        QCOMPARE(m_engine->totalCalls(), 0);
        QVERIFY(capture.lines().isEmpty());
    }

    // Everything between the model's "raw" text and the hint: lenient parsing, the confidence and
    // interrupt gates, the category and its fallback text, the markdown strip and the eight-word cut.
    void answerRules_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<HintResult>("expected");

        const QString roi = QStringLiteral("Ask what ROI would justify this");
        const HintResult none;
        const HintResult asked({"price", roi});
        const auto price = [](const char* text) { return HintResult({"price", QString::fromUtf8(text)}); };
        const QJsonObject base = hintAnswer(roi);
        const auto with = [&base](std::initializer_list<std::pair<const char*, QJsonValue>> changes) {
            QJsonObject changed = base;
            for (const auto& [key, value] : changes) {
                if (value.isUndefined())
                    changed.remove(key);
                else
                    changed.insert(key, value);
            }
            return compactText(changed);
        };
        const QJsonValue absent(QJsonValue::Undefined);

        row("confidence 1 as integer passes", with({{"confidence", 1}}), asked);
        row("confidence 0.65 passes", with({{"confidence", 0.65}}), asked);
        row("confidence 0.64 fails", with({{"confidence", 0.64}}), none);
        row("confidence missing fails", with({{"confidence", absent}}), none);
        row("should_interrupt false fails", with({{"should_interrupt", false}}), none);
        row("intent NEUTRAL", with({{"intent", "NEUTRAL"}}), none);
        row("missing response: category fallback", with({{"sub_type", "change"}, {"response", absent}}),
            HintResult({"fear_of_change", "Ask what staying the same costs"}));
        row("response not a string: fallback", with({{"response", 7}}), asked);
        row("empty response stays empty", with({{"response", ""}}), price(""));

        const QString object = with({{"response", "**Ask** what ROI would justify this"}});
        row("fenced json block", "```json\n" + object + "\n```", asked);
        row("prose around the object", "Sure! Here it is: " + object + " Hope that helps.", asked);
        row("prose with braces after", "Answer " + object + " (see {notes})", none);
        row("no object", "I cannot help with that", none);
        row("array", "[" + object + "]", asked);

        const auto response = [&with](const char* text) { return with({{"response", QString::fromUtf8(text)}}); };
        row("emphasis and code marks", response("**Ask** __who__ *decides* _now_ `today`"),
            price("Ask who decides now today"));
        row("leading hyphen, blank, quote; trailing quote", response("- \"Ask who signs off\""),
            price("Ask who signs off"));
        row("inner hyphen and quote stay", response("Ask a follow-up on 'scope'"), price("Ask a follow-up on 'scope"));
        row("guillemets, heading and quote marks", response("## > «Name the client»"), price("Name the client"));
        row("9 words with double blanks cut and joined", response("one  two three four five six seven eight nine"),
            price("one two three four five six seven eight"));
        row("8 words keep inner spacing", response("one  two three four five six seven   eight"),
            price("one  two three four five six seven   eight"));
    }

    void answerRules()
    {
        QFETCH(QString, raw);
        QFETCH(HintResult, expected);
        m_server->setReply("/hint", ScriptedReply::json({{"raw", raw}}));
        QCOMPARE(classify(), expected);
        // Every one of these replies had a "raw" string, so each counts as a model call.
        QCOMPARE(m_engine->totalCalls(), 1);
    }

    void costCounting_data()
    {
        QTest::addColumn<QJsonValue>("cost"); // Undefined: no "cost" key
        QTest::addColumn<double>("total");
        QTest::addColumn<int>("usageCalls");
        QTest::newRow("cost present") << QJsonValue(0.0125) << 0.025 << 2;
        QTest::newRow("cost zero still reported") << QJsonValue(0.0) << 0.0 << 2;
        QTest::newRow("cost missing") << QJsonValue(QJsonValue::Undefined) << 0.0 << 0;
    }

    void costCounting()
    {
        QFETCH(QJsonValue, cost);
        QFETCH(double, total);
        QFETCH(int, usageCalls);

        QJsonObject hintBody{{"raw", compactText(hintAnswer("Ask it"))}};
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
        QVERIFY(finished(m_engine->generateOnDemand("CLIENT: hello")).has_value());

        QCOMPARE(m_engine->totalCalls(), 2);
        QCOMPARE(m_engine->totalLLMCost(), total);
        QCOMPARE(usage, (QList<std::tuple<int, int, double>>(usageCalls, {0, 0, cost.toDouble()})));
    }

    void overlappingRepliesAreAllCounted()
    {
        // Qt opens at most six connections per host, so six is as much overlap as one engine gets.
        constexpr int requests = 6;
        std::vector<QCoro::Task<HintResult>> tasks;
        for (int i = 0; i < requests; ++i) {
            m_server->enqueueReply("/hint", held(hintReply("price", "Ask it", "OBJECTION", 0.25)));
            tasks.push_back(m_engine->classifyAndGenerate("It costs too much", "", Stage::objection));
        }
        QTRY_COMPARE(m_server->heldCount(), requests);
        m_server->releaseHeld();
        for (auto& task : tasks)
            QVERIFY(finished(std::move(task)).has_value());
        QCOMPARE(m_engine->totalCalls(), requests);
        QCOMPARE(m_engine->totalLLMCost(), requests * 0.25);
    }

    void extractFacts_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("facts"); // none sent when the phrase has fewer than five words

        const QString five = QStringLiteral("we have four hundred seats");
        const QByteArray facts = R"({"facts": ["400 seats", "renewal in May"]})";
        QTest::newRow("four words send nothing") << "we have four hundred" << facts << QStringList();
        QTest::newRow("five words") << five << facts << QStringList{"400 seats", "renewal in May"};
        QTest::newRow("facts not strings") << five << QByteArray(R"({"facts": ["a", 2]})") << QStringList();
    }

    void extractFacts()
    {
        QFETCH(QString, phrase);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, facts);

        m_server->setReply("/extract", ScriptedReply::text(reply));
        QCOMPARE(finished(m_engine->extractFacts(phrase)), facts);
        const bool sent = phrase == QStringLiteral("we have four hundred seats");
        QCOMPARE(m_server->requestCount("/extract"), int(sent));
        if (sent)
            QCOMPARE(m_server->requests("/extract").first().json(), (QJsonObject{{"phrase", phrase}}));
        // Fact replies are not model calls that the session pays for.
        QCOMPARE(m_engine->totalCalls(), 0);
    }

    void generateOnDemand_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("hint"); // "<none>": no hint
        QTest::addColumn<int>("calls");

        const auto hint = [](const QJsonValue& value) { return QJsonDocument(QJsonObject{{"hint", value}}).toJson(); };
        QTest::newRow("cleaned and cut to 8 words")
            << hint("- \"**Ask**  them what a perfect fit looks like for the team\"")
            << "Ask them what a perfect fit looks like" << 1;
        QTest::newRow("empty hint counted, no hint") << hint("") << "<none>" << 1;
        QTest::newRow("not an object, not counted") << QByteArray(R"(["hint"])") << "<none>" << 0;
    }

    void generateOnDemand()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, hint);
        QFETCH(int, calls);

        m_server->setReply("/assist", ScriptedReply::text(reply));
        const QString transcript = QStringLiteral("MANAGER: hello\nCLIENT: we are not sure");
        QCOMPARE(finished(m_engine->generateOnDemand(transcript)).value_or("<none>"), hint);
        QCOMPARE(m_engine->totalCalls(), calls);
        QCOMPARE(m_server->requests("/assist").first().json(),
                 (QJsonObject{{"transcript", transcript}, {"product_context", ""}}));
    }

    void analyze()
    {
        const QJsonObject analysis{{"score", 72}, {"summary", "Good call"}};
        m_server->enqueueReply("/analyze", ScriptedReply::json({{"analysis", analysis}, {"cost", 1.0}}));
        m_server->enqueueReply("/analyze", ScriptedReply::json({{"analysis", QJsonArray{1, 2}}}));
        QCOMPARE(
            finished(m_engine->analyze("MANAGER: hi", 125.5, 0.61, 3, "2026-12-06T10:00:00Z", "2026-12-06T10:02:05Z")),
            std::optional<QJsonObject>(analysis));
        // An analysis that is not an object is no analysis.
        QCOMPARE(finished(m_engine->analyze("MANAGER: hi", 1, 0.5, 0, "a", "b")), std::optional<QJsonObject>());
        // Analyses are neither counted nor costed.
        QCOMPARE(m_engine->totalCalls(), 0);
        QCOMPARE(m_engine->totalLLMCost(), 0.0);

        const QJsonObject body = m_server->requests("/analyze").first().json();
        QCOMPARE(body, (QJsonObject{{"transcript", "MANAGER: hi"},
                                    {"duration_sec", 125.5},
                                    {"talk_ratio", 0.61},
                                    {"hint_count", 3},
                                    {"started_at", "2026-12-06T10:00:00Z"},
                                    {"ended_at", "2026-12-06T10:02:05Z"},
                                    {"product_context", ""}}));
    }
};

QTEST_GUILESS_MAIN(TestCoach)
#include "tst_coach.moc"
