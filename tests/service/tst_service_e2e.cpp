// The real quiro-service binary driven by the app's own clients: AuthManager, HintEngine and
// DeepgramClient, over plain http/ws and once over TLS, plus raw requests for what the clients
// never send (malformed bodies, oversized frames, missing tokens).

#include "ServiceProcess.h"
#include "SttStream.h"
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
#include <QSignalSpy>
#include <QTest>

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

const QByteArray productJson = R"({
  "product": {"name": "ClinicFlow", "one_liner": "scheduling for dental clinics",
              "proof": {"case_studies": ["Bright Smile cut no-shows 30%"], "metrics": ["12 hours saved weekly"]}},
  "competitors": [{"name": "Dentrix", "their_weakness": "clunky UI", "our_advantage": "setup in one day"}],
  "objection_responses": {"price": {"phrase": "It pays for itself in two months", "proof": "",
                                    "question": "What does one missed appointment cost you?"}}
})";

QString message(const std::optional<AuthError>& failure)
{
    return failure ? failure->message() : QString();
}

} // namespace

class TestServiceEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<ServiceProcess> m_service;
    QNetworkAccessManager* m_network = nullptr;
    QString m_token;

    Config config() const { return Config{m_service->apiBase(), QString(), "en"}; }

    // A web page's request carries its Origin, and text/plain to pass as a simple cross-site request.
    enum class From { app, browserPage };

    // One request to the plain service, with a 20 s transfer time-out.
    HttpAnswer request(const QByteArray& method, const QString& path, const QByteArray& body,
                       const std::optional<QString>& token = std::nullopt, From from = From::app)
    {
        QNetworkRequest request = ExternalService::request(QUrl(m_service->apiBase() + path), token);
        request.setHeader(QNetworkRequest::ContentTypeHeader, from == From::app ? "application/json" : "text/plain");
        if (from == From::browserPage)
            request.setRawHeader("Origin", "https://example.org");
        request.setTransferTimeout(20000);
        QNetworkReply* reply = m_network->sendCustomRequest(request, method, body);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(25000);
        HttpAnswer answer{reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), {}, reply->readAll()};
        answer.body = QJsonDocument::fromJson(answer.raw).object();
        reply->deleteLater();
        return answer;
    }

    QString registerUser(const QString& email)
    {
        const HttpAnswer answer =
            request("POST", "/api/register", test::json({{"email", email}, {"password", "secret1"}, {"name", "Test"}}));
        if (answer.status != 200)
            qWarning() << "register failed" << answer.status << answer.raw;
        return answer.body.value("token").toString();
    }

