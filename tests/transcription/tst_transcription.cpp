#include "core/Config.h"
#include "core/Paths.h"
#include "support/TestSupport.h"
#include "transcription/DeepgramClient.h"
#include "transcription/TranscriptStream.h"

#include <QCryptographicHash>
#include <QDir>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

using namespace quiro;

namespace {

// Log lines of the transcription client, collected through Qt's message handler.
class DeepgramLog {
public:
    DeepgramLog()
    {
        s_active = this;
        QLoggingCategory::setFilterRules(QStringLiteral("quiro.app.deepgram.debug=true"));
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

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (s_active && context.category && qstrcmp(context.category, "quiro.app.deepgram") == 0) {
            static const char* levels[] = {"debug", "warning", "critical", "fatal", "info"};
            const QMutexLocker lock(&s_active->m_mutex);
            s_active->m_lines.append(QLatin1String(levels[type]) + QLatin1Char(' ') + message);
        }
    }

    static inline DeepgramLog* s_active = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_lines;
};

// A loopback "/stt" service: accepts every connection and records what arrives.
class SttServer : public QObject {
public:
    // Plain ws://, or wss:// with the given certificate and key.
    explicit SttServer(const QSslConfiguration& tls = {})
        : m_server(QStringLiteral("stt"), tls.isNull() ? QWebSocketServer::NonSecureMode : QWebSocketServer::SecureMode)
        , m_secure(!tls.isNull())
    {
        if (m_secure)
            m_server.setSslConfiguration(tls);
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                m_sockets.push_back(socket);
                m_requests.push_back(socket->requestUrl());
                m_authorizations.push_back(socket->request().rawHeader("Authorization"));
                connect(socket, &QWebSocket::binaryMessageReceived, this,
                        [this](const QByteArray& bytes) { m_binary.push_back(bytes); });
                connect(socket, &QWebSocket::disconnected, this,
                        [this, socket] { m_closeCodes.push_back(int(socket->closeCode())); });
            }
        });
    }

    QString base() const
    {
        return m_secure ? QStringLiteral("https://localhost:%1").arg(m_server.serverPort())
                        : QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
    }
    int connections() const { return int(m_sockets.size()); }
    QWebSocket* latest() const { return m_sockets.empty() ? nullptr : m_sockets.back().data(); }
    void sendText(const QString& text) { latest()->sendTextMessage(text); }
    void sendBinary(const QByteArray& bytes) { latest()->sendBinaryMessage(bytes); }

    std::vector<QPointer<QWebSocket>> m_sockets;
    std::vector<QUrl> m_requests;
    std::vector<QByteArray> m_authorizations;
    std::vector<QByteArray> m_binary;
    std::vector<int> m_closeCodes;

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
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

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
        const QByteArray metadata = R"({"type":"Metadata"})";
        socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                      "Sec-WebSocket-Accept: " +
                      accept + "\r\n\r\n");
        socket->write(QByteArray(1, char(0x81)) + QByteArray(1, char(metadata.size())) + metadata);
        // From now on nothing is read: what the client sends piles up.
        disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        socket->setReadBufferSize(1);
    }

    QTcpServer m_server;
    QByteArray m_request;
};

