// quiro-service: speech-to-text real-time factor; the delay from the end of an utterance to its
// final "Results" and the word error rate, on one stream and on eight opened at once, with the
// service's memory around them; "/hint" latency on loopback, alone and while sign-ins and a large
// analysis keep the service busy.

#include "ServiceProcess.h"
#include "service/stt/SpeechDecoder.h"
#include "service/stt/SpeechModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>
#include <QtEndian>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

using namespace quiro::service;

namespace {

// Sentences a client says on a sales call, spoken by flite's kal16 voice.
const QStringList phrases{
    QStringLiteral("the price is too expensive for our team this quarter"),
    QStringLiteral("we already work with another vendor"),
    QStringLiteral("can you send me a proposal by friday"),
    QStringLiteral("i need to talk to my manager before we decide"),
    QStringLiteral("how long does the setup take"),
    QStringLiteral("we do not have the budget for this right now"),
    QStringLiteral("what does the support contract include"),
    QStringLiteral("our contract with them ends in march"),
    QStringLiteral("could we start with a smaller pilot"),
    QStringLiteral("the last system we bought was hard to use"),
    QStringLiteral("who else in our industry uses your product"),
    QStringLiteral("send me the pricing and i will look at it"),
    QStringLiteral("we have three clinics and about forty people"),
    QStringLiteral("that sounds interesting but the timing is bad"),
    QStringLiteral("is there a discount if we sign for two years"),
    QStringLiteral("i am not sure this solves our problem"),
    QStringLiteral("let me check with the finance department"),
    QStringLiteral("how does it work with our current software"),
    QStringLiteral("we tried something similar last year and it failed"),
    QStringLiteral("call me again next week and we can talk"),
};

constexpr qsizetype chunkBytes = 3200; // 100 ms
// A turn's pause after each phrase: exact digital silence, as a muted source sends.
constexpr qsizetype pauseBytes = 2 * 32000;

struct Phrase {
    QString text;
    QByteArray words;
    // The chunk holding the last audible sample (above -40 dBFS): flite ends its words with a
    // fading tail, and the speaker has stopped once the tail is inaudible.
    qsizetype lastSpeechChunk = 0;
};

std::vector<Phrase> spokenPhrases(qsizetype count)
{
    static const std::vector<Phrase> all = [] {
        std::vector<Phrase> spoken;
        for (const QString& text : phrases) {
            QString error;
            const QByteArray words = synthesizeSpeech(text, &error);
            if (words.isEmpty()) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return std::vector<Phrase>{};
            }
            spoken.push_back({text, words, lastAudibleByte(words) / chunkBytes});
        }
        return spoken;
    }();
    return {all.begin(), all.begin() + std::min(count, qsizetype(all.size()))};
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
    const std::vector<Phrase> spoken = spokenPhrases(1);
    if (spoken.empty()) {
        state.SkipWithError("no speech audio (flite missing)");
        return;
    }
    const QByteArray audio = spoken.front().words + QByteArray(32000, '\0');
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

QString registerAccount(const ServiceProcess& service)
{
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(service.apiBase() + QStringLiteral("/api/register")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* reply = network.post(request, R"({"email":"bench@example.com","password":"benchmark"})");
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QString token = QJsonDocument::fromJson(reply->readAll()).object().value("token").toString();
    reply->deleteLater();
    return token;
}

// One "/stt" stream fed like a microphone, one 100 ms chunk per pump() (called every 100 ms):
// the phrases one after another, each followed by its pause. Finals come in order: they belong
// to the oldest phrase still waiting for one, and the first that arrives after the sending of
// that phrase's last audible chunk ends the wait and gives its delay. (A phrase the recognizer
// cuts in two while it is still being spoken gets both parts.)
class PacedStream {
public:
    PacedStream(const ServiceProcess& service, const QString& token, std::vector<Phrase> spoken)
        : m_phrases(std::move(spoken))
        , m_heard(m_phrases.size())
        , m_delays(m_phrases.size(), -1)
        , m_speechEndNs(m_phrases.size(), -1)
    {
        m_clock.start();
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, &m_socket,
                         [this](const QString& message) { onMessage(message); });
        QNetworkRequest request(QUrl(service.wsBase() + QStringLiteral("/stt?lang=en&rate=16000")));
        request.setRawHeader("Authorization", "Bearer " + token.toLatin1());
        m_socket.open(request);
    }

    void pump()
    {
        if (!m_ready || sent())
            return;
        const Phrase& phrase = m_phrases[size_t(m_phrase)];
        const QByteArray chunk = phrase.words.mid(m_chunk * chunkBytes, chunkBytes);
        m_socket.sendBinaryMessage(chunk + QByteArray(chunkBytes - chunk.size(), '\0'));
        if (m_chunk == phrase.lastSpeechChunk)
            m_speechEndNs[size_t(m_phrase)] = m_clock.nsecsElapsed();
        if (++m_chunk * chunkBytes >= phrase.words.size() + pauseBytes) {
            m_chunk = 0;
            ++m_phrase;
        }
    }
    bool sent() const { return m_phrase >= qsizetype(m_phrases.size()); }
    bool answered() const { return m_answered >= m_phrases.size(); }

    // Per phrase: the finals' words, and the delay in seconds (-1 when no final followed).
    const std::vector<QStringList>& heard() const { return m_heard; }
    const std::vector<double>& delays() const { return m_delays; }

private:
    void onMessage(const QString& message)
    {
        const QJsonObject object = QJsonDocument::fromJson(message.toUtf8()).object();
        const QString type = object.value("type").toString();
        if (type == QLatin1String("Metadata"))
            m_ready = true;
        if (type != QLatin1String("Results") || !object.value("is_final").toBool())
            return;
        const qint64 now = m_clock.nsecsElapsed();
        const size_t phrase = std::min(m_answered, m_phrases.size() - 1);
        const QString transcript = object.value("channel")
                                       .toObject()
                                       .value("alternatives")
                                       .toArray()
                                       .first()
                                       .toObject()
                                       .value("transcript")
                                       .toString();
        m_heard[phrase] << transcript.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!answered() && m_speechEndNs[phrase] >= 0) {
            m_delays[phrase] = double(now - m_speechEndNs[phrase]) / 1e9;
            ++m_answered;
        }
    }

