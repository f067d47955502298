#include "service/coach/CallAnalyzer.h"
#include "service/coach/CoachService.h"
#include "service/coach/FactExtractor.h"
#include "service/coach/HintClassifier.h"
#include "service/coach/ProductHints.h"
#include "service/coach/TextMatch.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace quiro::service;
using quiro::test::row;

namespace {

const QString productContext = QStringLiteral(
    "PRODUCT: ClinicFlow \u2014 scheduling for dental clinics\n"
    "TARGET: clinic owners\n"
    "CASE STUDIES: Bright Smile cut no-shows 30%; a four-chair practice in Leeds that doubled recalls\n"
    "GUARANTEE: 60-day money back\n"
    "METRICS: 12 hours saved weekly\n"
    "COMPETITORS: Dentrix (weakness: clunky UI; our edge: setup in one day); OpenDental (weakness: self-hosted; our "
    "edge: cloud backups)\n"
    "CALL GOAL: Move the deal to the next step");

const QString objectionResponses = QStringLiteral(
    "OBJECTION RESPONSES (use these exact phrases and proofs):\n"
    "  PRICE: phrase='It pays for itself in two months' | proof='Bright Smile saved $4k monthly' | question='What "
    "does one missed appointment cost you?'\n"
    "  TIMING: phrase='' | proof='' | question=''");

} // namespace

