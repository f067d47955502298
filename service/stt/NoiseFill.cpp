#include "service/stt/NoiseFill.h"

namespace quiro::service {

qint16 NoiseFill::nextNoise()
{
    // xorshift32: cheap, and good enough for dither.
    m_state ^= m_state << 13;
    m_state ^= m_state >> 17;
    m_state ^= m_state << 5;
    const int value = int(m_state % (2 * amplitude + 1)) - amplitude;
    return qint16(value == 0 ? 1 : value);
}

qsizetype NoiseFill::apply(std::span<qint16> samples)
{
    qsizetype changed = 0;
    qsizetype runStart = 0;
    qsizetype runLength = m_zerosCarried;
    const auto fill = [&](qsizetype from, qsizetype to) {
        for (qsizetype i = from; i < to; ++i)
            samples[size_t(i)] = nextNoise();
        changed += to - from;
    };
    for (qsizetype i = 0; i < qsizetype(samples.size()); ++i) {
        if (samples[size_t(i)] == 0) {
            if (runLength == 0 || (i == 0 && m_zerosCarried == 0))
                runStart = i;
            ++runLength;
            continue;
        }
        if (runLength >= minRunSamples)
            fill(runStart, i);
        runLength = 0;
        runStart = i + 1;
    }
    // A run reaching the end of the block: fill it when it is already long enough counting the
    // zeros carried from earlier blocks (which were filled then, if they qualified).
    if (runLength >= minRunSamples)
        fill(runStart, qsizetype(samples.size()));
    m_zerosCarried = runLength;
    return changed;
}

} // namespace quiro::service
