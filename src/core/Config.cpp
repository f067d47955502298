#include "core/Config.h"

#include "core/EnvFile.h"
#include "core/Paths.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

namespace quiro {

namespace {
QString resolve(const EnvFile::Values& files, const char* key, const QString& fallback)
{
    const QString fromFiles = files.value(QLatin1String(key));
    if (!fromFiles.isEmpty())
        return fromFiles;
    const QString fromEnvironment = qEnvironmentVariable(key);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return fallback;
}
} // namespace

Config Config::load()
{
    return load(Paths::resourceDir() + QStringLiteral("/.env"), Paths::userEnvFile());
}

Config Config::load(const QString& bundleEnvPath, const QString& userEnvPath)
{
    EnvFile::Values values;
    for (const QString& path : {bundleEnvPath, userEnvPath}) {
        if (const auto text = EnvFile::readText(path))
            values.insert(EnvFile::parse(*text));
    }
    return Config{resolve(values, "API_BASE", defaultAPIBase), resolve(values, "HINT_MODEL", defaultHintModel),
                  resolve(values, "STT_LANGUAGE", defaultLanguage)};
}

QStringList Config::problemsIn(const QString& envFilePath)
{
    QFile file(envFilePath);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("%1 cannot be read").arg(envFilePath)};
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError() || bytes.contains('\0'))
        return {QStringLiteral("%1 is not a text file; its settings are ignored").arg(envFilePath)};

    static const QStringList knownKeys{QStringLiteral("API_BASE"), QStringLiteral("HINT_MODEL"),
                                       QStringLiteral("STT_LANGUAGE"), QStringLiteral("WIDGET_MODE")};
    static const QRegularExpression languageCode(QStringLiteral("^[a-z]{2,3}(-[A-Za-z]{2})?$"));
    QStringList problems;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype index = 0; index < lines.size(); ++index) {
        const QString line = lines.at(index).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString where = QStringLiteral("%1 line %2: ").arg(envFilePath).arg(index + 1);
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0) {
            problems.append(where + QStringLiteral("\"%1\" is not KEY=VALUE").arg(line.left(40)));
            continue;
        }
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (!knownKeys.contains(key)) {
            problems.append(
                where +
                QStringLiteral("unknown key %1 (known: %2)").arg(key.left(40), knownKeys.join(QStringLiteral(", "))));
        } else if (key == QLatin1String("API_BASE")) {
            const auto url = Config{value, {}, {}}.apiURL();
            if (!url || (url->scheme() != QLatin1String("http") && url->scheme() != QLatin1String("https")))
                problems.append(
                    where + QStringLiteral("API_BASE=%1 is not an http:// or https:// address").arg(value.left(80)));
        } else if (key == QLatin1String("STT_LANGUAGE") && !languageCode.match(value).hasMatch()) {
            problems.append(where +
                            QStringLiteral("STT_LANGUAGE=%1 is not a language code such as en").arg(value.left(40)));
        } else if (key == QLatin1String("WIDGET_MODE") && value != QLatin1String("island") &&
                   value != QLatin1String("panel")) {
            problems.append(where + QStringLiteral("WIDGET_MODE=%1 is neither island nor panel").arg(value.left(40)));
        }
    }
    return problems;
}

std::optional<QUrl> Config::apiURL() const
{
    const QUrl url(apiBase, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

QString Config::wsBase() const
{
    QString base = apiBase;
    base.replace(QStringLiteral("https://"), QStringLiteral("wss://"));
    base.replace(QStringLiteral("http://"), QStringLiteral("ws://"));
    return base;
}

} // namespace quiro
