#include "conversation/CallState.h"
#include "conversation/ConversationBuffer.h"
#include "conversation/Speaker.h"
#include "conversation/Stage.h"
#include "conversation/WordCount.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace quiro;

Q_DECLARE_METATYPE(quiro::Stage)

namespace {

struct Flags {
    bool pain;
    bool decisionMakerOnCall;
    bool budget;
};

} // namespace

class TestConversation : public QObject {
    Q_OBJECT

private slots:
    void rawValuesRoundTrip();
    void rawValuesRejectOtherSpellings_data();
    void rawValuesRejectOtherSpellings();

    void stageDetection_data();
    void stageDetection();
    void stageFollowsTwentyLineWindow();
    void stageTurnRuleCountsWholeCall();

    void callStateKeywordRules_data();
    void callStateKeywordRules();
    void callStateFlagsOnlyMoveOneWay();
    void callStateUpdatesFromClientTurnsOnly_data();
    void callStateUpdatesFromClientTurnsOnly();
    void markHandledKeepsOneEntryPerExactString();
    void snapshotDictionary();

    void wordCounting_data();
    void wordCounting();
    void talkRatio_data();
    void talkRatio();

    void freshBuffer();
    void contextBlockExample();
    void windowKeepsNewestFourTurns();
    void addReturnsSecondsSincePreviousTurn();
    void emptyClientTextIsStillATurn();
    void lastClientTextOnlyLooksAtWindow();
    void factLedgerRules_data();
    void factLedgerRules();
    void setLedgerKeepsLedgerInvariants();
};

void TestConversation::rawValuesRoundTrip()
{
    QCOMPARE(rawValue(Speaker::manager), QStringLiteral("MANAGER"));
    QCOMPARE(rawValue(Speaker::client), QStringLiteral("CLIENT"));
    QCOMPARE(contextLabel(Speaker::manager), QStringLiteral("SELLER"));
    QCOMPARE(contextLabel(Speaker::client), QStringLiteral("CLIENT"));
    for (const Speaker speaker : {Speaker::manager, Speaker::client})
        QCOMPARE(speakerFromRawValue(rawValue(speaker)), speaker);

    const QStringList expected{"opening", "discovery", "presentation", "objection", "closing"};
    QStringList names;
    for (const Stage stage : allStages()) {
        names.append(rawValue(stage));
        QCOMPARE(stageFromRawValue(rawValue(stage)), stage);
    }
    QCOMPARE(names, expected);
}

void TestConversation::rawValuesRejectOtherSpellings_data()
{
    QTest::addColumn<QString>("raw");
    QTest::newRow("lower-case speaker") << "manager";
    QTest::newRow("mixed-case speaker") << "Client";
    QTest::newRow("padded speaker") << " CLIENT";
    QTest::newRow("context label") << "SELLER";
    QTest::newRow("capitalised stage") << "Opening";
    QTest::newRow("upper-case stage") << "CLOSING";
    QTest::newRow("padded stage") << "discovery ";
    QTest::newRow("empty") << "";
}

void TestConversation::rawValuesRejectOtherSpellings()
{
    QFETCH(QString, raw);
    QVERIFY(!speakerFromRawValue(raw).has_value());
    QVERIFY(!stageFromRawValue(raw).has_value());
}

void TestConversation::stageDetection_data()
{
    QTest::addColumn<QString>("history");
    QTest::addColumn<int>("turnCount");
    QTest::addColumn<Stage>("expected");

    QTest::newRow("no keyword, turn 1") << "MANAGER: hello there" << 1 << Stage::opening;
    QTest::newRow("no keyword, turn 2") << "MANAGER: hello\nCLIENT: hi" << 2 << Stage::opening;
    QTest::newRow("no keyword, turn 3") << "MANAGER: hello\nCLIENT: hi\nMANAGER: ok" << 3 << Stage::discovery;
    QTest::newRow("keyword overrides the turn rule") << "CLIENT: send the contract" << 1 << Stage::closing;
    QTest::newRow("tie goes to the earlier stage")
        << "CLIENT: our problem\nMANAGER: we offer help" << 5 << Stage::discovery;
    QTest::newRow("objection beats closing on a tie") << "CLIENT: too much for the contract" << 4 << Stage::objection;
    QTest::newRow("a repeated keyword counts once")
        << "CLIENT: problem problem problem\nMANAGER: we offer features" << 6 << Stage::presentation;
    QTest::newRow("matching ignores case") << "CLIENT: The CONTRACT is ready" << 4 << Stage::closing;
    QTest::newRow("substring inside a longer word") << "CLIENT: we like the design" << 4 << Stage::closing;
    QTest::newRow("but needs its trailing blank") << "CLIENT: press the button" << 4 << Stage::discovery;
    QTest::newRow("but at the very end does not count") << "CLIENT: yes but" << 4 << Stage::discovery;
    QTest::newRow("but with a blank counts") << "CLIENT: yes but no" << 4 << Stage::objection;
    QTest::newRow("phrase across a line break does not count")
        << "CLIENT: next\nMANAGER: step" << 4 << Stage::discovery;
    QTest::newRow("highest score wins") << "CLIENT: it is expensive and I am not sure\nMANAGER: next step?" << 4
                                        << Stage::objection;
}

