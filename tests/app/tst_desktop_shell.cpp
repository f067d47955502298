#include "app/desktop/GlobalHotKey.h"
#include "app/desktop/LocalService.h"
#include "app/desktop/PortalShortcut.h"
#include "app/desktop/SingleInstance.h"
#include "support/AwaitTask.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/keysym.h>

using namespace quiro;

namespace {

// Presses keys as a person would, through the X server (xdotool's XTEST), with another client's
// window focused: the hot key must work while the call's window has the focus.
bool press(const QString& keys)
{
    return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0;
}

} // namespace

class TestDesktopShell : public QObject {
    Q_OBJECT

private slots:
    void hotKeyModifiers_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("fires");
        using K = GlobalHotKey;
        QTest::newRow("Ctrl+Shift") << int(K::control | K::shift) << true;
        QTest::newRow("Ctrl+Shift with NumLock and CapsLock")
            << int(K::control | K::shift | K::numLock | K::capsLock) << true;
        QTest::newRow("Ctrl+Alt+Shift") << int(K::control | K::alt | K::shift) << false;
        QTest::newRow("Ctrl alone") << int(K::control) << false;
    }

    void hotKeyModifiers()
    {
        QFETCH(int, state);
        QFETCH(bool, fires);
        QCOMPARE(GlobalHotKey::matches(uint16_t(state)), fires);
    }

    void hotKeyFiresOncePerPressWhateverHasTheFocus()
    {
        QUIRO_REQUIRE_TEST_DESKTOP();
        // Another program's window has the focus, as the video call would.
        QProcess other;
        other.start(QStringLiteral("xmessage"),
                    {QStringLiteral("-name"), QStringLiteral("the-call"), QStringLiteral("call")});
        QVERIFY(other.waitForStarted());
        QTest::qWait(300);
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--name"),
                           QStringLiteral("the-call"), QStringLiteral("windowfocus"), QStringLiteral("--sync")});

        GlobalHotKey hotKey;
        const auto problem = hotKey.install();
        QVERIFY2(!problem, problem ? qPrintable(*problem) : "");
        QSignalSpy activated(&hotKey, &GlobalHotKey::activated);
        QVERIFY(press(QStringLiteral("ctrl+shift+space")));
        QTRY_COMPARE(activated.size(), 1);
        // NumLock on changes nothing (which modifiers match is the unit test above).
        QVERIFY(press(QStringLiteral("Num_Lock")));
        QVERIFY(press(QStringLiteral("ctrl+shift+space")));
        QTRY_COMPARE(activated.size(), 2);
        QVERIFY(press(QStringLiteral("Num_Lock")));
        QTest::qWait(200);
        QCOMPARE(activated.size(), 2);
        other.kill();
        other.waitForFinished();
    }

    void hotKeyTakenByAnotherProgramIsSaid()
    {
        QUIRO_REQUIRE_TEST_DESKTOP();
        // Another client (a connection of its own) holds the combination first.
        Display* display = XOpenDisplay(nullptr);
        QVERIFY(display);
        const KeyCode space = XKeysymToKeycode(display, XK_space);
        XGrabKey(display, space, ControlMask | ShiftMask, DefaultRootWindow(display), True, GrabModeAsync,
                 GrabModeAsync);
        XSync(display, False);
        GlobalHotKey hotKey;
        const auto problem = hotKey.install();
        XCloseDisplay(display);
        QVERIFY(problem);
        QVERIFY2(problem->startsWith("Ctrl+Shift+Space is taken by another program"), qPrintable(*problem));
        QVERIFY(!hotKey.isInstalled());
    }

    void withoutThePortalTheWaylandPathSaysSo()
    {
        // No session bus here (as on many X11 desktops): the portal path reports why it cannot bind.
        QVERIFY(!PortalShortcut::isOffered());
        PortalShortcut portal;
        const auto problem = test::awaitTask(portal.bind());
        QVERIFY(problem && *problem);
        QCOMPARE(**problem, "this desktop offers no global shortcuts portal");
    }

    void secondStartHandsOverToTheFirst()
    {
        QTemporaryDir runtime;
        SingleInstance first(runtime.path());
        QCOMPARE(first.claim(), SingleInstance::Claim::first);
        QSignalSpy shown(&first, &SingleInstance::activationRequested);
        // The second start runs on a thread of its own, as another process would, while this one serves.
        SingleInstance::Claim second = SingleInstance::Claim::failed;
        QThread* other = QThread::create([&] { second = SingleInstance(runtime.path()).claim(); });
        other->start();
        QTRY_VERIFY(other->isFinished());
        delete other;
        QCOMPARE(second, SingleInstance::Claim::handedOver);
        QTRY_COMPARE(shown.size(), 1);
    }

    void localServiceStartedOnDemandAndStoppedWithTheApp()
    {
        test::TempHome home;
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        const Config config{QStringLiteral("http://localhost:%1").arg(port), {}, {}};
        {
            LocalService service(config);
            const auto outcome = test::awaitTask(service.ensureRunning(), LocalService::startTimeoutMs + 5000);
            QCOMPARE(outcome, std::optional(LocalService::Outcome::started));
            QVERIFY(service.ownsChild());
            // A second app, or the same one started again, finds it running and leaves it alone.
            LocalService again(config);
            QCOMPARE(test::awaitTask(again.ensureRunning()), std::optional(LocalService::Outcome::alreadyRunning));
            QVERIFY(!again.ownsChild());
        }
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY2(!socket.waitForConnected(500), "the service should have stopped with the app");
        QVERIFY(QFileInfo(home.file(QStringLiteral(".quiroai/service/service.log"))).size() > 0);
        const Config remote{QStringLiteral("https://coach.example.com"), {}, {}};
        QCOMPARE(test::awaitTask(LocalService(remote).ensureRunning()), std::optional(LocalService::Outcome::notLocal));
    }
};

QTEST_MAIN(TestDesktopShell)
#include "tst_desktop_shell.moc"
