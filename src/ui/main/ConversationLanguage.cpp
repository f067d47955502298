#include "ui/main/ConversationLanguage.h"

#include "core/Config.h"
#include "core/EnvFile.h"

namespace quiro::ConversationLanguage {

namespace {
const QString key = QStringLiteral("STT_LANGUAGE");
} // namespace

const QList<Language>& offered()
{
    static const QList<Language> languages{
        {QStringLiteral("en"), QStringLiteral("English")}, {QStringLiteral("ru"), QStringLiteral("Russian")},
        {QStringLiteral("es"), QStringLiteral("Spanish")}, {QStringLiteral("fr"), QStringLiteral("French")},
        {QStringLiteral("de"), QStringLiteral("German")},
    };
    return languages;
}

QString load(const QString& envFile)
{
    const std::optional<QString> text = EnvFile::readText(envFile);
    return text ? EnvFile::parse(*text).value(key, Config::defaultLanguage) : Config::defaultLanguage;
}

WriteResult save(const QString& envFile, const QString& code)
{
    return EnvFile::setValue(envFile, key, code);
}

} // namespace quiro::ConversationLanguage
