#pragma once

#include <utility>

namespace quiro {

// Sets a published field and emits its change signal; an equal value changes nothing and
// announces nothing, so observers only hear of real changes.
template <typename Owner, typename T, typename Value, typename Signal>
void setPublished(Owner* owner, T& field, Value&& value, Signal changed)
{
    if (field == value)
        return;
    field = std::forward<Value>(value);
    emit(owner->*changed)();
}

} // namespace quiro
