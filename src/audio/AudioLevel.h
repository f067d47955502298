#pragma once

#include <QByteArrayView>
#include <QString>

namespace quiro::AudioLevel {

// Root-mean-square level of s16le samples in dBFS, where a full-scale square wave is 0 dBFS and
// a full-scale sine about -3 dBFS. Digital silence (and no samples at all) is minus infinity.
// An odd trailing byte is ignored.
double rmsDbfs(QByteArrayView s16le);

// Accumulates the level over many chunks without keeping them.
class Meter {
public:
    void add(QByteArrayView s16le);
    double dbfs() const;
    qint64 samples() const { return m_samples; }

private:
    double m_sumSquares = 0.0;
    qint64 m_samples = 0;
};

// "-23.4 dBFS", or "-inf dBFS (digital silence)".
QString describe(double dbfs);

} // namespace quiro::AudioLevel
