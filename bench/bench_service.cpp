// quiro-service: speech-to-text real-time factor, the delay from the end of an utterance to its
// final "Results", and "/hint" latency on loopback, alone and while sign-ins and a large analysis
// keep the service busy.

#include "ServiceProcess.h"
#include "service/stt/SpeechDecoder.h"
#include "service/stt/SpeechModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

using namespace quiro::service;

namespace {

const QString sentence = QStringLiteral("the price is too expensive for our team this quarter");

QByteArray speech()
{
    static const QByteArray audio = [] {
        QString error;
        QByteArray pcm = synthesizeSpeech(sentence, &error);
        if (pcm.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(error));
        return pcm;
    }();
    return audio;
}

ServiceProcess* s_service = nullptr;
QString s_token;

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double audioSeconds(const QByteArray& pcm)
{
    return double(pcm.size()) / (2.0 * SpeechModel::sampleRate);
}

// Decoding only: one decoder, fed the utterance and a second of silence per iteration.
void BM_SttRealTimeFactor(benchmark::State& state)
{
    const QByteArray audio = speech() + QByteArray(32000, '\0');
    if (speech().isEmpty()) {
        state.SkipWithError("no speech audio (flite missing)");
        return;
    }
    SpeechModel model;
    SpeechDecoder decoder(model, QStringLiteral("en"), nullptr);
    decoder.start();
    int utterances = 0;
    QObject::connect(&decoder, &SpeechDecoder::utterance, [&utterances](const QString&) { ++utterances; });
    double decodeSeconds = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuSeconds();
        for (qsizetype at = 0; at < audio.size(); at += 3200)
            decoder.feed(audio.mid(at, 3200));
        decodeSeconds += timer.nsecsElapsed() / 1e9;
        cpuSeconds += threadCpuSeconds() - cpuStart;
    }
    // Wall time counts waiting for a core on a busy machine; CPU time is the decoder's own cost.
    state.counters["rtf"] = decodeSeconds / (audioSeconds(audio) * double(state.iterations()));
    state.counters["rtf_cpu"] = cpuSeconds / (audioSeconds(audio) * double(state.iterations()));
    state.counters["utterances_per_iter"] = double(utterances) / double(state.iterations());
}
BENCHMARK(BM_SttRealTimeFactor)->Unit(benchmark::kMillisecond)->Iterations(10);

// Through the real service, paced like a microphone (one 100 ms chunk every 100 ms): the time
// from sending the last chunk that holds speech to the arrival of its final "Results".
void BM_SttFinalResultDelay(benchmark::State& state)
{
    if (!s_service || speech().isEmpty()) {
        state.SkipWithError("no service or no speech audio");
        return;
    }
    const QByteArray words = speech();
    const QByteArray silence(3 * 32000, '\0');
    std::vector<double> delays;
    for (auto _ : state) {
        QWebSocket socket;
        QEventLoop loop;
        bool ready = false;
        qint64 lastSpeechSentNs = -1;
        qint64 resultNs = -1;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &loop, [&](const QString& message) {
            const QString type = QJsonDocument::fromJson(message.toUtf8()).object().value("type").toString();
            if (type == QLatin1String("Metadata"))
                ready = true;
            if (type == QLatin1String("Results") && resultNs < 0) {
                resultNs = clock.nsecsElapsed();
                loop.quit();
            }
        });
        QNetworkRequest request(QUrl(s_service->wsBase() + QStringLiteral("/stt?lang=en&rate=16000")));
        request.setRawHeader("Authorization", "Bearer " + s_token.toLatin1());
        socket.open(request);
        const QByteArray audio = words + silence;
        qsizetype offset = 0;
        QTimer pump;
        pump.setInterval(100);
        QObject::connect(&pump, &QTimer::timeout, &loop, [&] {
            if (!ready || offset >= audio.size())
                return;
            socket.sendBinaryMessage(audio.mid(offset, 3200));
            offset += 3200;
            if (offset >= words.size() && lastSpeechSentNs < 0)
                lastSpeechSentNs = clock.nsecsElapsed();
        });
        pump.start();
        QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
        loop.exec();
        socket.close();
        if (resultNs < 0 || lastSpeechSentNs < 0) {
            state.SkipWithError("no final result");
            return;
        }
        const double delay = double(resultNs - lastSpeechSentNs) / 1e9;
        delays.push_back(delay);
        state.SetIterationTime(delay);
    }
    std::sort(delays.begin(), delays.end());
    state.counters["median_s"] = delays[delays.size() / 2];
    state.counters["max_s"] = delays.back();
}
BENCHMARK(BM_SttFinalResultDelay)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// What the hint client sends for a client utterance.
QByteArray hintBody()
{
    return QJsonDocument(QJsonObject{
                             {"phrase", "Honestly this is way too expensive for a clinic our size"},
                             {"context", "RECENT TURNS (last 4):\n[CLIENT]: We have three clinics"},
                             {"stage", "objection"},
                             {"stage_goal", "Acknowledge the objection first, then reframe it"},
                             {"seller_talk_ratio", 0.42},
                             {"product_context", "PRODUCT: ClinicFlow\nCALL GOAL: Book a demo"},
                         })
        .toJson(QJsonDocument::Compact);
}

