// CPU cost of hearing a call: both captures (microphone with its 100 ms pump, and the output's
// monitor) running together against a real sound server, measured as the process's CPU time
// (getrusage, all threads) over real audio time. Needs a sound server; inside the test desktop:
//   scripts/test-desktop build/<dir>/bench/bench_audio_capture
// The time column is CPU seconds per window; the counters give the share of one core and the
// CPU milliseconds per minute of audio. Target: under 1 % of one core.
// The chunking rules alone are measured too, per second of audio.

#include "audio/AudioCapture.h"
#include "audio/ChunkPump.h"
#include "audio/FragmentChunker.h"
#include "audio/SystemAudioCapture.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

constexpr double windowSeconds = 10.0;

struct ProcessUsage {
    double cpuSeconds = 0;
    long contextSwitches = 0; // every wake-up of any thread of the process
};

ProcessUsage processUsage()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& tv) { return double(tv.tv_sec) + double(tv.tv_usec) / 1e6; };
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
}

void BM_BothCapturesPerWindow(benchmark::State& state)
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") && qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        state.SkipWithError("needs a sound server: run inside scripts/test-desktop");
        return;
    }
    // Counted by the capture threads; only what arrives inside the windows is reported.
    std::atomic<qint64> microphoneBytes = 0;
    std::atomic<qint64> systemBytes = 0;
    std::atomic<qint64> microphoneChunks = 0;
    std::atomic<qint64> systemChunks = 0;
    std::array<qint64, 4> windowTotals{};
    double cpuTotal = 0.0;
    double wallTotal = 0.0;
    long switchesTotal = 0;
    for (auto _ : state) {
        quiro::AudioCapture microphone;
        quiro::SystemAudioCapture system;
        microphone.setOnChunk([&](QByteArray chunk) {
            microphoneBytes += chunk.size();
            ++microphoneChunks;
        });
        system.setOnChunk([&](QByteArray chunk) {
            systemBytes += chunk.size();
            ++systemChunks;
        });
        if (auto failure = QCoro::waitFor(microphone.start())) {
            state.SkipWithError(qPrintable(failure->message));
            return;
        }
        if (auto failure = QCoro::waitFor(system.start())) {
            state.SkipWithError(qPrintable(failure->message));
            return;
        }
        // Only the steady state counts: start-up is once per call. A sound server that has just
        // started takes up to a second more to deliver its first audio, which would count as
        // missing bytes in the window: the window opens once both streams have delivered 2 s.
        while (microphoneBytes < 64000 || systemBytes < 64000)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto counts = [&] {
            return std::array<qint64, 4>{microphoneBytes, systemBytes, microphoneChunks, systemChunks};
        };
        const std::array<qint64, 4> countsBefore = counts();
        const ProcessUsage before = processUsage();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(windowSeconds));
        const ProcessUsage after = processUsage();
        const std::array<qint64, 4> countsAfter = counts();
        for (size_t i = 0; i < windowTotals.size(); ++i)
            windowTotals[i] += countsAfter[i] - countsBefore[i];
        const double cpu = after.cpuSeconds - before.cpuSeconds;
        switchesTotal += after.contextSwitches - before.contextSwitches;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
        microphone.stop();
        system.stop();
        state.SetIterationTime(cpu);
        cpuTotal += cpu;
        wallTotal += wall;
    }
    state.counters["cpu_pct_of_core"] = 100.0 * cpuTotal / wallTotal;
    state.counters["cpu_ms_per_audio_min"] = 1000.0 * cpuTotal / (wallTotal / 60.0);
    // Proof that audio really flowed: bytes per second of each stream (32000 at 16 kHz s16le).
    state.counters["mic_bytes_per_s"] = double(windowTotals[0]) / wallTotal;
    state.counters["sys_bytes_per_s"] = double(windowTotals[1]) / wallTotal;
    // Each chunk is one frame on the transcription stream; wake-ups cost the CPU above.
    state.counters["mic_chunks_per_s"] = double(windowTotals[2]) / wallTotal;
    state.counters["sys_chunks_per_s"] = double(windowTotals[3]) / wallTotal;
    state.counters["wakeups_per_s"] = double(switchesTotal) / wallTotal;
}
BENCHMARK(BM_BothCapturesPerWindow)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The pump's share: one second of audio arriving in 20 ms fragments, cut by ten ticks.
void BM_PumpOneSecond(benchmark::State& state)
{
    const QByteArray fragment(640, '\x01');
    quiro::ChunkPump pump;
    for (auto _ : state) {
        for (int tick = 0; tick < 10; ++tick) {
            for (int i = 0; i < 5; ++i)
                pump.append(fragment);
            auto chunk = pump.tick();
            benchmark::DoNotOptimize(chunk);
        }
    }
}
BENCHMARK(BM_PumpOneSecond);

// The system side's share: one second of audio as a hundred 10 ms fragments, one odd.
void BM_FragmentsOneSecond(benchmark::State& state)
{
    const QByteArray fragment(320, '\x01');
    const QByteArray odd(321, '\x01');
    quiro::FragmentChunker chunker;
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i) {
            auto chunk = chunker.take(i == 50 ? odd : fragment, 1600);
            benchmark::DoNotOptimize(chunk);
        }
    }
}
BENCHMARK(BM_FragmentsOneSecond);

} // namespace

int main(int argc, char** argv)
{
    // The system capture's start completes through the Qt event loop.
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
