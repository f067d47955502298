#include "core/Log.h"

#include <QMutex>

#include <cstdio>

namespace quiro::Log {

namespace {
QMutex& mutex()
{
    static QMutex m;
    return m;
}
Sink& sink()
{
    static Sink s;
    return s;
}
} // namespace

void raw(const QString& text)
{
    QString single = text;
    single.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    const QMutexLocker lock(&mutex());
    if (sink()) {
        sink()(single);
        return;
    }
    const QByteArray bytes = single.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void line(const QString& tag, const QString& message)
{
    raw(QLatin1Char('[') + tag + QStringLiteral("] ") + message);
}

void setSink(Sink newSink)
{
    const QMutexLocker lock(&mutex());
    sink() = std::move(newSink);
}

} // namespace quiro::Log