    std::vector<Phrase> m_phrases;
    QWebSocket m_socket;
    QElapsedTimer m_clock;
    bool m_ready = false;
    qsizetype m_phrase = 0;
    qsizetype m_chunk = 0;
    size_t m_answered = 0;
    std::vector<QStringList> m_heard;
    std::vector<double> m_delays;
    std::vector<qint64> m_speechEndNs;
};

// Feeds the streams in real time, then waits until every phrase has its final (at most a
// minute); `tick` runs every 100 ms meanwhile.
void runPaced(std::vector<std::unique_ptr<PacedStream>>& streams, const std::function<void()>& tick = {})
{
    QEventLoop loop;
    QTimer pump;
    pump.setTimerType(Qt::PreciseTimer);
    pump.setInterval(100);
    QElapsedTimer draining;
    QObject::connect(&pump, &QTimer::timeout, &loop, [&] {
        bool allSent = true;
        bool allAnswered = true;
        for (auto& stream : streams) {
            stream->pump();
            allSent = allSent && stream->sent();
            allAnswered = allAnswered && stream->answered();
        }
        if (tick)
            tick();
        if (allSent && !draining.isValid())
            draining.start();
        if (allAnswered || (draining.isValid() && draining.elapsed() > 60'000))
            loop.quit();
    });
    pump.start();
    loop.exec();
}

// Word-level edit distance between what was said and what was heard.
qsizetype wordErrors(const QStringList& said, const QStringList& heard)
{
    std::vector<qsizetype> previous(size_t(heard.size()) + 1);
    std::vector<qsizetype> current(previous.size());
    for (size_t j = 0; j < previous.size(); ++j)
        previous[j] = qsizetype(j);
    for (qsizetype i = 1; i <= said.size(); ++i) {
        current[0] = i;
        for (qsizetype j = 1; j <= heard.size(); ++j)
            current[size_t(j)] = std::min({previous[size_t(j)] + 1, current[size_t(j - 1)] + 1,
                                           previous[size_t(j - 1)] + (said[i - 1] == heard[j - 1] ? 0 : 1)});
        std::swap(previous, current);
    }
    return previous.back();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

// Through the real service, one stream paced like a microphone: the twenty phrases, each with a
// pause after it. Counters: the delay from the speaker's last audible chunk to the final
// "Results" (median, 90th percentile, max) and the word error rate of the finals.
void BM_SttEndOfSpeech(benchmark::State& state)
{
    const std::vector<Phrase> spoken = spokenPhrases(qsizetype(phrases.size()));
    if (!s_service || spoken.empty()) {
        state.SkipWithError("no service or no speech audio");
        return;
    }
    std::vector<double> delays;
    qsizetype errors = 0;
    qsizetype words = 0;
    for (auto _ : state) {
        std::vector<std::unique_ptr<PacedStream>> streams;
        streams.push_back(std::make_unique<PacedStream>(*s_service, s_token, spoken));
        runPaced(streams);
        for (size_t i = 0; i < spoken.size(); ++i) {
            const QStringList said = spoken[i].text.split(QLatin1Char(' '));
            errors += wordErrors(said, streams[0]->heard()[i]);
            words += said.size();
            if (streams[0]->delays()[i] >= 0)
                delays.push_back(streams[0]->delays()[i]);
        }
    }
    if (delays.empty()) {
        state.SkipWithError("no final result");
        return;
    }
    std::sort(delays.begin(), delays.end());
    state.counters["median_s"] = median(delays);
    state.counters["p90_s"] = delays[delays.size() * 9 / 10];
    state.counters["max_s"] = delays.back();
    state.counters["phrases_without_final"] = double(phrases.size() * state.iterations() - delays.size());
    state.counters["wer"] = double(errors) / double(words);
}
BENCHMARK(BM_SttEndOfSpeech)->Unit(benchmark::kSecond)->Iterations(1);

// The service's resident memory in MB, or -1 when it cannot be read.
double residentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine()) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// The resident memory once it has stayed within 1 MB for 3 s (loading and freeing are over),
// the event loop running meanwhile; -1 when it does not settle within `timeoutMs`.
double settledResidentMb(qint64 pid, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    QElapsedTimer steady;
    steady.start();
    double settled = residentMb(pid);
    while (waited.elapsed() < timeoutMs) {
        QEventLoop pause;
        QTimer::singleShot(250, &pause, &QEventLoop::quit);
        pause.exec();
        const double now = residentMb(pid);
        if (std::abs(now - settled) > 1.0) {
            settled = now;
            steady.restart();
        } else if (steady.elapsed() >= 3000) {
            return now;
        }
    }
    return -1;
}

// Eight streams opened at once on a service that admits eight, each saying three phrases, with the
// argument's number of decoders loaded ahead (2 by default, 8 for all of them): with a decoder
// waiting, the first final of a stream comes as soon after its speech as the later ones. Counters:
// the delays of first and later finals, and the service's resident memory before the streams,
// at its peak while they run, and after they have closed.
void BM_SttEightStreams(benchmark::State& state)
{
    constexpr int streamCount = 8;
    const std::vector<Phrase> spoken = spokenPhrases(3);
    if (spoken.empty()) {
        state.SkipWithError("no speech audio");
        return;
    }
    QTemporaryDir dataDir;
    ServiceProcess service(QStringLiteral(QUIRO_SERVICE_BINARY), dataDir.filePath(QStringLiteral("service")),
                           ServiceProcess::Tls::off,
                           {QStringLiteral("--max-streams"), QString::number(streamCount),
                            QStringLiteral("--warm-decoders"), QString::number(state.range(0))});
    QString error;
    if (!service.start(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const QString token = registerAccount(service);
    const qint64 pid = service.processId();
    std::vector<double> first;
    std::vector<double> later;
    int missing = 0;
    double before = -1;
    double peak = -1;
    double after = -1;
    for (auto _ : state) {
        before = settledResidentMb(pid, 180'000);
        peak = before;
        std::vector<std::unique_ptr<PacedStream>> streams;
        for (int i = 0; i < streamCount; ++i)
            streams.push_back(std::make_unique<PacedStream>(service, token, spoken));
        runPaced(streams, [&] { peak = std::max(peak, residentMb(pid)); });
        for (const auto& stream : streams) {
            for (size_t i = 0; i < spoken.size(); ++i) {
                const double delay = stream->delays()[i];
                if (delay < 0)
                    ++missing;
                else
                    (i == 0 ? first : later).push_back(delay);
            }
        }
        streams.clear();
        after = settledResidentMb(pid, 60'000);
    }
    if (first.empty() || later.empty()) {
        state.SkipWithError("no final result");
        return;
    }
    state.counters["first_final_median_s"] = median(first);
    state.counters["first_final_max_s"] = *std::max_element(first.begin(), first.end());
    state.counters["later_final_median_s"] = median(later);
    state.counters["later_final_max_s"] = *std::max_element(later.begin(), later.end());
    state.counters["phrases_without_final"] = double(missing);
    state.counters["rss_before_mb"] = before;
    state.counters["rss_peak_mb"] = peak;
    state.counters["rss_after_mb"] = after;
}
BENCHMARK(BM_SttEightStreams)->Arg(2)->Arg(8)->Unit(benchmark::kSecond)->Iterations(1);

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
        s_token = registerAccount(service);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(error));
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    service.stop();
    return 0;
}