// A self-signed certificate for localhost, like the one the local service creates at first start.
std::optional<QSslConfiguration> localhostCertificate(const QString& folder)
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out", "cert.pem",
                              "-days", "2", "-subj", "/CN=localhost", "-addext",
                              "subjectAltName=DNS:localhost,IP:127.0.0.1", "-addext", "basicConstraints=CA:FALSE"});
    if (!openssl.waitForFinished(30'000) || openssl.exitCode() != 0)
        return std::nullopt;
    QFile certificate(folder + "/cert.pem");
    QFile key(folder + "/key.pem");
    if (!certificate.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return std::nullopt;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(QSslCertificate(certificate.readAll(), QSsl::Pem));
    tls.setPrivateKey(QSslKey(key.readAll(), QSsl::Rsa, QSsl::Pem));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

Config configFor(const QString& base, const QString& language = QStringLiteral("en"))
{
    return Config{base, Config::defaultHintModel, language};
}

QString finalResult(const QString& transcript)
{
    return QStringLiteral(R"({"type":"Results","is_final":true,"channel":{"alternatives":[{"transcript":"%1"}]}})")
        .arg(transcript);
}

// Collects what a client delivers through its callbacks.
struct Events {
    int connected = 0;
    int disconnected = 0;
    QStringList finals;

    void attach(DeepgramClient& client)
    {
        client.onConnected([this] { ++connected; });
        client.onDisconnected([this] { ++disconnected; });
        client.onFinalTranscript([this](const QString& text) { finals.append(text); });
    }
};

// Reads a stream until it ends, recording every element; `done` turns true at the end.
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

constexpr int waitMs = 5000;

} // namespace

class TestTranscription : public QObject {
    Q_OBJECT

private slots:
    void urlHasLanguageThenRateAndBearer();
    void unbuildableBaseConnectsNowhere();
    void unusableSchemeKeepsRetrying();
    void secureStreamTrustsOnlyTheLocalServiceCertificate();
    void metadataInTextAndBinaryFrames_data();
    void metadataInTextAndBinaryFrames();
    void resultsMessages_data();
    void resultsMessages();
    void serverErrorIsOnlyLogged_data();
    void serverErrorIsOnlyLogged();
    void droppedConnectionReconnectsAfterTwoSeconds();
    void stopDuringReconnectWaitEndsEverything();
    void stopSendsCloseStreamThenGoingAway();
    void stopThenDestroyStillSaysGoodbye();
    void sendBeforeStartIsCountedAndDropped();
    void audioGoesOutAsBinaryFramesAndCounterRestarts();
    void oldSocketNeverDeliversAfterReconnect();
    void sendFromAnotherThreadWhileConnectingAndStopping();
    void stalledConnectionDropsAudioInsteadOfQueueingIt();
    void streamDrainsBeforeEnding();
    void streamEndsWhenClientIsDestroyed();
};

void TestTranscription::urlHasLanguageThenRateAndBearer()
{
    SttServer server;
    DeepgramClient client(configFor(server.base(), QStringLiteral("de")), QStringLiteral("tok.en.x"), 16000);
    QCOMPARE(client.streamUrl()->toString(), server.base().replace("http://", "ws://") + "/stt?lang=de&rate=16000");
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    QCOMPARE(server.m_requests.front().path(), QStringLiteral("/stt"));
    QCOMPARE(server.m_requests.front().query(), QStringLiteral("lang=de&rate=16000"));
    QCOMPARE(server.m_authorizations.front(), QByteArray("Bearer tok.en.x"));
    client.stop();
}

void TestTranscription::unbuildableBaseConnectsNowhere()
{
    DeepgramLog log;
    DeepgramClient client(configFor(QStringLiteral("not a url")), QStringLiteral("t"), 16000);
    Events events;
    events.attach(client);
    client.setReconnectDelayMs(10);
    client.start();
    QVERIFY(!client.streamUrl());
    QTest::qWait(100); // a retry, if there were one, would have run by now
    QCOMPARE(log.lines(), QStringList{"critical Cannot build WebSocket URL from base: not a url"});
    QCOMPARE(events.disconnected, 0);
}

void TestTranscription::unusableSchemeKeepsRetrying()
{
    // The URL builds, but no WebSocket can be opened on it: every attempt fails and is retried.
    DeepgramLog log;
    DeepgramClient client(configFor(QStringLiteral("ftp://127.0.0.1:1")), QStringLiteral("t"), 16000);
    client.setReconnectDelayMs(10);
    Events events;
    events.attach(client);
    client.start();
    QTRY_VERIFY_WITH_TIMEOUT(events.disconnected >= 3, waitMs);
    client.stop();
    const int failures = events.disconnected;
    QTest::qWait(50);
    QCOMPARE(events.disconnected, failures);
    QVERIFY(log.lines().filter("Connecting — lang=en sr=16000").size() >= 3);
}

void TestTranscription::secureStreamTrustsOnlyTheLocalServiceCertificate()
{
    test::TempHome home;
    QTemporaryDir folder;
    const auto tls = localhostCertificate(folder.path());
    QVERIFY2(tls, "openssl could not make a certificate");
    SttServer server(*tls);

    // Without the service's certificate in ~/.quiroai/service the self-signed peer is refused.
    {
        DeepgramLog log;
        DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
        QVERIFY(client.streamUrl()->toString().startsWith("wss://localhost:"));
        Events events;
        events.attach(client);
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(events.disconnected, 1, waitMs);
        QCOMPARE(server.connections(), 0);
        client.stop();
    }
    // With it, the stream opens and carries messages.
    QVERIFY(Paths::ensurePrivateDir(Paths::serviceDir()));
    QVERIFY(QFile::copy(folder.path() + "/cert.pem", Paths::serviceCertFile()));
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    Events events;
    events.attach(client);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    QCOMPARE(server.m_authorizations.front(), QByteArray("Bearer t"));
    server.sendText(R"({"type":"Metadata"})");
    QTRY_COMPARE_WITH_TIMEOUT(events.connected, 1, waitMs);
    QCOMPARE(events.disconnected, 0);
    client.stop();
}

void TestTranscription::metadataInTextAndBinaryFrames_data()
{
    QTest::addColumn<bool>("binary");
    QTest::newRow("text frame") << false;
    QTest::newRow("binary frame") << true;
}

void TestTranscription::metadataInTextAndBinaryFrames()
{
    QFETCH(bool, binary);
    DeepgramLog log;
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    Events events;
    events.attach(client);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    const QByteArray metadata = R"({"type":"Metadata","request_id":"r1"})";
    if (binary)
        server.sendBinary(metadata);
    else
        server.sendText(QString::fromUtf8(metadata));
    QTRY_COMPARE_WITH_TIMEOUT(events.connected, 1, waitMs);
    QVERIFY(log.contains("info ✅ Metadata received — audio pipeline working"));
    QCOMPARE(events.disconnected, 0);
    client.stop();
}

void TestTranscription::resultsMessages_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("delivered"); // empty: nothing is delivered

    QTest::newRow("final, trimmed") << finalResult(" \t hello there  ") << "hello there";
    QTest::newRow("final, inner spacing kept") << finalResult("a  b") << "a  b";
    QTest::newRow("interim")
        << R"({"type":"Results","is_final":false,"channel":{"alternatives":[{"transcript":"hi"}]}})"
        << "";
    QTest::newRow("is_final missing") << R"({"type":"Results","channel":{"alternatives":[{"transcript":"hi"}]}})"
                                      << "";
    QTest::newRow("is_final not a boolean")
        << R"({"type":"Results","is_final":1,"channel":{"alternatives":[{"transcript":"hi"}]}})"
        << "";
    QTest::newRow("spaces only") << finalResult("   \t ") << "";
    QTest::newRow("no channel") << R"({"type":"Results","is_final":true})"
                                << "";
    QTest::newRow("empty alternatives") << R"({"type":"Results","is_final":true,"channel":{"alternatives":[]}})"
                                        << "";
    QTest::newRow("transcript not a string")
        << R"({"type":"Results","is_final":true,"channel":{"alternatives":[{"transcript":5}]}})"
        << "";
    QTest::newRow("second alternative ignored")
        << R"({"type":"Results","is_final":true,"channel":{"alternatives":[{"transcript":""},{"transcript":"b"}]}})"
        << "";
    QTest::newRow("not JSON") << "Results is_final"
                              << "";
    QTest::newRow("JSON array") << R"([{"type":"Results"}])"
                                << "";
    QTest::newRow("unknown type") << R"({"type":"SpeechStarted"})"
                                  << "";
}

void TestTranscription::resultsMessages()
{
    QFETCH(QString, message);
    QFETCH(QString, delivered);
    DeepgramLog log;
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    Events events;
    events.attach(client);
    auto consumer = std::make_shared<Consumer>();
    consume(client.transcripts(), consumer);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    server.sendText(message);
    // A marker after the message under test: once it arrives, the message before it was handled.
    server.sendText(finalResult("marker"));
    QTRY_VERIFY_WITH_TIMEOUT(events.finals.contains("marker"), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(consumer->texts.contains("marker"), waitMs);

    const QStringList expected = delivered.isEmpty() ? QStringList{"marker"} : QStringList{delivered, "marker"};
    QCOMPARE(events.finals, expected);
    QCOMPARE(consumer->texts, expected);
    for (Speaker speaker : consumer->speakers)
        QCOMPARE(speaker, Speaker::manager);
    QStringList transcriptLines = log.lines().filter(QStringLiteral("🎤"));
    QCOMPARE(transcriptLines.size(), expected.size());
    if (!delivered.isEmpty())
        QCOMPARE(transcriptLines.first(), QStringLiteral("debug 🎤 '%1'").arg(delivered));
    QCOMPARE(events.disconnected, 0);
    client.stop();
    QTRY_VERIFY_WITH_TIMEOUT(consumer->done, waitMs);
}

void TestTranscription::serverErrorIsOnlyLogged_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("logged");
    QTest::newRow("with message") << R"({"type":"Error","message":"quota exceeded"})"
                                  << "critical Server error: quota exceeded";
    const QString raw = R"({"type":"Error","code":7})";
    QTest::newRow("without message") << raw << "critical Server error: " + raw;
    const QString notString = R"({"type":"Error","message":["a"]})";
    QTest::newRow("message not a string") << notString << "critical Server error: " + notString;
}

void TestTranscription::serverErrorIsOnlyLogged()
{
    QFETCH(QString, message);
    QFETCH(QString, logged);
    DeepgramLog log;
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    client.setReconnectDelayMs(10);
    Events events;
    events.attach(client);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    server.sendText(message);
    QTRY_VERIFY_WITH_TIMEOUT(log.contains(logged), waitMs);
    QTest::qWait(100); // a reconnect (10 ms here) would have happened by now
    QCOMPARE(server.connections(), 1);
    QCOMPARE(events.disconnected, 0);
    QCOMPARE(events.connected, 0);
    QVERIFY(events.finals.isEmpty());
    client.stop();
}

void TestTranscription::droppedConnectionReconnectsAfterTwoSeconds()
{
    DeepgramLog log;
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    Events events;
    events.attach(client);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    QElapsedTimer sinceDrop;
    server.latest()->abort();
    sinceDrop.start();
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnected, 1, waitMs);
    QVERIFY(log.contains("info Reconnecting in 2s…"));
    QVERIFY(!log.lines().filter(QRegularExpression("^critical Receive error: ")).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 2, waitMs);
    QVERIFY2(sinceDrop.elapsed() >= 1800, qPrintable(QString::number(sinceDrop.elapsed())));

    // The new connection works like the first one.
    server.sendText(R"({"type":"Metadata"})");
    server.sendText(finalResult("again"));
    QTRY_COMPARE_WITH_TIMEOUT(events.finals, QStringList{"again"}, waitMs);
    QCOMPARE(events.connected, 1);
    QCOMPARE(log.lines().filter("Connecting — lang=en sr=16000").size(), 2);
    client.stop();
}

