#include "core/NotificationCenter.h"
#include "history/ConversationStore.h"
#include "overlay/SessionWindowModel.h"
#include "session/SessionController.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace quiro;

namespace {
// Every notification of the program, in order.
class NotificationLog : public QObject {
public:
    NotificationLog()
    {
        for (const QString& name :
             {Notifications::showMain, Notifications::transcript, Notifications::hint, Notifications::sessionSaved})
            NotificationCenter::instance().observe(name, this, [this](const Notification& n) { names.append(n.name); });
    }
    QStringList names;
};

SessionController::Environment environment(ConversationStore& store, std::optional<QString> token)
{
    SessionController::Environment env;
    env.config = Config{QStringLiteral("http://127.0.0.1:9"), Config::defaultHintModel, Config::defaultLanguage};
    env.token = [token] { return token; };
    env.store = &store;
    return env;
}

TurnRecord turn(const char* speaker, const char* text)
{
    return TurnRecord{QString::fromLatin1(speaker), QString::fromLatin1(text), 1.0e9};
}
} // namespace

class TestSessionIdle : public QObject {
    Q_OBJECT

private slots:
    void startWithoutTokenOnlyAsksForTheMainWindow();
    void stopWhileIdleOnlyClearsCheckpointAndOverlay();
    void recoveredCheckpointNeedsTurns();
    void secondStartWhileStartingDoesNothing();
};

void TestSessionIdle::startWithoutTokenOnlyAsksForTheMainWindow()
{
    test::TempHome home;
    ConversationStore store;
    SessionController controller(environment(store, std::nullopt));
    SessionWindowModel window(Clock::system());
    controller.setSessionWindow(&window);
    NotificationLog log;

    QCoro::waitFor(controller.start());
    QCOMPARE(log.names, QStringList{Notifications::showMain});
    QVERIFY(!controller.running());
    QVERIFY(!window.hint());
    QVERIFY(store.loadRecent().isEmpty());
}

void TestSessionIdle::stopWhileIdleOnlyClearsCheckpointAndOverlay()
{
    test::TempHome home;
    ConversationStore store;
    store.saveCheckpoint(SessionCheckpoint{1.0e9, {}, 1.0e9});
    SessionController controller(environment(store, QStringLiteral("token")));
    SessionWindowModel window(Clock::system());
    controller.setSessionWindow(&window);
    window.showHint(QStringLiteral("💰 Price"), QStringLiteral("Ask what ROI would justify this"));
    window.setAudioError(true);
    NotificationLog log;

    controller.stop();
    QVERIFY(log.names.isEmpty());
    QVERIFY(!QFileInfo::exists(store.checkpointPath()));
    QVERIFY(!window.hint());
    QVERIFY(!window.audioError());
    QVERIFY(store.loadRecent().isEmpty());
    QVERIFY(!controller.postCallSummary());
}

void TestSessionIdle::recoveredCheckpointNeedsTurns()
{
    test::TempHome home;
    ConversationStore store;
    store.saveCheckpoint(SessionCheckpoint::make(1.0e9, {}));
    {
        SessionController controller(environment(store, std::nullopt));
        QVERIFY(!controller.recoveredCheckpoint());
        QVERIFY(QFileInfo::exists(store.checkpointPath())); // left on disk
    }
    store.saveCheckpoint(SessionCheckpoint::make(1.0e9, {turn("CLT", "hello there")}));
    SessionController controller(environment(store, std::nullopt));
    QVERIFY(controller.recoveredCheckpoint());
    QCOMPARE(controller.recoveredCheckpoint()->turns.size(), 1);
    controller.dismissRecoveredCheckpoint();
    QVERIFY(!controller.recoveredCheckpoint());
    QVERIFY(!QFileInfo::exists(store.checkpointPath()));
}

void TestSessionIdle::secondStartWhileStartingDoesNothing()
{
    // Without a sound server the microphone check fails; what matters is that the second start,
    // issued while the first waits for that check, returns at once without a second session.
    test::TempHome home;
    qputenv("PULSE_SERVER", "unix:/nonexistent/quiro-test-socket");
    ConversationStore store;
    SessionController controller(environment(store, QStringLiteral("token")));
    SessionWindowModel window(Clock::system());
    controller.setSessionWindow(&window);

    auto first = controller.start();
    auto second = controller.start();
    QVERIFY(second.isReady());
    QVERIFY(!first.isReady());
    QCoro::waitFor(first);
    qunsetenv("PULSE_SERVER");
    QVERIFY(!controller.running());
    QVERIFY(window.hint());
    QCOMPARE(window.hint()->label, QStringLiteral("⚠️ Mic"));
    QCOMPARE(window.hint()->text, QStringLiteral("Allow microphone in System Settings"));
    QVERIFY(store.loadRecent().isEmpty());
}

QTEST_GUILESS_MAIN(TestSessionIdle)
#include "tst_session_idle.moc"
