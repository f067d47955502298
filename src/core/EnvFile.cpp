#include "core/EnvFile.h"

#include "core/AtomicFile.h"
#include "core/Log.h"
#include "core/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace quiro::EnvFile {

namespace {
// Blanks and tabs (and other horizontal spaces) are trimmed; line breaks are not.
bool isHorizontalSpace(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QString trimmedHorizontally(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isHorizontalSpace(text.at(begin)))
        ++begin;
    while (end > begin && isHorizontalSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

enum class ReadResult { Missing, Text, Unreadable };

ReadResult read(const QString& path, QString& text)
{
    QFile file(path);
    if (!file.exists())
        return ReadResult::Missing;
    if (!file.open(QIODevice::ReadOnly))
        return ReadResult::Unreadable;
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = decoder(bytes);
    return decoder.hasError() ? ReadResult::Unreadable : ReadResult::Text;
}
} // namespace

Values parse(const QString& text)
{
    Values values;
    for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = trimmedHorizontally(rawLine);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString value = trimmedHorizontally(line.mid(equals + 1));
        if (value.isEmpty())
            continue;
        values.insert(trimmedHorizontally(line.left(equals)), value);
    }
    return values;
}

std::optional<QString> readText(const QString& path)
{
    QString text;
    if (read(path, text) != ReadResult::Text)
        return std::nullopt;
    return text;
}

WriteResult setValue(const QString& path, const QString& key, const QString& value)
{
    QString text;
    if (read(path, text) == ReadResult::Unreadable) {
        Log::line(
            QStringLiteral("Config"),
            QStringLiteral("Not writing %1: %2 exists but is not readable UTF-8; fix or remove it").arg(key, path));
        return WriteResult::failure(QStringLiteral("%1 exists but is not readable UTF-8").arg(path));
    }
    const QString prefix = key + QLatin1Char('=');
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(prefix))
            lines.append(line);
    }
    lines.append(prefix + value);
    Paths::ensurePrivateDir(QFileInfo(path).absolutePath());
    return AtomicFile::write(path, lines.join(QLatin1Char('\n')).toUtf8());
}

} // namespace quiro::EnvFile
