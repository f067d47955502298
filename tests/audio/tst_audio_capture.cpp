// Capture against a real sound server: the private PulseAudio of scripts/test-desktop, where
// "spk" is the default output and "micfeed" feeds the default input. Speech made with flite is
// played into those sinks and must come out of the captures intact.
#include "ServiceProcess.h"
#include "audio/AudioCapture.h"
#include "audio/AudioLevel.h"
#include "audio/SystemAudioCapture.h"
#include "support/PrivateSoundServer.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <atomic>
#include <cmath>

using namespace quiro;

namespace {

constexpr int sampleRate = 16000;
// Samples louder than this count as speech when measuring where speech starts and ends; far
// above the resampler's ringing around silence, far below flite's voice.
constexpr int speechThreshold = 200;

// pactl against the test desktop's server: its output, or nothing when it failed.
constexpr auto pactl = &test::PrivateSoundServer::pactl;

// Makes `device` the default "sink" or "source" and waits until the server names it so: PipeWire's
// session manager applies a new default a moment after pactl returns.
bool setDefault(const QString& kind, const QString& device)
{
    if (!pactl({"set-default-" + kind, device}))
        return false;
    for (int tries = 0; tries < 50; ++tries) {
        if (pactl({"get-default-" + kind}) == device)
            return true;
        QTest::qWait(100);
    }
    qWarning().noquote() << "the default" << kind << "did not become" << device;
    return false;
}

struct Span {
    qsizetype first = -1;
    qsizetype last = -1;
    double seconds() const { return first < 0 ? 0.0 : double(last - first + 1) / sampleRate; }
};

Span speechSpan(const QByteArray& s16le)
{
    Span span;
    const qsizetype count = s16le.size() / 2;
    for (qsizetype i = 0; i < count; ++i) {
        if (std::abs(qFromLittleEndian<qint16>(s16le.constData() + 2 * i)) > speechThreshold) {
            if (span.first < 0)
                span.first = i;
            span.last = i;
        }
    }
    return span;
}

// Collects chunks from the capture thread.
struct Collector {
    mutable QMutex mutex;
    QList<QByteArray> chunks;
    QList<qint64> arrivalMs;
    QSet<Qt::HANDLE> threads;
    QElapsedTimer clock;
    std::atomic<bool> stopReturned = false;
    std::atomic<int> afterStop = 0;

    Collector() { clock.start(); }

    std::function<void(QByteArray)> handler()
    {
        return [this](QByteArray chunk) {
            if (stopReturned)
                ++afterStop;
            const QMutexLocker lock(&mutex);
            chunks.append(std::move(chunk));
            arrivalMs.append(clock.elapsed());
            threads.insert(QThread::currentThreadId());
        };
    }
    qsizetype count() const
    {
        const QMutexLocker lock(&mutex);
        return chunks.size();
    }
    // Every chunk came from one thread, and not from the test's.
    bool fromOneCaptureThread() const
    {
        const QMutexLocker lock(&mutex);
        return threads.size() == 1 && !threads.contains(QThread::currentThreadId());
    }
    QList<qsizetype> sizes() const
    {
        const QMutexLocker lock(&mutex);
        QList<qsizetype> result;
        for (const QByteArray& chunk : chunks)
            result << chunk.size();
        return result;
    }
    QByteArray joined(qsizetype from = 0) const
    {
        const QMutexLocker lock(&mutex);
        QByteArray all;
        for (qsizetype i = from; i < chunks.size(); ++i)
            all += chunks[i];
        return all;
    }
};

// What one capture delivered, in order: "c" for a chunk, "L" and "R" for the server lost and
// restored, so that a test can say which may follow which.
struct Timeline {
    mutable QMutex mutex;
    QString events;

