// The session controller without a sound server or a service: captures and speech-to-text streams
// are stand-ins that the tests open, fail, feed and drain at the moments that matter.

#include "audio/AudioSource.h"
#include "core/NotificationCenter.h"
#include "core/Paths.h"
#include "history/ConversationStore.h"
#include "overlay/SessionWindowModel.h"
#include "session/SessionController.h"
#include "support/TestSupport.h"
#include "transcription/Transcriber.h"

#include <QFileInfo>
#include <QFuture>
#include <QPromise>
#include <QSignalSpy>
#include <QTest>

#include <qcoro/qcorofuture.h>
#include <qcoro/qcorotask.h>

using namespace quiro;

namespace {

// A capture whose opening the test decides (or that opens at once).
struct SourceProbe {
    bool openAtOnce = true;
    std::optional<AudioSource::Failure> failWith;
    std::shared_ptr<QPromise<std::optional<AudioSource::Failure>>> opening;
    AudioSource::ServerLinkHandler link;
    bool stopped = false;

    void open(std::optional<AudioSource::Failure> outcome = std::nullopt)
    {
        opening->addResult(std::move(outcome));
        opening->finish();
    }
};

class FakeSource final : public AudioSource {
public:
    explicit FakeSource(std::shared_ptr<SourceProbe> probe)
        : m_probe(std::move(probe))
    {
    }
    void setOnChunk(ChunkHandler) override {}
    void setOnServerLink(ServerLinkHandler handler) override { m_probe->link = std::move(handler); }
    QCoro::Task<std::optional<Failure>> start() override
    {
        auto probe = m_probe;
        probe->opening = std::make_shared<QPromise<std::optional<Failure>>>();
        probe->opening->start();
        QFuture<std::optional<Failure>> future = probe->opening->future();
        if (probe->openAtOnce)
            probe->open(probe->failWith);
        co_return co_await future;
    }
    void stop() override
    {
        m_probe->stopped = true;
        if (m_probe->opening && !m_probe->opening->future().isFinished())
            m_probe->open(Failure{std::nullopt, "stopped while starting"});
    }

private:
    std::shared_ptr<SourceProbe> m_probe;
};

// A speech-to-text stream the test speaks through. It drains at once on stop unless told to hold.
struct StreamProbe {
    bool holdDrain = false;
    bool started = false;
    bool stopped = false;
    TranscriptStream stream;
    std::function<void()> connected;
    std::function<void(const StreamTrouble&)> trouble;
    std::function<void(const QString&)> final;
    std::function<void()> drained;

    void say(const QString& text)
    {
        stream.push({Speaker::manager, text});
        if (final)
            final(text);
    }
    void drain()
    {
        stream.finish();
        drained();
    }
};

class FakeTranscriber final : public Transcriber {
public:
    explicit FakeTranscriber(std::shared_ptr<StreamProbe> probe)
        : m_probe(std::move(probe))
    {
    }
    ~FakeTranscriber() override { m_probe->stream.finish(); }
    void start() override { m_probe->started = true; }
    void stop() override
    {
        m_probe->stopped = true;
        if (!m_probe->holdDrain)
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [probe = m_probe] { probe->drain(); }, Qt::QueuedConnection);
    }
    void send(QByteArray) override {}
    TranscriptStream transcripts() override { return m_probe->stream; }
    void onConnected(std::function<void()> callback) override { m_probe->connected = std::move(callback); }
    void onDisconnected(std::function<void(const StreamTrouble&)> callback) override
    {
        m_probe->trouble = std::move(callback);
    }
    void onFinalTranscript(std::function<void(const QString&)> callback) override
    {
        m_probe->final = std::move(callback);
    }
    void onDrained(std::function<void()> callback) override { m_probe->drained = std::move(callback); }

private:
    std::shared_ptr<StreamProbe> m_probe;
};

// Every notification of the program, in order.
class NotificationLog : public QObject {
public:
    NotificationLog()
    {
        for (const QString& name :
             {Notifications::showMain, Notifications::transcript, Notifications::hint, Notifications::sessionSaved})
            NotificationCenter::instance().observe(name, this, [this](const Notification& n) {
                names.append(n.name);
                if (n.name == Notifications::sessionSaved)
                    saved.append(n.object.value<SessionRecord>());
            });
    }
    QStringList names;
    QList<SessionRecord> saved;
};