void TestConversation::stageDetection()
{
    QFETCH(QString, history);
    QFETCH(int, turnCount);
    QFETCH(Stage, expected);
    QCOMPARE(Playbook::detectStage(history, turnCount), expected);
}

void TestConversation::stageFollowsTwentyLineWindow()
{
    ConversationBuffer buffer;
    buffer.add(Speaker::client, QStringLiteral("can we sign the contract"));
    QCOMPARE(buffer.stage(), Stage::closing);
    for (int i = 0; i < 19; ++i)
        buffer.add(i % 2 ? Speaker::client : Speaker::manager, QStringLiteral("okay then"));
    // Twenty lines: the contract line is still the first line of the window.
    QCOMPARE(buffer.stage(), Stage::closing);
    buffer.add(Speaker::manager, QStringLiteral("okay then"));
    // It has scrolled out; the stage moves back to the no-keyword rule.
    QCOMPARE(buffer.stage(), Stage::discovery);
    buffer.add(Speaker::client, QStringLiteral("we have a problem"));
    QCOMPARE(buffer.stage(), Stage::discovery);
    buffer.add(Speaker::manager, QStringLiteral("we offer a platform"));
    QCOMPARE(buffer.stage(), Stage::presentation);
}

void TestConversation::stageTurnRuleCountsWholeCall()
{
    ConversationBuffer buffer;
    buffer.add(Speaker::manager, QStringLiteral("hello"));
    QCOMPARE(buffer.stage(), Stage::opening);
    buffer.add(Speaker::client, QStringLiteral("hi"));
    QCOMPARE(buffer.stage(), Stage::opening);
    buffer.add(Speaker::manager, QStringLiteral("good to meet"));
    QCOMPARE(buffer.stage(), Stage::discovery);
}

void TestConversation::callStateKeywordRules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("pain");
    QTest::addColumn<bool>("decisionMakerOnCall");
    QTest::addColumn<bool>("budget");

    QTest::newRow("nothing") << "sounds good to me" << false << true << false;
    QTest::newRow("pain: stem frustrat") << "It is Frustrating every week" << true << true << false;
    QTest::newRow("pain: losing") << "we keep losing leads" << true << true << false;
    QTest::newRow("pain: barely") << "we barely cope" << true << true << false;
    QTest::newRow("decision maker: boss") << "I need to ask my boss" << false << false << false;
    QTest::newRow("decision maker: phrase") << "she controls the budget" << false << false << true;
    QTest::newRow("decision maker: my team") << "let me check with My Team" << false << false << false;
    QTest::newRow("not my team without the blank") << "myteam rocks" << false << true << false;
    QTest::newRow("budget: how much") << "How much is it" << false << true << true;
    QTest::newRow("budget: substring of costly") << "that seems costly" << false << true << true;
    QTest::newRow("pain and budget together") << "I'm frustrated by the cost" << true << true << true;
    QTest::newRow("all three") << "the issue is my director thinks the price is high" << true << false << true;
}

void TestConversation::callStateKeywordRules()
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
}

void TestConversation::callStateFlagsOnlyMoveOneWay()
{
    CallState state;
    state.update(QStringLiteral("our problem is the price, ask my boss"));
    state.update(QStringLiteral("all fine now, nothing else"));
    QVERIFY(state.painSurfaced());
    QVERIFY(!state.decisionMakerOnCall());
    QVERIFY(state.budgetDiscussed());
}

void TestConversation::callStateUpdatesFromClientTurnsOnly_data()
{
    QTest::addColumn<bool>("fromClient");
    QTest::newRow("seller") << false;
    QTest::newRow("client") << true;
}

void TestConversation::callStateUpdatesFromClientTurnsOnly()
{
    QFETCH(bool, fromClient);
    ConversationBuffer buffer;
    buffer.add(fromClient ? Speaker::client : Speaker::manager, QStringLiteral("my boss says the budget is a problem"));
    const CallStateSnapshot snapshot = buffer.callStateSnapshot();
    QCOMPARE(snapshot.painSurfaced, fromClient);
    QCOMPARE(snapshot.decisionMakerOnCall, !fromClient);
    QCOMPARE(snapshot.budgetDiscussed, fromClient);
}

