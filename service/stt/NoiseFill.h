#pragma once

#include <QtGlobal>

#include <span>

namespace quiro::service {

// The recognizer's voice detector and feature normalisation break down on exact digital silence
// (runs of zero samples, as a muted or idle virtual device delivers): the log energy of zeros is
// minus infinity and the next words are lost. Runs of zeros are replaced by faint noise, far
// below speech level, so silence looks like a quiet room.
class NoiseFill {
public:
    // Runs shorter than this (5 ms) are ordinary zero crossings and stay untouched.
    static constexpr qsizetype minRunSamples = 80;
    static constexpr int amplitude = 32;

    explicit NoiseFill(quint32 seed = 0x9e3779b9u)
        : m_state(seed ? seed : 1u)
    {
    }

    // Fills runs of at least minRunSamples zeros, counting a run that continues from the
    // previous block. Returns how many samples changed.
    qsizetype apply(std::span<qint16> samples);

private:
    qint16 nextNoise();

    quint32 m_state;
    qsizetype m_zerosCarried = 0;
};

} // namespace quiro::service