// A controller wired to stand-ins, its overlay model, and a temporary home.
struct Rig {
    test::TempHome home;
    ConversationStore store;
    std::shared_ptr<SourceProbe> mic = std::make_shared<SourceProbe>();
    std::shared_ptr<SourceProbe> sys = std::make_shared<SourceProbe>();
    std::shared_ptr<StreamProbe> micStream = std::make_shared<StreamProbe>();
    std::shared_ptr<StreamProbe> sysStream = std::make_shared<StreamProbe>();
    std::optional<QString> token = QStringLiteral("token");
    std::optional<Config> settingsFile; // what a start reads again, when set
    QStringList streamLanguages;        // the language each stream was made for
    QStringList signOuts;               // the notifications already posted when the sign-out came
    NotificationLog log;
    SessionWindowModel window{Clock::system()};
    std::unique_ptr<SessionController> controller;

    void build()
    {
        SessionController::Environment env;
        env.config = Config{QStringLiteral("http://127.0.0.1:9"), Config::defaultHintModel, Config::defaultLanguage};
        env.token = [this] { return token; };
        env.signOut = [this] { signOuts.append(log.names.join(',')); };
        env.store = &store;
        env.drainLimitMs = 200;
        env.makeMicrophone = [this] { return std::make_unique<FakeSource>(mic); };
        env.makeSystemAudio = [this] { return std::make_unique<FakeSource>(sys); };
        // The microphone's stream is made first, the system audio's second.
        env.makeTranscriber = [this, made = 0](const Config& config, const QString&) mutable {
            streamLanguages.append(config.language);
            return std::make_unique<FakeTranscriber>(made++ == 0 ? micStream : sysStream);
        };
        if (settingsFile)
            env.reloadConfig = [this] { return *settingsFile; };
        controller = std::make_unique<SessionController>(std::move(env));
        controller->setSessionWindow(&window);
    }
    // Starts and waits until the call runs.
    [[nodiscard]] bool run()
    {
        if (!controller)
            build();
        controller->start();
        return QTest::qWaitFor([this] { return controller->running(); }, 2000);
    }
    [[nodiscard]] bool stopAndSettle()
    {
        controller->stop();
        return QTest::qWaitFor([this] { return controller->state() == SessionController::State::idle; }, 2000);
    }
};

TurnRecord turn(const char* speaker, const char* text)
{
    return TurnRecord{QString::fromLatin1(speaker), QString::fromLatin1(text), 1.0e9};
}

QStringList texts(const QList<TurnRecord>& turns)
{
    QStringList result;
    for (const TurnRecord& t : turns)
        result.append(t.text);
    return result;
}

} // namespace

class TestSessionHeadless : public QObject {
    Q_OBJECT

private slots:
    void startWithoutTokenOnlyAsksForTheMainWindow()
    {
        Rig rig;
        rig.token.reset();
        rig.build();
        QCoro::waitFor(rig.controller->start());
        QCOMPARE(rig.log.names, QStringList{Notifications::showMain});
        QVERIFY(!rig.controller->running());
        QVERIFY(!rig.window.hint());
        QVERIFY(rig.store.loadRecent().isEmpty());
    }

    void stopWhileIdleOnlyClearsCheckpointAndOverlay()
    {
        Rig rig;
        QVERIFY(rig.store.saveCheckpoint(SessionCheckpoint{1.0e9, {}, 1.0e9}));
        rig.build();
        rig.window.showHint(QStringLiteral("💰 Price"), QStringLiteral("Ask what ROI would justify this"));
        rig.window.setAudioError(true);

        rig.controller->stop();
        QVERIFY(rig.log.names.isEmpty());
        QVERIFY(!QFileInfo::exists(rig.store.checkpointPath()));
        QVERIFY(!rig.window.hint());
        QVERIFY(!rig.window.audioError());
        QVERIFY(rig.store.loadRecent().isEmpty());
        QVERIFY(!rig.controller->postCallSummary());
    }

