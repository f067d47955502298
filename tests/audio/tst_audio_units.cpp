// Audio rules that need no sound server: the microphone pump's cutting rule, whole-sample
// fragments, levels, and how the captures fail when no server answers.
#include "audio/AudioCapture.h"
#include "audio/AudioLevel.h"
#include "audio/ChunkPump.h"
#include "audio/FragmentChunker.h"
#include "audio/SoundServer.h"
#include "audio/SystemAudioCapture.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>

using namespace quiro;

namespace {

// Samples numbered 0, 1, 2 … so that order and loss are visible in the output.
QByteArray countingSamples(qsizetype first, qsizetype count)
{
    QByteArray bytes(count * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < count; ++i)
        qToLittleEndian<qint16>(qint16((first + i) % 30000), bytes.data() + 2 * i);
    return bytes;
}

QByteArray sine(double amplitude, qsizetype count, double frequencyHz = 440.0)
{
    QByteArray bytes(count * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < count; ++i) {
        const double value = amplitude * std::sin(2.0 * M_PI * frequencyHz * double(i) / 16000.0);
        qToLittleEndian<qint16>(qint16(std::lround(value)), bytes.data() + 2 * i);
    }
    return bytes;
}

} // namespace

class TestAudioUnits : public QObject {
    Q_OBJECT

private slots:

    // Pending samples before the ticks → the chunk count of each tick and what stays pending.
    void pumpCutsOneChunkPerTick_data()
    {
        QTest::addColumn<qsizetype>("pendingSamples");
        QTest::addColumn<QList<bool>>("chunkOnTick");
        QTest::addColumn<qsizetype>("pendingAfter");

        QTest::newRow("1599 is not enough") << qsizetype(1599) << QList<bool>{false, false} << qsizetype(1599);
        QTest::newRow("exactly 1600 leaves nothing") << qsizetype(1600) << QList<bool>{true, false} << qsizetype(0);
        QTest::newRow("1601 leaves one") << qsizetype(1601) << QList<bool>{true, false} << qsizetype(1);
        QTest::newRow("4000 never two on one tick")
            << qsizetype(4000) << QList<bool>{true, true, false} << qsizetype(800);
    }

    void pumpCutsOneChunkPerTick()
    {
        QFETCH(qsizetype, pendingSamples);
        QFETCH(QList<bool>, chunkOnTick);
        QFETCH(qsizetype, pendingAfter);

        ChunkPump pump;
        pump.append(countingSamples(0, pendingSamples));
        for (qsizetype tick = 0; tick < chunkOnTick.size(); ++tick) {
            const std::optional<QByteArray> chunk = pump.tick();
            QCOMPARE(chunk.has_value(), chunkOnTick[tick]);
            if (chunk) {
                QCOMPARE(chunk->size(), 3200);
                QCOMPARE(*chunk, countingSamples(tick * 1600, 1600));
            }
        }
        QCOMPARE(pump.pendingSamples(), pendingAfter);
    }

    void pumpKeepsSampleOrderAcrossOddDeliveries()
    {
        // The server may hand over fragments that split a sample; the chunk must still be the exact
        // byte sequence, not shifted by one.
        const QByteArray all = countingSamples(0, 1600);
        ChunkPump pump;
        pump.append(all.first(1001));
        QVERIFY(!pump.tick());
        pump.append(all.sliced(1001, 2198));
        QVERIFY(!pump.tick());
        QCOMPARE(pump.pendingSamples(), 1599);
        pump.append(all.sliced(3199));
        const std::optional<QByteArray> chunk = pump.tick();
        QVERIFY(chunk);
        QCOMPARE(*chunk, all);
    }

    void pumpClearDropsPending()
    {
        ChunkPump pump;
        pump.append(countingSamples(0, 2500));
        pump.clear();
        QCOMPARE(pump.pendingSamples(), 0);
        pump.append(countingSamples(5000, 1600));
        const std::optional<QByteArray> chunk = pump.tick();
        QVERIFY(chunk);
        QCOMPARE(*chunk, countingSamples(5000, 1600)); // nothing from before clear() leaks in
    }

    // Fragment sizes in bytes → the chunk size delivered for each (0 = none); 50 ms is 1600 bytes.
    void fragmentsBecomeWholeSamples_data()
    {
        QTest::addColumn<QList<int>>("fragments");
        QTest::addColumn<QList<int>>("chunks");

        QTest::newRow("10 ms fragments joined to 50 ms")
            << QList<int>{320, 320, 320, 320, 320, 320} << QList<int>{0, 0, 0, 0, 1600, 0};
        QTest::newRow("a long fragment passes whole") << QList<int>{4000} << QList<int>{4000};
        QTest::newRow("odd byte carried to the next") << QList<int>{1601, 1599} << QList<int>{1600, 1600};
        QTest::newRow("one byte short waits") << QList<int>{1599, 1} << QList<int>{0, 1600};
        QTest::newRow("empty fragment gives nothing") << QList<int>{0, 1600} << QList<int>{0, 1600};
    }

