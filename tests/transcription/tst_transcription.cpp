#include "core/Config.h"
#include "core/Paths.h"
#include "support/TestSupport.h"
#include "transcription/DeepgramClient.h"
#include "transcription/TranscriptStream.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QMutex>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QWebSocket>
#include <QWebSocketServer>

#include <atomic>
#include <memory>
#include <vector>

using namespace quiro;

namespace {

constexpr int waitMs = 5000;
const QString metadata = R"({"type":"Metadata"})";
const QByteArray closeStream = R"({"type":"CloseStream"})";

// Log lines of the transcription client ("level message"), collected through Qt's message handler.
class DeepgramLog {
public:
    DeepgramLog()
    {
        s_active = this;
        QLoggingCategory::setFilterRules("quiro.app.deepgram.debug=true");
        m_previous = qInstallMessageHandler(&DeepgramLog::handler);
    }
    ~DeepgramLog()
    {
        qInstallMessageHandler(m_previous);
        s_active = nullptr;
    }
    QStringList lines() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    bool contains(const QString& line) const { return lines().contains(line); }
    qsizetype count(const QString& part) const { return lines().filter(part).size(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (s_active && context.category && qstrcmp(context.category, "quiro.app.deepgram") == 0) {
            static const char* levels[] = {"debug", "warning", "critical", "fatal", "info"};
            const QMutexLocker lock(&s_active->m_mutex);
            s_active->m_lines.append(QLatin1String(levels[type]) + ' ' + message);
        }
    }

    static inline DeepgramLog* s_active = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_lines;
};

// A loopback "/stt" service (plain, or TLS with the given configuration) recording what arrives.
class SttServer : public QObject {
    Q_OBJECT
public:
    explicit SttServer(const QSslConfiguration& tls = {})
        : m_server("stt", tls.isNull() ? QWebSocketServer::NonSecureMode : QWebSocketServer::SecureMode)
        , m_secure(!tls.isNull())
    {
        if (m_secure)
            m_server.setSslConfiguration(tls);
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                m_sockets.push_back(socket);
                m_authorizations.push_back(socket->request().rawHeader("Authorization"));
                connect(socket, &QWebSocket::binaryMessageReceived, this,
                        [this](const QByteArray& bytes) { m_binary.push_back(bytes); });
                connect(socket, &QWebSocket::disconnected, this,
                        [this, socket] { m_closeCodes.push_back(int(socket->closeCode())); });
                emit opened(socket);
            }
        });
    }

    QString base() const
    {
        return QString(m_secure ? "https://localhost:%1" : "http://127.0.0.1:%1").arg(m_server.serverPort());
    }
    int connections() const { return int(m_sockets.size()); }
    QWebSocket* latest() const { return m_sockets.empty() ? nullptr : m_sockets.back().data(); }
    void sendText(const QString& text) { latest()->sendTextMessage(text); }

    std::vector<QPointer<QWebSocket>> m_sockets;
    std::vector<QByteArray> m_authorizations;
    std::vector<QByteArray> m_binary;
    std::vector<int> m_closeCodes;

signals:
    void opened(QWebSocket* socket);

private:
    QWebSocketServer m_server;
    bool m_secure = false;
};

// A WebSocket peer that completes the handshake, announces the stream, and then never reads
// again: the connection stalls once the kernel buffers are full.
class StalledPeer : public QObject {
public:
    StalledPeer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = m_server.nextPendingConnection();
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handshake(socket); });
        });
    }
    QString base() const { return QString("http://127.0.0.1:%1").arg(m_server.serverPort()); }

private:
    void handshake(QTcpSocket* socket)
    {
        m_request += socket->readAll();
        if (!m_request.contains("\r\n\r\n"))
            return;
        QByteArray key;
        for (const QByteArray& line : m_request.split('\n')) {
            if (line.toLower().startsWith("sec-websocket-key:"))
                key = line.mid(line.indexOf(':') + 1).trimmed();
        }
        const QByteArray accept =
            QCryptographicHash::hash(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11", QCryptographicHash::Sha1).toBase64();
        socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Accept: " +
                      accept + "\r\n\r\n");
        socket->write(QByteArray(1, char(0x81)) + QByteArray(1, char(metadata.size())) + metadata.toUtf8());
        // From now on nothing is read: what the client sends piles up.
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        socket->setReadBufferSize(1);
    }

    QTcpServer m_server;
    QByteArray m_request;
};

