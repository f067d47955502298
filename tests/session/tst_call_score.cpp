#include "session/CallScore.h"

#include <QTest>

using namespace quiro;

class TestCallScore : public QObject {
    Q_OBJECT

private slots:
    void talkRatioCountsWordsOnBlanks()
    {
        QCOMPARE(CallScore::talkRatio({}), 0.5);
        const QList<TurnRecord> turns{{"MGR", "one  two   three", 0}, {"CLT", "a\tb", 0}, {"XYZ", "ignored words", 0}};
        QCOMPARE(CallScore::talkRatio(turns), 0.75); // 3 seller words, 1 client word (a tab joins)
    }

    void estimate_data()
    {
        QTest::addColumn<double>("talkRatio");
        QTest::addColumn<qint64>("hints");
        QTest::addColumn<double>("durationSeconds");
        QTest::addColumn<qint64>("score");

        QTest::newRow("no words: 9 off") << 0.5 << qint64(0) << 60.0 << qint64(61);
        QTest::newRow("at 0.38 no penalty") << 0.38 << qint64(0) << 60.0 << qint64(70);
        QTest::newRow("below 0.38 no bonus") << 0.1 << qint64(0) << 60.0 << qint64(70);
        QTest::newRow("seller says everything") << 1.0 << qint64(0) << 60.0 << qint64(21);
        QTest::newRow("two hints add 6") << 0.38 << qint64(2) << 60.0 << qint64(76);
        QTest::newRow("six hints add 15") << 0.38 << qint64(6) << 60.0 << qint64(85);
        QTest::newRow("exactly three minutes +5") << 0.38 << qint64(0) << 180.0 << qint64(75);
        QTest::newRow("179 s no bonus") << 0.38 << qint64(0) << 179.0 << qint64(70);
        QTest::newRow("every bonus") << 0.2 << qint64(100) << 600.0 << qint64(90);
    }

    void estimate()
    {
        QFETCH(double, talkRatio);
        QFETCH(qint64, hints);
        QFETCH(double, durationSeconds);
        QFETCH(qint64, score);
        QCOMPARE(CallScore::estimate(talkRatio, hints, durationSeconds), score);
    }

    void speechToTextCost()
    {
        QVERIFY(qFuzzyCompare(CallScore::speechToTextCostUSD(600, 2), 0.086));
        QVERIFY(qFuzzyCompare(CallScore::speechToTextCostUSD(60, 1), 0.0043));
    }
};

QTEST_GUILESS_MAIN(TestCallScore)
#include "tst_call_score.moc"
