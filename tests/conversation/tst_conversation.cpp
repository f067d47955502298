#include "conversation/CallState.h"
#include "conversation/ConversationBuffer.h"
#include "conversation/Speaker.h"
#include "conversation/Stage.h"
#include "conversation/WordCount.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace quiro;
using test::row;

Q_DECLARE_METATYPE(quiro::Stage)

class TestConversation : public QObject {
    Q_OBJECT

private slots:
    void stageDetection_data()
    {
        QTest::addColumn<QString>("history");
        QTest::addColumn<int>("turnCount");
        QTest::addColumn<Stage>("expected");
        row("no keyword, turn 2", "MANAGER: hello\nCLIENT: hi", 2, Stage::opening);
        row("no keyword, turn 3", "MANAGER: hello\nCLIENT: hi\nMANAGER: ok", 3, Stage::discovery);
        row("keyword overrides the turn rule", "CLIENT: send the contract", 1, Stage::closing);
        row("tie goes to the earlier stage", "CLIENT: our problem\nMANAGER: we offer help", 5, Stage::discovery);
        row("objection beats closing on a tie", "CLIENT: too much for the contract", 4, Stage::objection);
        row("a repeated keyword counts once", "CLIENT: problem problem problem\nMANAGER: we offer features", 6,
            Stage::presentation);
        row("matching ignores case", "CLIENT: The CONTRACT is ready", 4, Stage::closing);
        row("substring inside a longer word", "CLIENT: we like the design", 4, Stage::closing);
        row("but at the very end does not count", "CLIENT: yes but", 4, Stage::discovery);
        row("but with a blank counts", "CLIENT: yes but no", 4, Stage::objection);
        row("phrase across a line break does not count", "CLIENT: next\nMANAGER: step", 4, Stage::discovery);
        row("highest score wins", "CLIENT: it is expensive and I am not sure\nMANAGER: next step?", 4,
            Stage::objection);
    }

    void stageDetection()
    {
        QFETCH(QString, history);
        QFETCH(int, turnCount);
        QFETCH(Stage, expected);
        QCOMPARE(Playbook::detectStage(history, turnCount), expected);
    }

    void stageFollowsTwentyLineWindow()
    {
        ConversationBuffer buffer;
        buffer.add(Speaker::client, QStringLiteral("can we sign the contract"));
        QCOMPARE(buffer.stage(), Stage::closing);
        for (int i = 0; i < 19; ++i)
            buffer.add(i % 2 ? Speaker::client : Speaker::manager, QStringLiteral("okay then"));
        QCOMPARE(buffer.stage(), Stage::closing); // the contract line is still the window's first
        buffer.add(Speaker::manager, QStringLiteral("okay then"));
        QCOMPARE(buffer.stage(), Stage::discovery);
        buffer.add(Speaker::client, QStringLiteral("we have a problem"));
        QCOMPARE(buffer.stage(), Stage::discovery);
        buffer.add(Speaker::manager, QStringLiteral("we offer a platform"));
        QCOMPARE(buffer.stage(), Stage::presentation);
    }