void TestConversation::markHandledKeepsOneEntryPerExactString()
{
    ConversationBuffer buffer;
    buffer.markHandled(QStringLiteral("price"));
    buffer.markHandled(QStringLiteral("trust"));
    buffer.markHandled(QStringLiteral("price"));
    buffer.markHandled(QStringLiteral("Price"));
    QCOMPARE(buffer.callStateSnapshot().objectionsHandled, (QStringList{"price", "trust", "Price"}));
    QVERIFY(!buffer.callStateSnapshot().nextStepAgreed);
    buffer.setNextStepAgreed();
    QVERIFY(buffer.callStateSnapshot().nextStepAgreed);
}

void TestConversation::snapshotDictionary()
{
    ConversationBuffer buffer;
    QCOMPARE(QJsonDocument(buffer.callStateSnapshot().toDict()).toJson(QJsonDocument::Compact),
             QByteArray(R"({"budget_discussed":false,"decision_maker_on_call":true,"next_step_agreed":false,)"
                        R"("objections_handled":[],"pain_surfaced":false})"));

    buffer.add(Speaker::client, QStringLiteral("we are struggling, what does it cost"));
    buffer.markHandled(QStringLiteral("price"));
    buffer.markHandled(QStringLiteral("buying_signal"));
    buffer.setNextStepAgreed();
    const QJsonObject dict = buffer.callStateSnapshot().toDict();
    QCOMPARE(dict.size(), 5);
    QCOMPARE(dict.value("pain_surfaced"), QJsonValue(true));
    QCOMPARE(dict.value("decision_maker_on_call"), QJsonValue(true));
    QCOMPARE(dict.value("budget_discussed"), QJsonValue(true));
    QCOMPARE(dict.value("objections_handled"), QJsonValue(QJsonArray{"price", "buying_signal"}));
    QCOMPARE(dict.value("next_step_agreed"), QJsonValue(true));
}

void TestConversation::wordCounting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("count");
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("blanks only") << "    " << 0;
    QTest::newRow("one word") << "hello" << 1;
    QTest::newRow("runs of blanks count once") << "one  two   three" << 3;
    QTest::newRow("leading and trailing blanks") << "  one two  " << 2;
    QTest::newRow("a tab does not separate") << "one\ttwo" << 1;
    QTest::newRow("a newline does not separate") << "one\ntwo three" << 2;
    QTest::newRow("no-break space does not separate") << QString("one\u00A0two") << 1;
}

void TestConversation::wordCounting()
{
    QFETCH(QString, text);
    QFETCH(int, count);
    QCOMPARE(wordCount(text), count);
    QCOMPARE(words(text).size(), count);
}

void TestConversation::talkRatio_data()
{
    QTest::addColumn<int>("sellerWords");
    QTest::addColumn<int>("clientWords");
    QTest::addColumn<double>("ratio");
    QTest::newRow("nobody spoke") << 0 << 0 << 0.5;
    QTest::newRow("seller 30, client 10") << 30 << 10 << 0.75;
    QTest::newRow("client only") << 0 << 7 << 0.0;
    QTest::newRow("seller only") << 4 << 0 << 1.0;
}

void TestConversation::talkRatio()
{
    QFETCH(int, sellerWords);
    QFETCH(int, clientWords);
    QFETCH(double, ratio);
    ConversationBuffer buffer;
    // Split each side over two turns, one with messy spacing, to check the counts add up.
    const auto say = [&](Speaker speaker, int count) {
        if (count == 0)
            return;
        const int firstPart = count / 2;
        buffer.add(speaker, QStringLiteral("w  ").repeated(firstPart));
        buffer.add(speaker, QStringLiteral(" w").repeated(count - firstPart));
    };
    say(Speaker::manager, sellerWords);
    say(Speaker::client, clientWords);
    QCOMPARE(buffer.managerTalkRatio(), ratio);
}

void TestConversation::freshBuffer()
{
    ConversationBuffer buffer;
    QCOMPARE(buffer.contextStr(), QStringLiteral("RECENT TURNS (last 4):"));
    QCOMPARE(buffer.managerTalkRatio(), 0.5);
    QCOMPARE(buffer.turnCount(), 0);
    QCOMPARE(buffer.clientTurnCount(), 0);
    QCOMPARE(buffer.lastClientText(), QString());
    QCOMPARE(buffer.fullTranscript(), QString());
    QCOMPARE(buffer.stage(), Stage::opening);
    QVERIFY(buffer.ledger().isEmpty());
}

