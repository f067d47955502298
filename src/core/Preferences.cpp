#include "core/Preferences.h"

#include <QFile>
#include <QSettings>

namespace quiro::Preferences {

namespace {
// Qt parses the file once per process and caches it; only the first instance learns whether the
// parse failed, so that answer is kept from the very first one.
QSettings::Status fileStatus()
{
    static const QSettings::Status s_status = QSettings(QStringLiteral("Quiro"), QStringLiteral("quiro")).status();
    return s_status;
}

QSettings settings()
{
    fileStatus();
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
    // An empty value (a damaged file can leave one) counts as unset: an empty account name would
    // otherwise make the sessions folder itself the account's folder.
    const QString value = settings().value(QLatin1String(key)).toString();
    if (value.isEmpty())
        return std::nullopt;
    return value;
}
} // namespace

std::optional<QString> problem()
{
    const QSettings s = settings();
    switch (fileStatus()) {
    case QSettings::NoError:
        return std::nullopt;
    case QSettings::AccessError:
        return QStringLiteral("the settings file %1 cannot be read").arg(s.fileName());
    case QSettings::FormatError:
        return QStringLiteral("the settings file %1 is damaged").arg(s.fileName());
    }
    return std::nullopt;
}

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
