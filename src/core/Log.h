#pragma once

#include <QString>

#include <functional>

namespace quiro::Log {

// Prints one line, e.g. line("Session", "started") prints "[Session] started". Line breaks inside
// the message are replaced by blanks so that every call stays one line. Safe from any thread.
void line(const QString& tag, const QString& message);

// Prints the text as it stands (already carrying its own tag), as one line.
void raw(const QString& text);

// Where lines go. By default to standard output (the local service's log is its output). The app
// sends them to a private, size-capped file instead, and to standard error as well when asked.
enum class Echo { none, toStandardError };
// Opens (creating 0700/0600 as needed) the file; false when it cannot be written, in which case
// lines keep going to standard output. Qt's own categorised messages (the transcription client's)
// follow the same route from then on.
bool toFile(const QString& path, Echo echo);
// The file grows to this size, then starts afresh, keeping the previous one as "<path>.1".
inline constexpr qint64 maxFileBytes = 1024 * 1024;

// Tests observe log lines through a sink; while one is installed nothing goes anywhere else.
using Sink = std::function<void(const QString& line)>;
void setSink(Sink sink);

} // namespace quiro::Log
