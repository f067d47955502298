// The real quiro-service binary driven by the app's own clients: AuthManager, HintEngine and
// DeepgramClient, over plain http/ws and once over TLS, plus raw requests for what the clients
// never send (malformed bodies, oversized frames, missing tokens).

#include "ServiceProcess.h"
#include "account/AuthManager.h"
#include "account/TokenStore.h"
#include "coaching/HintEngine.h"
#include "coaching/ProductContext.h"
#include "conversation/Stage.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/ExternalService.h"
#include "support/TestSupport.h"
#include "transcription/DeepgramClient.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificateExtension>
#include <QTest>
#include <QWebSocket>

#include <qcoro/qcorotask.h>

#include <memory>
#include <unistd.h>

using namespace quiro;

namespace {

struct HttpAnswer {
    int status = 0;
    QJsonObject body;
    QByteArray raw;
};

// One request with a 20 s transfer time-out; the loop runs until the reply finishes.
HttpAnswer request(QNetworkAccessManager& network, const QString& method, const QUrl& url, const QByteArray& body,
                   const std::optional<QString>& token = std::nullopt)
{
    QNetworkRequest request = ExternalService::request(url, token);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(20000);
    QNetworkReply* reply = network.sendCustomRequest(request, method.toLatin1(), body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(25000);
    HttpAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.raw = reply->readAll();
    answer.body = QJsonDocument::fromJson(answer.raw).object();
    reply->deleteLater();
    return answer;
}

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const QByteArray productJson = R"({
  "product": {"name": "ClinicFlow", "one_liner": "scheduling for dental clinics",
              "proof": {"case_studies": ["Bright Smile cut no-shows 30%"], "metrics": ["12 hours saved weekly"]}},
  "competitors": [{"name": "Dentrix", "their_weakness": "clunky UI", "our_advantage": "setup in one day"}],
  "objection_responses": {"price": {"phrase": "It pays for itself in two months", "proof": "",
                                    "question": "What does one missed appointment cost you?"}}
})";

} // namespace

class TestServiceEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<ServiceProcess> m_service;
    QNetworkAccessManager* m_network = nullptr;
    QString m_token;

    Config config() const { return Config{m_service->apiBase(), QString(), QStringLiteral("en")}; }

    QString registerUser(const QString& email)
    {
        const HttpAnswer answer = request(*m_network, "POST", QUrl(m_service->apiBase() + "/api/register"),
                                          json({{"email", email}, {"password", "secret1"}, {"name", "Test"}}));
        if (answer.status != 200)
            qWarning() << "register failed" << answer.status << answer.raw;
        return answer.body.value("token").toString();
    }

