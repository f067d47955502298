#include "ui/kit/Spring.h"

#include <cmath>
#include <numbers>

namespace quiro {

namespace {
constexpr double settledWithin = 1e-3;
}

double Spring::position(double seconds) const
{
    const double omega = 2.0 * std::numbers::pi / response; // natural angular frequency
    const double zeta = dampingFraction;
    const double omegaD = omega * std::sqrt(1.0 - zeta * zeta);
    const double decay = std::exp(-zeta * omega * seconds);
    return 1.0 - decay * (std::cos(omegaD * seconds) + zeta * omega / omegaD * std::sin(omegaD * seconds));
}

double Spring::settleSeconds() const
{
    // The distance to rest never exceeds exp(-zeta * omega * t) / sqrt(1 - zeta^2).
    const double omega = 2.0 * std::numbers::pi / response;
    const double zeta = dampingFraction;
    return std::log(1.0 / (settledWithin * std::sqrt(1.0 - zeta * zeta))) / (zeta * omega);
}

int Spring::durationMs() const
{
    return int(std::lround(settleSeconds() * 1000.0));
}

double Spring::progress(double progress) const
{
    const double end = settleSeconds();
    return position(progress * end) / position(end);
}

} // namespace quiro
