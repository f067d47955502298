#include "HintReplies.h"
#include "coaching/Coach.h"
#include "coaching/ProductContext.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QTest>

using namespace quiro;
using namespace quiro::test;

using MaybeHint = std::optional<Hint>;

namespace {

ScriptedReply hintReply(const QString& subType, const QString& response, const QString& intent = "OBJECTION")
{
    return test::hintReply(hintAnswer(response, subType, intent));
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

    MaybeHint turn(Speaker speaker, const QString& text) { return finished(m_coach->onTurn(speaker, text)); }

    // A client turn answered at once, so that the test goes on from a committed hint.
    void showHint(const QString& subType, const QString& text)
    {
        m_server->enqueueReply("/hint", hintReply(subType, text));
        QVERIFY(turn(Speaker::client, clientLine1).has_value());
    }

    // Five earlier turns in which the seller spoke 60 words and the client 20.
    void sellerTalkedTooMuch()
    {
        for (int words : {10, 30, 5, 30, 5})
            m_coach->buffer()->add(words == 30 ? Speaker::manager : Speaker::client, fillerWords(words));
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
            Config{m_server->baseUrl(), Config::defaultHintModel, Config::defaultLanguage}, QStringLiteral("tok"),
            std::make_shared<const ProductContext>(std::nullopt), *m_clock);
        m_coach->hints()->setTimeouts({3'000, 3'000, 3'000, 3'000});
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

        const QJsonObject body = m_server->requests("/hint").first().json();
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
        QTest::newRow("price right after") << "price"
                                           << "OBJECTION" << 0.0 << false;
        QTest::newRow("price 5.9 s after") << "price"
                                           << "OBJECTION" << 5.9 << false;
        QTest::newRow("price 6 s after") << "price"
                                         << "OBJECTION" << 6.0 << true;
        QTest::newRow("buying signal right after") << ""
                                                   << "BUYING_SIGNAL" << 0.0 << false;
        QTest::newRow("buying signal 2.9 s after") << ""
                                                   << "BUYING_SIGNAL" << 2.9 << false;
        QTest::newRow("buying signal 3 s after") << ""
                                                 << "BUYING_SIGNAL" << 3.0 << true;
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

    void shownHintUpdatesCallState_data()
    {
        QTest::addColumn<QString>("subType");
        QTest::addColumn<QString>("intent");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("nextStepAgreed");
        QTest::newRow("buying signal") << ""
                                       << "BUYING_SIGNAL"
                                       << "buying_signal"
                                       << "🎯 Buying Signal" << true;
        QTest::newRow("closing intent") << ""
                                        << "CLOSING"
                                        << "buying_signal"
                                        << "🎯 Buying Signal" << true;
        QTest::newRow("price") << "price"
                               << "OBJECTION"
                               << "price"
                               << "💰 Price" << false;
    }

    void shownHintUpdatesCallState()
    {
        QFETCH(QString, subType);
        QFETCH(QString, intent);
        QFETCH(QString, category);
        QFETCH(QString, label);
        QFETCH(bool, nextStepAgreed);

        m_server->setReply("/hint", hintReply(subType, "Lock the pilot start now", intent));
        QCOMPARE(turn(Speaker::client, clientLine1),
                 (MaybeHint(Hint{"Lock the pilot start now", label, category, "opening"})));
        const CallStateSnapshot state = m_coach->buffer()->callStateSnapshot();
        QCOMPARE(state.nextStepAgreed, nextStepAgreed);
        QCOMPARE(state.objectionsHandled, QStringList{category});
    }

    void sellerRoad_data()
    {
        QTest::addColumn<QList<int>>("earlierWords"); // alternating client, seller, client ... word counts
        QTest::addColumn<int>("sellerWords");         // the seller turn under test
        QTest::addColumn<QString>("sellerExtra");     // appended to the seller turn (stage keywords)
        QTest::addColumn<QString>("stage");           // expected hint stage, empty for no hint

        QTest::newRow("5 turns, 0.80") << QList<int>{10, 30, 10, 30} << 20 << ""
                                       << "";
        // Client 10+5+5 = 20, seller 30+30+20 = 80.
        QTest::newRow("6 turns, 0.80, discovery") << QList<int>{10, 30, 5, 30, 5} << 20 << ""
                                                  << "discovery";
        // Client 10+9+9 = 28, seller 30+30+12 = 72: a share of exactly 0.72 is not above it.
        QTest::newRow("6 turns, 0.72") << QList<int>{10, 30, 9, 30, 9} << 12 << ""
                                       << "";
        QTest::newRow("6 turns, 0.73") << QList<int>{10, 30, 9, 30, 9} << 13 << ""
                                       << "discovery";
        // The presentation stage gives the category no bonus: score 5.
        QTest::newRow("6 turns, 0.80, presentation") << QList<int>{10, 30, 5, 30, 5} << 18 << " our product"
                                                     << "";
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

    void sellerHintRepeatsOnlyAfterQuietSpell_data()
    {
        QTest::addColumn<double>("secondsLater");
        QTest::addColumn<bool>("shown");
        QTest::newRow("29.9 s") << 29.9 << false;
        QTest::newRow("30 s") << 30.0 << true;
    }

    void sellerHintRepeatsOnlyAfterQuietSpell()
    {
        QFETCH(double, secondsLater);
        QFETCH(bool, shown);
        sellerTalkedTooMuch();
        QVERIFY(turn(Speaker::manager, fillerWords(20)).has_value());
        m_clock->advance(secondsLater);
        QCOMPARE(turn(Speaker::manager, fillerWords(20)).has_value(), shown);
    }

    void sellerHintTextIsNotRemembered()
    {
        sellerTalkedTooMuch();
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

    void destroyedCoachEndsItsTurnsAndTasks()
    {
        m_server->setReply("/hint", held(hintReply("price", "Ask what ROI would justify this")));
        m_server->setReply("/extract", held(ScriptedReply::json({{"facts", QJsonArray{"a fact"}}})));
        m_coach->onKeywordDetected("expensive");
        QTRY_COMPARE(m_server->heldCount(), 1);
        m_clock->advance(1.0);
        auto pending = m_coach->onTurn(Speaker::client, clientLine1);
        QTRY_COMPARE(m_server->requestCount("/extract"), 1);
        const std::shared_ptr<ConversationBuffer> buffer = m_coach->buffer();

        m_coach.reset();
        // A turn finishes when its coach goes away.
        QCOMPARE(finished(std::move(pending), 1'000), MaybeHint());
        // Late replies find nobody waiting and change nothing.
        m_server->releaseHeld();
        QTest::qWait(50);
        QVERIFY(buffer->ledger().isEmpty());
        QCOMPARE(buffer->turnCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCoach)
#include "tst_coach.moc"