void TestTranscription::stopDuringReconnectWaitEndsEverything()
{
    DeepgramLog log;
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    client.setReconnectDelayMs(200);
    Events events;
    events.attach(client);
    auto consumer = std::make_shared<Consumer>();
    consume(client.transcripts(), consumer);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    server.latest()->abort();
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnected, 1, waitMs);
    client.stop();
    QTRY_VERIFY_WITH_TIMEOUT(consumer->done, waitMs);
    QTest::qWait(400); // twice the reconnect delay
    QCOMPARE(server.connections(), 1);
    QVERIFY(log.contains("info Stopped. Chunks sent: 0"));
}

void TestTranscription::stopSendsCloseStreamThenGoingAway()
{
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    Events events;
    events.attach(client);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    server.sendText(R"({"type":"Metadata"})");
    QTRY_COMPARE_WITH_TIMEOUT(events.connected, 1, waitMs);
    client.stop();
    QTRY_COMPARE_WITH_TIMEOUT(server.m_closeCodes.size(), size_t(1), waitMs);
    QCOMPARE(server.m_binary, std::vector<QByteArray>{"{\"type\":\"CloseStream\"}"});
    QCOMPARE(server.m_binary.front().size(), 22);
    QCOMPARE(server.m_closeCodes.front(), int(QWebSocketProtocol::CloseCodeGoingAway));
    QCOMPARE(server.latest()->closeReason(), QString());
    // The client asked for the close: that is not a lost connection.
    QCOMPARE(events.disconnected, 0);
}