    void fragmentsBecomeWholeSamples()
    {
        QFETCH(QList<int>, fragments);
        QFETCH(QList<int>, chunks);

        int total = 0;
        for (int size : fragments)
            total += size;
        const QByteArray source = countingSamples(0, (total + 1) / 2).first(total);

        FragmentChunker chunker;
        QByteArray joined;
        int offset = 0;
        for (qsizetype i = 0; i < fragments.size(); ++i) {
            const std::optional<QByteArray> chunk = chunker.take(source.sliced(offset, fragments[i]), 1600);
            offset += fragments[i];
            QCOMPARE(chunk ? int(chunk->size()) : 0, chunks[i]);
            if (chunk) {
                QVERIFY(!chunk->isEmpty());
                QCOMPARE(chunk->size() % 2, 0);
                joined += *chunk;
            }
        }
        QCOMPARE(joined, source.first(joined.size())); // no byte lost, duplicated or reordered
    }

    void levels_data()
    {
        QTest::addColumn<QByteArray>("samples");
        QTest::addColumn<double>("expectedDbfs");

        const double inf = -std::numeric_limits<double>::infinity();
        QByteArray square(3200, Qt::Uninitialized);
        for (int i = 0; i < 1600; ++i)
            qToLittleEndian<qint16>(qint16(-32768), square.data() + 2 * i); // constant full scale: RMS 32768

        QTest::newRow("digital silence") << QByteArray(3200, '\0') << inf;
        QTest::newRow("no samples") << QByteArray() << inf;
        QTest::newRow("full-scale square") << square << 0.0;
        QTest::newRow("half-scale sine") << sine(16384.0, 16000) << -9.03;
        QTest::newRow("odd trailing byte ignored") << (sine(16384.0, 16000) + QByteArray(1, '\x7f')) << -9.03;
    }

    void levels()
    {
        QFETCH(QByteArray, samples);
        QFETCH(double, expectedDbfs);

        const double level = AudioLevel::rmsDbfs(samples);
        if (std::isinf(expectedDbfs)) {
            QVERIFY(std::isinf(level) && level < 0);
            QCOMPARE(AudioLevel::describe(level), "-inf dBFS (digital silence)");
        } else {
            QVERIFY2(std::abs(level - expectedDbfs) < 0.05, qPrintable(QString::number(level)));
        }
    }

    void meterOverChunksEqualsWhole()
    {
        const QByteArray loud = sine(20000.0, 8000);
        const QByteArray quiet = sine(200.0, 8000);
        AudioLevel::Meter meter;
        meter.add(loud);
        meter.add(quiet);
        QCOMPARE(meter.samples(), 16000);
        QVERIFY(std::abs(meter.dbfs() - AudioLevel::rmsDbfs(loud + quiet)) < 1e-9);
        QCOMPARE(AudioLevel::describe(-23.44), "-23.4 dBFS");
    }

    void noSoundServer()
    {
        // A socket path nobody listens on: every entry point must fail cleanly and say why.
        QTemporaryDir dir;
        const QByteArray previous = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:" + dir.filePath("no-server").toUtf8());
        test::LogCapture log;

        AudioCapture microphone;
        int chunks = 0;
        microphone.setOnChunk([&](const QByteArray&) { ++chunks; });
        const auto micError = QCoro::waitFor(microphone.start());
        QVERIFY(micError);
        QVERIFY2(micError->message.contains("No sound server"), qPrintable(micError->message));
        QVERIFY(!microphone.isRunning());

        SystemAudioCapture system;
        const std::optional<SystemAudioCapture::Failure> sysError = QCoro::waitFor(system.start());
        QVERIFY(sysError);
        QVERIFY(!sysError->error); // neither noDisplay nor permissionDenied: the server itself is missing
        QVERIFY2(sysError->message.contains("No sound server"), qPrintable(sysError->message));
        QVERIFY(!system.isRunning());
        QVERIFY(!SystemAudioCapture::isScreenRecordingGranted());
        QVERIFY(!AudioCapture::isMicrophoneAuthorized());

        const auto info = SoundServer::query(2000);
        QVERIFY(std::holds_alternative<QString>(info));

        microphone.stop();
        system.stop();
        QCOMPARE(chunks, 0);
        QVERIFY(!log.lines().contains("[SysAudio] Started — system audio capture active"));

        if (previous.isNull())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", previous);
    }

    void stopWithoutStart()
    {
        test::LogCapture log;
        AudioCapture microphone;
        microphone.stop();
        microphone.stop();
        SystemAudioCapture system;
        system.stop();
        QCOMPARE(log.lines(), QStringList{"[SysAudio] Stopped"});
    }
};

QTEST_GUILESS_MAIN(TestAudioUnits)
#include "tst_audio_units.moc"
