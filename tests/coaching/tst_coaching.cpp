#include "coaching/DecisionEngine.h"
#include "coaching/Playbook.h"

#include <QTest>

using namespace quiro;

Q_DECLARE_METATYPE(quiro::Stage)

class TestCoaching : public QObject {
    Q_OBJECT

private slots:
    void labelsAreExactCharacters_data();
    void labelsAreExactCharacters();
    void tableSizesAndTrickyEntries();
    void stageRelevanceSets_data();
    void stageRelevanceSets();
    void mapCategory_data();
    void mapCategory();

    void decisionScoring_data();
    void decisionScoring();
    void refusedCandidateLeavesClocksAlone();
    void duplicateTextNormalisation_data();
    void duplicateTextNormalisation();
    void remembersLastFiveTexts();
    void commitWithoutTextKeepsRememberedTexts();
};

void TestCoaching::labelsAreExactCharacters_data()
{
    // Written as literal UTF-8 here, against the escapes in the code, so a wrong code point in
    // either place shows up.
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("label");
    const auto row = [](const char* category, const char* label) {
        QTest::newRow(category) << QString::fromUtf8(category) << QString::fromUtf8(label);
    };
    row("buying_signal", "🎯 Buying Signal");
    row("price", "💰 Price");
    row("competition", "⚔️ Competitor");
    row("authority", "👤 Authority");
    row("trust", "🛡 Trust");
    row("need", "❓ Need/Fit");
    row("urgency", "⏳ Urgency");
    row("manager_talking", "🔇 Talk Less");
    row("overtalking", "🔇 Talk Less");
    row("rushing", "🐢 Slow Down");
    row("overselling", "🛑 Stop Pitching");
    row("ignoring_objection", "⚠️ Handle Objection");
    row("premature_close", "🚫 Too Early");
    row("weak_close", "🤝 Lock Next Step");
    row("discounting", "💎 Hold Price");
    row("vague_proof", "📋 Be Specific");
    row("info_stall", "📧 Qualify Request");
    row("internal_process", "📅 Get Timeline");
    row("fear_of_change", "🔄 Cost of Status Quo");
    row("client_hesitation", "💡 Hint");
    row("closing_signal", "💡 Hint");
    row("", "💡 Hint");
}

void TestCoaching::labelsAreExactCharacters()
{
    QFETCH(QString, category);
    QFETCH(QString, label);
    QCOMPARE(Playbook::label(category), label);
}

void TestCoaching::tableSizesAndTrickyEntries()
{
    QCOMPARE(Playbook::basePriority().size(), 9);
    QCOMPARE(Playbook::labels().size(), 19);
    QCOMPARE(Playbook::fallback().size(), 18);
    QVERIFY(!Playbook::fallback().contains(QStringLiteral("manager_talking")));
    QVERIFY(!Playbook::basePriority().contains(QStringLiteral("overtalking")));
    QCOMPARE(Playbook::basePriority().value(QStringLiteral("buying_signal")), 10);
    QCOMPARE(Playbook::basePriority().value(QStringLiteral("client_hesitation")), 6);
    QCOMPARE(Playbook::basePriority().value(QStringLiteral("manager_talking")), 5);

    // The variation selector belongs to these two labels only; the shield has none.
    QCOMPARE(Playbook::label("competition").at(1), QChar(0xFE0F));
    QCOMPARE(Playbook::label("ignoring_objection").at(1), QChar(0xFE0F));
    QCOMPARE(Playbook::label("trust").toUcs4().first(), 0x1F6E1u);
    QCOMPARE(Playbook::label("trust").toUcs4().at(1), uint(' '));

    QCOMPARE(Playbook::fallback().value("premature_close"), QString::fromUtf8("Discovery first — earn the close."));
    QCOMPARE(Playbook::fallback().value("premature_close").at(16), QChar(0x2014));
    QCOMPARE(Playbook::fallback().value("overtalking"), QStringLiteral("Pause. Ask a question."));
    QCOMPARE(Playbook::fallback().value("price"), QStringLiteral("Ask what ROI would justify this"));
    QCOMPARE(Playbook::fallback().value("fear_of_change"), QStringLiteral("Ask what staying the same costs"));
}

void TestCoaching::stageRelevanceSets_data()
{
    QTest::addColumn<Stage>("stage");
    QTest::addColumn<QStringList>("categories");
    QTest::newRow("opening") << Stage::opening << QStringList{"manager_talking"};
    QTest::newRow("discovery") << Stage::discovery << QStringList{"need", "manager_talking", "client_hesitation"};
    QTest::newRow("presentation") << Stage::presentation
                                  << QStringList{"price", "trust", "competition", "client_hesitation"};
    QTest::newRow("objection") << Stage::objection
                               << QStringList{"price", "trust", "need", "urgency", "authority", "competition"};
    QTest::newRow("closing") << Stage::closing << QStringList{"buying_signal", "urgency", "authority"};
}

