#pragma once

#include <QString>

#include <optional>

// When a bearer token (a three-part JSON Web Token) expires, and when to renew it.
namespace quiro::JwtExpiry {

// Renewal aims this far ahead of the expiry (3 days)...
inline constexpr double renewalMarginSeconds = 259'200.0;
// ...but never waits longer than a day at a time, so a long-lived token is renewed daily.
inline constexpr double longestWaitSeconds = 86'400.0;

// The payload's numeric "exp" (seconds since 1970); absent when the token has not exactly three
// dot-separated parts, the payload is not base64url, not a JSON object, or has no numeric "exp".
std::optional<double> expiry(const QString& token);

// Seconds to wait before renewing: absent when the expiry is unknown (nothing to schedule), 0 when
// the renewal is due now (the token expires within the margin or has expired).
std::optional<double> refreshDelaySeconds(const QString& token, double nowSeconds);

// The same, for the token a renewal has just returned. A service whose tokens live less than the
// margin would otherwise be asked again at once, and again, without end: such a token is renewed
// halfway through its remaining life instead, and never sooner than a minute later.
std::optional<double> delayAfterRenewalSeconds(const QString& token, double nowSeconds);
inline constexpr double shortestWaitAfterRenewalSeconds = 60.0;

} // namespace quiro::JwtExpiry
