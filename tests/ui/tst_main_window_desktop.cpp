// The real main window on the test desktop (scripts/test-desktop): its place and size, a close
// that keeps the program, and Settings hearing both sides of a call through PulseAudio, with
// speech played into the virtual microphone. Screenshots of the real window.

#include "MainWindowRig.h"
#include "support/AnimationClock.h"
#include "support/Pixels.h"
#include "ui/main/HearingRow.h"
#include "ui/main/LevelMeter.h"
#include "ui/main/MainView.h"
#include "ui/main/MainWindow.h"
#include "ui/main/SettingsHubView.h"

#include <QApplication>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace quiro;

namespace {

// The recording streams PulseAudio has open: the captures of the program under test.
int recordingStreams()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"),
                {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")});
    pactl.waitForFinished(10000);
    return int(QString::fromUtf8(pactl.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts).size());
}

} // namespace

class TestMainWindowDesktop : public QObject {
    Q_OBJECT

private slots:
    void init() { QUIRO_REQUIRE_TEST_DESKTOP(); }

    void opensCentredAndClosingKeepsTheProgram()
    {
        test::AnimationClock clock;
        test::MainWindowRig rig;
        rig.storeCalls(test::Recording::finished);
        MainWindow window(rig.services);
        QSignalSpy closed(&window, &MainWindow::closed);
        QSignalSpy lastWindow(qApp, &QGuiApplication::lastWindowClosed);

        window.present();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        clock.advanceBy(1500);
        QTest::qWait(100); // the window server draws what Qt sent it
        QCOMPARE(window.size(), MainWindow::openingSize);
        const QRect screen = window.screen()->availableGeometry();
        QVERIFY2((window.frameGeometry().center() - screen.center()).manhattanLength() <= 2,
                 qPrintable(QStringLiteral("window at %1,%2").arg(window.x()).arg(window.y())));
        test::saveScreenshot(test::grabScreen(window.frameGeometry()), QStringLiteral("main-window-home"));

        window.close();
        QVERIFY(!window.isVisible());
        QCOMPARE(closed.size(), 1);
        QTest::qWait(50);
        QCOMPARE(lastWindow.size(), 0); // the program goes on without its window

        // Shown again where it was, and no smaller than the design allows.
        window.move(window.pos() + QPoint(40, 30));
        const QPoint moved = window.pos();
        window.present();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.pos(), moved);
        window.resize(300, 200);
        QTRY_COMPARE(window.size(), MainWindow::smallestSize);
    }

    void settingsHearBothSidesWhileShown()
    {
        const QString wav = QDir::temp().filePath(QStringLiteral("quiro-main-window-speech.wav"));
        QProcess flite;
        flite.start(QStringLiteral("flite"),
                    {QStringLiteral("-voice"), QStringLiteral("kal16"), QStringLiteral("-t"),
                     QStringLiteral("Hello, this is the seller speaking into the microphone for the level meter."),
                     QStringLiteral("-o"), wav});
        QVERIFY2(flite.waitForFinished(20000) && flite.exitCode() == 0, "flite is missing (scripts/bootstrap)");

        test::AnimationClock clock;
        test::MainWindowRig rig;
        MainWindow window(rig.services);
        window.present();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const int before = recordingStreams();
        window.view()->selectTab(AppTab::settings);
        HearingRow* voice = window.view()->settings()->hearing(HearingRow::Side::seller);
        HearingRow* theirs = window.view()->settings()->hearing(HearingRow::Side::client);
        QTRY_COMPARE_WITH_TIMEOUT(voice->status(), HearingRow::Status::heard, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(theirs->status(), HearingRow::Status::heard, 10000);
        QVERIFY2(voice->detail().contains(QStringLiteral("(mic)")), qPrintable(voice->detail()));
        QVERIFY2(theirs->detail().contains(QStringLiteral("(spk.monitor)")), qPrintable(theirs->detail()));
        QCOMPARE(recordingStreams(), before + 2);

        // The seller speaks: their meter rises, the client's (silence) stays dark.
        QProcess player;
        player.start(QStringLiteral("paplay"),
                     {QStringLiteral("--device=") + qEnvironmentVariable("QUIRO_TEST_MIC_SINK"), wav});
        QVERIFY(player.waitForStarted());
        double loudest = 0;
        double other = 0;
        bool shot = false;
        while (player.state() != QProcess::NotRunning) {
            QTest::qWait(100);
            loudest = std::max(loudest, voice->meter()->fill());
            other = std::max(other, theirs->meter()->fill());
            if (!shot && voice->meter()->fill() > 0.4) {
                clock.advanceBy(500);
                test::saveScreenshot(test::grabScreen(window.frameGeometry()), QStringLiteral("main-window-settings"));
                test::saveScreenshot(test::wholePage(window.view()->settings()),
                                     QStringLiteral("main-window-settings-whole"));
                shot = true;
            }
        }
        QVERIFY2(loudest > 0.4, qPrintable(QStringLiteral("the microphone's meter reached %1").arg(loudest)));
        QVERIFY2(other < 0.1, qPrintable(QStringLiteral("the silent side's meter reached %1").arg(other)));
        QVERIFY(shot);

        // Away from Settings the devices are closed again.
        window.view()->selectTab(AppTab::home);
        QCOMPARE(voice->status(), HearingRow::Status::idle);
        QTRY_COMPARE(recordingStreams(), before);
        QFile::remove(wav);
    }
};

// Away from the test desktop there may be no display to open; the test then only skips.
QUIRO_OFFSCREEN_TEST_MAIN(TestMainWindowDesktop, test::onTestDesktop())

#include "tst_main_window_desktop.moc"
