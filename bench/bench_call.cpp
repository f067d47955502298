// What a coached call costs the computer it runs on: the session controller with both captures and
// their transcription streams against quiro-service, measured as this process's CPU time and
// context switches (getrusage, all threads: every wake-up of any thread) over a window of the
// running call. The service is another process and is not counted. Wake-ups are the voluntary
// switches (a thread slept and something woke it); preemptions are counted apart, since they
// mostly measure what else the machine runs. Needs the test desktop:
//   scripts/test-desktop build/<dir>/bench/bench_call
// Argument 0: a silent call; 1: the client talks all through the window (a phrase played into the
// speakers again and again). Targets: under 1 % of a core silent, 1.5 % talking; under 50
// wake-ups a second silent. BM_SpeechEndToHint times the client's objection to the hint on screen.

#include "ServiceProcess.h"
#include "account/AuthManager.h"
#include "account/TokenStore.h"
#include "history/ConversationStore.h"
#include "overlay/SessionWindowModel.h"
#include "session/SessionController.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QtEndian>

#include <benchmark/benchmark.h>
#include <qcoro/qcorotask.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>

using namespace quiro;

namespace {

constexpr int windowMs = 15'000;

struct ProcessUsage {
    double cpuSeconds = 0;
    long wakeUps = 0;     // voluntary context switches: a thread slept and was woken
    long preemptions = 0; // involuntary ones: a running thread had to make way (other load counts here)
};

ProcessUsage processUsage()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& tv) { return double(tv.tv_sec) + double(tv.tv_usec) / 1e6; };
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw, usage.ru_nivcsw};
}

// Voluntary switches per thread name ("quiro.audio", "quiro.sysaudio", the GUI thread under the
// program's name…), summed over threads of the same name: where the wake-ups go.
std::map<QString, long> wakeUpsByThread()
{
    std::map<QString, long> byName;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        QFile status(tasks.filePath(tid + QStringLiteral("/status")));
        if (!comm.open(QIODevice::ReadOnly) || !status.open(QIODevice::ReadOnly))
            continue;
        const QString name = QString::fromUtf8(comm.readAll()).trimmed();
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                byName[name] += line.mid(line.indexOf(':') + 1).trimmed().toLong();
        }
    }
    return byName;
}

void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Plays `wav` into the speakers over and over until destroyed.
class Talker : public QObject {
public:
    explicit Talker(QString wav)
        : m_wav(std::move(wav))
    {
        connect(&m_player, &QProcess::finished, this, [this] { play(); });
        play();
    }
    ~Talker() override
    {
        m_player.disconnect(this);
        m_player.kill();
        m_player.waitForFinished(2000);
    }

private:
    void play() { m_player.start(QStringLiteral("paplay"), {QStringLiteral("--device=spk"), m_wav}); }

    QString m_wav;
    QProcess m_player;
};

// What every measured call needs: the service, a signed-in account and a store.
class CallRig {
public:
    // False with a reason for SkipWithError when the call cannot be set up here.
    bool setUp(QString* error)
    {
        if (!qEnvironmentVariableIsSet("QUIRO_TEST_DESKTOP")) {
            *error = QStringLiteral("needs the test desktop: run inside scripts/test-desktop");
            return false;
        }
        if (!m_service.start(error))
            return false;
        m_config = Config{m_service.apiBase(), Config::defaultHintModel, Config::defaultLanguage};
        m_auth = std::make_unique<AuthManager>(m_config, &m_tokens, Clock::system());
        if (auto failure = QCoro::waitFor(m_auth->registerAccount(
                QStringLiteral("seller@example.com"), QStringLiteral("secret123"), QStringLiteral("Sam")))) {
            *error = failure->message();
            return false;
        }
        return true;
    }

    // A running call, or nullptr when it did not start.
    std::unique_ptr<SessionController> startCall(SessionWindowModel* window)
    {
        SessionController::Environment environment;
        environment.config = m_config;
        environment.token = [this] { return m_auth->token(); };
        environment.store = &m_store;
        auto controller = std::make_unique<SessionController>(std::move(environment));
        controller->setSessionWindow(window);
        QCoro::waitFor(controller->start());
        if (!controller->running())
            return nullptr;
        return controller;
    }

    QString file(const QString& name) const { return m_home.file(name); }

private:
    test::TempHome m_home;
    ServiceProcess m_service{QStringLiteral(QUIRO_SERVICE_BINARY), m_home.file(QStringLiteral("service")),
                             ServiceProcess::Tls::off};
    Config m_config; // the service's address is known once it listens
    TokenStore m_tokens{TokenStore::Backend::fileOnly};
    std::unique_ptr<AuthManager> m_auth;
    ConversationStore m_store;
};

