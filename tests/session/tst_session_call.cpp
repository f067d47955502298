// A coached call through the real pieces: the session controller against quiro-service, with
// speech played into the test desktop's speakers (the client) and virtual microphone (the seller).

#include "ServiceProcess.h"
#include "account/AuthManager.h"
#include "account/TokenStore.h"
#include "core/NotificationCenter.h"
#include "history/ConversationStore.h"
#include "overlay/SessionWindowModel.h"
#include "session/SessionController.h"
#include "support/AwaitTask.h"
#include "support/PrivateSoundServer.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <qcoro/qcorotask.h>

using namespace quiro;

namespace {

struct Line {
    QString device; // "spk": the client through the speakers; "micfeed": the seller's microphone
    QString text;
};

// Speaks the lines one after another, each as soon as the previous one has been played, with a
// pause between them so that the recognizer ends each utterance.
class ScriptedCall : public QObject {
public:
    ScriptedCall(QList<Line> lines, const QString& folder)
        : m_lines(std::move(lines))
        , m_folder(folder)
    {
    }

    void play() { next(); }
    bool finished() const { return m_next > m_lines.size(); }

private:
    void next()
    {
        if (m_next >= m_lines.size()) {
            m_next = m_lines.size() + 1;
            return;
        }
        const Line& line = m_lines.at(m_next);
        const QString wav = m_folder + QStringLiteral("/line%1.wav").arg(m_next);
        ++m_next;
        QProcess flite;
        flite.start(QStringLiteral("flite"), {QStringLiteral("-voice"), QStringLiteral("kal16"), QStringLiteral("-t"),
                                              line.text, QStringLiteral("-o"), wav});
        flite.waitForFinished(20000);
        auto* player = new QProcess(this);
        connect(player, &QProcess::finished, this, [this, player] {
            player->deleteLater();
            QTimer::singleShot(1500, this, [this] { next(); });
        });
        player->start(QStringLiteral("paplay"), {QStringLiteral("--device=") + line.device, wav});
    }

    QList<Line> m_lines;
    QString m_folder;
    qsizetype m_next = 0;
};

// What the call announced, in order.
class CallLog : public QObject {
public:
    explicit CallLog(SessionWindowModel& window)
    {
        auto& center = NotificationCenter::instance();
        center.observe(Notifications::transcript, this, [this](const Notification& n) {
            speakers.insert(n.userInfo.value(QStringLiteral("speaker")).toString());
            ++transcripts;
        });
        center.observe(Notifications::sessionSaved, this,
                       [this](const Notification& n) { saved.append(n.object.value<SessionRecord>()); });
        connect(&window, &SessionWindowModel::hintChanged, this, [this, &window] {
            if (window.hint())
                ++hintsShown;
            else if (hintsShown > 0)
                ++hintsHidden;
        });
        connect(&window, &SessionWindowModel::statusTextChanged, this,
                [this, &window] { statuses.append(window.statusText()); });
    }

    QSet<QString> speakers;
    int transcripts = 0;
    QList<SessionRecord> saved;
    int hintsShown = 0;
    int hintsHidden = 0;
    QStringList statuses;
};

} // namespace