void TestTranscription::stopThenDestroyStillSaysGoodbye()
{
    // The session tears its clients down right after stopping them: the close request and the
    // close code must still reach the service.
    SttServer server;
    auto client = std::make_unique<DeepgramClient>(configFor(server.base()), QStringLiteral("t"), 16000);
    Events events;
    events.attach(*client);
    client->start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    server.sendText(R"({"type":"Metadata"})");
    QTRY_COMPARE_WITH_TIMEOUT(events.connected, 1, waitMs);
    client->stop();
    client.reset();
    QTRY_COMPARE_WITH_TIMEOUT(server.m_closeCodes.size(), size_t(1), waitMs);
    QCOMPARE(server.m_binary, std::vector<QByteArray>{"{\"type\":\"CloseStream\"}"});
    QCOMPARE(server.m_closeCodes.front(), int(QWebSocketProtocol::CloseCodeGoingAway));
}

void TestTranscription::sendBeforeStartIsCountedAndDropped()
{
    DeepgramLog log;
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    client.send(QByteArray(3200, '\1'));
    client.send(QByteArray(3200, '\2'));
    QCOMPARE(client.chunksSent(), 2);
    QCoreApplication::processEvents();
    QVERIFY(log.contains("debug First audio chunk sent (3200 bytes)"));
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    QCOMPARE(client.chunksSent(), 0);
    QTest::qWait(50);
    QVERIFY(server.m_binary.empty());
    client.stop();
}

