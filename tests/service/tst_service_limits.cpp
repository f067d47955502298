// The real quiro-service binary against clients that hold on, trickle, flood or cheat: deadlines,
// the connection and stream caps, work kept off the event loop, framing that two readers could
// disagree on, and what reaches the log. Deadlines are set short on the command line, so nothing
// here waits the defaults out.

#include "ServiceProcess.h"
#include "SttStream.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslSocket>
#include <QTest>
#include <QTimer>

#include <memory>
#include <vector>

using namespace quiro;

namespace {

QByteArray post(const QByteArray& path, const QByteArray& body, const QByteArray& token = {})
{
    QByteArray request = "POST " + path + " HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n";
    if (!token.isEmpty())
        request += "Authorization: Bearer " + token + "\r\n";
    return request + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

const QByteArray health = "GET /health HTTP/1.1\r\nHost: localhost\r\n\r\n";

// A raw connection (plain or TLS) that records what comes back and when it closes.
struct Client {
    QSslSocket socket;
    QByteArray received;
    bool closed = false;

    Client()
    {
        QObject::connect(&socket, &QSslSocket::readyRead, &socket, [this] { received += socket.readAll(); });
        QObject::connect(&socket, &QSslSocket::disconnected, &socket, [this] { closed = true; });
    }
    void open(const ServiceProcess& service, ServiceProcess::Tls tls)
    {
        if (tls == ServiceProcess::Tls::on) {
            socket.setPeerVerifyMode(QSslSocket::VerifyNone); // the service's own certificate
            socket.connectToHostEncrypted(QStringLiteral("localhost"), service.port());
        } else {
            socket.connectToHost(QStringLiteral("127.0.0.1"), service.port());
        }
    }
    bool ready() const
    {
        return socket.state() == QAbstractSocket::ConnectedState &&
               (socket.isEncrypted() || socket.mode() == QSslSocket::UnencryptedMode);
    }
    // A whole answer has arrived (its body as long as its Content-Length says).
    bool answered() const
    {
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return false;
        const qsizetype at = received.indexOf("Content-Length: ");
        return at >= 0 && received.size() - headEnd - 4 >= received.mid(at + 16).split('\r').first().toLongLong();
    }
    int status() const { return received.startsWith("HTTP/1.1 ") ? received.mid(9, 3).toInt() : 0; }
    QJsonObject body() const
    {
        return QJsonDocument::fromJson(received.mid(received.indexOf("\r\n\r\n") + 4)).object();
    }
};

} // namespace

class TestServiceLimits : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    // Deadlines of half a second, two streams in all.
    std::unique_ptr<ServiceProcess> m_tight;
    // Request and idle deadlines of half a second.
    std::unique_ptr<ServiceProcess> m_tightTls;
    // Four connections at most, default deadlines.
    std::unique_ptr<ServiceProcess> m_capped;

    static QStringList tightLimits()
    {
        return {"--request-timeout",     "0.5", "--idle-timeout", "0.5",
                "--stt-silence-timeout", "0.5", "--max-streams",  "2"};
    }

    std::unique_ptr<ServiceProcess> started(const QString& folder, ServiceProcess::Tls tls, const QStringList& limits)
    {
        auto service = std::make_unique<ServiceProcess>(QUIRO_SERVICE_BINARY, m_home->file(folder), tls, limits);
        QString error;
        if (!service->start(&error))
            qWarning() << error;
        return service;
    }