    void attach(AudioSource& capture)
    {
        capture.setOnChunk([this](const QByteArray&) { add(QLatin1Char('c')); });
        capture.setOnServerLink([this](AudioSource::ServerLink link) {
            add(QLatin1Char(link == AudioSource::ServerLink::lost ? 'L' : 'R'));
        });
    }
    void add(QChar event)
    {
        const QMutexLocker lock(&mutex);
        events += event;
    }
    bool matches(const QString& pattern) const
    {
        const QMutexLocker lock(&mutex);
        return QRegularExpression(pattern).match(events).hasMatch();
    }
    QString text() const
    {
        const QMutexLocker lock(&mutex);
        return events;
    }
};

// Loads modules for one test and unloads them (restoring the defaults) however the test ends.
struct ServerChanges {
    QStringList modules;
    ~ServerChanges()
    {
        setDefault("sink", "spk");
        setDefault("source", "mic");
        for (auto it = modules.crbegin(); it != modules.crend(); ++it)
            pactl({"unload-module", *it});
    }
    bool load(const QStringList& arguments)
    {
        const std::optional<QString> index = pactl(QStringList{"load-module"} + arguments);
        if (index && !index->isEmpty())
            modules.append(*index);
        return index && !index->isEmpty();
    }
    // Unloads the newest module, as a device unplugged.
    bool unplugNewest() { return pactl({"unload-module", modules.takeLast()}).has_value(); }
    // An output with its description, as a headset plugged in.
    bool addOutput(const QString& sink, const QString& description)
    {
        return load({"module-null-sink", "sink_name=" + sink, "sink_properties=device.description=" + description});
    }
    // A microphone hearing what is played into the sink `feed`.
    bool addMicrophone(const QString& feed, const QString& source, const QString& description)
    {
        return load({"module-null-sink", "sink_name=" + feed}) &&
               load({"module-remap-source", "master=" + feed + ".monitor", "source_name=" + source,
                     "source_properties=device.description=" + description});
    }
};

} // namespace

class TestAudioCapture : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_speechFile; // what m_played holds, as raw samples
    QByteArray m_played;

    // Plays the speech into `sink` and lets its last fragments arrive.
    bool play(const QString& sink)
    {
        const bool played = test::runProgram("paplay", {"--raw", "--format=s16le", "--rate=16000", "--channels=1",
                                                        "--device=" + sink, m_speechFile})
                                .exitCode == 0;
        QTest::qWait(400);
        return played;
    }

    // The captured speech lasts as long as the played speech (within 10 %) and is clearly louder
    // than the silence around it.
    void checkSpeech(const QByteArray& captured, const QString& what)
    {
        const Span played = speechSpan(m_played);
        const Span heard = speechSpan(captured);
        QVERIFY2(heard.first >= 0, qPrintable(what + ": no speech arrived"));
        const double ratio = heard.seconds() / played.seconds();
        QVERIFY2(ratio > 0.9 && ratio < 1.1, qPrintable(QStringLiteral("%1: heard %2 s of speech, played %3 s")
                                                            .arg(what)
                                                            .arg(heard.seconds())
                                                            .arg(played.seconds())));
        const QByteArray speech = captured.sliced(heard.first * 2, (heard.last - heard.first + 1) * 2);
        const double level = AudioLevel::rmsDbfs(speech);
        QVERIFY2(level > -35.0, qPrintable(what + ": speech level " + AudioLevel::describe(level)));
        // Before the speech the sinks carry digital zeros. The last 100 ms before the first loud
        // sample are left out: they hold the soft onset of the first word.
        const qsizetype quietSamples = heard.first - sampleRate / 10;
        if (quietSamples >= sampleRate / 10) {
            const double before = AudioLevel::rmsDbfs(captured.first(quietSamples * 2));
            QVERIFY2(before < level - 30.0, qPrintable(what + ": silence at " + AudioLevel::describe(before)));
        }
    }