Config configFor(const QString& base)
{
    return Config{base, Config::defaultHintModel, "en"};
}

QString finalResult(const QString& transcript)
{
    return QString(R"({"type":"Results","is_final":true,"channel":{"alternatives":[{"transcript":"%1"}]}})")
        .arg(transcript);
}

// What a client delivers through its callbacks and its transcript stream.
struct Events {
    int connected = 0;
    int disconnected = 0;
    int drained = 0;
    QStringList finals;
    std::vector<StreamTrouble> troubles;

    void attach(DeepgramClient& client)
    {
        client.onConnected([this] { ++connected; });
        client.onDisconnected([this](const StreamTrouble& trouble) {
            ++disconnected;
            troubles.push_back(trouble);
        });
        client.onFinalTranscript([this](const QString& text) { finals.append(text); });
        client.onDrained([this] { ++drained; });
    }
};

struct Consumer {
    QStringList texts;
    std::vector<Speaker> speakers;
    bool done = false;
};

QCoro::Task<> consume(TranscriptStream stream, std::shared_ptr<Consumer> consumer)
{
    while (auto element = co_await stream.next()) {
        consumer->speakers.push_back(element->first);
        consumer->texts.append(element->second);
    }
    consumer->done = true;
}

// A client of a loopback "/stt" service, with its callbacks and transcript stream recorded.
struct Session {
    SttServer server;
    std::unique_ptr<DeepgramClient> client;
    Events events;
    std::shared_ptr<Consumer> consumer = std::make_shared<Consumer>();

    Session()
        : client(std::make_unique<DeepgramClient>(configFor(server.base()), "tok.en.x", 16000))
    {
        client->setDrainTimeoutMs(100);
        events.attach(*client);
        consume(client->transcripts(), consumer);
    }
    // Starts the client and waits until the server holds its `n`th connection.
    [[nodiscard]] bool start(int n = 1)
    {
        client->start();
        return QTest::qWaitFor([&] { return server.connections() == n; }, waitMs);
    }
    // Starts and announces the stream, as the service does once it is ready for audio.
    [[nodiscard]] bool open()
    {
        if (!start())
            return false;
        server.sendText(metadata);
        return QTest::qWaitFor([&] { return events.connected == 1; }, waitMs);
    }
};

} // namespace

class TestTranscription : public QObject {
    Q_OBJECT

private slots:
    void unusableAddressIsReportedOnceAndNeverRetried_data()
    {
        QTest::addColumn<QString>("base");
        QTest::newRow("not a URL") << "not a url";
        QTest::newRow("a scheme without WebSockets") << "ftp://127.0.0.1:1";
    }

    void unusableAddressIsReportedOnceAndNeverRetried()
    {
        QFETCH(QString, base);
        DeepgramLog log;
        DeepgramClient client(configFor(base), "t", 16000);
        Events events;
        events.attach(client);
        client.setReconnectDelayMs(10);
        client.start();
        QVERIFY(!client.streamUrl());
        QTRY_COMPARE_WITH_TIMEOUT(events.disconnected, 1, waitMs);
        QCOMPARE(events.troubles.front().kind, StreamTrouble::Kind::unusable);
        QVERIFY(events.troubles.front().isFinal());
        QVERIFY2(events.troubles.front().detail.contains(base), qPrintable(events.troubles.front().detail));
        QTest::qWait(100); // a retry, if there were one, would have run by now
        QCOMPARE(events.disconnected, 1);
        QCOMPARE(log.count("Connecting"), 0);
    }

    void refusalsBackOffAndHopelessOnesEndTheRetries_data()
    {
        // The close code the service gives a stream right after the upgrade, before any "Metadata".
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("kind");
        QTest::newRow("bad token") << 4401 << int(StreamTrouble::Kind::unauthorized);
        QTest::newRow("unknown language") << 1003 << int(StreamTrouble::Kind::unusable);
        QTest::newRow("too many streams") << 4429 << int(StreamTrouble::Kind::refused);
        QTest::newRow("recognizer failed") << 1011 << int(StreamTrouble::Kind::refused);
    }

