#pragma once

namespace quiro {

// Wall-clock time as seconds since 1970-01-01T00:00:00Z. Every "now" of the program goes
// through a Clock so that tests move time instead of sleeping.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;

    // The real clock, shared by the whole process.
    static const Clock& system();
};

// A clock that stands still until a test moves it.
class ManualClock final : public Clock {
public:
    explicit ManualClock(double startSeconds = 1'800'000'000.0)
        : m_now(startSeconds)
    {
    }
    double now() const override { return m_now; }
    void set(double seconds) { m_now = seconds; }
    void advance(double seconds) { m_now += seconds; }

private:
    double m_now;
};

} // namespace quiro