    void recoveredCheckpointNeedsTurns()
    {
        Rig rig;
        QVERIFY(rig.store.saveCheckpoint(SessionCheckpoint::make(1.0e9, {})));
        rig.build();
        QVERIFY(!rig.controller->recoveredCheckpoint());
        QVERIFY(QFileInfo::exists(rig.store.checkpointPath())); // left on disk

        QVERIFY(rig.store.saveCheckpoint(SessionCheckpoint::make(1.0e9, {turn("CLT", "hello there")})));
        rig.build();
        QCOMPARE(rig.controller->recoveredCheckpoint()->turns.size(), 1);
        // Quitting (a stop while idle) must not throw away a call nobody has dealt with.
        rig.controller->stop();
        QVERIFY(QFileInfo::exists(rig.store.checkpointPath()));
        rig.controller->dismissRecoveredCheckpoint();
        QVERIFY(!rig.controller->recoveredCheckpoint());
        QVERIFY(!QFileInfo::exists(rig.store.checkpointPath()));
    }

    void stopDuringStartWins_data()
    {
        QTest::addColumn<bool>("whileSystemAudioOpens");
        QTest::newRow("while the microphone opens") << false;
        QTest::newRow("while the system audio opens") << true;
    }

    void stopDuringStartWins()
    {
        // Quit or sign-out while start() waits for a device: no call may begin afterwards.
        QFETCH(bool, whileSystemAudioOpens);
        Rig rig;
        (whileSystemAudioOpens ? rig.sys : rig.mic)->openAtOnce = false;
        rig.build();
        auto start = rig.controller->start();
        QTRY_VERIFY(!start.isReady() && rig.controller->state() == SessionController::State::starting);
        QVERIFY(!rig.controller->start().isReady() || rig.controller->state() == SessionController::State::starting);

        rig.controller->stop();
        QCOMPARE(rig.controller->state(), SessionController::State::idle);
        QVERIFY(rig.mic->stopped);
        QTRY_VERIFY(start.isReady());
        QTest::qWait(50);
        QVERIFY(!rig.controller->running());
        QVERIFY(rig.log.saved.isEmpty());
        QVERIFY(!QFileInfo::exists(rig.store.checkpointPath()));
        // The device's "stopped while starting" is no failure to show.
        QVERIFY(rig.controller->alert().isEmpty() && !rig.window.hint());
    }

    void microphoneThatDoesNotOpenSaysWhy()
    {
        Rig rig;
        rig.mic->failWith = AudioSource::Failure{std::nullopt, "No sound server answers (Connection refused) — start "
                                                               "PulseAudio or PipeWire (pipewire-pulse)"};
        rig.build();
        QCoro::waitFor(rig.controller->start());
        QVERIFY(!rig.controller->running());
        QCOMPARE(rig.window.hint()->text, rig.mic->failWith->message);
        QCOMPARE(rig.controller->alert(), rig.mic->failWith->message);
        QVERIFY(rig.log.saved.isEmpty());
    }

    void lastWordsAfterStopAreSaved()
    {
        Rig rig;
        rig.micStream->holdDrain = rig.sysStream->holdDrain = true;
        QVERIFY(rig.run());
        rig.micStream->say("hello from me");
        QTRY_COMPARE(rig.log.names.count(Notifications::transcript), 1);

        rig.controller->stop();
        QCOMPARE(rig.controller->state(), SessionController::State::stopping);
        QVERIFY(!rig.controller->running());
        QVERIFY(rig.mic->stopped && rig.sys->stopped && rig.micStream->stopped && rig.sysStream->stopped);
        // The service's results for the last sentences arrive after the stop.
        rig.sysStream->say("their last words");
        rig.micStream->say("my last words");
        rig.micStream->drain();
        QTest::qWait(20);
        QVERIFY(rig.log.saved.isEmpty()); // one stream is still draining
        rig.sysStream->drain();
        QTRY_COMPARE(rig.controller->state(), SessionController::State::idle);

        QCOMPARE(rig.log.saved.size(), 1);
        QCOMPARE(texts(rig.log.saved.first().turns),
                 (QStringList{"hello from me", "their last words", "my last words"}));
        QCOMPARE(rig.store.loadRecent(), rig.log.saved);
        QVERIFY(rig.controller->lastRecordSaved());
    }