    void refusalsBackOffAndHopelessOnesEndTheRetries()
    {
        QFETCH(int, code);
        QFETCH(int, kind);
        Session s;
        s.client->setReconnectDelayMs(20);
        QObject::connect(&s.server, &SttServer::opened, &s.server, [&s, code](QWebSocket* socket) {
            socket->sendTextMessage(R"({"type":"Error","message":"refused for a reason"})");
            socket->close(QWebSocketProtocol::CloseCode(code), "the close reason");
        });
        s.client->start();
        const bool retried = kind == int(StreamTrouble::Kind::refused);
        QTRY_COMPARE_WITH_TIMEOUT(s.events.disconnected, retried ? 3 : 1, waitMs);
        QCOMPARE(int(s.events.troubles.front().kind), kind);
        QCOMPARE(s.events.troubles.front().detail, "refused for a reason"); // the service's words win
        if (retried) {
            // Each refusal waits twice as long as the one before.
            QCOMPARE(s.events.troubles[0].retryInMs, 20);
            QCOMPARE(s.events.troubles[1].retryInMs, 40);
            QCOMPARE(s.events.troubles[2].retryInMs, 80);
        } else {
            QVERIFY(s.events.troubles.front().isFinal());
            QTest::qWait(100);
            QCOMPARE(s.server.connections(), 1);
        }
        s.client->stop();
    }

    void serviceDownIsUnreachableNotAClosedConnection()
    {
        // Nothing listens on the port: Qt's reason is reported, not a close code of a stream that
        // never opened, and the pause grows while the service stays away.
        QTcpServer reserve;
        QVERIFY(reserve.listen(QHostAddress::LocalHost, 0));
        const quint16 port = reserve.serverPort();
        reserve.close();
        DeepgramClient client(configFor(QString("http://127.0.0.1:%1").arg(port)), "t", 16000);
        client.setReconnectDelayMs(10);
        Events events;
        events.attach(client);
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(events.disconnected >= 2, waitMs);
        client.stop();
        QCOMPARE(events.troubles[0].kind, StreamTrouble::Kind::unreachable);
        QVERIFY2(!events.troubles[0].detail.contains("code"), qPrintable(events.troubles[0].detail));
        QVERIFY(events.troubles[1].retryInMs > events.troubles[0].retryInMs);
    }

