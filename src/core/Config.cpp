#include "core/Config.h"

#include "core/EnvFile.h"
#include "core/Paths.h"

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
