// The real quiro-service binary with its model providers configured, driven by the app's own
// HintEngine and DeepgramClient: a chat-completions server and a hosted live recognizer stand in
// on loopback (never the network), answer well, answer badly, or go away.

#include "FakeChat.h"
#include "FakeRecognizer.h"
#include "ServiceProcess.h"
#include "SttStream.h"
#include "coaching/HintEngine.h"
#include "coaching/ProductContext.h"
#include "conversation/Stage.h"
#include "core/AtomicFile.h"
#include "core/Config.h"
#include "core/ExternalService.h"
#include "support/ScriptedHttpServer.h"
#include "support/TestSupport.h"
#include "transcription/DeepgramClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QUrlQuery>

#include <qcoro/qcorotask.h>

using namespace quiro;

namespace {

const QString llmKey = QStringLiteral("llm-secret-key-123");
const QString sttKey = QStringLiteral("stt-secret-key-456");
const QString objection = QStringLiteral("Honestly this is way too expensive for a small clinic");
// The seller's prepared answer to a price objection: what the rules say when the model fails.
const QString rulesPriceHint = QStringLiteral("What does one missed appointment cost you?");
constexpr qint64 bytesPerLine = 32000; // one second of audio per scripted line

const QByteArray productJson = R"({
  "product": {"name": "ClinicFlow", "one_liner": "scheduling for dental clinics"},
  "objection_responses": {"price": {"phrase": "It pays for itself in two months", "proof": "",
                                    "question": "What does one missed appointment cost you?"}}
})";

QString hintAnswer(const QString& response)
{
    return QString::fromUtf8(QJsonDocument(QJsonObject{{"confidence", 0.92},
                                                       {"should_interrupt", true},
                                                       {"intent", "OBJECTION"},
                                                       {"sub_type", "price"},
                                                       {"response", response}})
                                 .toJson(QJsonDocument::Compact));
}

// A port on which nothing listens.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

Q_DECLARE_METATYPE(test::ScriptedReply)

