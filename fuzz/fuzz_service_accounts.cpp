// What the account endpoints read from anyone who can reach the port: the body of a sign-in or a
// registration (a JSON object with "email" and "password"), and the bearer token of every later
// request. A token the service did not sign is never valid, and one it signed for any address
// reads back with that address.
#include "FuzzInput.h"
#include "service/ApiReply.h"
#include "service/accounts/AccountService.h"
#include "service/accounts/Jwt.h"

namespace {
constexpr double now = 1.8e9;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace quiro::service;
    static const Jwt jwt(QByteArray(32, 'k'));
    const QByteArray input = quiro::fuzz::bytes(data, size);

    const JsonBody body = parseJsonBody(input);
    quiro::fuzz::require(body.object.has_value() == (body.error.status == 200));
    if (body.object) {
        ApiReply error;
        if (const auto email = requireString(*body.object, QStringLiteral("email"), error)) {
            const QString normalised = AccountService::normaliseEmail(*email);
            if (AccountService::isValidEmail(normalised)) {
                const Jwt::Result signedHere = jwt.verify(jwt.issue(7, normalised, now), now);
                quiro::fuzz::require(signedHere.verdict == Jwt::Verdict::Valid);
                quiro::fuzz::require(signedHere.claims.email == normalised && signedHere.claims.accountId == 7);
            }
        }
    }

    quiro::fuzz::require(jwt.verify(QString::fromUtf8(input), now).verdict != Jwt::Verdict::Valid);
    return 0;
}
