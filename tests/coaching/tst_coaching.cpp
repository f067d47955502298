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

QTEST_GUILESS_MAIN(TestCoaching)
#include "tst_coaching.moc"
