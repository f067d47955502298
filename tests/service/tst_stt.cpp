#include "ServiceProcess.h"
#include "service/stt/NoiseFill.h"
#include "service/stt/SpeechDecoder.h"
#include "service/stt/SpeechModel.h"
#include "service/stt/SpeechService.h"
#include "service/stt/SttSession.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QWebSocket>
#include <QWebSocketServer>
#include <QtEndian>

#include <vector>

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/feat.h>

using namespace quiro::service;

class TestStt : public QObject {
    Q_OBJECT

private slots:
    void noiseFill_data()
    {
        QTest::addColumn<QList<int>>("runs"); // alternating: zeros, then non-zero samples, ...
        QTest::addColumn<int>("changed");
        QTest::newRow("short zero runs stay") << QList<int>{79, 10, 40, 10} << 0;
        QTest::newRow("a long run is filled") << QList<int>{80, 10} << 80;
        QTest::newRow("only the long run") << QList<int>{20, 5, 200, 5, 30} << 200;
        QTest::newRow("all silence") << QList<int>{1600} << 1600;
    }
    void noiseFill()
    {
        QFETCH(QList<int>, runs);
        QFETCH(int, changed);
        std::vector<qint16> samples;
        for (int i = 0; i < runs.size(); ++i)
            samples.insert(samples.end(), size_t(runs[i]), qint16(i % 2 ? 1000 : 0));
        const std::vector<qint16> before = samples;
        NoiseFill fill;
        QCOMPARE(fill.apply(samples), qsizetype(changed));
        // Speech is never touched; filled silence stays faint.
        for (size_t i = 0; i < samples.size(); ++i)
            QVERIFY(before[i] != 0 ? samples[i] == before[i] : std::abs(samples[i]) <= NoiseFill::amplitude);
    }

    void noiseFillAcrossBlocks()
    {
        // 60 zeros at the end of one block and 60 at the start of the next make one long run.
        std::vector<qint16> first(100, 500);
        std::fill(first.end() - 60, first.end(), 0);
        std::vector<qint16> second(100, 500);
        std::fill(second.begin(), second.begin() + 60, 0);
        NoiseFill fill;
        QCOMPARE(fill.apply(first), qsizetype(0));
        QCOMPARE(fill.apply(second), qsizetype(60));
        QVERIFY(std::none_of(second.begin(), second.begin() + 60, [](qint16 s) { return s == 0; }));
    }

    void modelLanguages()
    {
        SpeechModel model;
        QVERIFY(model.languages().contains("en"));
        QVERIFY(!model.modelFolderFor("en").isEmpty());
        QCOMPARE(model.modelFolderFor("en_US"), model.modelFolderFor("en"));
        QVERIFY(model.modelFolderFor("de").isEmpty());
        QVERIFY(model.modelFolderFor("../en-us").isEmpty());
        QVERIFY(model.modelFolderFor(QString()).isEmpty());
    }

    void decodesSpeechOnItsThread()
    {
        QString error;
        const QByteArray speech = synthesizeSpeech("the price is too expensive for our team", &error);
        QVERIFY2(!speech.isEmpty(), qPrintable(error));
        SpeechModel model;
        QThread thread;
        // Stops the worker even when a check fails half-way.
        const auto stopThread = qScopeGuard([&thread] {
            thread.quit();
            thread.wait();
        });
        auto* decoder = new SpeechDecoder(model, "en", nullptr);
        decoder->moveToThread(&thread);
        connect(&thread, &QThread::finished, decoder, &QObject::deleteLater);
        QSignalSpy utterances(decoder, &SpeechDecoder::utterance);
        QSignalSpy finished(decoder, &SpeechDecoder::finished);
        thread.start();
        QMetaObject::invokeMethod(decoder, &SpeechDecoder::start, Qt::QueuedConnection);
        // Exact digital silence before and after, in odd-sized chunks: the decoder must cope
        // with both.
        const QByteArray silence(16000, '\0');
        QByteArray audio = silence + speech + silence + silence + silence;
        for (qsizetype at = 0; at < audio.size(); at += 3333) {
            const QByteArray chunk = audio.mid(at, 3333);
            QMetaObject::invokeMethod(
                decoder, [decoder, chunk] { decoder->feed(chunk); }, Qt::QueuedConnection);
        }
        // The silence after the words ends the utterance without a flush.
        QTRY_VERIFY_WITH_TIMEOUT(utterances.size() >= 1, 30000);
        const QString text = utterances.first().first().toString();
        QVERIFY2(text.contains("price") && text.contains("expensive"), qPrintable(text));
        QMetaObject::invokeMethod(decoder, &SpeechDecoder::finish, Qt::QueuedConnection);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    }

