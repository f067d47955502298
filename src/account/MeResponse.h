#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <optional>

namespace quiro {

// The account profile answered by "/me".
struct MeResponse {
    QString email;
    QString name;
    std::optional<bool> emailVerified;
    std::optional<bool> emailVerificationRequired;

    // Absent when "email" or "name" is missing or not a string, or an optional flag is present
    // but not a boolean. Other members are ignored.
    static std::optional<MeResponse> fromJson(const QJsonObject& object);

    bool operator==(const MeResponse&) const = default;
};

} // namespace quiro

Q_DECLARE_METATYPE(quiro::MeResponse)