private slots:
    void initTestCase()
    {
        m_home = std::make_unique<test::TempHome>();
        m_network = new QNetworkAccessManager(this);
        m_service =
            std::make_unique<ServiceProcess>(QStringLiteral(QUIRO_SERVICE_BINARY),
                                             m_home->file(QStringLiteral("plain-service")), ServiceProcess::Tls::off);
        QString error;
        QVERIFY2(m_service->start(&error), qPrintable(error));
        m_token = registerUser(QStringLiteral("owner@example.com"));
        QVERIFY(!m_token.isEmpty());
    }
    void cleanupTestCase()
    {
        if (m_service)
            m_service->stop();
    }

    void authManagerAgainstService()
    {
        TokenStore store(TokenStore::Backend::fileOnly, m_home->file(QStringLiteral("token")));
        AuthManager auth(config(), &store, Clock::system());
        auto failure = QCoro::waitFor(
            auth.registerAccount(QStringLiteral("Ann@Example.com"), QStringLiteral("secret1"), QStringLiteral("Ann")));
        QVERIFY(!failure);
        QVERIFY(auth.isLoggedIn());
        QCOMPARE(auth.email(), std::optional<QString>(QStringLiteral("ann@example.com")));

        failure = QCoro::waitFor(
            auth.registerAccount(QStringLiteral("ann@example.com"), QStringLiteral("secret1"), QStringLiteral("Ann")));
        QVERIFY(failure);
        QCOMPARE(failure->message(), QStringLiteral("An account with this email already exists"));

        failure = QCoro::waitFor(
            auth.registerAccount(QStringLiteral("bob@example.com"), QStringLiteral("12345"), QStringLiteral("Bob")));
        QVERIFY(failure);
        QCOMPARE(failure->message(), QStringLiteral("Password must be at least 6 characters"));

        failure = QCoro::waitFor(auth.login(QStringLiteral("ann@example.com"), QStringLiteral("wrong-password")));
        QVERIFY(failure);
        QCOMPARE(failure->message(), QStringLiteral("Invalid email or password"));

        failure = QCoro::waitFor(auth.login(QStringLiteral("ann@example.com"), QStringLiteral("secret1")));
        QVERIFY(!failure);
        QCoro::waitFor(auth.fetchMe());
        QVERIFY(auth.me());
        QCOMPARE(auth.me()->email, QStringLiteral("ann@example.com"));

        const auto before = auth.token();
        QTest::qWait(1100); // "iat" has whole seconds: a renewal a second later is a different token
        QCoro::waitFor(auth.performRefresh());
        QVERIFY(auth.isLoggedIn());
        QVERIFY(auth.token() != before);
    }

    void hintEngineAgainstRules()
    {
        test::writeFile(m_home->file(QStringLiteral("product.json")), productJson);
        auto context = std::make_shared<const ProductContext>(m_home->file(QStringLiteral("product.json")));
        HintEngine engine(config(), m_token, context);

        const auto price = QCoro::waitFor(
            engine.classifyAndGenerate(QStringLiteral("Honestly this is way too expensive for a small clinic"),
                                       QStringLiteral("RECENT TURNS (last 4):"), Stage::objection));
        QVERIFY(price);
        QCOMPARE(price->first, QStringLiteral("price"));
        QCOMPARE(price->second, QStringLiteral("What does one missed appointment cost you?"));

        const auto competitor = QCoro::waitFor(engine.classifyAndGenerate(
            QStringLiteral("We already use Dentrix for all of this"), QString(), Stage::presentation));
        QVERIFY(competitor);
        QCOMPARE(competitor->first, QStringLiteral("competition"));
        QCOMPARE(competitor->second, QStringLiteral("Versus Dentrix: setup in one day"));

        const auto buying = QCoro::waitFor(
            engine.classifyAndGenerate(QStringLiteral("Okay, how do we get started?"), QString(), Stage::closing));
        QVERIFY(buying);
        QCOMPARE(buying->first, QStringLiteral("buying_signal"));

        // Small talk is no hint.
        QVERIFY(!QCoro::waitFor(
            engine.classifyAndGenerate(QStringLiteral("Good morning, how are you?"), QString(), Stage::opening)));
        QCOMPARE(engine.totalCalls(), 4);
        QCOMPARE(engine.totalLLMCost(), 0.0);

        const QStringList facts =
            QCoro::waitFor(engine.extractFacts(QStringLiteral("We have 12 reps on Salesforce and a budget of $40k")));
        QCOMPARE(facts, (QStringList{QStringLiteral("Team size: 12 reps"), QStringLiteral("Tool: Salesforce"),
                                     QStringLiteral("Budget: $40k")}));

        const auto assist = QCoro::waitFor(
            engine.generateOnDemand(QStringLiteral("MGR: Here is our offer\nCLT: It is too expensive for us")));
        QVERIFY(assist);
        QVERIFY(!assist->isEmpty());

        const QString transcript = QStringLiteral("MGR: What is the biggest problem with scheduling today?\n"
                                                  "CLT: We lose hours every week and it is too expensive\n"
                                                  "MGR: I understand. What would a fix be worth to you?\n"
                                                  "CLT: How do we get started?\n"
                                                  "MGR: Let's book a kickoff call on Friday at 2pm.");
        const auto analysis =
            QCoro::waitFor(engine.analyze(transcript, 420.0, 0.45, 2, QStringLiteral("2026-12-06T10:00:00Z"),
                                          QStringLiteral("2026-12-06T10:07:00Z")));
        QVERIFY(analysis);
        const QJsonValue score = analysis->value(QStringLiteral("score"));
        QVERIFY(score.isDouble() && score.toDouble() == double(score.toInt()));
        for (const char* key : {"summary", "talk_listen_note"})
            QVERIFY2(analysis->value(QLatin1String(key)).isString(), key);
        for (const char* key : {"strengths", "improvements", "missed_opportunities", "objections", "next_steps"})
            QVERIFY2(analysis->value(QLatin1String(key)).isArray(), key);
        for (const QJsonValue& objection : analysis->value(QStringLiteral("objections")).toArray())
            QVERIFY(transcript.split('\n').contains("CLT: " + objection.toObject().value("quote").toString()));
    }

    void badInputsGetDetail_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("withToken");
        QTest::addColumn<int>("status");
        QTest::newRow("malformed login") << "/api/login" << QByteArray("{\"email\": ") << false << 400;
        QTest::newRow("login email a number")
            << "/api/login" << QByteArray(R"({"email":1,"password":"x"})") << false << 422;
        QTest::newRow("register sql email")
            << "/api/register" << json({{"email", "a@b.co' OR 1=1; --"}, {"password", "secret1"}}) << false << 422;
        QTest::newRow("hint without token") << "/hint" << QByteArray(R"({"phrase":"x"})") << false << 401;
        QTest::newRow("hint wrong type") << "/hint" << QByteArray(R"({"phrase":["x"]})") << true << 422;
        QTest::newRow("analyze malformed") << "/analyze" << QByteArray("not json") << true << 400;
        QTest::newRow("huge body") << "/extract" << QByteArray(1024 * 1024 + 1, 'x') << true << 413;
        QTest::newRow("huge login body") << "/api/login" << QByteArray(2 * 1024 * 1024, ' ') << false << 413;
        // Refused while it is still arriving: the service never holds it whole.
        QTest::newRow("endless body") << "/extract" << QByteArray(48 * 1024 * 1024, 'x') << true << 413;
        QTest::newRow("unknown path") << "/nope" << QByteArray("{}") << true << 404;
    }
    void badInputsGetDetail()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(bool, withToken);
        QFETCH(int, status);
        const HttpAnswer answer = request(*m_network, "POST", QUrl(m_service->apiBase() + path), body,
                                          withToken ? std::optional<QString>(m_token) : std::nullopt);
        QCOMPARE(answer.status, status);
        QVERIFY2(!answer.body.value("detail").toString().isEmpty(), answer.raw.constData());
        // The database is intact: the owner still signs in and is still known.
        const HttpAnswer login = request(*m_network, "POST", QUrl(m_service->apiBase() + "/api/login"),
                                         json({{"email", "owner@example.com"}, {"password", "secret1"}}));
        QCOMPARE(login.status, 200);
        QCOMPARE(request(*m_network, "GET", QUrl(m_service->apiBase() + "/me"), {}, m_token).status, 200);
    }

    void browserOriginsAreRefused()
    {
        QNetworkRequest post = ExternalService::request(QUrl(m_service->apiBase() + "/api/register"));
        post.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/plain"));
        post.setRawHeader("Origin", "https://example.org");
        QNetworkReply* reply = m_network->post(post, json({{"email", "web@example.com"}, {"password", "secret1"}}));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 403);
        reply->deleteLater();
        QCOMPARE(request(*m_network, "POST", QUrl(m_service->apiBase() + "/api/login"),
                         json({{"email", "web@example.com"}, {"password", "secret1"}}))
                     .status,
                 401);

        QWebSocket socket(QStringLiteral("https://example.org"));
        QSignalSpy closed(&socket, &QWebSocket::disconnected);
        socket.open(ExternalService::request(QUrl(m_service->wsBase() + "/stt?lang=en&rate=16000"), m_token));
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 15000);
        QCOMPARE(int(socket.closeCode()), 4403);
    }

    void logLinesNameNoSecrets()
    {
        const QString output = m_service->output();
        QVERIFY(output.contains(QStringLiteral("[Service] POST /api/login 200 ")));
        QVERIFY(output.contains(QStringLiteral("[Service] POST /hint 401 ")));
        QVERIFY(!output.contains(QStringLiteral("secret1")));
        QVERIFY(!output.contains(m_token));
        QVERIFY(!output.contains(m_token.section(QLatin1Char('.'), 2)));
    }

    void speechThroughDeepgramClient()
    {
        QString error;
        const QByteArray speech = synthesizeSpeech(QStringLiteral("the price is too expensive for our team"), &error);
        QVERIFY2(!speech.isEmpty(), qPrintable(error));
        DeepgramClient client(config(), m_token, 16000);
        bool connected = false;
        QStringList finals;
        client.onConnected([&connected] { connected = true; });
        client.onFinalTranscript([&finals](const QString& text) { finals.append(text); });
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(connected, 15000);
        // 100 ms chunks, as the microphone delivers them, with digital silence after the words.
        const QByteArray audio = speech + QByteArray(3 * 32000, '\0');
        for (qsizetype at = 0; at < audio.size(); at += 3200)
            client.send(audio.mid(at, 3200));
        QTRY_VERIFY_WITH_TIMEOUT(!finals.isEmpty(), 30000);
        QVERIFY2(finals.first().contains(QStringLiteral("price")) &&
                     finals.first().contains(QStringLiteral("expensive")),
                 qPrintable(finals.first()));
        client.stop();
    }

    void closeStreamFlushesTheLastUtterance()
    {
        QString error;
        const QByteArray speech = synthesizeSpeech(QStringLiteral("we need to think about it"), &error);
        QVERIFY2(!speech.isEmpty(), qPrintable(error));
        QWebSocket socket;
        QStringList messages;
        connect(&socket, &QWebSocket::textMessageReceived, this, [&messages](const QString& m) { messages << m; });
        QSignalSpy disconnected(&socket, &QWebSocket::disconnected);
        socket.open(ExternalService::request(QUrl(m_service->wsBase() + "/stt?lang=en&rate=16000"), m_token));
        QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), 15000);
        QCOMPARE(QJsonDocument::fromJson(messages.first().toUtf8()).object().value("type").toString(),
                 QStringLiteral("Metadata"));
        // The words end the audio: no silence lets the detector close the utterance.
        for (qsizetype at = 0; at < speech.size(); at += 3200)
            socket.sendBinaryMessage(speech.mid(at, 3200));
        socket.sendBinaryMessage(QByteArray("{\"type\":\"CloseStream\"}"));
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.size(), 1, 30000);
        QCOMPARE(int(socket.closeCode()), 1000);
        QStringList transcripts;
        for (const QString& message : messages) {
            const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
            if (object.value("type") == QLatin1String("Results")) {
                QCOMPARE(object.value("is_final"), QJsonValue(true));
                transcripts << object.value("channel")
                                   .toObject()
                                   .value("alternatives")
                                   .toArray()
                                   .at(0)
                                   .toObject()
                                   .value("transcript")
                                   .toString();
            }
        }
        QVERIFY2(transcripts.join(' ').contains(QStringLiteral("think")), qPrintable(transcripts.join('|')));
    }

    void streamRefusals_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("token");
        QTest::addColumn<int>("closeCode");
        QTest::addColumn<QString>("errorMessage"); // start of the "Error" message, "" for none
        QTest::newRow("no token") << "?lang=en&rate=16000"
                                  << "" << 4401 << "";
        QTest::newRow("bad token") << "?lang=en&rate=16000"
                                   << "a.b.c" << 4401 << "";
        QTest::newRow("rate 8000") << "?lang=en&rate=8000"
                                   << "valid" << 1003 << "Unsupported sample rate";
        QTest::newRow("language without model") << "?lang=de&rate=16000"
                                                << "valid" << 1003 << "No speech model for language 'de'";
    }
    void streamRefusals()
    {
        QFETCH(QString, query);
        QFETCH(QString, token);
        QFETCH(int, closeCode);
        QFETCH(QString, errorMessage);
        QWebSocket socket;
        QStringList messages;
        connect(&socket, &QWebSocket::textMessageReceived, this, [&messages](const QString& m) { messages << m; });
        QSignalSpy disconnected(&socket, &QWebSocket::disconnected);
        const std::optional<QString> bearer = token.isEmpty()                   ? std::nullopt
                                              : token == QLatin1String("valid") ? std::optional<QString>(m_token)
                                                                                : std::optional<QString>(token);
        socket.open(ExternalService::request(QUrl(m_service->wsBase() + "/stt" + query), bearer));
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.size(), 1, 15000);
        QCOMPARE(int(socket.closeCode()), closeCode);
        QVERIFY(!socket.closeReason().isEmpty());
        if (!errorMessage.isEmpty()) {
            QCOMPARE(messages.size(), 1);
            const QJsonObject error = QJsonDocument::fromJson(messages.first().toUtf8()).object();
            QCOMPARE(error.value("type").toString(), QStringLiteral("Error"));
            QVERIFY2(error.value("message").toString().startsWith(errorMessage), qPrintable(messages.first()));
        }
    }

    void oversizedFrameCloses1009()
    {
        QWebSocket socket;
        bool metadata = false;
        connect(&socket, &QWebSocket::textMessageReceived, this, [&metadata](const QString&) { metadata = true; });
        QSignalSpy disconnected(&socket, &QWebSocket::disconnected);
        socket.open(ExternalService::request(QUrl(m_service->wsBase() + "/stt?lang=en&rate=16000"), m_token));
        QTRY_VERIFY_WITH_TIMEOUT(metadata, 15000);
        socket.sendBinaryMessage(QByteArray(1024 * 1024 + 2, '\1'));
        QTRY_COMPARE_WITH_TIMEOUT(disconnected.size(), 1, 15000);
        QCOMPARE(int(socket.closeCode()), 1009);
    }

    void atMostEightStreamsPerAccount()
    {
        const QString token = registerUser(QStringLiteral("streams@example.com"));
        std::vector<std::unique_ptr<QWebSocket>> sockets;
        int metadata = 0;
        for (int i = 0; i < 8; ++i) {
            auto socket = std::make_unique<QWebSocket>();
            connect(socket.get(), &QWebSocket::textMessageReceived, this, [&metadata](const QString&) { ++metadata; });
            socket->open(ExternalService::request(QUrl(m_service->wsBase() + "/stt?lang=en&rate=16000"), token));
            sockets.push_back(std::move(socket));
        }
        QTRY_COMPARE_WITH_TIMEOUT(metadata, 8, 20000);
        QWebSocket ninth;
        QSignalSpy ninthClosed(&ninth, &QWebSocket::disconnected);
        ninth.open(ExternalService::request(QUrl(m_service->wsBase() + "/stt?lang=en&rate=16000"), token));
        QTRY_COMPARE_WITH_TIMEOUT(ninthClosed.size(), 1, 15000);
        QCOMPARE(int(ninth.closeCode()), 4429);

        // Another account is not affected, and a closed stream frees its place.
        QWebSocket other;
        bool otherReady = false;
        connect(&other, &QWebSocket::textMessageReceived, this, [&otherReady](const QString&) { otherReady = true; });
        other.open(ExternalService::request(QUrl(m_service->wsBase() + "/stt?lang=en&rate=16000"), m_token));
        QTRY_VERIFY_WITH_TIMEOUT(otherReady, 15000);
        QSignalSpy firstClosed(sockets.front().get(), &QWebSocket::disconnected);
        sockets.front()->close();
        QTRY_COMPARE_WITH_TIMEOUT(firstClosed.size(), 1, 15000);
        QWebSocket again;
        bool againReady = false;
        connect(&again, &QWebSocket::textMessageReceived, this, [&againReady](const QString&) { againReady = true; });
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                if (again.state() == QAbstractSocket::UnconnectedState && !againReady)
                    again.open(ExternalService::request(QUrl(m_service->wsBase() + "/stt?lang=en&rate=16000"), token));
                return againReady;
            }(),
            15000);
    }

    void overTls()
    {
        // The data folder the app trusts for loopback hosts: ~/.quiroai/service.
        ServiceProcess secure(QStringLiteral(QUIRO_SERVICE_BINARY), m_home->file(QStringLiteral(".quiroai/service")),
                              ServiceProcess::Tls::on);
        QString error;
        QVERIFY2(secure.start(&error), qPrintable(error));

        const QString certPath = m_home->file(QStringLiteral(".quiroai/service/cert.pem"));
        const QString keyPath = m_home->file(QStringLiteral(".quiroai/service/key.pem"));
        QCOMPARE(QFileInfo(keyPath).permissions() & 0x0077, QFileDevice::Permissions());
        QCOMPARE(QFileInfo(certPath).permissions() & 0x0077, QFileDevice::Permissions());
        const auto certificate = QSslCertificate::fromPath(certPath).value(0);
        QVERIFY(!certificate.isNull());
        const auto names = certificate.subjectAlternativeNames();
        QVERIFY(names.values(QSsl::DnsEntry).contains(QStringLiteral("localhost")));
        QVERIFY(names.values(QSsl::IpAddressEntry).contains(QStringLiteral("127.0.0.1")));
        bool notCa = false;
        for (const QSslCertificateExtension& extension : certificate.extensions()) {
            if (extension.name() == QLatin1String("basicConstraints"))
                notCa = extension.value().toMap().value(QStringLiteral("ca")).toBool() == false;
        }
        QVERIFY(notCa);

        const Config secureConfig{secure.apiBase(), QString(), QStringLiteral("en")};
        TokenStore store(TokenStore::Backend::fileOnly, m_home->file(QStringLiteral("tls-token")));
        AuthManager auth(secureConfig, &store, Clock::system());
        const auto failure = QCoro::waitFor(
            auth.registerAccount(QStringLiteral("tls@example.com"), QStringLiteral("secret1"), QStringLiteral("Tls")));
        QVERIFY2(!failure, qPrintable(failure ? failure->message() : QString()));

        // The stream over wss, trusting exactly the service's certificate as the app does.
        const QUrl streamUrl(secure.wsBase() + QStringLiteral("/stt?lang=en&rate=16000"));
        QWebSocket socket;
        socket.setSslConfiguration(ExternalService::sslConfigurationFor(streamUrl));
        QStringList messages;
        connect(&socket, &QWebSocket::textMessageReceived, this, [&messages](const QString& m) { messages << m; });
        socket.open(ExternalService::request(streamUrl, *auth.token()));
        QTRY_VERIFY_WITH_TIMEOUT(!messages.isEmpty(), 15000);
        QVERIFY(messages.first().contains(QStringLiteral("\"Metadata\"")));
        socket.close();

        // The app's own client over wss.
        DeepgramClient client(secureConfig, *auth.token(), 16000);
        bool connected = false;
        client.onConnected([&connected] { connected = true; });
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(connected, 15000);
        client.stop();

        // A second start keeps the certificate the app already trusts.
        const QByteArray firstCertificate = test::readFile(certPath);
        secure.stop();
        QVERIFY2(secure.start(&error), qPrintable(error));
        QCOMPARE(test::readFile(certPath), firstCertificate);
    }

    void portInUseExitsWithMessage()
    {
        QProcess second;
        second.setProcessChannelMode(QProcess::MergedChannels);
        second.start(QStringLiteral(QUIRO_SERVICE_BINARY), {"--no-tls", "--port", QString::number(m_service->port()),
                                                            "--data-dir", m_home->file(QStringLiteral("second"))});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitCode(), 1);
        const QString output = QString::fromUtf8(second.readAll());
        QVERIFY2(output.contains(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(m_service->port())),
                 qPrintable(output));
    }

    void unreadableDataFolderExitsWithMessage()
    {
        const QString folder = m_home->file(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(folder));
        QProcess service;
        service.setProcessChannelMode(QProcess::MergedChannels);
        if (::geteuid() == 0) {
            // root reads everything; the folder is refused to an ordinary user instead.
            QFile::setPermissions(m_home->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner | QFileDevice::ExeOther);
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            service.start(QStringLiteral("setpriv"),
                          {"--reuid=nobody", "--regid=nogroup", "--clear-groups", QStringLiteral(QUIRO_SERVICE_BINARY),
                           "--no-tls", "--port", "0", "--data-dir", folder});
        } else {
            QFile::setPermissions(folder, QFileDevice::Permissions());
            service.start(QStringLiteral(QUIRO_SERVICE_BINARY), {"--no-tls", "--port", "0", "--data-dir", folder});
        }
        QVERIFY(service.waitForFinished(20000));
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString output = QString::fromUtf8(service.readAll());
        QCOMPARE(service.exitCode(), 1);
        QVERIFY2(output.contains(QStringLiteral("quiro-service: cannot read and write the data folder")),
                 qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestServiceEndToEnd)
#include "tst_service_e2e.moc"