class TestSessionCall : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QUIRO_REQUIRE_TEST_DESKTOP();
        m_home = std::make_unique<test::TempHome>();
        m_service = std::make_unique<ServiceProcess>(QStringLiteral(QUIRO_SERVICE_BINARY),
                                                     m_home->file(QStringLiteral("service")), ServiceProcess::Tls::off);
        QString error;
        QVERIFY2(m_service->start(&error), qPrintable(error));

        const Config config{m_service->apiBase(), Config::defaultHintModel, Config::defaultLanguage};
        m_tokens = std::make_unique<TokenStore>(TokenStore::Backend::fileOnly);
        m_auth = std::make_unique<AuthManager>(config, m_tokens.get(), Clock::system());
        const auto failure = QCoro::waitFor(m_auth->registerAccount(
            QStringLiteral("seller@example.com"), QStringLiteral("secret123"), QStringLiteral("Sam")));
        QVERIFY2(!failure, failure ? qPrintable(failure->message()) : "");
        m_store = std::make_unique<ConversationStore>();
    }

    void cleanup()
    {
        m_auth.reset();
        m_tokens.reset();
        m_store.reset();
        m_service.reset();
        m_home.reset();
    }

    void coachedCallIsTranscribedHintedSavedAndAnalysed()
    {
        SessionWindowModel window(Clock::system());
        SessionController controller(environment());
        controller.setSessionWindow(&window);
        CallLog log(window);

        QCoro::waitFor(controller.start());
        QVERIFY(controller.running());
        QVERIFY2(!window.audioError(), "the speakers' monitor should be recorded on the test desktop");
        QTRY_VERIFY_WITH_TIMEOUT(log.statuses.contains(QStringLiteral("Listening…")), 15000);

        ScriptedCall call({{"spk", "Honestly the price is too expensive for our budget right now."},
                           {"micfeed", "I understand. What would the return need to look like for you?"},
                           {"spk", "We already use a competitor and we are locked into a contract."},
                           {"spk", "When can we start and what are the next steps to sign?"},
                           {"micfeed", "Great, let us put a time on the calendar for Thursday."}},
                          m_home->path());
        call.play();
        QTRY_VERIFY_WITH_TIMEOUT(call.finished(), 90000);
        // The analysis needs four turns; the recognizer may still be finishing the last line.
        QTRY_VERIFY_WITH_TIMEOUT(log.transcripts >= 4, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(
            log.speakers.contains(QStringLiteral("MGR")) && log.speakers.contains(QStringLiteral("CLT")), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(log.hintsShown >= 1 && log.hintsHidden >= 1, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_store->checkpointPath()), 10000);
        QVERIFY(!m_store->loadCheckpoint()->turns.isEmpty());

        controller.stop();
        QVERIFY(!controller.running());
        QVERIFY(test::awaitTask(controller.untilIdle(), 5000));
        QVERIFY(!QFileInfo::exists(m_store->checkpointPath()));
        QCOMPARE(log.saved.size(), 1);
        const SessionRecord first = log.saved.first();
        QVERIFY(first.turns.size() >= 4);
        QVERIFY(!first.analysisJSON);
        QVERIFY(controller.postCallSummary());
        QCOMPARE(controller.postCallSummary()->displayState(), PostCallSummary::DisplayState::pending);

        // The analysis arrives, updates the summary and the overlay's score, and re-saves the record.
        QTRY_COMPARE_WITH_TIMEOUT(log.saved.size(), 2, 60000);
        const SessionRecord analysed = log.saved.last();
        QCOMPARE(analysed.id, first.id);
        QVERIFY(analysed.analysis());
        QCOMPARE(controller.postCallSummary()->displayState(), PostCallSummary::DisplayState::present);
        QCOMPARE(window.lastScore(), analysed.score);
        const auto stored = m_store->loadRecent();
        QCOMPARE(stored.size(), 1);
        QCOMPARE(stored.first(), analysed);
    }

    void serviceGoingAwayMidCallKeepsTheSessionAndItsTurns()
    {
        SessionWindowModel window(Clock::system());
        SessionController controller(environment());
        controller.setSessionWindow(&window);
        CallLog log(window);

        QCoro::waitFor(controller.start());
        QVERIFY(controller.running());
        QTRY_VERIFY_WITH_TIMEOUT(log.statuses.contains(QStringLiteral("Listening…")), 15000);
        ScriptedCall call({{"spk", "We would like to talk about the budget for next quarter."}}, m_home->path());
        call.play();
        QTRY_VERIFY_WITH_TIMEOUT(log.speakers.contains(QStringLiteral("CLT")), 60000);

        m_service->stop();
        // First the lost stream, then the service that does not come back, with its address.
        QTRY_VERIFY_WITH_TIMEOUT(log.statuses.contains(QStringLiteral("Reconnecting…")), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(window.statusText(),
                                  QStringLiteral("Cannot reach the service at %1 — retrying").arg(m_service->apiBase()),
                                  10000);
        QVERIFY(controller.running());

        controller.stop();
        QVERIFY(test::awaitTask(controller.untilIdle(), 5000));
        QCOMPARE(log.saved.size(), 1);
        QVERIFY(!log.saved.first().turns.isEmpty());
        QCOMPARE(m_store->loadRecent().size(), 1);
        // Too short for an analysis, or the service is gone: either way it ends as unavailable.
        QTRY_COMPARE_WITH_TIMEOUT(controller.postCallSummary()->displayState(), PostCallSummary::DisplayState::failed,
                                  70000);
        QCOMPARE(m_store->loadRecent().first().turns, log.saved.first().turns);
    }

    void withoutSystemAudioTheCallRunsOnTheMicrophone()
    {
        // A microphone (a sine source) and no output at all, as on a machine whose playback cannot be
        // recorded.
        test::PrivateSoundServer sound(m_home->path(),
                                       {QStringLiteral("module-sine-source source_name=sinemic rate=16000")});
        QVERIFY2(test::PrivateSoundServer::answers(), "the microphone-only sound server did not start");
        SessionWindowModel window(Clock::system());
        SessionController controller(environment());
        controller.setSessionWindow(&window);
        CallLog log(window);
        test::LogCapture lines;

        QCoro::waitFor(controller.start());
        QVERIFY(controller.running());
        QVERIFY(window.audioError());
        QVERIFY(lines.lines().contains(QStringLiteral("[Session] System audio failed: noDisplay")));
        QTRY_VERIFY_WITH_TIMEOUT(log.statuses.contains(QStringLiteral("Listening…")), 15000);

        controller.stop();
        QVERIFY(test::awaitTask(controller.untilIdle(), 5000));
        QVERIFY(!window.audioError());
        QCOMPARE(log.saved.size(), 1);
        const SessionRecord& record = log.saved.first();
        // One stream was open: the speech-to-text estimate counts the microphone alone.
        QCOMPARE(record.deepgramCostUSD, record.durationSeconds() / 60.0 * 0.0043 * 1.0);
    }

    void consoleShowsTheCallAndLogsThePlumbing()
    {
        // The terminal shows the call; what the streams and captures do goes to the log file, and to
        // standard error as well with --verbose.
        const auto console = [this](const QStringList& options) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("API_BASE"), m_service->apiBase());
            return test::runProgram(
                QStringLiteral(QUIRO_EXECUTABLE),
                QStringList{QStringLiteral("console"), QStringLiteral("--duration"), QStringLiteral("2")} + options,
                environment, {}, 60000);
        };
        const auto [quietExit, quietOut, quietErr] = console({});
        QVERIFY2(quietExit == 0, qPrintable(quietOut + quietErr));
        QVERIFY2(quietOut.contains(QStringLiteral("· Listening…")) &&
                     quietOut.contains(QStringLiteral("Call ended after")),
                 qPrintable(quietOut));
        for (const QString& plumbing :
             {QStringLiteral("quiro.app.deepgram: Connecting"), QStringLiteral("[SysAudio]")}) {
            QVERIFY2(!quietOut.contains(plumbing) && !quietErr.contains(plumbing), qPrintable(quietOut + quietErr));
            QVERIFY(
                test::readFile(m_home->file(QStringLiteral(".quiroai/logs/quiro.log"))).contains(plumbing.toUtf8()));
        }
        const auto [verboseExit, verboseOut, verboseErr] = console({QStringLiteral("--verbose")});
        QVERIFY(verboseExit == 0);
        QVERIFY2(verboseErr.contains(QStringLiteral("[SysAudio] Started")), qPrintable(verboseErr));
    }

private:
    SessionController::Environment environment()
    {
        SessionController::Environment env;
        env.config = Config{m_service->apiBase(), Config::defaultHintModel, Config::defaultLanguage};
        env.token = [auth = m_auth.get()] { return auth->token(); };
        env.store = m_store.get();
        env.checkpointIntervalMs = 3000;
        return env;
    }

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<TokenStore> m_tokens;
    std::unique_ptr<AuthManager> m_auth;
    std::unique_ptr<ConversationStore> m_store;
};

QTEST_GUILESS_MAIN(TestSessionCall)
#include "tst_session_call.moc"