void TestConversation::contextBlockExample()
{
    ConversationBuffer buffer;
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

void TestConversation::windowKeepsNewestFourTurns()
{
    ConversationBuffer buffer;
    for (int i = 1; i <= 6; ++i)
        buffer.add(i % 2 ? Speaker::client : Speaker::manager, QStringLiteral("turn %1").arg(i));
    QCOMPARE(buffer.contextStr(), QStringLiteral("RECENT TURNS (last 4):\n[CLIENT]: turn 3\n[SELLER]: turn 4\n"
                                                 "[CLIENT]: turn 5\n[SELLER]: turn 6"));
    QCOMPARE(buffer.turnCount(), 6);
    QCOMPARE(buffer.clientTurnCount(), 3);
    QCOMPARE(buffer.fullTranscript().split('\n').size(), 6);
    QVERIFY(buffer.fullTranscript().startsWith(QStringLiteral("CLIENT: turn 1\nMANAGER: turn 2\n")));
}

void TestConversation::addReturnsSecondsSincePreviousTurn()
{
    ManualClock clock(1000.0);
    ConversationBuffer buffer(clock);
    clock.advance(2.5);
    QCOMPARE(buffer.add(Speaker::manager, QStringLiteral("hello")), 2.5);
    clock.advance(1.0);
    QCOMPARE(buffer.add(Speaker::client, QStringLiteral("hi")), 1.0);
    QCOMPARE(buffer.add(Speaker::client, QStringLiteral("again")), 0.0);
}

void TestConversation::emptyClientTextIsStillATurn()
{
    ConversationBuffer buffer;
    buffer.add(Speaker::manager, QStringLiteral("hello there"));
    buffer.add(Speaker::manager, QStringLiteral("anyone"));
    buffer.add(Speaker::client, QString());
    QCOMPARE(buffer.turnCount(), 3);
    QCOMPARE(buffer.clientTurnCount(), 1);
    QVERIFY(buffer.fullTranscript().endsWith(QStringLiteral("\nCLIENT: ")));
    QCOMPARE(buffer.managerTalkRatio(), 1.0);
    // Stage detection still ran for the third turn: the turn rule moved the stage on.
    QCOMPARE(buffer.stage(), Stage::discovery);
    QVERIFY(buffer.contextStr().endsWith(QStringLiteral("\n[CLIENT]: ")));
}

void TestConversation::lastClientTextOnlyLooksAtWindow()
{
    ConversationBuffer buffer;
    buffer.add(Speaker::client, QStringLiteral("first"));
    buffer.add(Speaker::client, QStringLiteral("second"));
    buffer.add(Speaker::manager, QStringLiteral("reply"));
    QCOMPARE(buffer.lastClientText(), QStringLiteral("second"));
    for (int i = 0; i < 4; ++i)
        buffer.add(Speaker::manager, QStringLiteral("monologue"));
    QCOMPARE(buffer.lastClientText(), QString());
}

void TestConversation::factLedgerRules_data()
{
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("ledger");
    QTest::newRow("trimmed on the way in") << QStringList{"  budget 10k \n"} << QStringList{"budget 10k"};
    QTest::newRow("trimmed form again") << QStringList{"  budget 10k \n", "budget 10k"} << QStringList{"budget 10k"};
    QTest::newRow("blank facts") << QStringList{"   ", "\n\t", ""} << QStringList{};
    QTest::newRow("comparison is case-sensitive")
        << QStringList{"uses excel", "Uses excel"} << QStringList{"uses excel", "Uses excel"};
    QTest::newRow("insertion order") << QStringList{"b", "a", "b", "c"} << QStringList{"b", "a", "c"};
}

void TestConversation::factLedgerRules()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, ledger);
    ConversationBuffer buffer;
    for (const QString& fact : added)
        buffer.addFact(fact);
    QCOMPARE(buffer.ledger(), ledger);
}

void TestConversation::setLedgerKeepsLedgerInvariants()
{
    ConversationBuffer buffer;
    buffer.addFact(QStringLiteral("old fact"));
    buffer.setLedger({QStringLiteral("a"), QStringLiteral(" a "), QStringLiteral(" "), QStringLiteral("b")});
    QCOMPARE(buffer.ledger(), (QStringList{"a", "b"}));
    // The replaced fact is gone from the duplicate test too.
    buffer.addFact(QStringLiteral("old fact"));
    QCOMPARE(buffer.ledger(), (QStringList{"a", "b", "old fact"}));
}

QTEST_GUILESS_MAIN(TestConversation)
#include "tst_conversation.moc"