    void secureStreamTrustsOnlyTheLocalServiceCertificate()
    {
        test::TempHome home;
        QTemporaryDir folder;
        QVERIFY2(test::makeCertificate(folder.path()), "openssl could not make a certificate");
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate(test::readFile(folder.filePath("cert.pem")), QSsl::Pem));
        tls.setPrivateKey(QSslKey(test::readFile(folder.filePath("key.pem")), QSsl::Rsa, QSsl::Pem));
        SttServer server(tls);
        const auto attempt = [&server](int disconnects) {
            DeepgramClient client(configFor(server.base()), "t", 16000);
            Events events;
            events.attach(client);
            client.start();
            if (disconnects > 0) {
                QVERIFY(client.streamUrl()->toString().startsWith("wss://localhost:"));
                QTRY_COMPARE_WITH_TIMEOUT(events.disconnected, disconnects, waitMs);
                QCOMPARE(server.connections(), 0);
                return;
            }
            QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
            QCOMPARE(server.m_authorizations.front(), "Bearer t");
            server.sendText(metadata);
            QTRY_COMPARE_WITH_TIMEOUT(events.connected, 1, waitMs);
            QCOMPARE(events.disconnected, 0);
        };
        // Without the service's certificate in ~/.quiroai/service the self-signed peer is refused;
        // with it, the stream opens and carries messages.
        attempt(1);
        QVERIFY(Paths::ensurePrivateDir(Paths::serviceDir()));
        QVERIFY(QFile::copy(folder.path() + "/cert.pem", Paths::serviceCertFile()));
        attempt(0);
    }

    void messages_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("binary");       // sent as a binary frame, decoded as UTF-8
        QTest::addColumn<QString>("delivered"); // empty: nothing is delivered
        QTest::addColumn<QString>("logged");    // empty: no line expected beyond the transcripts
        const QString results = R"({"type":"Results",%1})";
        const QString hi = R"("channel":{"alternatives":[{"transcript":"hi"}]})";
        const QString none;
        const QString ready = "info ✅ Metadata received — audio pipeline working";
        QTest::newRow("Metadata, text frame") << R"({"type":"Metadata","request_id":"r1"})" << false << none << ready;
        QTest::newRow("final, trimmed") << finalResult(" \t hello there  ") << false << "hello there" << none;
        QTest::newRow("final, binary frame") << finalResult("über") << true << "über" << none;
        QTest::newRow("interim") << results.arg(R"("is_final":false,)" + hi) << false << none << none;
        QTest::newRow("is_final not a boolean") << results.arg(R"("is_final":1,)" + hi) << false << none << none;
        QTest::newRow("spaces only") << finalResult("   \t ") << false << none << none;
        QTest::newRow("second alternative ignored")
            << results.arg(R"("is_final":true,"channel":{"alternatives":[{"transcript":""},{"transcript":"b"}]})")
            << false << none << none;
        QTest::newRow("not JSON") << "Results is_final" << false << none << none;
        // A server error is only logged: the stream stays open.
        QTest::newRow("Error with message") << R"({"type":"Error","message":"quota exceeded"})" << false << none
                                            << "critical Server error: quota exceeded";
        const QString raw = R"({"type":"Error","code":7})";
        QTest::newRow("Error without message") << raw << false << none << "critical Server error: " + raw;
    }

    void messages()
    {
        QFETCH(QString, message);
        QFETCH(bool, binary);
        QFETCH(QString, delivered);
        QFETCH(QString, logged);
        DeepgramLog log;
        Session s;
        s.client->setReconnectDelayMs(10);
        QVERIFY(s.start());
        if (binary)
            s.server.latest()->sendBinaryMessage(message.toUtf8());
        else
            s.server.sendText(message);
        // A marker after the message under test: once it arrives, the message before it was handled.
        s.server.sendText(finalResult("marker"));
        QTRY_VERIFY_WITH_TIMEOUT(s.events.finals.contains("marker"), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(s.consumer->texts.contains("marker"), waitMs);

        const QStringList expected = delivered.isEmpty() ? QStringList{"marker"} : QStringList{delivered, "marker"};
        QCOMPARE(s.events.finals, expected);
        QCOMPARE(s.consumer->texts, expected);
        QCOMPARE(s.consumer->speakers, std::vector<Speaker>(expected.size(), Speaker::manager));
        const QStringList transcriptLines = log.lines().filter("🎤");
        QCOMPARE(transcriptLines.size(), expected.size());
        QCOMPARE(transcriptLines.first(), QString("debug 🎤 '%1'").arg(expected.first()));
        if (!logged.isEmpty())
            QVERIFY2(log.contains(logged), qPrintable(log.lines().join('\n')));
        QCOMPARE(s.events.connected, logged.startsWith("info") ? 1 : 0);
        QCOMPARE(s.events.disconnected, 0);
        QCOMPARE(s.server.connections(), 1);
        s.client->stop();
        QTRY_VERIFY_WITH_TIMEOUT(s.consumer->done, waitMs);
    }

    void droppedConnectionReconnectsAfterTwoSecondsUnlessStopped()
    {
        DeepgramLog log;
        Session s;
        QVERIFY(s.start());
        QElapsedTimer sinceDrop;
        s.server.latest()->abort();
        sinceDrop.start();
        QTRY_COMPARE_WITH_TIMEOUT(s.events.disconnected, 1, waitMs);
        QVERIFY(log.contains("info Reconnecting in 2s…"));
        QTRY_COMPARE_WITH_TIMEOUT(s.server.connections(), 2, waitMs);
        QVERIFY2(sinceDrop.elapsed() >= 1800, qPrintable(QString::number(sinceDrop.elapsed())));

        // The new connection works like the first one.
        s.server.sendText(metadata);
        s.server.sendText(finalResult("again"));
        QTRY_COMPARE_WITH_TIMEOUT(s.events.finals, QStringList{"again"}, waitMs);
        QCOMPARE(s.events.connected, 1);
        QCOMPARE(log.count("Connecting — lang=en sr=16000"), 2);

        // Stopped while waiting to reconnect: no reconnect, and the stream finishes.
        s.client->setReconnectDelayMs(200);
        s.server.latest()->abort();
        QTRY_COMPARE_WITH_TIMEOUT(s.events.disconnected, 2, waitMs);
        s.client->stop();
        QTRY_VERIFY_WITH_TIMEOUT(s.consumer->done, waitMs);
        QTest::qWait(400); // twice the reconnect delay
        QCOMPARE(s.server.connections(), 2);
    }

    void stopSendsCloseStreamThenGoingAway_data()
    {
        // The session tears its clients down right after stopping them: the close request and the
        // close code must still reach the service.
        QTest::addColumn<bool>("destroy");
        QTest::newRow("stop") << false;
        QTest::newRow("stop, then destroy at once") << true;
    }

    void stopSendsCloseStreamThenGoingAway()
    {
        QFETCH(bool, destroy);
        Session s;
        QVERIFY(s.open());
        s.client->stop();
        if (destroy)
            s.client.reset();
        QTRY_COMPARE_WITH_TIMEOUT(s.server.m_closeCodes.size(), size_t(1), waitMs);
        QCOMPARE(s.server.m_binary, std::vector<QByteArray>{closeStream});
        QCOMPARE(s.server.m_closeCodes.front(), int(QWebSocketProtocol::CloseCodeGoingAway));
        QCOMPARE(s.server.latest()->closeReason(), QString());
        // The client asked for the close: that is not a lost connection.
        QCOMPARE(s.events.disconnected, 0);
        if (!destroy)
            QTRY_COMPARE_WITH_TIMEOUT(s.events.drained, 1, waitMs);
    }

    void stopDeliversTheLastResultsBeforeDraining()
    {
        // The service answers "CloseStream" with the result of the last utterance and then closes:
        // that result is delivered, and only then does the stream end.
        Session s;
        QVERIFY(s.open());
        QObject::connect(s.server.latest(), &QWebSocket::binaryMessageReceived, &s.server,
                         [&s](const QByteArray& bytes) {
                             if (bytes == closeStream) {
                                 s.server.sendText(finalResult("the last words"));
                                 s.server.latest()->close(QWebSocketProtocol::CloseCodeNormal);
                             }
                         });
        s.client->setDrainTimeoutMs(waitMs);
        s.client->stop();
        QCOMPARE(s.events.drained, 0); // never from inside stop()
        QTRY_COMPARE_WITH_TIMEOUT(s.events.drained, 1, waitMs);
        QCOMPARE(s.events.finals, QStringList{"the last words"});
        QTRY_VERIFY_WITH_TIMEOUT(s.consumer->done, waitMs);
        QCOMPARE(s.consumer->texts, QStringList{"the last words"});
        QCOMPARE(s.events.disconnected, 0);
    }

    void sendBeforeStartIsCountedAndDropped()
    {
        Session s;
        s.client->send(QByteArray(3200, '\1'));
        s.client->send(QByteArray(3200, '\2'));
        QCOMPARE(s.client->chunksSent(), 2);
        QVERIFY(s.start());
        QCOMPARE(s.client->chunksSent(), 0);
        QTest::qWait(50);
        QVERIFY(s.server.m_binary.empty());
    }

    void audioGoesOutAsBinaryFramesAndCounterRestarts()
    {
        DeepgramLog log;
        Session s;
        s.client->setReconnectDelayMs(10);
        QVERIFY(s.open());
        std::vector<QByteArray> chunks;
        for (int i = 0; i < 10; ++i) {
            chunks.push_back(QByteArray(3200, char(i)));
            s.client->send(chunks.back());
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.server.m_binary.size(), size_t(10), waitMs);
        QCOMPARE(s.server.m_binary, chunks);
        QCOMPARE(s.client->chunksSent(), 10);
        QCOMPARE(log.count("First audio chunk sent"), 1);

        // After a reconnect the counter starts again, and so does the first-chunk line.
        s.server.latest()->abort();
        QTRY_COMPARE_WITH_TIMEOUT(s.server.connections(), 2, waitMs);
        QCOMPARE(s.client->chunksSent(), 0);
        s.client->send(QByteArray(1600, 'x'));
        QVERIFY(log.contains("debug First audio chunk sent (1600 bytes)"));
        QCOMPARE(log.count("First audio chunk sent"), 2);
    }

    void oldSocketNeverDeliversAfterReconnect()
    {
        // A transcript that arrives just before the connection drops is delivered once; nothing of
        // the old connection comes back after the client reconnected, even when the client itself
        // replaced a connection that was still open.
        Session s;
        s.client->setReconnectDelayMs(10);
        QVERIFY(s.start());
        s.server.sendText(finalResult("once"));
        s.server.latest()->flush();
        s.server.latest()->abort();
        QTRY_COMPARE_WITH_TIMEOUT(s.server.connections(), 2, waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(s.server.latest()->state(), QAbstractSocket::ConnectedState, waitMs);

        QPointer<QWebSocket> second = s.server.latest();
        QVERIFY(s.start(3)); // replaces the open connection
        if (second && second->state() == QAbstractSocket::ConnectedState)
            second->sendTextMessage(finalResult("stale"));
        s.server.sendText(finalResult("twice"));
        QTRY_COMPARE_WITH_TIMEOUT(s.events.finals, (QStringList{"once", "twice"}), waitMs);
        QTest::qWait(50);
        QCOMPARE(s.events.finals, (QStringList{"once", "twice"}));
        // The replaced connection is closed, not left holding one of the account's streams.
        QTRY_VERIFY_WITH_TIMEOUT(!second || second->state() == QAbstractSocket::UnconnectedState, waitMs);
    }

    void sendFromAnotherThreadWhileConnectingAndStopping()
    {
        Session s;
        DeepgramClient& client = *s.client;
        client.setReconnectDelayMs(1);
        const QByteArray chunk(3200, 'a');
        std::atomic<bool> running{true};
        std::atomic<qint64> sent{0};
        std::unique_ptr<QThread> capture(QThread::create([&] {
            while (running.load()) {
                client.send(chunk);
                sent.fetch_add(1);
                QThread::usleep(100);
            }
        }));
        capture->start();
        for (int round = 0; round < 20; ++round) {
            client.start();
            QTest::qWait(5);
            if (round % 3 == 0 && s.server.latest())
                s.server.latest()->abort(); // a reconnect in the middle
            QTest::qWait(5);
            client.stop();
            QCoreApplication::processEvents();
        }
        // One last connection that lives long enough for audio to flow.
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(std::count(s.server.m_binary.begin(), s.server.m_binary.end(), chunk) > 0, waitMs);
        running = false;
        QVERIFY(capture->wait(waitMs));
        QVERIFY(sent.load() > 0);
        client.stop();
        QTRY_VERIFY_WITH_TIMEOUT(s.server.m_closeCodes.size() >= size_t(s.server.connections()), waitMs);
        // Whatever reached the server arrived whole: the stop's close request or complete chunks.
        for (const QByteArray& message : s.server.m_binary)
            QVERIFY(message == chunk || message == closeStream);
    }

    void stalledConnectionDropsAudioInsteadOfQueueingIt()
    {
        DeepgramLog log;
        StalledPeer peer;
        DeepgramClient client(configFor(peer.base()), "t", 16000);
        Events events;
        events.attach(client);
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(events.connected, 1, waitMs);
        // Up to 40 MB of audio, far beyond what the kernel buffers of a loopback connection hold;
        // once stalled, ten more batches are dropped without another line.
        const QByteArray chunk(3200, 's');
        const QString stalled = "critical send error: connection stalled";
        int afterStall = 0;
        for (int batch = 0; batch < 635 && afterStall < 10; ++batch) {
            afterStall += log.count(stalled) > 0 ? 1 : 0;
            for (int i = 0; i < 20; ++i)
                client.send(chunk);
            QCoreApplication::processEvents();
        }
        QCOMPARE(afterStall, 10);
        QCOMPARE(log.count(stalled), 1);
        QCOMPARE(events.disconnected, 0);
        client.stop();
    }

    void streamDrainsBeforeEnding()
    {
        TranscriptStream stream;
        stream.push({Speaker::manager, "a"});
        stream.push({Speaker::client, "b"});
        stream.finish();
        stream.push({Speaker::manager, "late"}); // ignored after the end
        auto consumer = std::make_shared<Consumer>();
        consume(stream, consumer);
        QTRY_VERIFY_WITH_TIMEOUT(consumer->done, waitMs);
        QCOMPARE(consumer->texts, (QStringList{"a", "b"}));
        QCOMPARE(consumer->speakers, (std::vector<Speaker>{Speaker::manager, Speaker::client}));
    }

    void streamEndsWhenClientIsDestroyed()
    {
        auto consumer = std::make_shared<Consumer>();
        {
            DeepgramClient client(configFor("http://127.0.0.1:1"), "t", 16000);
            consume(client.transcripts(), consumer);
            QCoreApplication::processEvents();
            QVERIFY(!consumer->done);
        }
        QTRY_VERIFY_WITH_TIMEOUT(consumer->done, waitMs);
        QVERIFY(consumer->texts.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTranscription)
#include "tst_transcription.moc"