    void streamThatNeverDrainsDoesNotHoldTheCall()
    {
        Rig rig;
        rig.micStream->holdDrain = true;
        QVERIFY(rig.run());
        rig.micStream->say("still here");
        QVERIFY(rig.stopAndSettle()); // the drain limit (200 ms here) ends the wait
        QCOMPARE(texts(rig.log.saved.first().turns), QStringList{"still here"});
    }

    void failedSaveKeepsTheCallAndSavesItBeforeTheNext()
    {
        Rig rig;
        // A file where the sessions folder belongs: no session file can be written (also as root).
        test::writeFile(Paths::sessionsRoot(), "in the way");
        QVERIFY(rig.run());
        rig.micStream->say("worth keeping");
        QTRY_COMPARE(rig.log.names.count(Notifications::transcript), 1);
        QVERIFY(rig.stopAndSettle());

        QVERIFY(rig.log.saved.isEmpty()); // nothing claims a save that did not happen
        QVERIFY(!rig.controller->lastRecordSaved());
        QVERIFY2(rig.controller->alert().startsWith("Could not save the call: cannot create the folder") &&
                     rig.controller->alert().endsWith("— kept in the recovery file"),
                 qPrintable(rig.controller->alert()));
        QCOMPARE(texts(rig.store.loadCheckpoint()->turns), QStringList{"worth keeping"});
        QCOMPARE(rig.controller->recoveredCheckpoint(), rig.store.loadCheckpoint());

        // Space again: the next start saves the kept call whole (same record) before it begins.
        QVERIFY(QFile::remove(Paths::sessionsRoot()));
        const QUuid id = rig.controller->lastRecord()->id;
        QVERIFY(rig.run());
        QCOMPARE(rig.log.saved.size(), 1);
        QCOMPARE(rig.log.saved.first().id, id);
        QVERIFY(!rig.controller->recoveredCheckpoint());
        QVERIFY(rig.controller->alert().isEmpty());
    }

    void crashedCallIsSavedBeforeTheNextOne()
    {
        Rig rig;
        const QList<TurnRecord> crashed{turn("CLT", "is it expensive"), turn("MGR", "let me show you")};
        const double startedAt = Clock::system().now() - 600;
        QVERIFY(rig.store.saveCheckpoint(SessionCheckpoint{startedAt, crashed, startedAt + 90}));
        rig.build();
        QSignalSpy recovered(rig.controller.get(), &SessionController::recoveredCallSaved);
        QVERIFY(rig.run());

        QCOMPARE(recovered.size(), 1);
        QCOMPARE(rig.log.saved.size(), 1);
        const SessionRecord& record = rig.log.saved.first();
        QCOMPARE(record.turns, crashed);
        QCOMPARE(record.durationSeconds(), 90.0);
        QVERIFY(record.score && !record.analysisJSON);
        QVERIFY(!rig.controller->recoveredCheckpoint());
        QVERIFY(rig.stopAndSettle());
        QCOMPARE(rig.store.loadRecent().size(), 2); // both calls are in the history
    }

    void refusedSignInEndsTheCallThenSignsOut_data()
    {
        QTest::addColumn<bool>("expiredAtStart");
        QTest::newRow("token expired before the call") << true;
        QTest::newRow("token refused during the call") << false;
    }

