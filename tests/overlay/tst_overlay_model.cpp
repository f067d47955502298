#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "overlay/SessionWindowModel.h"
#include "support/TestSupport.h"

#include <QTest>

using namespace quiro;

class TestOverlayModel : public QObject {
    Q_OBJECT

private slots:
    void linesMergeWithinFourSecondsForTheSameSpeaker_data()
    {
        QTest::addColumn<QStringList>("speakers");
        QTest::addColumn<QList<double>>("gapsSeconds"); // before each line after the first
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("just under 4 s merge")
            << QStringList{"CLT", "CLT"} << QList<double>{3.999} << QStringList{"CLT:a b"};
        QTest::newRow("4 s apart do not")
            << QStringList{"CLT", "CLT"} << QList<double>{4.0} << QStringList{"CLT:a", "CLT:b"};
        QTest::newRow("other speaker between")
            << QStringList{"CLT", "MGR", "CLT"} << QList<double>{1.0, 1.0} << QStringList{"CLT:a", "MGR:b", "CLT:c"};
        QTest::newRow("merged line keeps growing")
            << QStringList{"MGR", "MGR", "MGR"} << QList<double>{3.0, 3.0} << QStringList{"MGR:a b c"};
    }

    void linesMergeWithinFourSecondsForTheSameSpeaker()
    {
        QFETCH(QStringList, speakers);
        QFETCH(QList<double>, gapsSeconds);
        QFETCH(QStringList, expected);

        test::TempHome home;
        ManualClock clock;
        SessionWindowModel model(clock);
        for (int i = 0; i < speakers.size(); ++i) {
            if (i > 0)
                clock.advance(gapsSeconds.at(i - 1));
            model.addLine(speakers.at(i), QString(QChar('a' + i)));
        }
        QStringList actual;
        for (const auto& line : model.lines())
            actual.append(line.speaker + QLatin1Char(':') + line.text);
        QCOMPARE(actual, expected);
    }

    void transcriptKeepsTheNewestSixtyEntries()
    {
        test::TempHome home;
        ManualClock clock;
        SessionWindowModel model(clock);
        for (int i = 1; i <= 61; ++i)
            model.addLine(i % 2 ? QStringLiteral("CLT") : QStringLiteral("MGR"), QString::number(i));
        QCOMPARE(model.lines().size(), 60);
        QCOMPARE(model.lines().first().text, QStringLiteral("2"));
        model.addLine(QStringLiteral("CLT"), QStringLiteral("more")); // merges into entry 61
        QCOMPARE(model.lines().size(), 60);
        QCOMPARE(model.lines().first().text, QStringLiteral("2"));
        QCOMPARE(model.lines().last().text, QStringLiteral("61 more"));
    }

    void resetKeepsRunningModeAndCallbacks()
    {
        test::TempHome home;
        ManualClock clock;
        SessionWindowModel model(clock);
        int toggles = 0;
        model.onToggle = [&toggles] { ++toggles; };
        model.setRunning(true);
        model.setShowTranscript(true);
        model.showHint(QStringLiteral("💰 Price"), QStringLiteral("Ask what ROI would justify this"));
        model.addLine(QStringLiteral("CLT"), QStringLiteral("hello"));
        model.setLastScore(72);
        model.setAudioError(true);
        model.setStatusText(QStringLiteral("Listening…"));

        model.reset();
        QVERIFY(!model.hint());
        QVERIFY(model.lines().isEmpty());
        QVERIFY(!model.lastScore());
        QVERIFY(!model.audioError());
        QCOMPARE(model.statusText(), QStringLiteral("Ready"));
        QVERIFY(model.running());
        QVERIFY(model.showTranscript());
        model.onToggle();
        QCOMPARE(toggles, 1);

        // The merge clock is reset too: a line right after reset starts a new entry even for the same speaker.
        model.addLine(QStringLiteral("CLT"), QStringLiteral("again"));
        QCOMPARE(model.lines().size(), 1);
    }

    void persistedMode_data()
    {
        QTest::addColumn<QByteArray>("envFile");
        QTest::addColumn<WidgetMode>("mode");
        QTest::newRow("no file") << QByteArray() << WidgetMode::panel;
        QTest::newRow("island with blanks") << QByteArray("A=1\nWIDGET_MODE=  island \t\n") << WidgetMode::island;
        QTest::newRow("first line wins") << QByteArray("WIDGET_MODE=panel\nWIDGET_MODE=island") << WidgetMode::panel;
        QTest::newRow("lower-case key") << QByteArray("widget_mode=island") << WidgetMode::panel;
        QTest::newRow("leading blanks before key") << QByteArray("  WIDGET_MODE=island") << WidgetMode::panel;
        QTest::newRow("unknown value") << QByteArray("WIDGET_MODE=Island") << WidgetMode::panel;
    }

    void persistedMode()
    {
        QFETCH(QByteArray, envFile);
        QFETCH(WidgetMode, mode);
        test::TempHome home;
        if (!envFile.isNull())
            test::writeFile(Paths::userEnvFile(), envFile);
        QCOMPARE(SessionWindowModel(Clock::system()).widgetMode(), mode);
    }

    void setModeWritesAndAnnouncesOnlyChanges()
    {
        test::TempHome home;
        test::writeFile(Paths::userEnvFile(), "API_BASE=http://127.0.0.1:9\nWIDGET_MODE=panel");
        SessionWindowModel model(Clock::system());
        QObject observer;
        QStringList announced;
        NotificationCenter::instance().observe(Notifications::widgetModeChanged, &observer,
                                               [&](const Notification& n) { announced.append(n.object.toString()); });

        model.setMode(WidgetMode::panel);
        QVERIFY(announced.isEmpty());
        QCOMPARE(test::readFile(Paths::userEnvFile()), QByteArray("API_BASE=http://127.0.0.1:9\nWIDGET_MODE=panel"));

        model.setMode(WidgetMode::island);
        QCOMPARE(announced, QStringList{QStringLiteral("island")});
        QCOMPARE(test::readFile(Paths::userEnvFile()), QByteArray("API_BASE=http://127.0.0.1:9\nWIDGET_MODE=island"));
        QCOMPARE(SessionWindowModel(Clock::system()).widgetMode(), WidgetMode::island);
    }
};

QTEST_GUILESS_MAIN(TestOverlayModel)
#include "tst_overlay_model.moc"