void TestCoaching::stageRelevanceSets()
{
    QFETCH(Stage, stage);
    QFETCH(QStringList, categories);
    QCOMPARE(Playbook::stageRelevance(stage), QSet<QString>(categories.cbegin(), categories.cend()));
}

void TestCoaching::mapCategory_data()
{
    QTest::addColumn<QString>("subType");
    QTest::addColumn<QString>("intent");
    QTest::addColumn<QString>("category");
    QTest::newRow("competitor") << "competitor"
                                << ""
                                << "competition";
    QTest::newRow("process") << "process"
                             << "OBJECTION"
                             << "internal_process";
    QTest::newRow("change") << "change"
                            << ""
                            << "fear_of_change";
    QTest::newRow("table wins over intent") << "price"
                                            << "BUYING_SIGNAL"
                                            << "price";
    QTest::newRow("table wins over seller behaviour") << "vague_proof"
                                                      << "SELLER_BEHAVIOR"
                                                      << "vague_proof";
    QTest::newRow("intent BUYING_SIGNAL") << ""
                                          << "BUYING_SIGNAL"
                                          << "buying_signal";
    QTest::newRow("intent CLOSING") << ""
                                    << "CLOSING"
                                    << "buying_signal";
    QTest::newRow("sub-type contains buying_signal") << "strong_buying_signal"
                                                     << "NEUTRAL"
                                                     << "buying_signal";
    QTest::newRow("seller behaviour") << "monologue"
                                      << "SELLER_BEHAVIOR"
                                      << "overtalking";
    QTest::newRow("unmapped falls back to price") << "weather"
                                                  << "OBJECTION"
                                                  << "price";
    QTest::newRow("both empty") << ""
                                << ""
                                << "price";
    QTest::newRow("sub-type is case-sensitive") << "Competitor"
                                                << ""
                                                << "price";
    QTest::newRow("intent is case-sensitive") << ""
                                              << "closing"
                                              << "price";
    QTest::newRow("category name is not a sub-type") << "competition"
                                                     << ""
                                                     << "price";
}

void TestCoaching::mapCategory()
{
    QFETCH(QString, subType);
    QFETCH(QString, intent);
    QFETCH(QString, category);
    QCOMPARE(Playbook::mapCategory(subType, intent), category);
}

void TestCoaching::decisionScoring_data()
{
    // Each commit is "category@seconds" after the start; the candidate is scored at `at`.
    // A score of -1 means the engine refuses.
    QTest::addColumn<QStringList>("commits");
    QTest::addColumn<QString>("category");
    QTest::addColumn<Stage>("stage");
    QTest::addColumn<double>("at");
    QTest::addColumn<double>("score");

    const QStringList none;
    QTest::newRow("fresh: price, no stage bonus") << none << "price" << Stage::discovery << 0.0 << 8.0;
    QTest::newRow("fresh: buying signal in closing") << none << "buying_signal" << Stage::closing << 0.0 << 12.0;
    QTest::newRow("fresh: talk less in opening") << none << "manager_talking" << Stage::opening << 0.0 << 7.0;
    QTest::newRow("fresh: talk less in presentation")
        << none << "manager_talking" << Stage::presentation << 0.0 << -1.0;
    QTest::newRow("fresh: unprioritised category") << none << "overtalking" << Stage::objection << 0.0 << -1.0;
    QTest::newRow("fresh: hesitation reaches the threshold exactly")
        << none << "client_hesitation" << Stage::opening << 0.0 << 6.0;

    const QStringList price{"price@0"};
    QTest::newRow("cooldown: 5.9 s") << price << "need" << Stage::objection << 5.9 << -1.0;
    QTest::newRow("cooldown: 6.0 s") << price << "need" << Stage::objection << 6.0 << 7.5;
    QTest::newRow("short cooldown: 2.9 s") << price << "buying_signal" << Stage::closing << 2.9 << -1.0;
    QTest::newRow("short cooldown: 3.0 s") << price << "buying_signal" << Stage::closing << 3.0 << 10.5;
    QTest::newRow("short cooldown is for the candidate's priority")
        << QStringList{"buying_signal@0"} << "price" << Stage::objection << 3.0 << -1.0;

    QTest::newRow("repeat within 25 s") << price << "price" << Stage::objection << 10.0 << -1.0;
    QTest::newRow("repeat at 24.9 s") << price << "price" << Stage::objection << 24.9 << -1.0;
    QTest::newRow("repeat at 25.0 s") << price << "price" << Stage::objection << 25.0 << 8.5;
    QTest::newRow("repeat at 26 s") << price << "price" << Stage::objection << 26.0 << 8.5;
    QTest::newRow("frequency window at 29.9 s") << price << "price" << Stage::objection << 29.9 << 8.5;
    QTest::newRow("frequency window at 30.0 s") << price << "price" << Stage::objection << 30.0 << 10.0;
    QTest::newRow("frequency window at 31 s") << price << "price" << Stage::objection << 31.0 << 10.0;

    const QStringList three{"price@0", "need@10", "urgency@20"};
    QTest::newRow("three hints in 30 s cost 4.5") << three << "trust" << Stage::presentation << 29.9 << -1.0;
    QTest::newRow("the oldest leaves the window") << three << "trust" << Stage::presentation << 30.0 << 6.0;

    const QStringList talk{"manager_talking@0"};
    QTest::newRow("talk less again at 24.9 s") << talk << "manager_talking" << Stage::discovery << 24.9 << -1.0;
    QTest::newRow("talk less again at 29.9 s") << talk << "manager_talking" << Stage::discovery << 29.9 << -1.0;
    QTest::newRow("talk less again at 30.0 s") << talk << "manager_talking" << Stage::discovery << 30.0 << 7.0;
}