void TestTranscription::audioGoesOutAsBinaryFramesAndCounterRestarts()
{
    DeepgramLog log;
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    client.setReconnectDelayMs(10);
    Events events;
    events.attach(client);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(server.latest()->state(), QAbstractSocket::ConnectedState, waitMs);
    server.sendText(R"({"type":"Metadata"})");
    QTRY_COMPARE_WITH_TIMEOUT(events.connected, 1, waitMs);
    for (int i = 0; i < 10; ++i)
        client.send(QByteArray(3200, char(i)));
    QTRY_COMPARE_WITH_TIMEOUT(server.m_binary.size(), size_t(10), waitMs);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(server.m_binary[size_t(i)], QByteArray(3200, char(i)));
    QCOMPARE(client.chunksSent(), 10);
    QCOMPARE(log.lines().filter("First audio chunk sent").size(), 1);
    QVERIFY(log.contains("debug 10 chunks sent — waiting for speech…"));

    // After a reconnect the counter starts again, and so does the first-chunk line.
    server.latest()->abort();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 2, waitMs);
    QCOMPARE(client.chunksSent(), 0);
    client.send(QByteArray(1600, 'x'));
    QVERIFY(log.contains("debug First audio chunk sent (1600 bytes)"));
    QCOMPARE(log.lines().filter("First audio chunk sent").size(), 2);
    client.stop();
}

