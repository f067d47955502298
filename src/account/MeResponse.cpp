#include "account/MeResponse.h"

#include "core/Json.h"

namespace quiro {

namespace {
// Present and boolean, absent, or (outer nullopt) present with another type.
std::optional<std::optional<bool>> optionalBool(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::optional<bool>{};
    if (!value.isBool())
        return std::nullopt;
    return std::optional<bool>{value.toBool()};
}
} // namespace

std::optional<MeResponse> MeResponse::fromJson(const QJsonObject& object)
{
    const auto email = Json::string(object, QStringLiteral("email"));
    const auto name = Json::string(object, QStringLiteral("name"));
    const auto verified = optionalBool(object, QStringLiteral("email_verified"));
    const auto verificationRequired = optionalBool(object, QStringLiteral("email_verification_required"));
    if (!email || !name || !verified || !verificationRequired)
        return std::nullopt;
    return MeResponse{*email, *name, *verified, *verificationRequired};
}

} // namespace quiro
