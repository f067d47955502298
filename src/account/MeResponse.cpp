#include "account/MeResponse.h"

#include "core/Json.h"

namespace quiro {

namespace {
// A flag that may be absent (or null); present with another type, it makes the body unreadable.
bool readOptionalBool(const QJsonObject& object, const QString& key, std::optional<bool>& flag)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        flag.reset();
        return true;
    }
    if (!value.isBool())
        return false;
    flag = value.toBool();
    return true;
}
} // namespace

std::optional<MeResponse> MeResponse::fromJson(const QJsonObject& object)
{
    const auto email = Json::string(object, QStringLiteral("email"));
    const auto name = Json::string(object, QStringLiteral("name"));
    if (!email || !name)
        return std::nullopt;
    MeResponse me{*email, *name, std::nullopt, std::nullopt};
    if (!readOptionalBool(object, QStringLiteral("email_verified"), me.emailVerified) ||
        !readOptionalBool(object, QStringLiteral("email_verification_required"), me.emailVerificationRequired))
        return std::nullopt;
    return me;
}

} // namespace quiro