class TestServiceProviders : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    QNetworkAccessManager* m_network = nullptr;
    test::ScriptedHttpServer* m_chat = nullptr;
    FakeRecognizer* m_recognizer = nullptr;
    // Both providers configured, both fakes up (until the last test stops the recognizer).
    std::unique_ptr<ServiceProcess> m_service;
    // Both providers configured at ports where nothing listens.
    std::unique_ptr<ServiceProcess> m_unreachable;
    QString m_token;
    std::shared_ptr<const ProductContext> m_product;

    QProcessEnvironment providers(const QString& chatBase, const QString& sttUrl) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QUIRO_LLM_BASE_URL", chatBase + "/v1");
        environment.insert("QUIRO_LLM_MODEL", "test-model");
        environment.insert("QUIRO_LLM_API_KEY_FILE", m_home->file("llm.key"));
        environment.insert("QUIRO_LLM_PRICE_IN", "0.5");
        environment.insert("QUIRO_LLM_PRICE_OUT", "1.5");
        environment.insert("QUIRO_LLM_TIMEOUT", "1");
        environment.insert("QUIRO_STT_URL", sttUrl);
        environment.insert("QUIRO_STT_API_KEY", sttKey);
        environment.insert("QUIRO_STT_LANGUAGES", "en,de");
        return environment;
    }

    std::unique_ptr<ServiceProcess> startService(const QString& folder, const QProcessEnvironment& environment)
    {
        auto service =
            std::make_unique<ServiceProcess>(QUIRO_SERVICE_BINARY, m_home->file(folder), ServiceProcess::Tls::off);
        service->setEnvironment(environment);
        QString error;
        if (!service->start(&error))
            qWarning() << error;
        return service;
    }

    QJsonValue get(const ServiceProcess& service, const QString& path, QByteArray* raw = nullptr)
    {
        QNetworkReply* reply = m_network->get(QNetworkRequest(QUrl(service.apiBase() + path)));
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(10000);
        const QByteArray bytes = reply->readAll();
        reply->deleteLater();
        if (raw)
            *raw = bytes;
        return QJsonDocument::fromJson(bytes).object();
    }

    QString registerUser(const ServiceProcess& service)
    {
        QNetworkRequest request(QUrl(service.apiBase() + "/api/register"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
        QNetworkReply* reply = m_network->post(request, R"({"email":"seller@example.com","password":"secret1"})");
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(20000);
        reply->deleteLater();
        return QJsonDocument::fromJson(reply->readAll())["token"].toString();
    }

    Config config(const ServiceProcess& service, const QString& language = "en") const
    {
        return Config{service.apiBase(), QString(), language};
    }

    std::optional<HintEngine::CategoryAndText> hint(const ServiceProcess& service, const QString& token)
    {
        HintEngine engine(config(service), token, m_product);
        return QCoro::waitFor(
            engine.classifyAndGenerate(objection, "RECENT TURNS (last 4):\n[CLIENT]: hello", Stage::objection));
    }

private slots:
    void initTestCase()
    {
        m_home = std::make_unique<test::TempHome>();
        m_network = new QNetworkAccessManager(this);
        test::writeFile(m_home->file("product.json"), productJson);
        m_product = std::make_shared<const ProductContext>(m_home->file("product.json"));
        QVERIFY(AtomicFile::write(m_home->file("llm.key"), llmKey.toUtf8() + "\n")); // a private file

        m_chat = new test::ScriptedHttpServer(this);
        QVERIFY(m_chat->start());
        m_recognizer = new FakeRecognizer(
            {"first line from the recognizer", "second line from the recognizer", "third line from the recognizer"},
            bytesPerLine, this);
        QVERIFY(m_recognizer->start());
        m_service = startService("service", providers(m_chat->baseUrl(), m_recognizer->url() + "?model=general"));
        m_token = registerUser(*m_service);
        QVERIFY(!m_token.isEmpty());

        const QString nowhere = QStringLiteral("127.0.0.1:%1").arg(closedPort());
        m_unreachable = startService("unreachable", providers("http://" + nowhere, "ws://" + nowhere + "/v1/listen"));
        QVERIFY(m_unreachable->port() != 0);
    }

    void hintFromTheModel()
    {
        // How the service reads a model's answer (fences, prose) is its own unit test; here the wiring.
        m_chat->enqueueReply(FakeChat::path,
                             FakeChat::completion(hintAnswer("Ask which budget they **planned**"), 1000, 200));
        const int before = m_chat->requestCount(FakeChat::path);
        HintEngine engine(config(*m_service), m_token, m_product);
        const auto hint =
            QCoro::waitFor(engine.classifyAndGenerate(objection, "RECENT TURNS (last 4):", Stage::objection, 0.62));
        QCOMPARE(hint, std::optional<HintEngine::CategoryAndText>({"price", "Ask which budget they planned"}));
        // 1,000 tokens in at $0.5 and 200 out at $1.5 per 1,000.
        QCOMPARE(engine.totalLLMCost(), 0.8);

        QCOMPARE(m_chat->requestCount(FakeChat::path), before + 1);
        const test::RecordedRequest request = m_chat->requests(FakeChat::path).last();
        QCOMPARE(request.header("authorization"), "Bearer " + llmKey.toUtf8());
        const QJsonObject body = request.json();
        QCOMPARE(body["model"].toString(), "test-model");
        QCOMPARE(body["response_format"]["type"].toString(), "json_object");
        QVERIFY(body["temperature"].isDouble());
        // What the prompt carries is the prompt's own test; that the app's request reaches it is this one's.
        QVERIFY(body["messages"][1]["content"].toString().contains(objection));
    }

    void serverWithoutJsonMode()
    {
        // Refused once, never asked again; the same request is answered all the same.
        m_chat->enqueueReply(FakeChat::path,
                             test::ScriptedReply::text(R"({"error":"unknown field: response_format"})", 400));
        m_chat->enqueueReply(FakeChat::path, FakeChat::completion(hintAnswer("Ask which budget they planned"), 1, 1));
        QCOMPARE(hint(*m_service, m_token),
                 std::optional<HintEngine::CategoryAndText>({"price", "Ask which budget they planned"}));
        const QList<test::RecordedRequest> requests = m_chat->requests(FakeChat::path);
        QVERIFY(requests.at(requests.size() - 2).json().contains("response_format"));
        QVERIFY(!requests.last().json().contains("response_format"));
    }

    void everyEndpointFromTheModel()
    {
        const QString answer = FakeChat::everyEndpoint("Ask what budget they set");
        for (int i = 0; i < 3; ++i)
            m_chat->enqueueReply(FakeChat::path, FakeChat::completion(answer, 400, 100));
        HintEngine engine(config(*m_service), m_token, m_product);
        QCOMPARE(QCoro::waitFor(engine.extractFacts("We could spend about forty thousand this year")),
                 QStringList{"Budget: from the fake model"});
        QCOMPARE(QCoro::waitFor(engine.generateOnDemand("MGR: Hello\nCLT: It is too expensive")),
                 std::optional<QString>("Ask what budget they set"));
        const auto analysis = QCoro::waitFor(engine.analyze("MGR: Hello\nCLT: It is too expensive\nMGR: Why?", 420,
                                                            0.45, 2, "2026-12-06T10:00:00Z", "2026-12-06T10:07:00Z"));
        QVERIFY(analysis);
        QCOMPARE(analysis->value("summary").toString(), "The fake model read this call.");
        QCOMPARE(analysis->value("score").toInt(), 77);
        QCOMPARE(analysis->value("next_steps").toArray(), QJsonArray{"Send the proposal"});
        // Only "/assist" carries a cost: 400 tokens in, 100 out.
        QCOMPARE(engine.totalLLMCost(), 0.35);
    }

    void fallsBackToTheRules_data()
    {
        QTest::addColumn<test::ScriptedReply>("reply");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<double>("cost");
        test::ScriptedReply slow = FakeChat::completion(hintAnswer("Too late"), 10, 10);
        slow.delayMs = 3000;
        QTest::newRow("too slow") << slow << "did not answer within 1 s" << 0.0;
        // Error bodies may quote the prompt; they must not reach the log.
        QTest::newRow("HTTP 429") << test::ScriptedReply::text(objection.toUtf8(), 429) << "HTTP 429" << 0.0;
        QTest::newRow("prose only") << FakeChat::completion("The client worries about the price.", 100, 10)
                                    << "holds no JSON object" << 0.065;
    }
    void fallsBackToTheRules()
    {
        QFETCH(test::ScriptedReply, reply);
        QFETCH(QString, reason);
        QFETCH(double, cost);
        const int fallbacks = get(*m_service, "/health")["coach"]["fallbacks"].toInt();
        m_chat->enqueueReply(FakeChat::path, reply);
        HintEngine engine(config(*m_service), m_token, m_product);
        const auto hint = QCoro::waitFor(engine.classifyAndGenerate(objection, "", Stage::objection));
        QCOMPARE(hint, std::optional<HintEngine::CategoryAndText>({"price", rulesPriceHint}));
        QCOMPARE(engine.totalLLMCost(), cost);

        const QJsonObject coach = get(*m_service, "/health")["coach"].toObject();
        QCOMPARE(coach["fallbacks"].toInt(), fallbacks + 1);
        QVERIFY2(coach["last_fallback"].toString().contains(reason), qPrintable(coach["last_fallback"].toString()));
        QTRY_VERIFY(m_service->output().contains("[Coach] /hint answered by the rules: "));
    }

    void relayedStream()
    {
        // A raw stream first: announced as the relay, interim results passed on.
        SttStream raw;
        raw.open(*m_service, m_token);
        QTRY_VERIFY_WITH_TIMEOUT(!raw.messages.isEmpty(), 10000);
        QCOMPARE(raw.message(0)["type"].toString(), "Metadata");
        QVERIFY(raw.message(0)["model_info"]["name"].toString().startsWith("relay to ws://127.0.0.1"));
        raw.socket.sendBinaryMessage(QByteArray(bytesPerLine, '\0'));
        QTRY_COMPARE_WITH_TIMEOUT(raw.messages.size(), 3, 10000);
        QCOMPARE(raw.message(1)["is_final"], QJsonValue(false));
        QCOMPARE(raw.message(2)["is_final"], QJsonValue(true));
        raw.socket.close();

        // The app's client in German, which this machine has no local model for: the upstream's.
        DeepgramClient client(config(*m_service, "de"), m_token, 16000);
        QStringList finals;
        bool drained = false;
        client.onFinalTranscript([&finals](const QString& text) { finals << text; });
        client.onDrained([&drained] { drained = true; });
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(m_recognizer->streams().size(), 2, 10000);
        const auto& stream = *m_recognizer->streams().last();
        QCOMPARE(stream.authorization, "Token " + sttKey.toUtf8());
        const QUrlQuery query(stream.url);
        for (const auto& [name, value] : QList<std::pair<QString, QString>>{{"encoding", "linear16"},
                                                                            {"sample_rate", "16000"},
                                                                            {"channels", "1"},
                                                                            {"language", "de"},
                                                                            {"interim_results", "true"},
                                                                            {"model", "general"}})
            QCOMPARE(query.queryItemValue(name), value);

        // Two and a half lines of audio: two finals, and the rest heard only once the stream closes.
        const QByteArray audio(bytesPerLine * 5 / 2, '\0');
        for (qsizetype at = 0; at < audio.size(); at += 3200)
            client.send(audio.mid(at, 3200));
        QTRY_COMPARE_WITH_TIMEOUT(finals.size(), 2, 10000);
        client.stop();
        QTRY_VERIFY_WITH_TIMEOUT(drained, 10000);
        QCOMPARE(finals.size(), 3);
        QVERIFY(stream.texts.contains(R"({"type":"CloseStream"})"));
        for (const QString& final : finals)
            QVERIFY2(final.endsWith("line from the recognizer"), qPrintable(final));
    }

    void unreachableProvidersFallBack()
    {
        const QString token = registerUser(*m_unreachable);
        QCOMPARE(hint(*m_unreachable, token), std::optional<HintEngine::CategoryAndText>({"price", rulesPriceHint}));

        SttStream english;
        english.open(*m_unreachable, token);
        QTRY_VERIFY_WITH_TIMEOUT(!english.messages.isEmpty(), 15000);
        QCOMPARE(english.message(0)["type"].toString(), "Metadata");
        QVERIFY(english.message(0)["model_info"]["name"].toString().startsWith("pocketsphinx"));

        // Nothing here takes German without the upstream.
        SttStream german;
        german.open(*m_unreachable, token, "?lang=de&rate=16000");
        QTRY_COMPARE_WITH_TIMEOUT(german.closed.size(), 1, 15000);
        QCOMPARE(int(german.socket.closeCode()), 1011);
        QVERIFY(german.message(-1)["message"].toString().startsWith("Cannot reach the speech service at ws://"));

        const QJsonValue health = get(*m_unreachable, "/health");
        QCOMPARE(health["status"].toString(), "ok");
        QCOMPARE(health["coach"]["fallbacks"].toInt(), 1);
        QVERIFY(health["coach"]["last_fallback"].toString().startsWith("cannot reach the model server"));
        QCOMPARE(health["speech"]["fallbacks"].toInt(), 2);
        QCOMPARE(health["speech_languages"].toArray(), QJsonArray({"de", "en"}));
    }

    void keysAndWordsStayPrivate()
    {
        QByteArray health;
        const QJsonValue status = get(*m_service, "/health", &health);
        QCOMPARE(status["coach"]["base_url"].toString(), m_chat->baseUrl() + "/v1");
        QCOMPARE(status["speech"]["url"].toString(), m_recognizer->url());
        for (ServiceProcess* service : {m_service.get(), m_unreachable.get()}) {
            const QString output = service->output();
            QVERIFY(output.contains("coach: model test-model at http://127.0.0.1:"));
            for (const QString& secret : {llmKey, sttKey, objection, QStringLiteral("line from the recognizer")}) {
                QVERIFY2(!output.contains(secret), qPrintable(secret));
                QVERIFY(!health.contains(secret.toUtf8()));
            }
        }
    }

    void upstreamGoneMidStream()
    {
        DeepgramClient client(config(*m_service), m_token, 16000);
        client.setReconnectDelayMs(50);
        int connected = 0;
        QStringList troubles;
        client.onConnected([&connected] { ++connected; });
        client.onDisconnected([&troubles](const StreamTrouble& trouble) { troubles << trouble.detail; });
        client.start();
        QTRY_COMPARE_WITH_TIMEOUT(connected, 1, 10000);
        const int fallbacks = get(*m_service, "/health")["speech"]["fallbacks"].toInt();

        m_recognizer->stop();
        QTRY_COMPARE_WITH_TIMEOUT(troubles.size(), 1, 10000);
        QVERIFY2(troubles.first().startsWith("The speech service at ws://127.0.0.1"), qPrintable(troubles.first()));
        // The reconnect cannot reach the upstream: pocketsphinx takes the stream.
        QTRY_COMPARE_WITH_TIMEOUT(connected, 2, 15000);
        QCOMPARE(get(*m_service, "/health")["speech"]["fallbacks"].toInt(), fallbacks + 1);
        client.stop();
    }
};

QTEST_GUILESS_MAIN(TestServiceProviders)
#include "tst_service_providers.moc"
