// Session history at the sizes a heavy user reaches: the home screen's loadRecent(20) over a
// folder of 10,000 stored calls of 200 turns each, and the periodic checkpoint of a two-hour
// transcript (10,000 turns).
#include "history/CheckpointWriter.h"
#include "history/ConversationStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int storedCalls = 10'000;
constexpr int turnsPerCall = 200;
constexpr int twoHourTurns = 10'000;

QList<quiro::TurnRecord> transcript(double startedAt, int count)
{
    QList<quiro::TurnRecord> turns;
    turns.reserve(count);
    for (int i = 0; i < count; ++i) {
        const bool seller = i % 2 == 0;
        turns.append({seller ? quiro::TurnRecord::managerTag : quiro::TurnRecord::clientTag,
                      seller ? QStringLiteral("So what does your current process look like for onboarding new people?")
                             : QStringLiteral("Honestly it is mostly spreadsheets and a lot of email back and forth."),
                      startedAt + i * 0.72});
    }
    return turns;
}

// One temporary home for the whole program, filled once: writing 10,000 files is the setup, not
// the measurement.
class History {
public:
    History()
    {
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + QStringLiteral("/.config")).toUtf8());
        const QString dir = m_store.sessionsDir();
        for (int i = 0; i < storedCalls; ++i) {
            quiro::SessionRecord record;
            record.startedAt = 1'700'000'000.0 + i * 3'600.0;
            record.endedAt = record.startedAt + 1'800.0;
            record.turns = transcript(record.startedAt, turnsPerCall);
            record.hintCount = 7;
            record.deepgramCostUSD = 0.26;
            record.llmCostUSD = 0.012;
            record.llmCalls = 31;
            record.score = 74;
            record.talkRatio = 0.48;
            record.analysisJSON = QStringLiteral(R"({"score":74,"summary":"Good discovery call."})");
            // Plain writes: the store's atomic save syncs each file, which would only slow the setup.
            QFile file(dir + QLatin1Char('/') + *quiro::ConversationStore::fileName(record.startedAt));
            if (file.open(QIODevice::WriteOnly))
                file.write(*record.encode());
        }
    }
    const quiro::ConversationStore& store() const { return m_store; }

private:
    QTemporaryDir m_home;
    quiro::ConversationStore m_store;
};

History& history()
{
    static History s_history;
    return s_history;
}

// loadRecent(N) over 10,000 stored calls; N = 1 shows what the listing of every file costs on
// its own, N = 20 is the home screen.
void BM_LoadRecentOf10000Calls(benchmark::State& state)
{
    const quiro::ConversationStore& store = history().store();
    const auto limit = static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto records = store.loadRecent(limit);
        if (records.size() != limit)
            state.SkipWithError("expected every record to decode");
        benchmark::DoNotOptimize(records);
    }
}
BENCHMARK(BM_LoadRecentOf10000Calls)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_SaveCheckpointTwoHours(benchmark::State& state)
{
    const quiro::ConversationStore& store = history().store();
    const auto checkpoint = quiro::SessionCheckpoint::make(1'800'000'000.0, transcript(1'800'000'000.0, twoHourTurns));
    for (auto _ : state)
        store.saveCheckpoint(checkpoint);
    state.SetBytesProcessed(state.iterations() * checkpoint.encode()->size());
}
BENCHMARK(BM_SaveCheckpointTwoHours)->Unit(benchmark::kMillisecond);

// What a checkpoint costs the GUI thread of a running call: the snapshot of the turns and handing
// it to the writer (which encodes and writes on its own thread).
void BM_CheckpointOnTheGuiThread(benchmark::State& state)
{
    const quiro::ConversationStore& store = history().store();
    const auto turns = transcript(1'800'000'000.0, int(state.range(0)));
    quiro::CheckpointWriter writer;
    const QString path = store.checkpointPath();
    for (auto _ : state)
        writer.writeLater(quiro::SessionCheckpoint::make(1'800'000'000.0, turns), path);
    state.counters["turns"] = double(state.range(0));
}
BENCHMARK(BM_CheckpointOnTheGuiThread)->Arg(10'000)->Unit(benchmark::kMicrosecond);

// The checkpoint's encoding alone, to tell serialisation from the write and sync.
void BM_EncodeCheckpointTwoHours(benchmark::State& state)
{
    const auto checkpoint = quiro::SessionCheckpoint::make(1'800'000'000.0, transcript(1'800'000'000.0, twoHourTurns));
    for (auto _ : state)
        benchmark::DoNotOptimize(checkpoint.encode());
}
BENCHMARK(BM_EncodeCheckpointTwoHours)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