private slots:
    void initTestCase()
    {
        m_home = std::make_unique<test::TempHome>();
        m_network = new QNetworkAccessManager(this);
        // Room for nine streams of one account, whatever this machine's own cap.
        m_service = std::make_unique<ServiceProcess>(QUIRO_SERVICE_BINARY, m_home->file("plain-service"),
                                                     ServiceProcess::Tls::off, QStringList{"--max-streams", "16"});
        QString error;
        QVERIFY2(m_service->start(&error), qPrintable(error));
        m_token = registerUser("owner@example.com");
        QVERIFY(!m_token.isEmpty());
    }
    void cleanupTestCase()
    {
        if (m_service)
            m_service->stop();
    }

    void authManagerAgainstService()
    {
        TokenStore store(TokenStore::Backend::fileOnly, m_home->file("token"));
        AuthManager auth(config(), &store, Clock::system());
        const auto registerAs = [&auth](const QString& email, const QString& password) {
            return QCoro::waitFor(auth.registerAccount(email, password, "Ann"));
        };
        QVERIFY(!registerAs("Ann@Example.com", "secret1"));
        QVERIFY(auth.isLoggedIn());
        QCOMPARE(auth.email(), std::optional<QString>("ann@example.com"));
        QCOMPARE(message(registerAs("ann@example.com", "secret1")), "An account with this email already exists");
        QCOMPARE(message(QCoro::waitFor(auth.login("ann@example.com", "wrong-password"))), "Invalid email or password");
        QVERIFY(!QCoro::waitFor(auth.login("ann@example.com", "secret1")));
        QCoro::waitFor(auth.fetchMe());
        QVERIFY(auth.me());
        QCOMPARE(auth.me()->email, "ann@example.com");

        const auto before = auth.token();
        QTest::qWait(1100); // "iat" has whole seconds: a renewal a second later is a different token
        QCoro::waitFor(auth.performRefresh());
        QVERIFY(auth.isLoggedIn());
        QVERIFY(auth.token() != before);
    }

    void hintEngineAgainstRules()
    {
        test::writeFile(m_home->file("product.json"), productJson);
        auto context = std::make_shared<const ProductContext>(m_home->file("product.json"));
        HintEngine engine(config(), m_token, context);

        using Hint = std::optional<HintEngine::CategoryAndText>;
        QCOMPARE(QCoro::waitFor(engine.classifyAndGenerate("Honestly this is way too expensive for a small clinic",
                                                           "RECENT TURNS (last 4):", Stage::objection)),
                 Hint({"price", "What does one missed appointment cost you?"}));
        // Small talk is no hint.
        QVERIFY(!QCoro::waitFor(engine.classifyAndGenerate("Good morning, how are you?", QString(), Stage::opening)));
        QCOMPARE(engine.totalCalls(), 2);
        QCOMPARE(engine.totalLLMCost(), 0.0);

        QCOMPARE(QCoro::waitFor(engine.extractFacts("We have 12 reps on Salesforce and a budget of $40k")),
                 QStringList({"Team size: 12 reps", "Tool: Salesforce", "Budget: $40k"}));
        const auto assist = QCoro::waitFor(engine.generateOnDemand("MGR: Here is our offer\nCLT: It is too expensive"));
        QVERIFY(assist && !assist->isEmpty());

        // What the analysis says is the analyser's own test; here, that it reaches the app.
        const auto analysis =
            QCoro::waitFor(engine.analyze("MGR: What is the problem today?\nCLT: It is too expensive", 420.0, 0.45, 2,
                                          "2026-12-06T10:00:00Z", "2026-12-06T10:07:00Z"));
        QVERIFY(analysis && analysis->value("objections").toArray().size() == 1);
    }

    void badInputsGetDetail_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("withToken");
        QTest::addColumn<int>("status");
        QTest::newRow("malformed login") << "/api/login" << QByteArray("{\"email\": ") << false << 400;
        QTest::newRow("hint without token") << "/hint" << QByteArray(R"({"phrase":"x"})") << false << 401;
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
        const HttpAnswer answer = request("POST", path, body, withToken ? std::optional(m_token) : std::nullopt);
        QCOMPARE(answer.status, status);
        QVERIFY2(!answer.body.value("detail").toString().isEmpty(), answer.raw.constData());
        // The database is intact: the owner still signs in and is still known.
        QCOMPARE(
            request("POST", "/api/login", test::json({{"email", "owner@example.com"}, {"password", "secret1"}})).status,
            200);
        QCOMPARE(request("GET", "/me", {}, m_token).status, 200);
    }

    void browserOriginsAreRefused()
    {
        const QByteArray account = test::json({{"email", "web@example.com"}, {"password", "secret1"}});
        QCOMPARE(request("POST", "/api/register", account, std::nullopt, From::browserPage).status, 403);
        QCOMPARE(request("POST", "/api/login", account).status, 401); // nothing was registered

        SttStream stream("https://example.org");
        stream.open(*m_service, m_token);
        QTRY_COMPARE_WITH_TIMEOUT(stream.closed.size(), 1, 15000);
        QCOMPARE(int(stream.socket.closeCode()), 4403);
    }

    void healthNamesTheRulesAndPocketsphinx()
    {
        const HttpAnswer health = request("GET", "/health", {});
        QCOMPARE(health.status, 200);
        QCOMPARE(health.body["status"].toString(), "ok");
        QCOMPARE(health.body["coach"].toObject(), QJsonObject({{"kind", "rules"}}));
        QCOMPARE(health.body["speech"]["kind"].toString(), "pocketsphinx");
        QCOMPARE(health.body["speech_languages"].toArray(), QJsonArray{"en"});
    }

    void logLinesNameNoSecrets()
    {
        const QString output = m_service->output();
        QVERIFY(output.contains("[Service] POST /api/login 200 "));
        QVERIFY(output.contains("[Service] POST /hint 401 "));
        QVERIFY(!output.contains("secret1"));
        QVERIFY(!output.contains(m_token));
        QVERIFY(!output.contains(m_token.section('.', 2)));
    }

    void speechThroughDeepgramClient()
    {
        QString error;
        const QByteArray speech = synthesizeSpeech("the price is too expensive for our team", &error);
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
        QVERIFY2(finals.first().contains("price") && finals.first().contains("expensive"), qPrintable(finals.first()));
        client.stop();
    }

    void closeStreamFlushesTheLastUtterance()
    {
        QString error;
        const QByteArray speech = synthesizeSpeech("we need to think about it", &error);
        QVERIFY2(!speech.isEmpty(), qPrintable(error));
        SttStream stream;
        stream.open(*m_service, m_token);
        QTRY_VERIFY_WITH_TIMEOUT(!stream.messages.isEmpty(), 15000);
        QCOMPARE(stream.message(0)["type"].toString(), "Metadata");
        // The words end the audio: no silence lets the detector close the utterance.
        for (qsizetype at = 0; at < speech.size(); at += 3200)
            stream.socket.sendBinaryMessage(speech.mid(at, 3200));
        stream.socket.sendBinaryMessage(QByteArray("{\"type\":\"CloseStream\"}"));
        QTRY_COMPARE_WITH_TIMEOUT(stream.closed.size(), 1, 30000);
        QCOMPARE(int(stream.socket.closeCode()), 1000);
        QStringList transcripts;
        for (const QString& message : std::as_const(stream.messages)) {
            const QJsonDocument object = QJsonDocument::fromJson(message.toUtf8());
            if (object["type"] == QLatin1String("Results")) {
                QCOMPARE(object["is_final"], QJsonValue(true));
                transcripts << object["channel"]["alternatives"][0]["transcript"].toString();
            }
        }
        QVERIFY2(transcripts.join(' ').contains("think"), qPrintable(transcripts.join('|')));
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
        SttStream stream;
        const std::optional<QString> bearer = token.isEmpty()                   ? std::nullopt
                                              : token == QLatin1String("valid") ? std::optional<QString>(m_token)
                                                                                : std::optional<QString>(token);
        stream.open(*m_service, bearer, query);
        QTRY_COMPARE_WITH_TIMEOUT(stream.closed.size(), 1, 15000);
        QCOMPARE(int(stream.socket.closeCode()), closeCode);
        QVERIFY(!stream.socket.closeReason().isEmpty());
        if (!errorMessage.isEmpty()) {
            QCOMPARE(stream.messages.size(), 1);
            const QJsonValue error = stream.message(0);
            QCOMPARE(error["type"].toString(), "Error");
            QVERIFY2(error["message"].toString().startsWith(errorMessage), qPrintable(stream.messages.first()));
        }
    }

    void oversizedFrameCloses1009()
    {
        SttStream stream;
        stream.open(*m_service, m_token);
        QTRY_VERIFY_WITH_TIMEOUT(!stream.messages.isEmpty(), 15000);
        stream.socket.sendBinaryMessage(QByteArray(1024 * 1024 + 2, '\1'));
        QTRY_COMPARE_WITH_TIMEOUT(stream.closed.size(), 1, 15000);
        QCOMPARE(int(stream.socket.closeCode()), 1009);
    }

    void atMostEightStreamsPerAccount()
    {
        const QString token = registerUser("streams@example.com");
        std::vector<std::unique_ptr<SttStream>> streams;
        for (int i = 0; i < 9; ++i) {
            streams.push_back(std::make_unique<SttStream>());
            streams.back()->open(*m_service, token);
            if (i == 7) { // the ninth only once the eight hold their places
                QTRY_VERIFY_WITH_TIMEOUT(
                    std::all_of(streams.begin(), streams.end(), [](const auto& s) { return !s->messages.isEmpty(); }),
                    20000);
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(streams.back()->closed.size(), 1, 15000);
        QCOMPARE(int(streams.back()->socket.closeCode()), 4429);

        // Another account is not affected, and a closed stream frees its place.
        SttStream other;
        other.open(*m_service, m_token);
        QTRY_VERIFY_WITH_TIMEOUT(!other.messages.isEmpty(), 15000);
        streams.front()->socket.close();
        QTRY_COMPARE_WITH_TIMEOUT(streams.front()->closed.size(), 1, 15000);
        SttStream again;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                if (again.socket.state() == QAbstractSocket::UnconnectedState && again.messages.isEmpty())
                    again.open(*m_service, token);
                return !again.messages.isEmpty();
            }(),
            15000);
    }

    void overTls()
    {
        // The data folder the app trusts for loopback hosts: ~/.quiroai/service.
        ServiceProcess secure(QUIRO_SERVICE_BINARY, m_home->file(".quiroai/service"), ServiceProcess::Tls::on);
        QString error;
        QVERIFY2(secure.start(&error), qPrintable(error));

        // The certificate's contents are checked where it is made; here, that the service keeps it private.
        const QString certPath = m_home->file(".quiroai/service/cert.pem");
        for (const QString& path : {certPath, m_home->file(".quiroai/service/key.pem")})
            QCOMPARE(QFileInfo(path).permissions() & 0x0077, QFileDevice::Permissions());

        const Config secureConfig{secure.apiBase(), QString(), "en"};
        TokenStore store(TokenStore::Backend::fileOnly, m_home->file("tls-token"));
        AuthManager auth(secureConfig, &store, Clock::system());
        const auto failure = QCoro::waitFor(auth.registerAccount("tls@example.com", "secret1", "Tls"));
        QVERIFY2(!failure, qPrintable(message(failure)));

        // The app's own client over wss, trusting exactly the service's certificate.
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
        const test::ProgramRun second =
            test::runProgram(QUIRO_SERVICE_BINARY, {"--no-tls", "--port", QString::number(m_service->port()),
                                                    "--data-dir", m_home->file("second")});
        QCOMPARE(second.exitCode, 1);
        QVERIFY2(second.err.contains(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(m_service->port())),
                 qPrintable(second.err));
    }

    void unreadableDataFolderExitsWithMessage()
    {
        const QString folder = m_home->file("locked");
        QVERIFY(QDir().mkpath(folder));
        QString program = QUIRO_SERVICE_BINARY;
        QStringList arguments{"--no-tls", "--port", "0", "--data-dir", folder};
        if (::geteuid() == 0) {
            // root reads everything; the folder is refused to an ordinary user instead.
            QFile::setPermissions(m_home->path(), test::privateDir | QFileDevice::ExeOther);
            QFile::setPermissions(folder, test::privateDir);
            arguments = QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", program} + arguments;
            program = "setpriv";
        } else {
            QFile::setPermissions(folder, QFileDevice::Permissions());
        }
        const test::ProgramRun run = test::runProgram(program, arguments);
        QFile::setPermissions(folder, test::privateDir);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("quiro-service: cannot read and write the data folder"), qPrintable(run.err));
    }
};

QTEST_GUILESS_MAIN(TestServiceEndToEnd)
#include "tst_service_e2e.moc"
