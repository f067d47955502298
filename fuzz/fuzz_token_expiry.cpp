// The bearer token's expiry reader and the renewal plan built on it: no token, however malformed,
// gives a negative or non-finite wait.
#include "FuzzInput.h"
#include "account/JwtExpiry.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString token = quiro::fuzz::text(data, size);
    (void)quiro::JwtExpiry::expiry(token);
    constexpr double now = 1'800'000'000.0;
    for (const auto delay :
         {quiro::JwtExpiry::refreshDelaySeconds(token, now), quiro::JwtExpiry::delayAfterRenewalSeconds(token, now)}) {
        if (delay)
            quiro::fuzz::require(std::isfinite(*delay) && *delay >= 0);
    }
    return 0;
}
