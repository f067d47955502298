#include "core/Log.h"

#include "core/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <cstdio>
#include <memory>

namespace quiro::Log {

namespace {

struct Route {
    QMutex mutex;
    Sink sink;
    std::unique_ptr<QFile> file;
    Echo echo = Echo::none;
};

Route& route()
{
    static Route s_route;
    return s_route;
}

bool openFile(Route& r, const QString& path)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append) ||
        !file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    r.file = std::move(file);
    return true;
}

// Called with the lock held. A full file is set aside (one generation) rather than truncated in
// place, so the lines just before a problem are still there to read.
void write(Route& r, const QByteArray& bytes)
{
    if (r.sink)
        return;
    if (!r.file) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
        return;
    }
    if (r.file->size() + bytes.size() > maxFileBytes) {
        const QString path = r.file->fileName();
        r.file->close();
        QFile::remove(path + QStringLiteral(".1"));
        QFile::rename(path, path + QStringLiteral(".1"));
        if (!openFile(r, path)) {
            r.file.reset();
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
            return;
        }
    }
    r.file->write(bytes);
    r.file->flush();
    if (r.echo == Echo::toStandardError) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
}

void emitLine(const QString& text)
{
    QString single = text;
    single.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    Route& r = route();
    const QMutexLocker lock(&r.mutex);
    if (r.sink) {
        r.sink(single);
        return;
    }
    write(r, single.toUtf8() + '\n');
}

// Qt's categorised messages ("quiro.app.deepgram: …") join our lines; uncategorised ones (Qt's
// own warnings) too, so nothing ends up on a terminal that shows a call.
void qtMessage(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    const bool categorised = context.category && qstrcmp(context.category, "default") != 0;
    emitLine(categorised ? QString::fromUtf8(context.category) + QStringLiteral(": ") + message : message);
}

} // namespace

void raw(const QString& text)
{
    emitLine(text);
}

void line(const QString& tag, const QString& message)
{
    raw(QLatin1Char('[') + tag + QStringLiteral("] ") + message);
}

bool toFile(const QString& path, Echo echo)
{
    Paths::ensurePrivateDir(QFileInfo(path).absolutePath());
    Route& r = route();
    {
        const QMutexLocker lock(&r.mutex);
        if (!openFile(r, path))
            return false;
        r.echo = echo;
    }
    qInstallMessageHandler(&qtMessage);
    return true;
}

void setSink(Sink newSink)
{
    Route& r = route();
    const QMutexLocker lock(&r.mutex);
    r.sink = std::move(newSink);
}

} // namespace quiro::Log