    void callStateKeywordRules_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pain");
        QTest::addColumn<bool>("decisionMakerOnCall");
        QTest::addColumn<bool>("budget");
        row("nothing", "sounds good to me", false, true, false);
        row("pain: stem frustrat", "It is Frustrating every week", true, true, false);
        row("decision maker: phrase", "she controls the budget", false, false, true);
        row("decision maker: my team", "let me check with My Team", false, false, false);
        row("not my team without the blank", "myteam rocks", false, true, false);
        row("budget: how much", "How much is it", false, true, true);
        row("budget: substring of costly", "that seems costly", false, true, true);
    }

    void callStateKeywordRules()
    {
        QFETCH(QString, text);
        QFETCH(bool, pain);
        QFETCH(bool, decisionMakerOnCall);
        QFETCH(bool, budget);
        CallState state;
        state.update(text);
        QCOMPARE(state.painSurfaced(), pain);
        QCOMPARE(state.decisionMakerOnCall(), decisionMakerOnCall);
        QCOMPARE(state.budgetDiscussed(), budget);
        QVERIFY(!state.nextStepAgreed());
        // The flags only ever move one way.
        state.update(QStringLiteral("all fine now, nothing else"));
        QCOMPARE(state.painSurfaced(), pain);
        QCOMPARE(state.decisionMakerOnCall(), decisionMakerOnCall);
        QCOMPARE(state.budgetDiscussed(), budget);
    }

    void callStateSnapshot()
    {
        ConversationBuffer buffer;
        QCOMPARE(QJsonDocument(buffer.callStateSnapshot().toDict()).toJson(QJsonDocument::Compact),
                 QByteArray(R"({"budget_discussed":false,"decision_maker_on_call":true,"next_step_agreed":false,)"
                            R"("objections_handled":[],"pain_surfaced":false})"));
        // Seller turns never move the call state.
        buffer.add(Speaker::manager, QStringLiteral("my boss says the budget is a problem"));
        QCOMPARE(buffer.callStateSnapshot().toDict(), ConversationBuffer().callStateSnapshot().toDict());

        buffer.add(Speaker::client, QStringLiteral("we are struggling, my boss asks what does it cost"));
        for (const char* category : {"price", "buying_signal", "price", "Price"})
            buffer.markHandled(QString::fromUtf8(category));
        buffer.setNextStepAgreed();
        QCOMPARE(buffer.callStateSnapshot().toDict(),
                 (QJsonObject{{"pain_surfaced", true},
                              {"decision_maker_on_call", false},
                              {"budget_discussed", true},
                              {"objections_handled", QJsonArray{"price", "buying_signal", "Price"}},
                              {"next_step_agreed", true}}));
    }

    void wordCounting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::newRow("blanks only") << "    " << 0;
        QTest::newRow("runs of blanks count once") << "one  two   three" << 3;
        QTest::newRow("leading and trailing blanks") << "  one two  " << 2;
        QTest::newRow("a newline does not separate") << "one\ntwo three" << 2;
    }

    void wordCounting()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QCOMPARE(wordCount(text), count);
        QCOMPARE(words(text).size(), count);
    }

    void talkRatio_data()
    {
        QTest::addColumn<int>("sellerWords");
        QTest::addColumn<int>("clientWords");
        QTest::addColumn<double>("ratio");
        QTest::newRow("nobody spoke") << 0 << 0 << 0.5;
        QTest::newRow("seller 30, client 10") << 30 << 10 << 0.75;
        QTest::newRow("client only") << 0 << 7 << 0.0;
        QTest::newRow("seller only") << 4 << 0 << 1.0;
    }

    void talkRatio()
    {
        QFETCH(int, sellerWords);
        QFETCH(int, clientWords);
        QFETCH(double, ratio);
        ConversationBuffer buffer;
        // Each side over two turns, one with messy spacing, so the counts must add up.
        const auto say = [&](Speaker speaker, int count) {
            if (count == 0)
                return;
            buffer.add(speaker, QStringLiteral("w  ").repeated(count / 2));
            buffer.add(speaker, QStringLiteral(" w").repeated(count - count / 2));
        };
        say(Speaker::manager, sellerWords);
        say(Speaker::client, clientWords);
        QCOMPARE(buffer.managerTalkRatio(), ratio);
    }

    void contextBlock()
    {
        ConversationBuffer buffer;
        QCOMPARE(buffer.contextStr(), QStringLiteral("RECENT TURNS (last 4):"));
        buffer.addFact(QStringLiteral("Team of 12"));
        buffer.add(Speaker::client, QStringLiteral("we use spreadsheets"));
        buffer.add(Speaker::manager, QStringLiteral("how is that going?"));
        QCOMPARE(buffer.contextStr(), QString("KEY FACTS FROM THIS CALL:\n"
                                              "  \u2022 Team of 12\n"
                                              "\n"
                                              "RECENT TURNS (last 4):\n"
                                              "[CLIENT]: we use spreadsheets\n"
                                              "[SELLER]: how is that going?"));
        QCOMPARE(buffer.fullTranscript(), QStringLiteral("CLIENT: we use spreadsheets\nMANAGER: how is that going?"));
    }

    void windowKeepsNewestFourTurns()
    {
        ConversationBuffer buffer;
        for (int i = 1; i <= 6; ++i)
            buffer.add(i % 2 ? Speaker::client : Speaker::manager, QStringLiteral("turn %1").arg(i));
        QCOMPARE(buffer.contextStr(), QStringLiteral("RECENT TURNS (last 4):\n[CLIENT]: turn 3\n[SELLER]: turn 4\n"
                                                     "[CLIENT]: turn 5\n[SELLER]: turn 6"));
        QCOMPARE(buffer.turnCount(), 6);
        QCOMPARE(buffer.clientTurnCount(), 3);
        QVERIFY(buffer.fullTranscript().startsWith(QStringLiteral("CLIENT: turn 1\nMANAGER: turn 2\n")));
        // The newest client line of the window, and none once the window holds only the seller.
        QCOMPARE(buffer.lastClientText(), QStringLiteral("turn 5"));
        for (int i = 0; i < 4; ++i)
            buffer.add(Speaker::manager, QStringLiteral("monologue"));
        QCOMPARE(buffer.lastClientText(), QString());
    }

    void addReturnsSecondsSincePreviousTurn()
    {
        ManualClock clock(1000.0);
        ConversationBuffer buffer(clock);
        clock.advance(2.5);
        QCOMPARE(buffer.add(Speaker::manager, QStringLiteral("hello")), 2.5);
        clock.advance(1.0);
        QCOMPARE(buffer.add(Speaker::client, QStringLiteral("hi")), 1.0);
        QCOMPARE(buffer.add(Speaker::client, QStringLiteral("again")), 0.0);
    }

    void emptyClientTextIsStillATurn()
    {
        ConversationBuffer buffer;
        buffer.add(Speaker::manager, QStringLiteral("hello there"));
        buffer.add(Speaker::manager, QStringLiteral("anyone"));
        QCOMPARE(buffer.stage(), Stage::opening);
        buffer.add(Speaker::client, QString());
        QCOMPARE(buffer.turnCount(), 3);
        QCOMPARE(buffer.clientTurnCount(), 1);
        QVERIFY(buffer.fullTranscript().endsWith(QStringLiteral("\nCLIENT: ")));
        QCOMPARE(buffer.managerTalkRatio(), 1.0);
        // The turn rule counts every turn of the call, this empty one included.
        QCOMPARE(buffer.stage(), Stage::discovery);
        QVERIFY(buffer.contextStr().endsWith(QStringLiteral("\n[CLIENT]: ")));
    }

    void factLedgerRules_data()
    {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("ledger");
        QTest::newRow("trimmed form again")
            << QStringList{"  budget 10k \n", "budget 10k"} << QStringList{"budget 10k"};
        QTest::newRow("blank facts") << QStringList{"   ", "\n\t", ""} << QStringList{};
        QTest::newRow("comparison is case-sensitive")
            << QStringList{"uses excel", "Uses excel"} << QStringList{"uses excel", "Uses excel"};
        QTest::newRow("insertion order") << QStringList{"b", "a", "b", "c"} << QStringList{"b", "a", "c"};
    }

    void factLedgerRules()
    {
        QFETCH(QStringList, added);
        QFETCH(QStringList, ledger);
        ConversationBuffer buffer;
        for (const QString& fact : added)
            buffer.addFact(fact);
        QCOMPARE(buffer.ledger(), ledger);
    }

    void setLedgerKeepsLedgerInvariants()
    {
        ConversationBuffer buffer;
        buffer.addFact(QStringLiteral("old fact"));
        buffer.setLedger({QStringLiteral("a"), QStringLiteral(" a "), QStringLiteral(" "), QStringLiteral("b")});
        QCOMPARE(buffer.ledger(), (QStringList{"a", "b"}));
        // The replaced fact is gone from the duplicate test too.
        buffer.addFact(QStringLiteral("old fact"));
        QCOMPARE(buffer.ledger(), (QStringList{"a", "b", "old fact"}));
    }
};

QTEST_GUILESS_MAIN(TestConversation)
#include "tst_conversation.moc"
