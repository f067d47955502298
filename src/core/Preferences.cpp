#include "core/Preferences.h"

#include <QFile>
#include <QSettings>

namespace quiro::Preferences {

namespace {
QSettings settings()
{
    return QSettings(QStringLiteral("Quiro"), QStringLiteral("quiro"));
}

// The preferences hold the account's e-mail address: keep the file private like the rest.
void syncPrivately(QSettings& s)
{
    s.sync();
    QFile::setPermissions(s.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

std::optional<QString> stringValue(const char* key)
{
    const QVariant value = settings().value(QLatin1String(key));
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}
} // namespace

bool onboardingDone()
{
    return settings().value(QLatin1String(onboardingDoneKey), false).toBool();
}

void setOnboardingDone(bool done)
{
    auto s = settings();
    s.setValue(QLatin1String(onboardingDoneKey), done);
    syncPrivately(s);
}

std::optional<QString> email()
{
    return stringValue(emailKey);
}
std::optional<QString> name()
{
    return stringValue(nameKey);
}

void setAccount(const QString& email, const QString& name)
{
    auto s = settings();
    s.setValue(QLatin1String(emailKey), email);
    s.setValue(QLatin1String(nameKey), name);
    syncPrivately(s);
}

void clearAccount()
{
    auto s = settings();
    s.remove(QLatin1String(emailKey));
    s.remove(QLatin1String(nameKey));
    syncPrivately(s);
}

} // namespace quiro::Preferences