private slots:
    void initTestCase()
    {
        QUIRO_REQUIRE_TEST_DESKTOP();
        QString error;
        m_played = synthesizeSpeech(
            "We would like to talk about the budget for next quarter and the timeline of the rollout.", &error);
        QVERIFY2(m_played.size() > sampleRate * 2, qPrintable(error));
        m_speechFile = m_dir.filePath("speech.raw");
        test::writeFile(m_speechFile, m_played);
    }

    void systemAudioCarriesWhatIsPlayed()
    {
        test::LogCapture log;
        Collector collector;
        SystemAudioCapture capture;
        const auto failure = QCoro::waitFor(capture.start());
        QVERIFY2(!failure, failure ? qPrintable(failure->message) : "");
        capture.setOnChunk(collector.handler());
        QVERIFY(log.lines().contains("[SysAudio] Started — system audio capture active"));
        QCOMPARE(capture.deviceName(), "spk.monitor");

        QTRY_VERIFY_WITH_TIMEOUT(collector.count() > 0, 2000); // the keeper's silence flows at once
        QVERIFY(play("spk"));
        capture.stop();
        QVERIFY(log.lines().contains("[SysAudio] Stopped"));

        for (qsizetype size : collector.sizes())
            QVERIFY2(size > 0 && size % 2 == 0, qPrintable(QString::number(size)));
        QVERIFY(collector.fromOneCaptureThread());
        checkSpeech(collector.joined(), "system audio");
    }

    void microphoneDeliversFixedChunksOfSpeech()
    {
        Collector collector;
        AudioCapture capture;
        capture.setOnChunk(collector.handler());
        const auto failure = QCoro::waitFor(capture.start());
        QVERIFY2(!failure, failure ? qPrintable(failure->message) : "");
        QCOMPARE(capture.deviceName(), "mic");

        QTRY_VERIFY_WITH_TIMEOUT(collector.count() > 0, 2000);
        QVERIFY(play("micfeed"));
        capture.stop();

        const QList<qsizetype> sizes = collector.sizes();
        QCOMPARE(sizes, QList<qsizetype>(sizes.size(), 3200));
        QVERIFY(collector.fromOneCaptureThread());
        // About ten a second, paced by the pump rather than by the server's fragments.
        QVERIFY(sizes.size() > 20);
        const double seconds = double(collector.arrivalMs.last() - collector.arrivalMs.first()) / 1000.0;
        const double perSecond = double(sizes.size() - 1) / seconds;
        QVERIFY2(perSecond > 9.0 && perSecond < 11.0, qPrintable(QString::number(perSecond)));
        checkSpeech(collector.joined(), "microphone");
    }

    void nothingArrivesAfterStop()
    {
        Collector microphoneChunks;
        Collector systemChunks;
        AudioCapture microphone;
        SystemAudioCapture system;
        microphone.setOnChunk(microphoneChunks.handler());
        QVERIFY(!QCoro::waitFor(microphone.start()));
        QVERIFY(!QCoro::waitFor(system.start()));
        system.setOnChunk(systemChunks.handler());
        QTRY_VERIFY_WITH_TIMEOUT(microphoneChunks.count() >= 2 && systemChunks.count() >= 2, 3000);

        microphone.stop();
        microphoneChunks.stopReturned = true;
        system.stop();
        systemChunks.stopReturned = true;
        const qsizetype microphoneCount = microphoneChunks.count();
        const qsizetype systemCount = systemChunks.count();
        // Real audio keeps flowing in the server; wait a few pump periods to see none of it arrive.
        QTest::qWait(350);
        QCOMPARE(microphoneChunks.afterStop.load(), 0);
        QCOMPARE(systemChunks.afterStop.load(), 0);
        QCOMPARE(microphoneChunks.count(), microphoneCount);
        QCOMPARE(systemChunks.count(), systemCount);

        // A stopped capture starts again with nothing left over from before.
        Collector again;
        microphone.setOnChunk(again.handler());
        QVERIFY(!QCoro::waitFor(microphone.start()));
        QTRY_VERIFY_WITH_TIMEOUT(again.count() >= 1, 2000);
        microphone.stop();
    }

    void systemAudioFollowsDefaultOutput()
    {
        test::LogCapture log;
        ServerChanges changes;
        QVERIFY(changes.addOutput("headset", "Headset"));

        Collector collector;
        SystemAudioCapture capture;
        QVERIFY(!QCoro::waitFor(capture.start()));
        capture.setOnChunk(collector.handler());
        QTRY_VERIFY_WITH_TIMEOUT(collector.count() > 0, 2000);

        QVERIFY(setDefault("sink", "headset"));
        const QString followed = "[SysAudio] Default output changed — now capturing Headset (headset.monitor)";
        QTRY_VERIFY2_WITH_TIMEOUT(log.lines().contains(followed), qPrintable(log.lines().join('\n')), 5000);
        QCOMPARE(capture.deviceName(), "headset.monitor");

        const qsizetype switchedAt = collector.count();
        QVERIFY(play("headset"));
        QVERIFY(collector.count() > switchedAt);
        capture.stop();
        QVERIFY(log.lines().filter("Stream stopped with error").isEmpty());
        checkSpeech(collector.joined(switchedAt), "system audio after the switch");
    }

    void microphoneFollowsDefaultInput()
    {
        test::LogCapture log;
        ServerChanges changes;
        QVERIFY(changes.addMicrophone("headsetfeed", "headsetmic", "Headset-Mic"));

        Collector collector;
        AudioCapture capture;
        capture.setOnChunk(collector.handler());
        QVERIFY(!QCoro::waitFor(capture.start()));
        QTRY_VERIFY_WITH_TIMEOUT(collector.count() > 0, 2000);

        QVERIFY(setDefault("source", "headsetmic"));
        const QString followed = QStringLiteral("[Audio] Default microphone changed — now recording from Headset-Mic "
                                                "(headsetmic)");
        QTRY_VERIFY2_WITH_TIMEOUT(log.lines().contains(followed), qPrintable(log.lines().join('\n')), 5000);

        const qsizetype switchedAt = collector.count();
        QVERIFY(play("headsetfeed"));
        capture.stop();
        const QByteArray after = collector.joined(switchedAt);
        QCOMPARE(after.size() % 3200, 0);
        checkSpeech(after, "microphone after the switch");
    }

    void permissionProbes()
    {
        QVERIFY(SystemAudioCapture::isScreenRecordingGranted());
        QVERIFY(AudioCapture::isMicrophoneAuthorized());

        // With the microphone gone the server falls back to an output's monitor as its default input;
        // that is no microphone, and recording it would put the other side's words in the seller's mouth.
        ServerChanges changes;
        QVERIFY(setDefault("source", "spk.monitor"));
        QVERIFY(!AudioCapture::isMicrophoneAuthorized());
        AudioCapture capture;
        const auto failure = QCoro::waitFor(capture.start());
        QVERIFY(failure);
        QVERIFY2(failure->message.startsWith("No microphone found"), qPrintable(failure->message));
        QVERIFY(SystemAudioCapture::isScreenRecordingGranted());
    }

    void systemAudioStoppedOrDiscardedWhileStarting()
    {
        test::LogCapture log;
        // start() returns its task at the first suspension, while the server is still being asked.
        SystemAudioCapture stopped;
        QCoro::Task<std::optional<SystemAudioCapture::Failure>> first = stopped.start();
        stopped.stop();
        const auto stoppedResult = QCoro::waitFor(std::move(first));
        QVERIFY(stoppedResult);
        QCOMPARE(stoppedResult->message, "System audio capture was stopped while starting");
        QVERIFY(!stopped.isRunning());

        // The owner may go away meanwhile: the task still completes and touches nothing of it.
        auto discarded = std::make_unique<SystemAudioCapture>();
        QCoro::Task<std::optional<SystemAudioCapture::Failure>> second = discarded->start();
        discarded.reset();
        const auto discardedResult = QCoro::waitFor(std::move(second));
        QVERIFY(discardedResult);
        QCOMPARE(discardedResult->message, "System audio capture was discarded while starting");
        QVERIFY(!log.lines().contains("[SysAudio] Started — system audio capture active"));

        // And a capture stopped while starting can start for real afterwards.
        QVERIFY(!QCoro::waitFor(stopped.start()));
        QVERIFY(stopped.isRunning());
        stopped.stop();

        // Stops at every moment of the first few milliseconds, the server's handshake among them,
        // leave the server telling its other clients about a new default output. (PipeWire's
        // PulseAudio layer 0.3.65 stops doing so for good when a client hangs up while being named.)
        ServerChanges changes;
        QVERIFY(changes.addOutput("headset", "Headset"));
        SystemAudioCapture running;
        QVERIFY(!QCoro::waitFor(running.start()));
        for (int delayUs = 0; delayUs < 6000; delayUs += 50) {
            SystemAudioCapture capture;
            QCoro::Task<std::optional<SystemAudioCapture::Failure>> starting = capture.start();
            QThread::usleep(delayUs);
            capture.stop();
            QCoro::waitFor(std::move(starting));
        }
        QVERIFY(setDefault("sink", "headset"));
        QTRY_COMPARE_WITH_TIMEOUT(running.deviceName(), "headset.monitor", 3000);
    }

    void outputUnpluggedMidStream()
    {
        // A headset is the default output, then it is unplugged: its monitor and our stream on it
        // vanish, the server picks another default, and the capture carries on there without an error.
        test::LogCapture log;
        ServerChanges changes;
        QVERIFY(changes.addOutput("usbheadset", "USB-Headset"));
        QVERIFY(setDefault("sink", "usbheadset"));

        Collector collector;
        SystemAudioCapture capture;
        QVERIFY(!QCoro::waitFor(capture.start()));
        capture.setOnChunk(collector.handler());
        QCOMPARE(capture.deviceName(), "usbheadset.monitor");
        QTRY_VERIFY_WITH_TIMEOUT(collector.count() > 0, 3000);

        QVERIFY(changes.unplugNewest());
        QTRY_VERIFY_WITH_TIMEOUT(capture.deviceName() != "usbheadset.monitor", 3000);
        QVERIFY2(capture.deviceName().endsWith(".monitor"), qPrintable(log.lines().join('\n')));
        const qsizetype afterUnplug = collector.count();
        QTRY_VERIFY_WITH_TIMEOUT(collector.count() > afterUnplug + 5, 3000);
        capture.stop();
        QVERIFY2(log.lines().filter("stopped with error").isEmpty(), qPrintable(log.lines().join('\n')));
        QCOMPARE(log.lines().filter("Default output changed — now capturing").size(), 1);
    }

    void microphoneLostAndFound()
    {
        // The only microphone goes away while the default input is an output's monitor: there is
        // nothing the seller's side can be recorded from, which is said once; when a microphone is
        // the default again, recording resumes on it without a new session.
        test::LogCapture log;
        ServerChanges changes;
        QVERIFY(changes.addMicrophone("usbfeed", "usbmic", "USB-Mic"));

        Collector collector;
        AudioCapture capture;
        capture.setOnChunk(collector.handler());
        QVERIFY(!QCoro::waitFor(capture.start()));
        QTRY_VERIFY_WITH_TIMEOUT(collector.count() > 0, 2000);
        QVERIFY(setDefault("source", "usbmic"));
        QTRY_COMPARE_WITH_TIMEOUT(capture.deviceName(), "usbmic", 3000);

        QVERIFY(setDefault("source", "spk.monitor"));
        QVERIFY(changes.unplugNewest());
        const QString lost = "[Audio] Microphone stream stopped with error: No microphone found";
        QTRY_VERIFY2_WITH_TIMEOUT(!log.lines().filter(lost).isEmpty(),
                                  qPrintable(log.lines().join('\n') + " / " + capture.deviceName()), 3000);
        QVERIFY(capture.deviceName().isEmpty());

        QVERIFY(setDefault("source", "mic"));
        QTRY_VERIFY_WITH_TIMEOUT(log.lines().contains(QStringLiteral(
                                     "[Audio] Default microphone changed — now recording from Microphone (mic)")),
                                 3000);
        const qsizetype resumedAt = collector.count();
        QTRY_VERIFY_WITH_TIMEOUT(collector.count() > resumedAt + 3, 3000);
        capture.stop();
        QCOMPARE(log.lines().filter(lost).size(), 1);
    }

    void bothCapturesComeBackAfterTheSoundServerRestarts()
    {
        // The server crashes mid-call and is started again on the same socket a second later. Each
        // capture says once that it lost the server and once that audio flows again, delivers
        // nothing in between, and records on. A capture stopped meanwhile stays stopped.
        QTemporaryDir folder;
        test::PrivateSoundServer server(folder.path(), {"module-null-sink sink_name=spk",
                                                        // keeps the sink, and so its monitor, running
                                                        "module-sine sink=spk frequency=440",
                                                        "module-sine-source source_name=sinemic rate=16000"});
        QVERIFY(test::PrivateSoundServer::answers());
        test::LogCapture log;
        AudioCapture microphone;
        SystemAudioCapture system;
        AudioCapture stopped;
        Timeline microphoneEvents;
        Timeline systemEvents;
        Timeline stoppedEvents;
        microphoneEvents.attach(microphone);
        systemEvents.attach(system);
        stoppedEvents.attach(stopped);
        QVERIFY(!QCoro::waitFor(microphone.start()));
        QVERIFY(!QCoro::waitFor(system.start()));
        QVERIFY(!QCoro::waitFor(stopped.start()));
        QTRY_VERIFY_WITH_TIMEOUT(
            microphoneEvents.matches("^c") && systemEvents.matches("^c") && stoppedEvents.matches("^c"), 3000);

        server.kill();
        QTRY_VERIFY_WITH_TIMEOUT(
            microphoneEvents.matches("L") && systemEvents.matches("L") && stoppedEvents.matches("L"), 3000);
        QVERIFY(microphone.deviceName().isEmpty());
        stopped.stop(); // while it waits to reconnect
        // Down long enough for attempts that fail.
        QTest::qWait(1000);
        QVERIFY(server.start());

        QTRY_VERIFY2_WITH_TIMEOUT(microphoneEvents.matches("Rccc") && systemEvents.matches("Rccc"),
                                  qPrintable(microphoneEvents.text() + " / " + systemEvents.text()), 10000);
        QVERIFY2(microphoneEvents.matches("^c+LRc+$"), qPrintable(microphoneEvents.text()));
        QVERIFY2(systemEvents.matches("^c+LRc+$"), qPrintable(systemEvents.text()));
        QVERIFY2(stoppedEvents.matches("^c+L$"), qPrintable(stoppedEvents.text()));
        QCOMPARE(microphone.deviceName(), "sinemic");
        QCOMPARE(system.deviceName(), "spk.monitor");
        microphone.stop();
        system.stop();

        const QStringList lines = log.lines();
        QCOMPARE(lines.filter("tream stopped with error: lost the sound server (").size(), 3);
        QCOMPARE(lines.filter("] Sound server lost — reconnecting").size(), 3);
        QVERIFY(lines.contains("[Audio] Sound server back — recording from Sine source at 440 Hz (sinemic)"));
        QVERIFY(lines.contains("[SysAudio] Sound server back — recording from Null Output (spk.monitor)"));
        QCOMPARE(lines.filter("Sound server back").size(), 2);
        QVERIFY(lines.filter(" changed — now ").isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAudioCapture)
#include "tst_audio_capture.moc"
