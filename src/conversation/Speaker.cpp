#include "conversation/Speaker.h"

namespace quiro {

QString rawValue(Speaker speaker)
{
    switch (speaker) {
    case Speaker::manager:
        return QStringLiteral("MANAGER");
    case Speaker::client:
        return QStringLiteral("CLIENT");
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<Speaker> speakerFromRawValue(const QString& raw)
{
    if (raw == QLatin1String("MANAGER"))
        return Speaker::manager;
    if (raw == QLatin1String("CLIENT"))
        return Speaker::client;
    return std::nullopt;
}

QString contextLabel(Speaker speaker)
{
    return speaker == Speaker::manager ? QStringLiteral("SELLER") : QStringLiteral("CLIENT");
}

} // namespace quiro