// Seconds from sending one "/hint" to its whole answer, -1 when it failed.
double postAndTime(QNetworkAccessManager& network, const QByteArray& body)
{
    QNetworkRequest request(QUrl(s_service->apiBase() + QStringLiteral("/hint")));
    request.setRawHeader("Authorization", "Bearer " + s_token.toLatin1());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QElapsedTimer timer;
    timer.start();
    QNetworkReply* reply = network.post(request, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const bool ok = reply->error() == QNetworkReply::NoError;
    reply->deleteLater();
    return ok ? seconds : -1;
}

// "/hint" requests one after another over loopback HTTP (keep-alive), as the hint client sends
// them, `pauseMs` apart; their latency goes into the counters. False when a request failed.
bool measureHints(benchmark::State& state, int pauseMs)
{
    QNetworkAccessManager network;
    const QByteArray body = hintBody();
    std::vector<double> latencies;
    for (auto _ : state) {
        const double seconds = postAndTime(network, body);
        if (seconds < 0) {
            state.SkipWithError("request failed");
            return false;
        }
        latencies.push_back(seconds);
        state.SetIterationTime(seconds);
        if (pauseMs > 0) {
            QEventLoop pause;
            QTimer::singleShot(pauseMs, &pause, &QEventLoop::quit);
            pause.exec();
        }
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2] * 1000.0;
    state.counters["p99_ms"] = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)] * 1000.0;
    state.counters["max_ms"] = latencies.back() * 1000.0;
    return true;
}

void BM_HintLatency(benchmark::State& state)
{
    if (!s_service) {
        state.SkipWithError("no service");
        return;
    }
    measureHints(state, 0);
}
BENCHMARK(BM_HintLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(500);

// Background work for the service while "/hint" is measured: eight clients signing in one after
// another and one client analysing a call of nearly 1 MB, each starting again when answered.
class Load {
public:
    Load()
    {
        QString transcript;
        for (int i = 0; transcript.size() < 945 * 1024; ++i)
            transcript += QStringLiteral("CLT: Line %1, we are also looking at another vendor and honestly the price "
                                         "is too expensive for a clinic our size\n"
                                         "MGR: I understand. What did they offer you, and what would it be worth to "
                                         "fix the no-shows?\n")
                              .arg(i);
        m_analysis =
            QJsonDocument(QJsonObject{{"transcript", transcript}, {"talk_ratio", 0.4}}).toJson(QJsonDocument::Compact);
        for (int i = 0; i < 8; ++i)
            signIn(m_networks.emplace_back(std::make_unique<QNetworkAccessManager>()).get());
        analyse(m_networks.emplace_back(std::make_unique<QNetworkAccessManager>()).get());
    }
    ~Load() { m_stopped = true; }

    int signIns() const { return m_signIns; }
    int analyses() const { return m_analyses; }
    int failures() const { return m_failures; }

private:
    // Its own network access manager per client: one manager holds at most six connections.
    void post(QNetworkAccessManager* network, const QString& path, const QByteArray& body, bool withToken,
              const std::function<void()>& again, int* done)
    {
        QNetworkRequest request(QUrl(s_service->apiBase() + path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        if (withToken)
            request.setRawHeader("Authorization", "Bearer " + s_token.toLatin1());
        QNetworkReply* reply = network->post(request, body);
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, again, done] {
            reply->deleteLater();
            ++(reply->error() == QNetworkReply::NoError ? *done : m_failures);
            if (!m_stopped)
                again();
        });
    }
    void signIn(QNetworkAccessManager* network)
    {
        post(
            network, QStringLiteral("/api/login"), R"({"email":"bench@example.com","password":"benchmark"})", false,
            [this, network] { signIn(network); }, &m_signIns);
    }
    void analyse(QNetworkAccessManager* network)
    {
        post(
            network, QStringLiteral("/analyze"), m_analysis, true, [this, network] { analyse(network); }, &m_analyses);
    }

    std::vector<std::unique_ptr<QNetworkAccessManager>> m_networks;
    QByteArray m_analysis;
    bool m_stopped = false;
    int m_signIns = 0;
    int m_analyses = 0;
    int m_failures = 0;
};

// "/hint" latency while Load keeps the service busy: the event loop must stay free for it. A few
// milliseconds between hints, so the measurement spans several sign-ins and analyses.
void BM_HintLatencyUnderLoad(benchmark::State& state)
{
    if (!s_service) {
        state.SkipWithError("no service");
        return;
    }
    Load load;
    if (!measureHints(state, 4))
        return;
    if (load.failures() > 0)
        state.SkipWithError("background requests failed");
    state.counters["sign_ins"] = load.signIns();
    state.counters["analyses"] = load.analyses();
}
BENCHMARK(BM_HintLatencyUnderLoad)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(1000);

QString registerAccount()
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(s_service->apiBase() + QStringLiteral("/api/register")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* reply = network.post(request, R"({"email":"bench@example.com","password":"benchmark"})");
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QString token = QJsonDocument::fromJson(reply->readAll()).object().value("token").toString();
    reply->deleteLater();
    return token;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    QTemporaryDir dataDir;
    ServiceProcess service(QStringLiteral(QUIRO_SERVICE_BINARY), dataDir.filePath(QStringLiteral("service")),
                           ServiceProcess::Tls::off);
    QString error;
    if (service.start(&error)) {
        s_service = &service;
        s_token = registerAccount();
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(error));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    service.stop();
    return 0;
}
