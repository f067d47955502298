#include "app/desktop/GlobalHotKey.h"

#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <X11/Xlib.h>
#include <X11/keysym.h>

using namespace quiro;

namespace {

bool onTestDesktop()
{
    return qEnvironmentVariableIsSet("QUIRO_TEST_DESKTOP") && qEnvironmentVariableIsSet("DISPLAY");
}

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
    void hotKeyModifiers_data();
    void hotKeyModifiers();
    void hotKeyFiresOncePerPressWhateverHasTheFocus();
    void hotKeyTakenByAnotherProgramIsSaid();
};

void TestDesktopShell::hotKeyModifiers_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("fires");
    using K = GlobalHotKey;
    QTest::newRow("Ctrl+Shift") << int(K::control | K::shift) << true;
    QTest::newRow("Ctrl+Shift with NumLock and CapsLock")
        << int(K::control | K::shift | K::numLock | K::capsLock) << true;
    QTest::newRow("Ctrl+Alt+Shift") << int(K::control | K::alt | K::shift) << false;
    QTest::newRow("Super+Ctrl+Shift") << int(K::super | K::control | K::shift) << false;
    QTest::newRow("Ctrl alone") << int(K::control) << false;
    QTest::newRow("Shift alone") << int(K::shift) << false;
}

void TestDesktopShell::hotKeyModifiers()
{
    QFETCH(int, state);
    QFETCH(bool, fires);
    QCOMPARE(GlobalHotKey::matches(uint16_t(state)), fires);
}

void TestDesktopShell::hotKeyFiresOncePerPressWhateverHasTheFocus()
{
    if (!onTestDesktop())
        QSKIP("needs the X server of scripts/test-desktop");
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
    // NumLock on changes nothing; other modifiers are other shortcuts.
    QVERIFY(press(QStringLiteral("Num_Lock")));
    QVERIFY(press(QStringLiteral("ctrl+shift+space")));
    QTRY_COMPARE(activated.size(), 2);
    QVERIFY(press(QStringLiteral("Num_Lock")));
    QVERIFY(press(QStringLiteral("ctrl+alt+shift+space")));
    QVERIFY(press(QStringLiteral("ctrl+space")));
    QTest::qWait(200);
    QCOMPARE(activated.size(), 2);
    other.kill();
    other.waitForFinished();
}

void TestDesktopShell::hotKeyTakenByAnotherProgramIsSaid()
{
    if (!onTestDesktop())
        QSKIP("needs the X server of scripts/test-desktop");
    // Another client (a connection of its own) holds the combination first.
    Display* display = XOpenDisplay(nullptr);
    QVERIFY(display);
    const KeyCode space = XKeysymToKeycode(display, XK_space);
    XGrabKey(display, space, ControlMask | ShiftMask, DefaultRootWindow(display), True, GrabModeAsync, GrabModeAsync);
    XSync(display, False);
    GlobalHotKey hotKey;
    const auto problem = hotKey.install();
    XCloseDisplay(display);
    QVERIFY(problem);
    QVERIFY2(problem->startsWith("Ctrl+Shift+Space is taken by another program"), qPrintable(*problem));
    QVERIFY(!hotKey.isInstalled());
}

QTEST_MAIN(TestDesktopShell)
#include "tst_desktop_shell.moc"