void TestCoaching::decisionScoring()
{
    QFETCH(QStringList, commits);
    QFETCH(QString, category);
    QFETCH(Stage, stage);
    QFETCH(double, at);
    QFETCH(double, score);

    const double start = 1'800'000'000.0;
    ManualClock clock(start);
    DecisionEngine engine(clock);
    for (const QString& commit : commits) {
        const QStringList parts = commit.split('@');
        clock.set(start + parts.at(1).toDouble());
        engine.commit(parts.at(0));
    }
    clock.set(start + at);
    const std::optional<double> result = engine.shouldFire(category, stage);
    if (score < 0) {
        QVERIFY2(!result.has_value(), qPrintable(QString::number(result.value_or(0))));
    } else {
        QVERIFY(result.has_value());
        QCOMPARE(*result, score);
    }
}

void TestCoaching::refusedCandidateLeavesClocksAlone()
{
    ManualClock clock;
    DecisionEngine engine(clock);
    QVERIFY(engine.secondsSinceLastHint() > 1e9);
    engine.commit(QStringLiteral("price"), QStringLiteral("Ask what ROI would justify this"));
    clock.advance(4.0);
    QVERIFY(!engine.shouldFire(QStringLiteral("need"), Stage::objection));
    QVERIFY(!engine.shouldFire(QStringLiteral("overtalking"), Stage::objection));
    QCOMPARE(engine.secondsSinceLastHint(), 4.0);
    clock.advance(2.0);
    QCOMPARE(engine.shouldFire(QStringLiteral("need"), Stage::objection), std::optional<double>(7.5));
}

void TestCoaching::duplicateTextNormalisation_data()
{
    QTest::addColumn<QString>("candidate");
    QTest::addColumn<bool>("duplicate");
    QTest::newRow("same text") << "Ask who else owns this decision" << true;
    QTest::newRow("title case, two leading blanks") << "  Ask Who Else Owns This Decision" << true;
    QTest::newRow("trailing tab") << "ask who else owns this decision\t" << true;
    QTest::newRow("full stop at the end") << "Ask who else owns this decision." << false;
    QTest::newRow("one word differs") << "Ask who else owns the decision" << false;
    QTest::newRow("line breaks are not trimmed") << "\nAsk who else owns this decision" << false;
    QTest::newRow("inner blanks are not collapsed") << "Ask who  else owns this decision" << false;
}

void TestCoaching::duplicateTextNormalisation()
{
    QFETCH(QString, candidate);
    QFETCH(bool, duplicate);
    ManualClock clock;
    DecisionEngine engine(clock);
    engine.commit(QStringLiteral("authority"), QStringLiteral("Ask who else owns this decision"));
    QCOMPARE(engine.isDuplicateText(candidate), duplicate);
}

void TestCoaching::remembersLastFiveTexts()
{
    ManualClock clock;
    DecisionEngine engine(clock);
    for (int i = 1; i <= 6; ++i) {
        clock.advance(60);
        engine.commit(QStringLiteral("price"), QStringLiteral("text %1").arg(i));
    }
    QVERIFY(!engine.isDuplicateText(QStringLiteral("text 1")));
    for (int i = 2; i <= 6; ++i)
        QVERIFY2(engine.isDuplicateText(QStringLiteral("TEXT %1").arg(i)), qPrintable(QString::number(i)));
}

void TestCoaching::commitWithoutTextKeepsRememberedTexts()
{
    ManualClock clock;
    DecisionEngine engine(clock);
    for (int i = 1; i <= 5; ++i)
        engine.commit(QStringLiteral("price"), QStringLiteral("text %1").arg(i));
    for (int i = 0; i < 3; ++i)
        engine.commit(QStringLiteral("manager_talking"));
    for (int i = 1; i <= 5; ++i)
        QVERIFY(engine.isDuplicateText(QStringLiteral("text %1").arg(i)));
    QVERIFY(!engine.isDuplicateText(QString()));
    // The text-less commit still moved the clocks.
    clock.advance(1.0);
    QCOMPARE(engine.secondsSinceLastHint(), 1.0);
}

QTEST_GUILESS_MAIN(TestCoaching)
#include "tst_coaching.moc"
