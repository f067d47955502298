#pragma once

#include "core/Clock.h"

#include <QString>

#include <optional>

// The line that opens Home: the time of day and the first word of the user's name.
namespace quiro::Greeting {

// "Good morning" from 5 to 11 o'clock, "Good afternoon" to 16, "Good evening" to 21, otherwise
// "Late night".
QString forHour(int hour);

// The greeting for the hour the clock shows in the local time zone, followed by ", " and the
// first word of `name` when there is one.
QString line(const Clock& clock, const std::optional<QString>& name);

} // namespace quiro::Greeting
