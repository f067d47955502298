#pragma once

#include <QString>

#include <functional>

namespace quiro::Log {

// Prints one line on standard output, e.g. line("Session", "started") prints "[Session] started".
// Line breaks inside the message are replaced by blanks so that every call stays one line.
// Safe from any thread.
void line(const QString& tag, const QString& message);

// Prints the text as it stands (already carrying its own tag), as one line.
void raw(const QString& text);

// Tests observe log lines through a sink; while one is installed nothing goes to stdout.
using Sink = std::function<void(const QString& line)>;
void setSink(Sink sink);

} // namespace quiro::Log
