#include "ui/main/Greeting.h"

#include "core/Text.h"

#include <QDateTime>
#include <QRegularExpression>

namespace quiro::Greeting {

QString forHour(int hour)
{
    if (hour >= 5 && hour <= 11)
        return QStringLiteral("Good morning");
    if (hour >= 12 && hour <= 16)
        return QStringLiteral("Good afternoon");
    if (hour >= 17 && hour <= 21)
        return QStringLiteral("Good evening");
    return QStringLiteral("Late night");
}

QString line(const Clock& clock, const std::optional<QString>& name)
{
    const auto now = QDateTime::fromMSecsSinceEpoch(qint64(clock.now() * 1000.0), Qt::LocalTime);
    QString greeting = forHour(now.time().hour());
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QString first = Text::displayable(name.value_or(QString())).trimmed().section(blanks, 0, 0);
    if (!first.isEmpty())
        greeting += QStringLiteral(", ") + first;
    return greeting;
}

} // namespace quiro::Greeting