void BM_CallPerWindow(benchmark::State& state)
{
    const bool talking = state.range(0) != 0;
    CallRig rig;
    QString error;
    if (!rig.setUp(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const QString wav = rig.file(QStringLiteral("client.wav"));
    if (talking &&
        QProcess::execute(QStringLiteral("flite"),
                          {QStringLiteral("-voice"), QStringLiteral("kal16"), QStringLiteral("-t"),
                           QStringLiteral("We have three clinics and the price matters a lot to us right now."),
                           QStringLiteral("-o"), wav}) != 0) {
        state.SkipWithError("flite could not speak the client's phrase");
        return;
    }
    double cpuTotal = 0;
    double wallTotal = 0;
    long wakeUpsTotal = 0;
    long preemptionsTotal = 0;
    std::map<QString, long> threadWakeUps;
    for (auto _ : state) {
        SessionWindowModel window(Clock::system());
        std::unique_ptr<SessionController> controller = rig.startCall(&window);
        if (!controller) {
            state.SkipWithError("the call did not start");
            return;
        }
        std::unique_ptr<Talker> talker;
        if (talking)
            talker = std::make_unique<Talker>(wav);
        // Only the running call counts: the start is once per call.
        runEventLoopFor(3000);
        const ProcessUsage before = processUsage();
        const std::map<QString, long> threadsBefore = wakeUpsByThread();
        const auto wallBefore = std::chrono::steady_clock::now();
        runEventLoopFor(windowMs);
        const ProcessUsage after = processUsage();
        for (const auto& [name, count] : wakeUpsByThread()) {
            const auto earlier = threadsBefore.find(name);
            threadWakeUps[name] += count - (earlier == threadsBefore.end() ? 0 : earlier->second);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        talker.reset();
        controller->stop();
        runEventLoopFor(3000);
        const double cpu = after.cpuSeconds - before.cpuSeconds;
        state.SetIterationTime(cpu);
        cpuTotal += cpu;
        wallTotal += wall;
        wakeUpsTotal += after.wakeUps - before.wakeUps;
        preemptionsTotal += after.preemptions - before.preemptions;
    }
    state.counters["cpu_pct_of_core"] = 100.0 * cpuTotal / wallTotal;
    state.counters["wakeups_per_s"] = double(wakeUpsTotal) / wallTotal;
    state.counters["preemptions_per_s"] = double(preemptionsTotal) / wallTotal;
    for (const auto& [name, count] : threadWakeUps) {
        if (count > 0)
            state.counters[("wakeups_per_s " + name).toStdString()] = double(count) / wallTotal;
    }
}
BENCHMARK(BM_CallPerWindow)->Arg(0)->Arg(1)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

// The whole path from the client's last audible sound to the hint in the session window: the
// system-audio capture, the transcription stream, the recognizer's end of speech, the
// conversation model and the hint request. One objection per call (a fresh call each time, so no
// cooldown applies). The speaker stops when the player has drained its last sample less the
// phrase's inaudible tail (below -40 dBFS), the rule bench_service uses for the recognizer alone.
// Counters: median, 90th percentile and max in seconds.
void BM_SpeechEndToHint(benchmark::State& state)
{
    CallRig rig;
    QString error;
    if (!rig.setUp(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const QByteArray speech =
        synthesizeSpeech(QStringLiteral("Honestly the price is too expensive for our budget right now."), &error);
    if (speech.isEmpty()) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const double inaudibleTailS = double(speech.size() - lastAudibleByte(speech)) / 32000.0;
    const QString raw = rig.file(QStringLiteral("objection.raw"));
    QFile file(raw);
    if (!file.open(QIODevice::WriteOnly) || file.write(speech) != speech.size()) {
        state.SkipWithError("could not write the phrase");
        return;
    }
    file.close();

    std::vector<double> delays;
    for (auto _ : state) {
        SessionWindowModel window(Clock::system());
        std::unique_ptr<SessionController> controller = rig.startCall(&window);
        if (!controller) {
            state.SkipWithError("the call did not start");
            return;
        }
        runEventLoopFor(2000);
        std::optional<std::chrono::steady_clock::time_point> speechEnd;
        std::optional<std::chrono::steady_clock::time_point> hintShown;
        QObject::connect(&window, &SessionWindowModel::hintChanged, [&] {
            if (window.hint() && !hintShown)
                hintShown = std::chrono::steady_clock::now();
        });
        QProcess player;
        QObject::connect(&player, &QProcess::finished, [&] { speechEnd = std::chrono::steady_clock::now(); });
        player.start(QStringLiteral("pacat"), {QStringLiteral("--device=spk"), QStringLiteral("--format=s16le"),
                                               QStringLiteral("--rate=16000"), QStringLiteral("--channels=1"), raw});
        QEventLoop loop;
        QTimer giveUp;
        QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&window, &SessionWindowModel::hintChanged, &loop, [&] {
            if (hintShown && speechEnd)
                loop.quit();
        });
        QObject::connect(&player, &QProcess::finished, &loop, [&] {
            if (hintShown)
                loop.quit();
        });
        giveUp.start(15'000);
        loop.exec();
        controller->stop();
        runEventLoopFor(1000);
        if (!speechEnd || !hintShown) {
            state.SkipWithError("no hint came for the objection");
            return;
        }
        const double delay = std::chrono::duration<double>(*hintShown - *speechEnd).count() + inaudibleTailS;
        state.SetIterationTime(delay);
        delays.push_back(delay);
    }
    std::sort(delays.begin(), delays.end());
    state.counters["median_s"] = delays[delays.size() / 2];
    state.counters["p90_s"] = delays[(delays.size() * 9) / 10];
    state.counters["max_s"] = delays.back();
}
BENCHMARK(BM_SpeechEndToHint)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