    void refusedSignInEndsTheCallThenSignsOut()
    {
        QFETCH(bool, expiredAtStart);
        Rig rig;
        if (expiredAtStart) {
            // A JSON Web Token whose "exp" (1) is long past.
            rig.token = QStringLiteral("eyJhbGciOiJIUzI1NiJ9.eyJleHAiOjF9.c2ln");
            rig.build();
            QCoro::waitFor(rig.controller->start());
            QCOMPARE(rig.controller->state(), SessionController::State::idle);
            QCOMPARE(rig.log.names, QStringList{Notifications::showMain});
            QCOMPARE(rig.signOuts.size(), 1);
        } else {
            QVERIFY(rig.run());
            rig.micStream->say("before the refusal");
            rig.micStream->trouble({StreamTrouble::Kind::unauthorized, "Invalid or missing bearer token", -1});
            QTRY_COMPARE(rig.controller->state(), SessionController::State::idle);
            QCOMPARE(rig.signOuts.size(), 1);
            // Saved under the account it was made with: before the sign-out, not after.
            QVERIFY(rig.signOuts.first().contains(Notifications::sessionSaved));
        }
        QCOMPARE(rig.controller->alert(), "Your sign-in has expired — sign in again");
    }

    void hopelessStreamEndsTheCallAndSaysWhy()
    {
        Rig rig;
        QVERIFY(rig.run());
        const QString why = "No speech model for language 'klingon'; available: en";
        rig.micStream->trouble({StreamTrouble::Kind::unusable, why, -1});
        QCOMPARE(rig.window.statusText(), why);
        QTRY_COMPARE(rig.controller->state(), SessionController::State::idle);
        QCOMPARE(rig.controller->alert(), why);
        QCOMPARE(rig.log.saved.size(), 1); // a call that heard nothing is still kept
        QVERIFY(rig.signOuts.isEmpty());
    }

    void statusFollowsTheStreamsAndTheSoundServer()
    {
        Rig rig;
        QVERIFY(rig.run());
        QCOMPARE(rig.window.statusText(), "Connecting…"); // the streams have not answered yet
        rig.micStream->connected();
        QCOMPARE(rig.window.statusText(), "Listening…");
        rig.sysStream->trouble({StreamTrouble::Kind::unreachable, "Connection refused", 2000});
        QCOMPARE(rig.window.statusText(), "Cannot reach the service at http://127.0.0.1:9 — retrying");
        rig.sysStream->connected();
        QCOMPARE(rig.window.statusText(), "Listening…");
        rig.mic->link(AudioSource::ServerLink::lost);
        QTRY_COMPARE(rig.window.statusText(), "Sound server lost — reconnecting…");
        rig.mic->link(AudioSource::ServerLink::restored);
        QTRY_COMPARE(rig.window.statusText(), "Listening…");
        rig.micStream->trouble({StreamTrouble::Kind::dropped, "connection closed", 2000});
        QCOMPARE(rig.window.statusText(), "Reconnecting…");
        rig.micStream->say("a transcript means the stream works");
        QTRY_COMPARE(rig.window.statusText(), "Listening…");
    }

    void sellerSentencePutsTheHintAwayAShortReplyDoesNot()
    {
        Rig rig;
        QVERIFY(rig.run());
        rig.window.showHint(QStringLiteral("💰 Price"), QStringLiteral("Ask what ROI would justify this"));
        rig.micStream->say("yes sure");
        QTRY_COMPARE(rig.log.names.count(Notifications::transcript), 1);
        QVERIFY(rig.window.hint());
        rig.micStream->say("what would justify it");
        QTRY_COMPARE(rig.log.names.count(Notifications::transcript), 2);
        QVERIFY(!rig.window.hint());
    }

    void eachCallReadsTheSettingsAgain()
    {
        // A language chosen in the main window between two calls applies to the second one.
        Rig rig;
        rig.settingsFile = Config{QStringLiteral("http://127.0.0.1:9"), Config::defaultHintModel, QStringLiteral("de")};
        rig.build();
        QVERIFY(!rig.controller->sessionStartedAt());
        const double before = Clock::system().now();
        QVERIFY(rig.run());
        QVERIFY(rig.controller->sessionStartedAt() >= before);
        QVERIFY(rig.stopAndSettle());
        QVERIFY(!rig.controller->sessionStartedAt());
        rig.settingsFile->language = QStringLiteral("fr");
        QVERIFY(rig.run());
        QVERIFY(rig.stopAndSettle());
        QCOMPARE(rig.streamLanguages, (QStringList{"de", "de", "fr", "fr"}));
    }
};

QTEST_GUILESS_MAIN(TestSessionHeadless)
#include "tst_session_headless.moc"
