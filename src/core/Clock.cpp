#include "core/Clock.h"

#include <chrono>

namespace quiro {

namespace {
class SystemClock final : public Clock {
public:
    double now() const override
    {
        const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
        return std::chrono::duration<double>(sinceEpoch).count();
    }
};
} // namespace

const Clock& Clock::system()
{
    static const SystemClock clock;
    return clock;
}

} // namespace quiro