class TestCoach : public QObject {
    Q_OBJECT

private slots:
    void textMatch_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cue");
        QTest::addColumn<bool>("found");
        row("whole word", "The price, honestly.", "price", true);
        row("not inside a word", "priceless advice", "price", false);
        row("stem", "we are frustrated", "frustrat*", true);
        row("typographic apostrophe", "we can\u2019t afford it", "can't afford", true);
        row("negated two words before", "it's not too expensive", "expensive", false);
        row("negation three words before counts not", "not that it is expensive", "expensive", true);
        row("cue carrying its own negation", "we don't need it", "don't need", true);
        row("second occurrence not negated", "not expensive, well, expensive", "expensive", true);
    }
    void textMatch()
    {
        QFETCH(QString, text);
        QFETCH(QString, cue);
        QFETCH(bool, found);
        QCOMPARE(TextMatch::contains(TextMatch::normalise(text), cue), found);
    }

    void classify_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QString>("intent");
        QTest::addColumn<QString>("subType");
        QTest::addColumn<bool>("interrupt");
        row("price outright", "Honestly this is too expensive for us", "OBJECTION", "price", true);
        row("price mentioned only", "And what about the price", "OBJECTION", "price", false);
        row("competitor by name", "Dentrix does this for us today", "OBJECTION", "competitor", true);
        row("need", "We don't need anything like this", "OBJECTION", "need", true);
        row("change", "The learning curve worries me", "OBJECTION", "change", true);
        row("info stall", "Just send me some information by email", "STALL", "info_stall", true);
        row("asking for the contract is no stall", "Great, send me the contract today", "BUYING_SIGNAL",
            "buying_signal", true);
        row("heavier concern wins", "Sounds good but it is too expensive", "OBJECTION", "price", true);
    }
    void classify()
    {
        QFETCH(QString, phrase);
        QFETCH(QString, intent);
        QFETCH(QString, subType);
        QFETCH(bool, interrupt);
        const auto result = HintClassifier::classify({phrase, QString(), "objection", {"Dentrix"}});
        QCOMPARE(result.intent, intent);
        QCOMPARE(result.subType, subType);
        QCOMPARE(result.shouldInterrupt, interrupt);
        // For a concern the flag follows the confidence (small talk never interrupts: clientLines).
        QCOMPARE(result.shouldInterrupt, result.confidence >= HintClassifier::interruptThreshold);
    }

    // Lines a client says on a real call, and the moment each one is. The live hint and the
    // post-call analysis must agree on it: a line that earns a hint is filed under the same
    // sub-type (buying signals are not objections), a line without one is not filed at all.
    void clientLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("subType"); // "" = no hint

        // Another vendor and a lower price in one breath: the alternative is the real objection.
        row("vendor with a discount", "We are also looking at another vendor and they offered us a big discount",
            "competitor");
        row("other company cheaper", "Honestly, the other company we talked to is a lot cheaper", "competitor");
        row("named rival quoted less", "Dentrix quoted us about half of what you're asking", "competitor");
        // One line of each other kind.
        row("over the budget", "That's way more than we budgeted for this year", "price");
        row("already use a named tool", "We already use OpenDental and it does most of this", "competitor");
        row("owner decides", "I'd have to run this by the practice owner first", "authority");
        row("how do I know", "How do I know this will actually work for a clinic like ours?", "trust");
        row("after the busy season", "Let's revisit this after the busy season", "urgency");
        row("deck for the team", "Can you send me a deck I can share with the team?", "info_stall");
        row("procurement", "We'd need to put this through our procurement process", "process");
        row("how soon", "How soon could we get this set up for both locations?", "buying_signal");
        row("facts only", "We have three clinics and about forty staff", "");
        row("price is no issue", "Price is not an issue for us", "");
        row("greeting", "Good morning, can you hear me okay?", "small_talk");
    }
    void clientLines()
    {
        QFETCH(QString, line);
        QFETCH(QString, subType);
        const ProductHints product(productContext, objectionResponses);
        const auto live = HintClassifier::classify({line, QString(), "discovery", product.competitorNames()});
        QCOMPARE(live.subType, subType);
        const bool hint = !subType.isEmpty() && subType != QLatin1String("small_talk");
        QCOMPARE(live.shouldInterrupt, hint);

        const auto analysis = CallAnalyzer::analyze({"MGR: What does scheduling look like for you today?\nCLT: " + line,
                                                     std::nullopt, productContext, std::nullopt});
        QVERIFY(analysis);
        const QJsonArray objections = analysis->value("objections").toArray();
        if (hint && subType != QLatin1String("buying_signal")) {
            QCOMPARE(objections.size(), 1);
            QCOMPARE(objections.first()["type"].toString(), subType);
        } else {
            QVERIFY2(objections.isEmpty(), qPrintable(QJsonDocument(objections).toJson()));
        }
    }

    void confidence_data()
    {
        QTest::addColumn<int>("weight");
        QTest::addColumn<bool>("interrupts");
        row("one weak cue", 1, false);
        row("one strong suggestion", 2, true);
        row("many", 9, true);
    }
    void confidence()
    {
        QFETCH(int, weight);
        QFETCH(bool, interrupts);
        const double value = HintClassifier::confidenceForWeight(weight);
        QCOMPARE(value >= HintClassifier::interruptThreshold, interrupts);
        QVERIFY(value <= 0.95);
        QVERIFY(HintClassifier::confidenceForWeight(weight + 1) >= value);
    }

    void repeatedConcernIsSurer()
    {
        const QString phrase = "It is expensive";
        const auto fresh = HintClassifier::classify({phrase, QString(), QString(), {}});
        const auto repeated = HintClassifier::classify(
            {phrase, "RECENT TURNS (last 4):\n[CLIENT]: the budget is expensive\n[SELLER]: I see", QString(), {}});
        QVERIFY(repeated.confidence > fresh.confidence);
        // A seller line with the same words is no repetition by the client.
        const auto sellerSaid =
            HintClassifier::classify({phrase, "RECENT TURNS (last 4):\n[SELLER]: it is not expensive", QString(), {}});
        QCOMPARE(sellerSaid.confidence, fresh.confidence);
    }

    void responses_data()
    {
        QTest::addColumn<QString>("subType");
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QString>("expected");
        row("seller's prepared question", "price", "too expensive", "What does one missed appointment cost you?");
        row("named competitor's edge", "competitor", "we use OpenDental", "Versus OpenDental: cloud backups");
        row("case study that fits", "trust", "prove it", "Share proof: Bright Smile cut no-shows 30%");
        row("product name", "authority", "my boss decides", "Ask who else signs off on ClinicFlow");
        row("empty prepared answer falls through", "urgency", "later", "Ask what decision depends on");
        row("buying signal", "buying_signal", "get started", "Book the ClinicFlow kickoff: offer two dates");
        row("no hint for small talk", "small_talk", "hello", "");
    }
    void responses()
    {
        QFETCH(QString, subType);
        QFETCH(QString, phrase);
        QFETCH(QString, expected);
        const ProductHints hints(productContext, objectionResponses);
        const QString response = hints.responseFor(subType, phrase);
        QCOMPARE(response, expected);
        QVERIFY(TextMatch::wordCount(response) <= ProductHints::maxWords);
    }

    void responsesWithoutProduct()
    {
        const ProductHints none;
        for (const QString& subType : HintClassifier::subTypes()) {
            const QString response = none.responseFor(subType, "anything");
            QVERIFY2(ProductHints::fits(response), qPrintable(subType));
        }
    }

    void facts_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QStringList>("facts");
        row("budget, team, tool, timeline", "We have 12 sales reps on Salesforce and a budget of $40k by next quarter",
            QStringList{"Team size: 12 sales reps", "Tool: Salesforce", "Budget: $40k", "Timeline: next quarter"});
        row("amount in words", "It would cost us about 500 dollars per month",
            QStringList{"Amount: 500 dollars per month"});
        row("percent and count", "About 30% of our 200 leads a month never get a call back",
            QStringList{"Figure: 30%", "Number: 200 leads a month"});
        row("vendor named in a pattern", "Last year we switched from Acme Dialer to spreadsheets",
            QStringList{"Timeline: Last year", "Tool: Acme Dialer", "Tool: Spreadsheets"});
        row("date and weekday", "We could start on March 3rd or Tuesday afternoon",
            QStringList{"Timeline: March 3rd", "Timeline: Tuesday afternoon"});
        row("spelled team size", "There are five people in the office", QStringList{"Team size: five people"});
        row("no facts", "That sounds interesting to me honestly", QStringList{});
        row("may the verb is no date", "We may look at this again", QStringList{});
    }
    void facts()
    {
        QFETCH(QString, phrase);
        QFETCH(QStringList, facts);
        QCOMPARE(FactExtractor::extract(phrase), facts);
    }

    void analyzeQuotesRealLines()
    {
        const QString transcript =
            QStringLiteral("MGR: Thanks for joining. What made you look at scheduling tools?\n"
                           "CLT: We keep losing patients to no-shows and it's frustrating\n"
                           "MGR: How many no-shows do you see in a week?\n"
                           "CLT: Maybe twenty. But honestly this looks too expensive for us\n"
                           "MGR: I understand. Bright Smile saw a return in two months; what would a fix be worth?\n"
                           "CLT: I also need to run it by my partner\n"
                           "MGR: Our platform has many features and integrations and a great team and support.\n"
                           "CLT: How do we get started?\n"
                           "MGR: Let's book a kickoff call on Tuesday at 10am with your partner.");
        const auto analysis = CallAnalyzer::analyze({transcript, 600.0, QString(), std::nullopt});
        QVERIFY(analysis);
        const QStringList lines = transcript.split('\n');
        const QJsonArray objections = analysis->value("objections").toArray();
        const QList<std::pair<QString, bool>> expected{{"price", true}, {"authority", false}}; // type, handled
        QCOMPARE(objections.size(), expected.size());
        for (qsizetype i = 0; i < objections.size(); ++i) {
            const QJsonObject objection = objections.at(i).toObject();
            QVERIFY(lines.contains("CLT: " + objection.value("quote").toString()));
            QCOMPARE(objection.value("type").toString(), expected[i].first);
            QCOMPARE(objection.value("handled"), QJsonValue(expected[i].second));
            QVERIFY(!objection.value("note").toString().isEmpty());
        }

        const QJsonValue score = analysis->value("score");
        QVERIFY(score.isDouble() && score.toDouble() == std::trunc(score.toDouble()));
        QVERIFY(score.toInt() >= 0 && score.toInt() <= 100);
        for (const char* key : {"strengths", "improvements", "missed_opportunities", "next_steps"}) {
            const QJsonValue list = analysis->value(QLatin1String(key));
            QVERIFY2(list.isArray(), key);
            for (const QJsonValue& entry : list.toArray())
                QVERIFY2(entry.isString(), key);
        }
        QVERIFY(analysis->value("summary").toString().startsWith("A 10-minute call"));
        const QString firstStep = analysis->value("next_steps").toArray().first().toString();
        QVERIFY2(firstStep.contains("Tuesday at 10am"), qPrintable(firstStep));
    }

    // An objection counts as handled only when the seller's next turn takes the concern up and
    // explores it with a question or meets it with evidence.
    void objectionHandled_data()
    {
        QTest::addColumn<QString>("objection");
        QTest::addColumn<QString>("reply"); // "" = the client speaks on
        QTest::addColumn<bool>("handled");
        const QString price = "Honestly this is too expensive for us";
        row("price: a question about the price", price,
            "I hear you. What would the price have to be for this to make sense?", true);
        row("price: evidence", price, "Fair point. Bright Smile made the cost back in 2 months.", true);
        row("named competitor: a comparison", "We already use Dentrix for all of this",
            "Compared to Dentrix, setup takes one day instead of six weeks.", true);

        row("price: change of subject", price, "Let me show you the dashboard.", false);
        row("price: a question about something else", price, "Great. What else is on your wish list?", false);
        row("price: acknowledged only", price, "I understand the concern about price.", false);
        row("no reply before the client spoke again", price, "", false);
    }
    void objectionHandled()
    {
        QFETCH(QString, objection);
        QFETCH(QString, reply);
        QFETCH(bool, handled);
        const QString transcript = "MGR: So that is the plan.\nCLT: " + objection +
                                   (reply.isEmpty() ? "\nCLT: Anyway, go on." : "\nMGR: " + reply + "\nCLT: Okay.");
        const auto analysis = CallAnalyzer::analyze({transcript, std::nullopt, productContext, std::nullopt});
        const QJsonObject first = analysis->value("objections").toArray().first().toObject();
        QCOMPARE(first["quote"].toString(), objection);
        QCOMPARE(first["handled"].toBool(), handled);
        QVERIFY(!first["note"].toString().isEmpty());
    }

    void analysisQuotesEachLineOnce()
    {
        const QString vendor = "We are also looking at another vendor and they offered us a big discount";
        const QString transcript = "MGR: What matters most to you?\nCLT: " + vendor +
                                   "\nMGR: What did the other vendor include at that discount?\nCLT: " + vendor +
                                   "\nMGR: Compared to them we set you up in one day.";
        const auto analysis = CallAnalyzer::analyze({transcript, std::nullopt, productContext, std::nullopt});
        const QJsonArray objections = analysis->value("objections").toArray();
        QCOMPARE(objections.size(), 1);
        QVERIFY(objections.first()["handled"].toBool());
        for (const char* key : {"strengths", "improvements", "missed_opportunities", "next_steps"}) {
            QStringList quoted;
            for (const QJsonValue& entry : analysis->value(QLatin1String(key)).toArray()) {
                const QString quote = entry.toString().section('"', 1, 1);
                QVERIFY2(quote.isEmpty() || !quoted.contains(quote), key);
                quoted << quote;
            }
        }
        QVERIFY(analysis->value("strengths")
                    .toArray()
                    .contains(QJsonValue("Handled the competitor objection: \"" + vendor + "\"")));
    }

    void analysisQuotesTheClientsTalkShare()
    {
        // The seller spoke most of the words, but the app measured 45.6% over the whole call.
        const QByteArray body =
            QJsonDocument(QJsonObject{
                              {"transcript", "MGR: one two three four five six seven eight\nCLT: ok"},
                              {"talk_ratio", 0.456},
                          })
                .toJson();
        const QJsonObject analysis = CoachService::analyze(body).body.value("analysis").toObject();
        QVERIFY2(analysis["talk_listen_note"].toString().startsWith("You spoke 45% of the words and the client 55%."),
                 qPrintable(analysis["talk_listen_note"].toString()));
        for (const QJsonValue& entry : analysis["improvements"].toArray())
            QVERIFY2(!entry.toString().startsWith("Talk less"), qPrintable(entry.toString()));
    }

    void largeTranscriptGivesABoundedAnalysis()
    {
        // Nearly 1 MB of call, every client line a long objection of its own.
        QStringList lines;
        for (int i = 0; lines.join('\n').size() < 900 * 1024 - 4000; i += 40) {
            lines << QStringLiteral("CLT: Call %1: this is too expensive for us and %2").arg(i).arg(QString(380, 'x'));
            lines << QStringLiteral("MGR: Let me show you feature %1 of the dashboard and %2")
                         .arg(i)
                         .arg(QString(300, 'y'));
        }
        const QByteArray body = QJsonDocument(QJsonObject{{"transcript", lines.join('\n')}}).toJson();
        QVERIFY(body.size() < 1024 * 1024);
        const ApiReply reply = CoachService::analyze(body);
        QCOMPARE(reply.status, 200);
        const QByteArray answer = QJsonDocument(reply.body).toJson(QJsonDocument::Compact);
        QVERIFY2(answer.size() < 64 * 1024, QByteArray::number(answer.size()));
        const QJsonObject analysis = reply.body.value("analysis").toObject();
        for (const QJsonValue& objection : analysis["objections"].toArray()) {
            const QString quote = objection["quote"].toString();
            QVERIFY(quote.size() <= 200);
            QVERIFY(quote.endsWith(QChar(0x2026)));
            QVERIFY(std::any_of(lines.begin(), lines.end(),
                                [&quote](const QString& line) { return line.startsWith("CLT: " + quote.chopped(1)); }));
        }
    }

    void analyzeScoresRewardGoodCalls()
    {
        const QString good = QStringLiteral("MGR: What is the biggest problem today?\n"
                                            "CLT: We lose about ten hours a week on manual scheduling work\n"
                                            "MGR: What does that cost you?\n"
                                            "CLT: A lot, and my staff are tired of it, honestly very tired\n"
                                            "MGR: Shall we set up a demo on Friday at 2pm?\n"
                                            "CLT: Yes, Friday works for me");
        const QString poor = QStringLiteral("MGR: Let me tell you all about our product and every feature we "
                                            "have built over the last ten years for clinics like yours.\n"
                                            "CLT: It is too expensive\n"
                                            "MGR: We also have integrations with many systems and a mobile app.\n"
                                            "CLT: Ok");
        const int goodScore = CallAnalyzer::analyze({good, 300.0, QString(), std::nullopt})->value("score").toInt();
        const int poorScore = CallAnalyzer::analyze({poor, 300.0, QString(), std::nullopt})->value("score").toInt();
        QVERIFY2(goodScore > poorScore + 30, qPrintable(QStringLiteral("%1 vs %2").arg(goodScore).arg(poorScore)));
        // 50, less 10 for the monologue and 8 for the price objection left unanswered.
        QCOMPARE(poorScore, 32);
    }

    void analyzeNeedsLines()
    {
        QVERIFY(!CallAnalyzer::analyze({"hello\nno tags here", std::nullopt, QString(), std::nullopt}));
        QVERIFY(CallAnalyzer::parseTranscript("MGR:   \nCLT: hi").size() == 1);
    }

    void talkShare_data()
    {
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<double>("share");
        row("nobody", "", 0.5);
        row("seller only", "MGR: one two", 1.0);
        row("one in four", "MGR: one\nCLT: one two three", 0.25);
    }
    void talkShare()
    {
        QFETCH(QString, transcript);
        QFETCH(double, share);
        QCOMPARE(CallAnalyzer::sellerWordShare(CallAnalyzer::parseTranscript(transcript)), share);
    }

    void endpointBodies_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        row("hint ok", "hint", QByteArray(R"({"phrase":"too expensive","context":"","stage":"opening"})"), 200);
        row("hint ratio not a number", "hint", QByteArray(R"({"phrase":"x","seller_talk_ratio":"a"})"), 422);
        row("array", "extract", QByteArray("[]"), 400);
        row("assist transcript wrong type", "assist", QByteArray(R"({"transcript":[]})"), 422);
        row("analyze duration wrong type", "analyze", QByteArray(R"({"transcript":"MGR: hi","duration_sec":"5"})"),
            422);
        row("analyze no lines", "analyze", QByteArray(R"({"transcript":"nothing"})"), 422);
    }
    void endpointBodies()
    {
        QFETCH(QString, endpoint);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const QHash<QString, ApiReply (*)(const QByteArray&)> endpoints{{"hint", &CoachService::hint},
                                                                        {"extract", &CoachService::extract},
                                                                        {"assist", &CoachService::assist},
                                                                        {"analyze", &CoachService::analyze}};
        const ApiReply reply = endpoints.value(endpoint)(body);
        QCOMPARE(reply.status, status);
        if (status != 200)
            QVERIFY(!reply.body.value("detail").toString().isEmpty());
    }

    void hintRawIsTheModelObject()
    {
        const ApiReply reply = CoachService::hint(QJsonDocument(QJsonObject{
                                                                    {"phrase", "Can you send me a brochure?"},
                                                                    {"product_context", productContext},
                                                                })
                                                      .toJson());
        QCOMPARE(reply.status, 200);
        const QJsonObject raw = QJsonDocument::fromJson(reply.body.value("raw").toString().toUtf8()).object();
        QCOMPARE(raw.value("sub_type").toString(), "info_stall");
        QVERIFY(raw.value("should_interrupt").toBool());
        QVERIFY(raw.value("confidence").toDouble() >= 0.65);
        QCOMPARE(raw.value("response").toString(), "Ask what specific info they need");
    }

    void assistHint_data()
    {
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QString>("hint");
        row("empty", "", "Ask what made them take this call");
        row("client objection last", "MGR: Here is the offer\nCLT: That is way too expensive",
            "Ask what ROI would justify this");
        row("seller monologue",
            "CLT: ok\nMGR: So we do this and that and also the other thing and many more things for you",
            "Pause. Ask an open question and listen.");
        row("waiting for an answer", "CLT: We run three clinics in town\nMGR: How do you book today?",
            "Wait for the answer; don't fill silence");
    }
    void assistHint()
    {
        QFETCH(QString, transcript);
        QFETCH(QString, hint);
        const QString result = CoachService::assistHint(transcript, QString());
        QCOMPARE(result, hint);
        QVERIFY(TextMatch::wordCount(result) <= 8);
    }
};

QTEST_GUILESS_MAIN(TestCoach)
#include "tst_coach.moc"
