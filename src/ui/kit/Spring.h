#pragma once

#include <QEasingCurve>
#include <QVariantAnimation>

namespace quiro {

// A damped spring as the design describes motion: `response` is the period in seconds of the
// undamped oscillation, `dampingFraction` how much of critical damping acts on it; the design's
// springs all lie below 1, so they overshoot a little and settle. Qt has no spring animation, so a spring becomes an
// easing curve over the time it takes to settle; every QVariantAnimation can run on it.
struct Spring {
    double response;
    double dampingFraction;

    // Where a unit step stands `seconds` after it started: 0 at the start, 1 at rest.
    double position(double seconds) const;
    // Time until the motion stays within a thousandth of its travel.
    double settleSeconds() const;
    int durationMs() const;
    // The easing value at `progress` (0 to 1) of durationMs(): the position, scaled so that the
    // last frame lands exactly on the target instead of a thousandth short of it.
    double progress(double progress) const;
};

namespace Springs {
inline constexpr Spring spring{0.45, 0.85};
inline constexpr Spring springFast{0.28, 0.8};
inline constexpr Spring morph{0.5, 0.82};
} // namespace Springs

namespace detail {
template <Spring S> qreal springProgress(qreal progress)
{
    return S.progress(progress);
}
} // namespace detail

// QEasingCurve's custom curves are plain function pointers without state, so each spring gets its
// own function, instantiated from the spring's constants.
template <Spring S> QEasingCurve springEasing()
{
    static_assert(S.response > 0.0 && S.dampingFraction > 0.0 && S.dampingFraction < 1.0,
                  "the easing follows an underdamped spring");
    QEasingCurve curve;
    curve.setCustomType(&detail::springProgress<S>);
    return curve;
}

// Runs `animation` on spring S: its duration and easing.
template <Spring S> void useSpring(QVariantAnimation& animation)
{
    animation.setDuration(S.durationMs());
    animation.setEasingCurve(springEasing<S>());
}

} // namespace quiro