    void nextStreamStartsClean()
    {
        // Decoders are pooled: the stream after a quiet caller's starts from the model's cepstral
        // mean, not from the one that caller's audio taught the decoder.
        QString error;
        QByteArray quiet = synthesizeSpeech("we already work with another vendor", &error);
        QVERIFY2(!quiet.isEmpty(), qPrintable(error));
        for (qsizetype i = 0; i < quiet.size(); i += 2)
            qToLittleEndian<qint16>(qint16(qFromLittleEndian<qint16>(quiet.constData() + i) / 20), quiet.data() + i);
        auto meanOf = [](ps_decoder_t* decoder) {
            cmn_t* mean = ps_get_feat(decoder)->cmn_struct;
            std::vector<float> values(size_t(mean->veclen));
            cmn_live_get(mean, values.data());
            return values;
        };

        SpeechModel model;
        ps_decoder_t* decoder = model.acquire("en", &error);
        QVERIFY2(decoder, qPrintable(error));
        const std::vector<float> initial = meanOf(decoder);
        ps_start_utt(decoder);
        ps_process_raw(decoder, reinterpret_cast<const qint16*>(quiet.constData()), size_t(quiet.size() / 2), FALSE,
                       TRUE);
        ps_end_utt(decoder);
        QVERIFY(meanOf(decoder) != initial);
        model.release("en", decoder);

        ps_decoder_t* next = model.acquire("en", &error);
        QCOMPARE(next, decoder);
        QVERIFY(meanOf(next) == initial);
        model.release("en", next);
    }

    void shortPauseEndsTheUtterance()
    {
        // A turn in conversation: 600 ms after the words, the final result is out without a flush (the
        // recognizer on its own waits a second).
        QString error;
        const QByteArray speech = synthesizeSpeech("we already work with another vendor", &error);
        QVERIFY2(!speech.isEmpty(), qPrintable(error));
        SpeechModel model;
        SpeechDecoder decoder(model, "en", nullptr);
        QSignalSpy utterances(&decoder, &SpeechDecoder::utterance);
        decoder.start();
        const QByteArray audio = QByteArray(8000, '\0') + speech + QByteArray(19200, '\0');
        for (qsizetype at = 0; at < audio.size(); at += 3200)
            decoder.feed(audio.mid(at, 3200));
        QCOMPARE(utterances.size(), 1);
        QVERIFY2(utterances.first().first().toString().contains("vendor"),
                 qPrintable(utterances.first().first().toString()));
    }

    void poolLoadsAheadOfDemand()
    {
        SpeechModel model;
        model.setDecodersAhead(2, 3);
        QString error;
        using LoadAhead = SpeechModel::LoadAhead;
        QCOMPARE(model.loadAhead("en", &error), LoadAhead::loaded);
        QCOMPARE(model.loadAhead("en", &error), LoadAhead::loaded);
        QCOMPARE(model.loadAhead("en", &error), LoadAhead::notNeeded);

        // A stream takes one: one more is loaded ahead, and the warm-up waiting for that wakes.
        std::vector<ps_decoder_s*> taken{model.acquire("en", &error)};
        const std::atomic<bool> running{false};
        model.waitForDemand("en", running);
        QCOMPARE(model.loadAhead("en", &error), LoadAhead::loaded);
        // Beyond the most loaded, streams still get decoders but none is loaded ahead.
        for (int i = 0; i < 3; ++i) {
            taken.push_back(model.acquire("en", &error));
            QVERIFY2(taken.back(), qPrintable(error));
        }
        QCOMPARE(model.loadAhead("en", &error), LoadAhead::notNeeded);
        // Given back, only those waiting for the next streams stay loaded.
        for (ps_decoder_s* decoder : taken)
            model.release("en", decoder);
        QCOMPARE(model.idleDecoders("en"), size_t(2));
    }

    void floodingClientIsStopped()
    {
        // A real WebSocket pair on loopback; the session is given a small queue to fill.
        QWebSocketServer server("test", QWebSocketServer::NonSecureMode);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        QWebSocket client;
        QStringList messages;
        connect(&client, &QWebSocket::textMessageReceived, this, [&messages](const QString& m) { messages << m; });
        QSignalSpy closed(&client, &QWebSocket::disconnected);
        client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/stt").arg(server.serverPort())));
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 10000);

        SpeechModel model;
        SpeechService speech(model);
        auto* session = new SttSession(std::unique_ptr<QWebSocket>(server.nextPendingConnection()), speech,
                                       {"en", 16000}, 60'000, this, 32000);
        QSignalSpy ended(session, &SttSession::ended);
        session->begin();
        QTRY_COMPARE_WITH_TIMEOUT(messages.size(), 1, 10000); // Metadata
        // Under the limit, then a chunk that alone exceeds it: refused whatever was decoded meanwhile.
        client.sendBinaryMessage(QByteArray(16000, '\0'));
        client.sendBinaryMessage(QByteArray(40000, '\0'));
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 10000);
        QCOMPARE(int(client.closeCode()), 1008);
        QCOMPARE(messages.size(), 2);
        QVERIFY(messages.last().contains("faster than it can be decoded"));
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 10000);
    }
};

QTEST_GUILESS_MAIN(TestStt)
#include "tst_stt.moc"