void TestTranscription::oldSocketNeverDeliversAfterReconnect()
{
    // A transcript that arrives just before the connection drops is delivered once; nothing of
    // the old connection comes back after the client reconnected, even when the client itself
    // replaced a connection that was still open.
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    client.setReconnectDelayMs(10);
    Events events;
    events.attach(client);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 1, waitMs);
    server.sendText(finalResult("once"));
    server.latest()->flush();
    server.latest()->abort();
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 2, waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(server.latest()->state(), QAbstractSocket::ConnectedState, waitMs);

    QPointer<QWebSocket> second = server.latest();
    client.start(); // replaces the open connection
    QTRY_COMPARE_WITH_TIMEOUT(server.connections(), 3, waitMs);
    if (second && second->state() == QAbstractSocket::ConnectedState)
        second->sendTextMessage(finalResult("stale"));
    server.sendText(finalResult("twice"));
    QTRY_COMPARE_WITH_TIMEOUT(events.finals, (QStringList{"once", "twice"}), waitMs);
    QTest::qWait(50);
    QCOMPARE(events.finals, (QStringList{"once", "twice"}));
    client.stop();
}

void TestTranscription::sendFromAnotherThreadWhileConnectingAndStopping()
{
    SttServer server;
    DeepgramClient client(configFor(server.base()), QStringLiteral("t"), 16000);
    client.setReconnectDelayMs(1);
    std::atomic<bool> running{true};
    std::atomic<qint64> sent{0};
    std::unique_ptr<QThread> capture(QThread::create([&] {
        QByteArray chunk(3200, 'a');
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
        if (round % 3 == 0 && server.latest())
            server.latest()->abort(); // a reconnect in the middle
        QTest::qWait(5);
        client.stop();
        QCoreApplication::processEvents();
    }
    // One last connection that lives long enough for audio to flow.
    client.start();
    QTRY_VERIFY_WITH_TIMEOUT(std::count(server.m_binary.begin(), server.m_binary.end(), QByteArray(3200, 'a')) > 0,
                             waitMs);
    running = false;
    QVERIFY(capture->wait(waitMs));
    QVERIFY(sent.load() > 0);
    client.stop();
    QTRY_VERIFY_WITH_TIMEOUT(server.m_closeCodes.size() >= size_t(server.connections()), waitMs);
    // Whatever reached the server arrived whole: the stop's close request or complete chunks.
    for (const QByteArray& message : server.m_binary)
        QVERIFY(message == QByteArray(3200, 'a') || message == "{\"type\":\"CloseStream\"}");
}

void TestTranscription::stalledConnectionDropsAudioInsteadOfQueueingIt()
{
    DeepgramLog log;
    StalledPeer peer;
    DeepgramClient client(configFor(peer.base()), QStringLiteral("t"), 16000);
    Events events;
    events.attach(client);
    client.start();
    QTRY_COMPARE_WITH_TIMEOUT(events.connected, 1, waitMs);
    // Up to 40 MB of audio, far beyond what the kernel buffers of a loopback connection hold.
    const QByteArray chunk(3200, 's');
    const auto stalledLines = [&log] { return log.lines().filter("critical send error: connection stalled").size(); };
    for (int batch = 0; batch < 625 && stalledLines() == 0; ++batch) {
        for (int i = 0; i < 20; ++i)
            client.send(chunk);
        QCoreApplication::processEvents();
    }
    QCOMPARE(stalledLines(), 1);
    // Still stalled: more audio is dropped without another line.
    for (int batch = 0; batch < 10; ++batch) {
        for (int i = 0; i < 20; ++i)
            client.send(chunk);
        QCoreApplication::processEvents();
    }
    QCOMPARE(stalledLines(), 1);
    QCOMPARE(events.disconnected, 0);
    client.stop();
}

void TestTranscription::streamDrainsBeforeEnding()
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

void TestTranscription::streamEndsWhenClientIsDestroyed()
{
    auto consumer = std::make_shared<Consumer>();
    {
        DeepgramClient client(configFor(QStringLiteral("http://127.0.0.1:1")), QStringLiteral("t"), 16000);
        consume(client.transcripts(), consumer);
        QCoreApplication::processEvents();
        QVERIFY(!consumer->done);
    }
    QTRY_VERIFY_WITH_TIMEOUT(consumer->done, waitMs);
    QVERIFY(consumer->texts.isEmpty());
}

QTEST_GUILESS_MAIN(TestTranscription)
#include "tst_transcription.moc"
