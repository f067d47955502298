// ConversationBuffer over a simulated two-hour call: 10,000 alternating turns of about 15 words.
// The cost of add() and contextStr() late in the call must match the cost early in the call.

#include "conversation/ConversationBuffer.h"
#include "core/Clock.h"

#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

namespace {

// About 15 words per turn, with a stage keyword now and then so detection has something to find.
QString turnText(qint64 index)
{
    static const QStringList s_openers{
        QStringLiteral("so what does your team"),
        QStringLiteral("we offer a simple way to"),
        QStringLiteral("honestly it feels too expensive when we"),
        QStringLiteral("can we talk about the next step and"),
        QStringLiteral("right now we mostly just"),
    };
    return s_openers.at(index % s_openers.size()) +
           QStringLiteral(" handle the weekly reports by hand and it takes most of friday number %1").arg(index);
}

quiro::Speaker speakerOf(qint64 index)
{
    return index % 2 ? quiro::Speaker::client : quiro::Speaker::manager;
}

void fill(quiro::ConversationBuffer& buffer, qint64 turns, qint64 factEvery)
{
    for (qint64 i = 0; i < turns; ++i) {
        buffer.add(speakerOf(i), turnText(i));
        if (factEvery > 0 && i % factEvery == 0)
            buffer.addFact(QStringLiteral("Fact number %1 about the client's reporting").arg(i));
    }
}

// Each repetition starts a new call and fills it to the turn under test; the timed loop then adds
// a few dozen more turns, which is small beside the call length being measured.
void BM_Add(benchmark::State& state)
{
    quiro::ConversationBuffer buffer;
    const qint64 turns = state.range(0);
    fill(buffer, turns, 0);
    qint64 index = turns;
    QStringList texts;
    for (qint64 i = 0; i < 64; ++i)
        texts.append(turnText(turns + i));
    for (auto _ : state) {
        benchmark::DoNotOptimize(buffer.add(speakerOf(index), texts.at(index % texts.size())));
        ++index;
    }
    state.counters["turns"] = static_cast<double>(buffer.turnCount());
}
BENCHMARK(BM_Add)->Arg(100)->Arg(10'000)->Iterations(50)->Repetitions(30)->ReportAggregatesOnly(true);

void BM_ContextStr(benchmark::State& state)
{
    quiro::ConversationBuffer buffer;
    fill(buffer, state.range(0), state.range(1));
    for (auto _ : state)
        benchmark::DoNotOptimize(buffer.contextStr());
    state.counters["facts"] = static_cast<double>(buffer.ledger().size());
}
// Second argument: one extracted fact every N turns (0 = none). The ledger is part of every
// context block and is never pruned during a call, so its share grows with the facts found.
BENCHMARK(BM_ContextStr)->Args({100, 0})->Args({10'000, 0})->Args({100, 20})->Args({10'000, 20});

} // namespace

BENCHMARK_MAIN();
