// What a coached call costs the computer it runs on: the session controller with both captures and
// their transcription streams against quiro-service, measured as this process's CPU time and
// context switches (getrusage, all threads: every wake-up of any thread) over a window of the
// running call. The service is another process and is not counted. Needs the test desktop:
//   scripts/test-desktop build/<dir>/bench/bench_call
// Argument 0: a silent call; 1: the client talks all through the window (a phrase played into the
// speakers again and again). Targets: under 1 % of a core silent, 1.5 % talking; under 50
// wake-ups a second silent.

#include "ServiceProcess.h"
#include "account/AuthManager.h"
#include "account/TokenStore.h"
#include "history/ConversationStore.h"
#include "overlay/SessionWindowModel.h"
#include "session/SessionController.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>
#include <qcoro/qcorotask.h>
#include <sys/resource.h>

#include <chrono>

using namespace quiro;

namespace {

constexpr int windowMs = 15'000;

struct ProcessUsage {
    double cpuSeconds = 0;
    long contextSwitches = 0;
};

ProcessUsage processUsage()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& tv) { return double(tv.tv_sec) + double(tv.tv_usec) / 1e6; };
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
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

void BM_CallPerWindow(benchmark::State& state)
{
    if (!qEnvironmentVariableIsSet("QUIRO_TEST_DESKTOP")) {
        state.SkipWithError("needs the test desktop: run inside scripts/test-desktop");
        return;
    }
    const bool talking = state.range(0) != 0;
    test::TempHome home;
    ServiceProcess service(QStringLiteral(QUIRO_SERVICE_BINARY), home.file(QStringLiteral("service")),
                           ServiceProcess::Tls::off);
    QString error;
    if (!service.start(&error)) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    const Config config{service.apiBase(), Config::defaultHintModel, Config::defaultLanguage};
    TokenStore tokens(TokenStore::Backend::fileOnly);
    AuthManager auth(config, &tokens, Clock::system());
    if (auto failure = QCoro::waitFor(auth.registerAccount(QStringLiteral("seller@example.com"),
                                                           QStringLiteral("secret123"), QStringLiteral("Sam")))) {
        state.SkipWithError(qPrintable(failure->message()));
        return;
    }
    const QString wav = home.file(QStringLiteral("client.wav"));
    if (talking &&
        QProcess::execute(QStringLiteral("flite"),
                          {QStringLiteral("-voice"), QStringLiteral("kal16"), QStringLiteral("-t"),
                           QStringLiteral("We have three clinics and the price matters a lot to us right now."),
                           QStringLiteral("-o"), wav}) != 0) {
        state.SkipWithError("flite could not speak the client's phrase");
        return;
    }
    ConversationStore store;
    double cpuTotal = 0;
    double wallTotal = 0;
    long switchesTotal = 0;
    for (auto _ : state) {
        SessionController::Environment environment;
        environment.config = config;
        environment.token = [&auth] { return auth.token(); };
        environment.store = &store;
        SessionWindowModel window(Clock::system());
        SessionController controller(std::move(environment));
        controller.setSessionWindow(&window);
        QCoro::waitFor(controller.start());
        if (!controller.running()) {
            state.SkipWithError("the call did not start");
            return;
        }
        std::unique_ptr<Talker> talker;
        if (talking)
            talker = std::make_unique<Talker>(wav);
        // Only the running call counts: the start is once per call.
        runEventLoopFor(3000);
        const ProcessUsage before = processUsage();
        const auto wallBefore = std::chrono::steady_clock::now();
        runEventLoopFor(windowMs);
        const ProcessUsage after = processUsage();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        talker.reset();
        controller.stop();
        runEventLoopFor(3000);
        const double cpu = after.cpuSeconds - before.cpuSeconds;
        state.SetIterationTime(cpu);
        cpuTotal += cpu;
        wallTotal += wall;
        switchesTotal += after.contextSwitches - before.contextSwitches;
    }
    state.counters["cpu_pct_of_core"] = 100.0 * cpuTotal / wallTotal;
    state.counters["wakeups_per_s"] = double(switchesTotal) / wallTotal;
}
BENCHMARK(BM_CallPerWindow)->Arg(0)->Arg(1)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