    // Registers an account over a connection of its own and returns its token.
    static QString tokenFor(const ServiceProcess& service, const QString& email)
    {
        const bool tls = service.apiBase().startsWith("https");
        Client client;
        client.open(service, tls ? ServiceProcess::Tls::on : ServiceProcess::Tls::off);
        if (tls)
            client.socket.waitForEncrypted(10'000);
        else
            client.socket.waitForConnected(10'000);
        client.socket.write(post("/api/register", test::json({{"email", email}, {"password", "secret1"}})));
        QElapsedTimer timer;
        timer.start();
        while (!client.answered() && timer.elapsed() < 20'000)
            client.socket.waitForReadyRead(100);
        return client.body().value("token").toString();
    }

private slots:
    void initTestCase()
    {
        m_home = std::make_unique<test::TempHome>();
        m_tight = started("tight", ServiceProcess::Tls::off, tightLimits());
        m_tightTls =
            started("tight-tls", ServiceProcess::Tls::on, {"--request-timeout", "0.5", "--idle-timeout", "0.5"});
        m_capped = started("capped", ServiceProcess::Tls::off, {"--max-connections", "4", "--max-streams", "8"});
        QVERIFY(m_tight->port() && m_tightTls->port() && m_capped->port());
    }

    void idleConnectionIsClosed_data()
    {
        QTest::addColumn<bool>("afterARequest");
        QTest::newRow("never used") << false;
        QTest::newRow("kept alive after a request") << true;
    }
    void idleConnectionIsClosed()
    {
        QFETCH(bool, afterARequest);
        Client client;
        client.open(*m_tight, ServiceProcess::Tls::off);
        QTRY_VERIFY_WITH_TIMEOUT(client.ready(), 10'000);
        if (afterARequest) {
            client.socket.write(health);
            QTRY_VERIFY_WITH_TIMEOUT(client.answered(), 10'000);
            QCOMPARE(client.status(), 200);
        }
        QTRY_VERIFY_WITH_TIMEOUT(client.closed, 10'000);
    }

    void tricklingRequestGets408_data()
    {
        QTest::addColumn<bool>("tls");
        QTest::newRow("plain") << false;
        QTest::newRow("after the TLS handshake") << true;
    }
    void tricklingRequestGets408()
    {
        QFETCH(bool, tls);
        const ServiceProcess& service = tls ? *m_tightTls : *m_tight;
        Client client;
        client.open(service, tls ? ServiceProcess::Tls::on : ServiceProcess::Tls::off);
        QTRY_VERIFY_WITH_TIMEOUT(client.ready(), 10'000);
        // One byte every 50 ms: always something new, never the whole request.
        const QByteArray request =
            post("/api/login", test::json({{"email", "a@example.com"}, {"password", "secret1"}}));
        qsizetype sent = 0;
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, &client.socket, [&] {
            if (sent < request.size() && client.socket.state() == QAbstractSocket::ConnectedState)
                client.socket.write(request.mid(sent++, 1));
        });
        trickle.start(50);
        QTRY_VERIFY_WITH_TIMEOUT(client.closed, 10'000);
        QVERIFY(sent < request.size());
        QCOMPARE(client.status(), 408);
        QVERIFY(client.body().value("detail").toString().startsWith("The request did not arrive in full"));
    }

    void silentStreamIsClosed()
    {
        const QString token = tokenFor(*m_tight, "silent@example.com");
        QVERIFY(!token.isEmpty());
        SttStream stream;
        stream.open(*m_tight, token);
        QTRY_COMPARE_WITH_TIMEOUT(stream.closed.size(), 1, 15'000);
        QCOMPARE(int(stream.socket.closeCode()), 4408);
        QVERIFY2(stream.socket.closeReason().startsWith("No audio received"), qPrintable(stream.socket.closeReason()));
        QCOMPARE(stream.messages.size(), 2); // "Metadata", then the "Error" saying why
        QVERIFY(stream.messages.last().contains("No audio received"));
    }

    void streamsOfAllAccountsAreCapped()
    {
        // Two streams in all (--max-streams 2), whatever the account; audio keeps the short
        // silence deadline from ending them.
        std::vector<std::unique_ptr<SttStream>> streams;
        QTimer audio;
        connect(&audio, &QTimer::timeout, this, [&streams] {
            for (const auto& stream : streams) {
                if (stream->socket.state() == QAbstractSocket::ConnectedState)
                    stream->socket.sendBinaryMessage(QByteArray(3200, '\1'));
            }
        });
        audio.start(100);
        QStringList tokens;
        for (const char* email : {"one@example.com", "two@example.com", "three@example.com"})
            tokens << tokenFor(*m_tight, QString::fromLatin1(email));
        for (const QString& token : tokens) {
            QVERIFY(!token.isEmpty());
            streams.push_back(std::make_unique<SttStream>());
            streams.back()->open(*m_tight, token);
            QTRY_VERIFY_WITH_TIMEOUT(!streams.back()->messages.isEmpty(), 15'000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(streams.back()->closed.size(), 1, 15'000);
        QCOMPARE(int(streams.back()->socket.closeCode()), 4503);
        QVERIFY(streams.back()->messages.last().contains("limit of 2 concurrent streams"));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(streams[size_t(i)]->closed.size(), 0);
    }

    void oversizedFrameOverTlsClosesWith1009()
    {
        // One 8 MiB frame: the peer is still sending it when the service closes, and the close
        // frame must reach it all the same.
        const int bytes = 8 * 1024 * 1024;
        const QString token = tokenFor(*m_tightTls, QStringLiteral("frames@example.com"));
        QVERIFY(!token.isEmpty());
        SttStream stream;
        stream.socket.setOutgoingFrameSize(quint64(bytes));
        stream.open(*m_tightTls, token);
        QTRY_VERIFY_WITH_TIMEOUT(!stream.messages.isEmpty(), 15'000);
        stream.socket.sendBinaryMessage(QByteArray(bytes, '\1'));
        QTRY_COMPARE_WITH_TIMEOUT(stream.closed.size(), 1, 15'000);
        QCOMPARE(int(stream.socket.closeCode()), 1009);
    }

    void connectionCap()
    {
        // Four idle connections make room for a fifth that has something to ask.
        std::vector<std::unique_ptr<Client>> idle;
        for (int i = 0; i < 4; ++i) {
            idle.push_back(std::make_unique<Client>());
            idle.back()->open(*m_capped, ServiceProcess::Tls::off);
            QTRY_VERIFY_WITH_TIMEOUT(idle.back()->ready(), 10'000);
        }
        Client asking;
        asking.open(*m_capped, ServiceProcess::Tls::off);
        asking.socket.write(health);
        QTRY_VERIFY_WITH_TIMEOUT(asking.answered(), 10'000);
        QCOMPARE(asking.status(), 200);
        QTRY_VERIFY_WITH_TIMEOUT(idle.front()->closed, 10'000);

        // Four streams cannot be pushed out: the next connection is told to come back.
        const QString token = tokenFor(*m_capped, "crowd@example.com");
        QVERIFY(!token.isEmpty());
        std::vector<std::unique_ptr<SttStream>> streams;
        for (int i = 0; i < 4; ++i) {
            streams.push_back(std::make_unique<SttStream>());
            streams.back()->open(*m_capped, token);
            QTRY_VERIFY_WITH_TIMEOUT(!streams.back()->messages.isEmpty(), 15'000);
        }
        Client refused;
        refused.open(*m_capped, ServiceProcess::Tls::off);
        QTRY_VERIFY_WITH_TIMEOUT(refused.answered(), 10'000);
        QCOMPARE(refused.status(), 503);
        QVERIFY(refused.body().value("detail").toString().startsWith("The service has too many open connections"));
        QVERIFY(refused.received.contains("Retry-After: 1"));
        QTRY_VERIFY_WITH_TIMEOUT(refused.closed, 10'000);
    }

    void descriptorLimitDoesNotStopTheService()
    {
        // With 64 descriptors and 80 connections that never send anything, Qt alone stops
        // accepting for good; the service keeps answering.
        ServiceProcess service(QUIRO_SERVICE_BINARY, m_home->file("few-descriptors"), ServiceProcess::Tls::off);
        service.limitDescriptors(64);
        QString error;
        QVERIFY2(service.start(&error), qPrintable(error));
        std::vector<std::unique_ptr<Client>> idle;
        for (int i = 0; i < 80; ++i) {
            idle.push_back(std::make_unique<Client>());
            idle.back()->open(service, ServiceProcess::Tls::off);
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(idle.begin(), idle.end(), [](const auto& c) { return c->ready() || c->closed; }), 10'000);
        Client asking;
        asking.open(service, ServiceProcess::Tls::off);
        asking.socket.write(health);
        QTRY_VERIFY_WITH_TIMEOUT(asking.answered(), 10'000);
        QCOMPARE(asking.status(), 200);
        QVERIFY2(service.output().contains("at most "), qPrintable(service.output()));
    }

    void ambiguousFramingIsRefused_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("status");
        QTest::newRow("two Content-Length") << QByteArray("Content-Length: 2\r\nContent-Length: 40\r\n") << 400;
        QTest::newRow("Content-Length and Transfer-Encoding")
            << QByteArray("Content-Length: 2\r\nTransfer-Encoding: chunked\r\n") << 400;
        QTest::newRow("Content-Length not a number") << QByteArray("Content-Length: 2, 2\r\n") << 400;
        QTest::newRow("chunked") << QByteArray("Transfer-Encoding: chunked\r\n") << 411;
    }
    void ambiguousFramingIsRefused()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, status);
        Client client;
        client.open(*m_tight, ServiceProcess::Tls::off);
        client.socket.write("POST /api/login HTTP/1.1\r\nHost: localhost\r\n" + head +
                            "\r\n{}\r\n\r\n{\"email\":\"a@example.com\",\"password\":\"secret1\"}");
        QTRY_VERIFY_WITH_TIMEOUT(client.closed, 10'000);
        QCOMPARE(client.status(), status);
        QVERIFY(!client.body().value("detail").toString().isEmpty());
        QCOMPARE(client.received.count("HTTP/1.1"), 1);
    }

    void logShowsControlCharactersEscaped()
    {
        Client client;
        client.open(*m_tight, ServiceProcess::Tls::off);
        client.socket.write("GET /%1b[31mred HTTP/1.1\r\nHost: localhost\r\n\r\n"
                            "GET /me%00 HTTP/1.1\r\nHost: localhost\r\n\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(client.received.count("HTTP/1.1 404"), 2, 10'000);
        QTRY_VERIFY_WITH_TIMEOUT(m_tight->output().contains("GET /me\\x00 404"), 10'000);
        const QString log = m_tight->output();
        QVERIFY2(log.contains("GET /\\x1b[31mred 404"), qPrintable(log));
        QVERIFY(!log.contains(QChar(0x1b)));
        QVERIFY(!log.contains(QChar(0)));
    }

    void heavyWorkLeavesTheEventLoopFree()
    {
        ServiceProcess service(QUIRO_SERVICE_BINARY, m_home->file("busy"), ServiceProcess::Tls::off);
        QString error;
        QVERIFY2(service.start(&error), qPrintable(error));
        const QString token = tokenFor(service, "busy@example.com");
        QVERIFY(!token.isEmpty());
        QStringList done; // the order the answers came in
        std::vector<std::unique_ptr<Client>> clients;
        const auto send = [&](const QString& name, const QByteArray& request) {
            clients.push_back(std::make_unique<Client>());
            Client* client = clients.back().get();
            connect(&client->socket, &QSslSocket::readyRead, &client->socket, [client, &done, name] {
                if (client->answered())
                    done << name;
            });
            client->open(service, ServiceProcess::Tls::off);
            client->socket.write(request);
        };

        // Eight sign-ins and the analysis of a long call, all sent before the question.
        for (int i = 0; i < 8; ++i)
            send("login", post("/api/login", test::json({{"email", "busy@example.com"}, {"password", "secret1"}})));
        QString transcript;
        for (int i = 0; transcript.size() < 900 * 1024; ++i)
            transcript += QStringLiteral("CLT: Line %1, and honestly the price is too expensive for us\n"
                                         "MGR: Let me show you feature %1 of the dashboard\n")
                              .arg(i);
        send("analysis", post("/analyze", test::json({{"transcript", transcript}}), token.toLatin1()));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(clients.begin(), clients.end(),
                                             [](const auto& c) { return c->socket.bytesToWrite() == 0 && c->ready(); }),
                                 20'000);
        send("health", health);
        QTRY_COMPARE_WITH_TIMEOUT(done.size(), 10, 60'000);
        // Some sign-ins may be done before the question is even sent; not all of them, and not
        // the analysis.
        QVERIFY2(done.indexOf("health") < done.lastIndexOf("login"), qPrintable(done.join(' ')));
        QVERIFY2(done.indexOf("health") < done.indexOf("analysis"), qPrintable(done.join(' ')));
        for (const auto& client : clients)
            QCOMPARE(client->status(), 200);
    }
};

QTEST_GUILESS_MAIN(TestServiceLimits)
#include "tst_service_limits.moc"
