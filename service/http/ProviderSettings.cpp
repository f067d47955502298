#include "service/http/ProviderSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace quiro::service {

namespace {

// Reads the environment and keeps the first problem.
class Settings {
public:
    explicit Settings(const QProcessEnvironment& environment)
        : m_environment(environment)
    {
    }

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }

    QString text(const char* name) const { return m_environment.value(QLatin1String(name)).trimmed(); }
    bool has(const char* name) const { return !text(name).isEmpty(); }

    QUrl url(const char* name, const QStringList& schemes, const char* example)
    {
        const QUrl url(text(name), QUrl::StrictMode);
        if (!url.isValid() || !schemes.contains(url.scheme()) || url.host().isEmpty())
            fail(QStringLiteral("%1 must be a URL such as %2 (%3), not '%4'")
                     .arg(QLatin1String(name), QLatin1String(example), schemes.join(QStringLiteral(" or ")),
                          text(name).left(100)));
        return url;
    }

    // A number from `lowest` to `highest`; `fallback` when not set.
    double number(const char* name, double lowest, double highest, double fallback)
    {
        if (!has(name))
            return fallback;
        bool isNumber = false;
        const double value = text(name).toDouble(&isNumber);
        if (!isNumber || !std::isfinite(value) || value < lowest || value > highest)
            fail(QStringLiteral("%1 must be a number from %2 to %3, not '%4'")
                     .arg(QLatin1String(name))
                     .arg(lowest)
                     .arg(highest)
                     .arg(text(name).left(40)));
        return value;
    }

    int milliseconds(const char* name, double highestSeconds, int fallbackMs)
    {
        return int(std::lround(number(name, 0.001, highestSeconds, fallbackMs / 1000.0) * 1000));
    }

    // From NAME or from the file NAME_FILE names; empty when neither is set.
    QByteArray key(const char* name)
    {
        const QByteArray fileName = QByteArray(name) + "_FILE";
        if (has(name) && has(fileName.constData())) {
            fail(QStringLiteral("set %1 or %2, not both").arg(QLatin1String(name), QLatin1String(fileName)));
            return {};
        }
        QByteArray key = text(name).toUtf8();
        if (has(fileName.constData()))
            key = readKeyFile(QLatin1String(fileName), text(fileName.constData()));
        // It goes into a request header: a line break would start another header.
        if (ok() && std::any_of(key.cbegin(), key.cend(), [](char c) { return uchar(c) < 0x20 || c == 0x7f; }))
            fail(QStringLiteral("the key in %1 contains a line break or another control character")
                     .arg(QLatin1String(has(fileName.constData()) ? fileName.constData() : name)));
        return key;
    }

private:
    QByteArray readKeyFile(const QString& setting, const QString& path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            fail(QStringLiteral("cannot read %1 (%2): %3").arg(path, setting, file.errorString()));
            return {};
        }
        const auto othersMayRead =
            QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
        if (QFileInfo(path).permissions() & othersMayRead) {
            fail(QStringLiteral("%1 (%2) can be read or changed by other users; make it private: chmod 600 %1")
                     .arg(path, setting));
            return {};
        }
        const QByteArray key = file.readAll().trimmed();
        if (key.isEmpty())
            fail(QStringLiteral("%1 (%2) is empty").arg(path, setting));
        return key;
    }

    void fail(const QString& error)
    {
        if (m_error.isEmpty())
            m_error = error;
    }

    const QProcessEnvironment& m_environment;
    QString m_error;
};

const QRegularExpression& languageCode()
{
    static const QRegularExpression code(QStringLiteral("^[a-z]{2,3}(-[a-z0-9]{1,8})*$"));
    return code;
}

} // namespace

std::optional<ProviderSettings> ProviderSettings::read(const QProcessEnvironment& environment, QString* error)
{
    Settings settings(environment);
    ProviderSettings providers;

    if (settings.has("QUIRO_LLM_BASE_URL")) {
        ModelCoach::Settings model;
        model.chat.baseUrl = settings.url("QUIRO_LLM_BASE_URL", {QStringLiteral("http"), QStringLiteral("https")},
                                          "http://127.0.0.1:8080/v1");
        model.chat.model = settings.text("QUIRO_LLM_MODEL");
        if (settings.ok() && model.chat.model.isEmpty()) {
            *error = QStringLiteral("QUIRO_LLM_MODEL must name the model the server at QUIRO_LLM_BASE_URL should use");
            return std::nullopt;
        }
        model.chat.apiKey = settings.key("QUIRO_LLM_API_KEY");
        model.priceInPerThousand = settings.number("QUIRO_LLM_PRICE_IN", 0, 1000, 0);
        model.priceOutPerThousand = settings.number("QUIRO_LLM_PRICE_OUT", 0, 1000, 0);
        model.timeoutMs = settings.milliseconds("QUIRO_LLM_TIMEOUT", 60, 0);
        providers.model = model;
    } else if (settings.has("QUIRO_LLM_MODEL") || settings.has("QUIRO_LLM_API_KEY") ||
               settings.has("QUIRO_LLM_API_KEY_FILE")) {
        providers.warnings << QStringLiteral("QUIRO_LLM_BASE_URL is not set, so the rules coach and the other "
                                             "QUIRO_LLM_ settings are not used");
    }

    if (settings.has("QUIRO_STT_URL")) {
        SpeechUpstream speech;
        speech.url = settings.url("QUIRO_STT_URL", {QStringLiteral("ws"), QStringLiteral("wss")},
                                  "wss://speech.example.com/v1/listen");
        speech.apiKey = settings.key("QUIRO_STT_API_KEY");
        if (settings.has("QUIRO_STT_LANGUAGES")) {
            speech.languages.clear();
            for (const QString& language :
                 settings.text("QUIRO_STT_LANGUAGES").toLower().split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QString code = language.trimmed().replace(QLatin1Char('_'), QLatin1Char('-'));
                if (!languageCode().match(code).hasMatch()) {
                    *error = QStringLiteral("QUIRO_STT_LANGUAGES must list language codes such as en,de,fr-ca; "
                                            "'%1' is not one")
                                 .arg(code.left(40));
                    return std::nullopt;
                }
                speech.languages << code;
            }
            if (speech.languages.isEmpty()) {
                *error = QStringLiteral("QUIRO_STT_LANGUAGES lists no language; leave it unset for en");
                return std::nullopt;
            }
        }
        speech.connectTimeoutMs = settings.milliseconds("QUIRO_STT_CONNECT_TIMEOUT", 60, speech.connectTimeoutMs);
        providers.speech = speech;
    } else if (settings.has("QUIRO_STT_API_KEY") || settings.has("QUIRO_STT_API_KEY_FILE")) {
        providers.warnings << QStringLiteral("QUIRO_STT_URL is not set, so pocketsphinx transcribes and the "
                                             "speech key is not used");
    }

    if (!settings.ok()) {
        *error = settings.error();
        return std::nullopt;
    }
    return providers;
}

} // namespace quiro::service
