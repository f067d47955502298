#include "audio/AudioLevel.h"

#include <QtEndian>

#include <cmath>
#include <limits>

namespace quiro::AudioLevel {

namespace {
// 32768 rather than 32767 so that the most negative sample, a full-scale square, reads 0 dBFS.
constexpr double fullScale = 32768.0;
} // namespace

void Meter::add(QByteArrayView s16le)
{
    const qsizetype count = s16le.size() / 2;
    const char* data = s16le.data();
    for (qsizetype i = 0; i < count; ++i) {
        const double sample = qFromLittleEndian<qint16>(data + 2 * i);
        m_sumSquares += sample * sample;
    }
    m_samples += count;
}

double Meter::dbfs() const
{
    if (m_samples == 0 || m_sumSquares == 0.0)
        return -std::numeric_limits<double>::infinity();
    const double rms = std::sqrt(m_sumSquares / double(m_samples));
    return 20.0 * std::log10(rms / fullScale);
}

double rmsDbfs(QByteArrayView s16le)
{
    Meter meter;
    meter.add(s16le);
    return meter.dbfs();
}

QString describe(double dbfs)
{
    if (std::isinf(dbfs))
        return QStringLiteral("-inf dBFS (digital silence)");
    return QStringLiteral("%1 dBFS").arg(dbfs, 0, 'f', 1);
}

} // namespace quiro::AudioLevel
